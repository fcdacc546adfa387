// Two fake GenICam cameras of Aravis through the real windows: picked in the
// two lists and opened with "Init" below both, triggered in pairs that are
// each one trigger, and calibrated against the simulated rig's truth.

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "Video/vidclass/arvimp.h"
#include "Video/vidclass/vidclass_genicam.h"
#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "app_test_support.h"
#include "demos/genicam_rig_views.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

// A run of this binary by hand never looks for cameras on the network.
[[maybe_unused]] const int kNoDiscovery = setenv(arvimp::kFakeCamerasVariable, "0", 0);

constexpr uint32_t kMono8 = 0x01080001;

// Counts the pairs the chain sees: a pair whose images show two triggers is
// mixed, one numbered as another trigger than the one it shows misnumbered,
// an image whose first and last rows disagree is torn.
class TriggerCounter : public TVidFilter {
 public:
  explicit TriggerCounter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    if (input.Left() == nullptr || input.Right() == nullptr) return TVidFilter::ProcessPair(input);
    ++pairs;
    const uint32_t left = RowStamp(input.Left(), 0), right = RowStamp(input.Right(), 0);
    if (left != right) ++mixed;
    // The program numbers triggers from its start, the fakes theirs from
    // the switch to trigger mode.
    const uint64_t offset = input.Stamps[0].Trigger - left;
    if (pairs == 1) first_offset = offset;
    if (offset != first_offset) ++misnumbered;
    for (const IplImage* image : {input.Left(), input.Right()})
      if (RowStamp(image, 0) != RowStamp(image, image->height - 1)) ++torn;
    const auto& [left_stamp, right_stamp] = input.Stamps;
    if (left_stamp.Number == 0 || right_stamp.Number == 0 || left_stamp.Trigger != right_stamp.Trigger)
      ++unstamped;
    width = input.Left()->width;
    channels = input.Left()->nChannels;
    return TVidFilter::ProcessPair(input);
  }
  int pairs = 0, mixed = 0, misnumbered = 0, torn = 0, unstamped = 0;
  uint64_t first_offset = 0;
  int width = 0, channels = 0;
};

class GenICamRigTest : public ::testing::Test {
 protected:
  explicit GenICamRigTest(const genicam_rig::FakeRigSetUp& set_up = {}) {
    genicam_rig::ShowRigOnFakeCameras(set_up);
  }
  ~GenICamRigTest() override {
    if (form().ChTrigger->isChecked()) form().ChTrigger->setChecked(false);
    genicam_rig::StopShowingRig();
  }
  TForm1& form() { return windows_.form(); }
  bool SetUpBothFakes() {
    if (!rig_operator::SetUpBothCameras(form(), kGenICamDeviceIdBase, kGenICamDeviceIdBase + 1)) return false;
    counter_ = TVidFilter::Create<TriggerCounter>();
    form().FilterList.push_back({"Triggers", counter_});
    return true;
  }

  ScopedEnv fakes_{arvimp::kFakeCamerasVariable, "2"};
  ScopedSettingsFolder folder_;
  Windows windows_;
  std::shared_ptr<TriggerCounter> counter_;
};

TEST_F(GenICamRigTest, InitBelowBothListsOpensBothFakesAtTheirOwnSizeAndColour) {
  ASSERT_TRUE(SetUpBothFakes());
  for (tVideoDevice* device : {form().Device1.get(), form().Device2.get()}) {
    ASSERT_NE(dynamic_cast<tVideoDeviceGenICam*>(device), nullptr);
    EXPECT_EQ(device->State, 1) << ::testing::PrintToString(device->Log);
  }
  EXPECT_TRUE(ProcessEventsUntil([&] { return counter_->pairs >= 5; }, 10s)) << counter_->pairs;
  EXPECT_EQ(counter_->width, 640);
  EXPECT_EQ(counter_->channels, 3);
  EXPECT_NE(form().MeLog->toPlainText().indexOf("GenICam Stream 0"), -1);
  // The third slider drives the gain of both cameras across its span.
  form().tbPixelClock->setValue(form().tbPixelClock->maximum());
  for (tVideoDevice* device : {form().Device1.get(), form().Device2.get()}) {
    EXPECT_EQ(dynamic_cast<tVideoDeviceGenICam&>(*device).Gain, 1.0);
    EXPECT_EQ(device->LastResult, 0);
  }
}

// How long each fake's triggered frame keeps it busy, and how many pairs
// are counted.
struct BusyFakes {
  std::chrono::microseconds Busy;
  int Pairs;
};

// Small grey frames: rendering two per trigger keeps up in a sanitizer build.
genicam_rig::FakeRigSetUp SmallGreyFakes(std::chrono::microseconds busy) {
  genicam_rig::FakeRigSetUp set_up;
  set_up.PixelFormat = kMono8;
  set_up.Width = 320;
  set_up.Height = 240;
  set_up.FrameBusy = busy;
  return set_up;
}

class GenICamTriggerTest : public GenICamRigTest, public ::testing::WithParamInterface<BusyFakes> {
 protected:
  GenICamTriggerTest() : GenICamRigTest(SmallGreyFakes(GetParam().Busy)) {}
  ScopedEnv stamp_{"STEREO_SIM_STAMP", "1"};
};

// A camera busy with a frame ignores a trigger, as a fake starved on a
// loaded machine does: the next trigger goes out only when both cameras
// answered the last, else its number would go to the frame of the next.
TEST_P(GenICamTriggerTest, TriggeredPairsAtFiftyPerSecondAreEachOneTrigger) {
  ASSERT_TRUE(SetUpBothFakes());
  form().tbFrameRate->setValue(500);
  ASSERT_DOUBLE_EQ(form().Device1->FrameRate, 50.0);
  form().ChTrigger->setChecked(true);
  const int wanted = PairsToCount(GetParam().Pairs);
  const bool counted =
      ProcessEventsUntil([&] { return counter_->pairs >= wanted; }, std::chrono::milliseconds(wanted * 100));
  form().ChTrigger->setChecked(false);
  ASSERT_TRUE(counted) << counter_->pairs << " pairs, mixed " << counter_->mixed;
  std::printf("pairs %d, mixed %d, torn %d\n", counter_->pairs, counter_->mixed, counter_->torn);
  EXPECT_EQ(counter_->mixed, 0);
  EXPECT_EQ(counter_->misnumbered, 0);
  EXPECT_EQ(counter_->torn, 0);
  EXPECT_EQ(counter_->unstamped, 0);
}

INSTANTIATE_TEST_SUITE_P(BusyFakes, GenICamTriggerTest,
                         ::testing::Values(BusyFakes{std::chrono::microseconds(0), 500},
                                           BusyFakes{std::chrono::milliseconds(30), 100}),
                         [](const auto& info) {
                           return "busy" + std::to_string(info.param.Busy.count()) + "us";
                         });

class GenICamCalibrationTest : public GenICamRigTest {
 protected:
  ScopedEnv still_{"STEREO_SIM_SCENE_SPEED", "0"};
  ScopedEnv clean_{"STEREO_SIM_NOISE", "0"};
};

TEST_F(GenICamCalibrationTest, StereoCalibrationThroughTheFakesMeetsTheRigsTruth) {
  REQUIRE_CAMERAS();
  const rig_operator::SimulatedRig rig;
  const TStereoCalibration truth = rig.TrueCalibration(cv::Size(640, 480));
  genicam_rig::SetSceneTime(0.0);
  ASSERT_TRUE(SetUpBothFakes());
  form().ChTrigger->setChecked(true);
  rig_operator::DropPanel(form(), form().PaDistort);
  rig_operator::DoubleClickEntry(form(), 1);
  TDistortFilter* filter = rig_operator::DistortFilterAt(form(), 1);
  ASSERT_NE(filter, nullptr);
  TFoDistortSetup& dialog = *rig_operator::DialogOf(*filter);
  dialog.findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog.findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(truth.SquareSize_mm);
  dialog.CoMode->setCurrentIndex(kSearchForCheckerboard);
  ASSERT_EQ(rig_operator::PushStillPoses(&genicam_rig::SetSceneTime, dialog, 18), 18);
  dialog.findChild<QPushButton*>("BuCalib")->click();
  dialog.findChild<QPushButton*>("BuStereoCalib")->click();
  ASSERT_TRUE(filter->StereoResult.has_value()) << dialog.Memo1->toPlainText().toStdString();

  const TStereoCalibration& found = *filter->StereoResult;
  const cv::Matx33d right(filter->CameraRight);
  for (const auto& [row, column] : {std::pair{0, 0}, {1, 1}, {0, 2}, {1, 2}}) {
    EXPECT_NEAR(found.K1(row, column), truth.K1(row, column), 0.005 * truth.K1(row, column));
    EXPECT_NEAR(right(row, column), truth.K2(row, column), 0.005 * truth.K2(row, column));
  }
  EXPECT_NEAR(cv::norm(found.T), cv::norm(truth.T), 0.01 * cv::norm(truth.T));
  std::printf("fx %.2f / %.2f, fy %.2f / %.2f, right fx %.2f / %.2f, baseline %.3f / %.3f mm\n",
              found.K1(0, 0), truth.K1(0, 0), found.K1(1, 1), truth.K1(1, 1), right(0, 0), truth.K2(0, 0),
              cv::norm(found.T), cv::norm(truth.T));
}

}  // namespace
