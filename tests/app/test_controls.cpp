#include <gtest/gtest.h>

#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <cmath>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

TEST(SliderRange, RefusesAnEndThatWouldCrossTheOther) {
  // Range before, range asked for, range after.
  const int cases[][6] = {
      {0, 80, 5, 300, 5, 300}, {0, 80, 90, 120, 0, 120}, {100, 200, 0, 50, 0, 50}, {0, 80, 10, -5, 10, 80}};
  for (const auto& c : cases) {
    QSlider slider;
    slider.setRange(c[0], c[1]);
    SetSliderRange(&slider, c[2], c[3]);
    EXPECT_EQ(slider.minimum(), c[4]);
    EXPECT_EQ(slider.maximum(), c[5]);
  }
}

// One slider, the device value it drives and the read-back field.
struct SliderCase {
  const char* name;
  QSlider* TForm1::*slider;
  int position;
  double tVideoDevice::*value;
  double sent;
  QLineEdit* TForm1::*field;
};

class Sliders : public ::testing::TestWithParam<SliderCase> {
 protected:
  TForm1& form() { return windows_.form(); }
  ScopedSettingsFolder folder_;
  Windows windows_;
};

TEST_P(Sliders, SendToBothSourcesAndReadBackTheFirst) {
  const SliderCase& c = GetParam();
  form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
  form().Device2 = std::make_unique<FakeSource>(64, 48, 3);
  (form().*c.slider)->setValue(c.position);
  EXPECT_DOUBLE_EQ(form().Device1.get()->*c.value, c.sent);
  EXPECT_DOUBLE_EQ(form().Device2.get()->*c.value, c.sent);
  EXPECT_EQ((form().*c.field)->text(), QLocale().toString(c.sent, 'f', 1));
  // Without a first source the second still follows; the field keeps its text.
  form().Device1.reset();
  (form().*c.field)->setText("Edit1");
  (form().*c.slider)->setValue(c.position * 2);
  EXPECT_DOUBLE_EQ(form().Device2.get()->*c.value, c.sent * 2);
  EXPECT_EQ((form().*c.field)->text(), "Edit1");
}

INSTANTIATE_TEST_SUITE_P(
    Each, Sliders,
    ::testing::Values(
        SliderCase{"FrameRate", &TForm1::tbFrameRate, 40, &tVideoDevice::FrameRate, 4.0, &TForm1::Edit1},
        SliderCase{"Exposure", &TForm1::tbExposure, 30, &tVideoDevice::Exposure, 30.0, &TForm1::Edit2},
        SliderCase{"Brightness", &TForm1::tbBrightness, 100, &tVideoDevice::Brightness, 0.5, &TForm1::Edit4},
        SliderCase{"Contrast", &TForm1::tbContrast, 60, &tVideoDevice::Contrast, 0.3, &TForm1::Edit5}),
    [](const auto& info) { return std::string(info.param.name); });

class ControlsTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  ScopedSettingsFolder folder_;
  Windows windows_;
};

TEST_F(ControlsTest, FrameRateZeroReachesNoSource) {
  auto* first = new FakeSource(64, 48, 3);
  auto* second = new FakeSource(64, 48, 3);
  form().Device1.reset(first);
  form().Device2.reset(second);
  form().tbFrameRate->setValue(75);
  form().tbFrameRate->setValue(0);
  EXPECT_DOUBLE_EQ(first->frame_rate.load(), 7.5);
  EXPECT_DOUBLE_EQ(second->frame_rate.load(), 7.5);
}

// A camera whose ranges are no numbers.
class RangelessSource : public FakeSource {
 public:
  using FakeSource::FakeSource;
  void GetExposureRange(ValueRange& range) override { range = {std::nan(""), 40.0, 0.1}; }
  void GetFrameRateRange(ValueRange& range) override { range = {1.0, HUGE_VAL, 0.1}; }
};

TEST_F(ControlsTest, RangesThatAreNoNumbersAreRefusedAndTheSlidersKeepTheirs) {
  form().Device1 = std::make_unique<RangelessSource>(32, 24, 3);
  const int low = form().tbExposure->minimum(), high = form().tbExposure->maximum();
  form().tbFrameRateChange();
  EXPECT_EQ(form().tbExposure->minimum(), low);
  EXPECT_EQ(form().tbExposure->maximum(), high);
  EXPECT_TRUE(form().MeLog->toPlainText().contains("Exposure range refused: "));
  EXPECT_FALSE(SliderCanTake({1.0, HUGE_VAL, 0.1}, 10.0));
  EXPECT_FALSE(SliderCanTake({0.0, 3e9, 0.1}, 1.0));
  EXPECT_TRUE(SliderCanTake({0.0, 3e8, 0.1}, 1.0));
}

// The simulated cameras' ranges: frames of (640 + 160) x (480 + 20) pixel
// clocks, at most 1 s long; exposure from one line to the frame less a line.
TEST_F(ControlsTest, SlidersFollowTheFirstCamerasRanges) {
  REQUIRE_CAMERAS();
  ASSERT_TRUE(SetUpSimulatedPair(form()));
  // 12 MHz: 33.3 ms to 1 s, that is 1 to 30 frames per second.
  form().tbPixelClock->setValue(12);
  EXPECT_EQ(form().Edit3->text(), "12");
  EXPECT_EQ(form().tbFrameRate->minimum(), 10);
  EXPECT_EQ(form().tbFrameRate->maximum(), 300);
  // 20 MHz and 15 per second: lines of 0.04 ms, exposure up to 66.6 ms.
  form().tbPixelClock->setValue(20);
  form().tbFrameRate->setValue(150);
  EXPECT_EQ(form().Edit1->text(), QLocale().toString(15.0, 'f', 1));
  EXPECT_EQ(form().tbExposure->minimum(), 0);
  EXPECT_EQ(form().tbExposure->maximum(), 67);
  const int lines = form().MeLog->document()->lineCount();
  form().Button2->click();
  EXPECT_EQ(form().MeLog->document()->lineCount(), lines + 3);
  EXPECT_TRUE(form().MeLog->toPlainText().endsWith(QLocale().toString(5.0, 'f', 3) + ", " +
                                                   QLocale().toString(40.0, 'f', 3)));
}

}  // namespace
