// Whole pairs of one trigger behind a chain slower than the cameras: the
// stamped rig writes each frame's trigger number into its first and last
// rows, so a pair of two numbers is mixed and an image whose stamps disagree,
// or change while the chain holds it, is torn.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters.h"

namespace {

using namespace std::chrono_literals;

struct StampedImage {
  uint32_t First;
  uint32_t Last;
};

StampedImage StampsOf(const IplImage* image) {
  return {RowStamp(image, 0), RowStamp(image, image->height - 1)};
}

// Reads both images' stamps, takes as long as a slow filter, and reads them
// again: a driver that writes meanwhile shows in the second reading.
class StampCounter : public TVidFilter {
 public:
  explicit StampCounter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    if (input.Left() == nullptr || input.Right() == nullptr) return TVidFilter::ProcessPair(input);
    const StampedImage left = StampsOf(input.Left());
    const StampedImage right = StampsOf(input.Right());
    std::this_thread::sleep_for(30ms);
    ++pairs;
    // The stamps that travel with the pair name one trigger too; a live
    // frame never meets a triggered one, at the switch to trigger mode or
    // back.
    const auto& [left_stamp, right_stamp] = input.Stamps;
    if (left_stamp.Number == 0 || right_stamp.Number == 0 || left_stamp.Trigger != right_stamp.Trigger)
      ++unstamped;
    for (const auto& [before, image] : {std::pair{left, input.Left()}, std::pair{right, input.Right()}}) {
      const StampedImage after = StampsOf(image);
      if (before.First != before.Last || after.First != before.First || after.Last != before.Last) ++torn;
    }
    // Two images that each carried one number when the chain took them, but
    // not the same; an image torn already then has no one number.
    if (left.First == left.Last && right.First == right.Last && left.First != right.First) ++mixed;
    return TVidFilter::ProcessPair(input);
  }
  int pairs = 0;
  int mixed = 0;
  int torn = 0;
  int unstamped = 0;
};

class PairMomentTest : public ::testing::Test {
 protected:
  ScopedEnv stamp_{"STEREO_SIM_STAMP", "1"};
  ScopedSettingsFolder folder_;
  Windows windows_;
};

TEST_F(PairMomentTest, TriggeredPairsBehindASlowChainAreWholeAndOfOneTrigger) {
  REQUIRE_CAMERAS();
  TForm1& form = windows_.form();
  ASSERT_TRUE(rig_operator::SetUpBothCameras(form));
  std::shared_ptr<StampCounter> counter = TVidFilter::Create<StampCounter>();
  form.FilterList.push_back({"Stamps", counter});
  // The fastest clock opens the rate slider up to 100 frames per second.
  form.tbPixelClock->setValue(40);
  form.tbPixelClockChange();
  form.tbFrameRate->setValue(1000);
  ASSERT_DOUBLE_EQ(form.Device1->FrameRate, 100.0);
  form.ChTrigger->setChecked(true);
  // Behind a 30 ms chain a loaded machine hands on a few pairs a second:
  // the pairs that came in the time given are judged, enough of them to tell.
  const int wanted = PairsToCount(200);
  ProcessEventsUntil([&] { return counter->pairs >= wanted; },
                     std::max<std::chrono::milliseconds>(90s, std::chrono::milliseconds(wanted * 200)));
  form.ChTrigger->setChecked(false);
  ASSERT_GE(counter->pairs, std::min(wanted, 50));
  std::printf("pairs %d, mixed %d, torn %d\n", counter->pairs, counter->mixed, counter->torn);
  EXPECT_EQ(counter->mixed, 0);
  EXPECT_EQ(counter->torn, 0);
  EXPECT_EQ(counter->unstamped, 0);
}

}  // namespace
