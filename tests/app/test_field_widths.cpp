// Number and code fields are wide enough for the widest value they show, at
// the size their window's layout gives them, in the default and a large font.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <memory>
#include <vector>

#include "app/Unit1.h"
#include "app/decimal_spin_edit.h"
#include "app/setdistort.h"
#include "app_test_support.h"

namespace {

// Qt keeps this many pixels free on either side of a line edit's text.
constexpr int kLineEditTextMargin = 2;

// The width a line edit leaves for its text: the contents inside its frame,
// less the text margins.
int TextRoom(const QLineEdit& edit) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.lineWidth =
      edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
  const QMargins margins = edit.textMargins();
  return contents.width() - margins.left() - margins.right() - 2 * kLineEditTextMargin;
}

// Sets the application's font while it lives; widgets made meanwhile take it.
class ScopedFont {
 public:
  explicit ScopedFont(int point_size) : previous_(QApplication::font()) {
    QFont font = previous_;
    if (point_size > 0) font.setPointSize(point_size);
    QApplication::setFont(font);
  }
  ~ScopedFont() { QApplication::setFont(previous_); }
  ScopedFont(const ScopedFont&) = delete;
  ScopedFont& operator=(const ScopedFont&) = delete;

 private:
  QFont previous_;
};

struct FieldCase {
  const char* window;  // "main" or "distortion"
  const char* text;    // the widest text the fields must show
  int point_size;      // 0: the default font
};

class FieldWidths : public ::testing::TestWithParam<FieldCase> {
 protected:
  // The fields of the window the case names, shown and laid out.
  std::vector<QLineEdit*> ShownFields(const FieldCase& c) {
    QWidget* window = nullptr;
    std::vector<QLineEdit*> fields;
    if (std::string(c.window) == "main") {
      windows_ = std::make_unique<Windows>();
      window = windows_->form1.get();
      fields.push_back(windows_->form().EdFourcc);
    } else {
      dialog_ = std::make_unique<TFoDistortSetup>();
      window = dialog_.get();
      for (auto* spin : dialog_->findChildren<TDecimalSpinEdit*>())
        fields.push_back(spin->findChild<QLineEdit*>());
    }
    window->show();
    ProcessEventsFor(std::chrono::milliseconds(50));
    return fields;
  }

  ScopedSettingsFolder folder_;
  std::unique_ptr<Windows> windows_;
  std::unique_ptr<TFoDistortSetup> dialog_;
};

TEST_P(FieldWidths, ShowTheWidestValueWhole) {
  const FieldCase& c = GetParam();
  const ScopedFont font(c.point_size);
  const std::vector<QLineEdit*> fields = ShownFields(c);
  ASSERT_FALSE(fields.empty());
  for (QLineEdit* field : fields) {
    ASSERT_NE(field, nullptr);
    const int needed = field->fontMetrics().horizontalAdvance(c.text);
    EXPECT_GE(TextRoom(*field), needed) << field->parentWidget()->objectName().toStdString() << " "
                                        << field->objectName().toStdString() << " cuts off " << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, FieldWidths,
                         ::testing::Values(FieldCase{"main", "WWWW", 0}, FieldCase{"main", "XVID", 0},
                                           FieldCase{"main", "WWWW", 20},
                                           FieldCase{"distortion", "-2894.160", 0},
                                           FieldCase{"distortion", "-99999.999", 0},
                                           FieldCase{"distortion", "-99999.999", 20}));

}  // namespace
