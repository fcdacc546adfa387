#include "app/code_edit.h"

#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace {

// The widest letter of common fonts; digits and other capitals are narrower.
constexpr char16_t kWidestLetter = u'W';
// Qt keeps this many pixels free on either side of a line edit's text, and
// one for the cursor.
constexpr int kTextMarginAndCursor = 2 * 2 + 1;

}  // namespace

TCodeEdit::TCodeEdit(QWidget* parent) : QLineEdit(parent) {}

int TCodeEdit::WidthForWidestCode() const {
  // Without a mask the text has no length that could be fitted.
  if (inputMask().isEmpty()) return 0;
  ensurePolished();
  // With an input mask the longest text is the mask's length.
  const QString widest(maxLength(), QChar(kWidestLetter));
  const QMargins margins = textMargins();
  const QSize contents(
      fontMetrics().horizontalAdvance(widest) + kTextMarginAndCursor + margins.left() + margins.right(),
      QLineEdit::sizeHint().height());
  QStyleOptionFrame option;
  initStyleOption(&option);
  return style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this).width();
}

QSize TCodeEdit::minimumSizeHint() const {
  QSize hint = QLineEdit::minimumSizeHint();
  hint.setWidth(std::max(hint.width(), WidthForWidestCode()));
  return hint;
}

QSize TCodeEdit::sizeHint() const {
  QSize hint = QLineEdit::sizeHint();
  hint.setWidth(std::max(hint.width(), WidthForWidestCode()));
  return hint;
}
