// Frame messages under load: a filter chain slower than the cameras must not
// make the window's queue grow.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QSlider>
#include <atomic>
#include <chrono>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app_test_support.h"
#include "filters/vidfilters.h"

namespace {

using namespace std::chrono_literals;

// A chessboard search or a calibration: 100 ms per pair.
class SlowFilter : public TVidFilter {
 public:
  explicit SlowFilter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    std::this_thread::sleep_for(100ms);
    ++pairs;
    return TVidFilter::ProcessPair(input);
  }
  int pairs = 0;
};

TEST(FrameMessages, AtMostOneWaitingPerSourceBehindASlowChain) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder folder;
  Windows windows;
  TForm1& form = windows.form();
  ASSERT_TRUE(SetUpSimulatedPair(form));
  // As a move of the pixel-clock slider opens the range to the camera's.
  SetSliderRange(form.tbFrameRate, 0, 1000);
  form.tbFrameRate->setValue(1000);
  ASSERT_GE(form.Device1->FrameRate, 90.0);
  std::shared_ptr<SlowFilter> filter = TVidFilter::Create<SlowFilter>();
  form.FilterList.push_back({"Slow", filter});

  ProcessEventsFor(1500ms);
  ASSERT_GE(filter->pairs, 5);

  // What waits in the queue once the cameras stop: at 100 frames per second
  // behind 100 ms per pair, ten messages of each source would come per pair.
  form.BuStop->click();
  form.FilterList.clear();
  DeliveryCounter counter;
  QCoreApplication::sendPostedEvents(&form);
  EXPECT_LE(counter.first, 1);
  EXPECT_LE(counter.second, 1);
}

}  // namespace
