#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_dshow.h"
#include "Video/vidclass/vidclass_falcon.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/qtimer.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

using namespace std::chrono_literals;

int RowWithId(const QListWidget* list, int id) {
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->data(Qt::UserRole).toInt() == id) return row;
  }
  return -1;
}

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

TEST(MakeSourceDevice, IdRangesChooseTheKind) {
  EXPECT_EQ(MakeSourceDevice(999, nullptr), nullptr);
  EXPECT_NE(dynamic_cast<tVideoDeviceDShow*>(MakeSourceDevice(1000, nullptr).get()), nullptr);
  EXPECT_NE(dynamic_cast<tVideoDeviceDShow*>(MakeSourceDevice(1999, nullptr).get()), nullptr);
  EXPECT_NE(dynamic_cast<tVideoDeviceFalcon*>(MakeSourceDevice(2000, nullptr).get()), nullptr);
  EXPECT_NE(dynamic_cast<tVideoDeviceuEye*>(MakeSourceDevice(3002, nullptr).get()), nullptr);
}

// Set-up with two system capture sources listed ahead of any camera.
class SetUpTest : public ::testing::Test {
 protected:
  SetUpTest() : sources_("STEREO_CAPTURE_SOURCES", "videotestsrc\nvideotestsrc pattern=ball\n") {}
  TForm1& form() { return windows_->form(); }
  void SetUp() override { windows_ = std::make_unique<Windows>(); }

  ScopedSettingsFolder folder_;
  ScopedEnv sources_;
  std::unique_ptr<Windows> windows_;
};

TEST_F(SetUpTest, NoSelectionDoesNothingAtAll) {
  form().BuInit1->click();
  form().BuInit2->click();
  form().BuInitBoth->click();
  EXPECT_EQ(form().Device1, nullptr);
  EXPECT_EQ(form().Device2, nullptr);
  EXPECT_EQ(form().MeLog->toPlainText(), "Memo1");
}

TEST_F(SetUpTest, CaptureSourceOpensOnEitherSide) {
  form().ListBox1->setCurrentRow(0);
  form().ListBox2->setCurrentRow(1);
  form().BuInit1->click();
  form().BuInit2->click();
  ASSERT_NE(form().Device1, nullptr);
  ASSERT_NE(form().Device2, nullptr);
  EXPECT_EQ(form().Device1->State, 1);
  EXPECT_EQ(form().Device2->State, 1);
  // Panes show the sources' 320 x 240 at half size, side by side.
  EXPECT_EQ(Form2->PbGraf2->geometry(), QRect(161, 0, 160, 120));
}

TEST_F(SetUpTest, SameEntryOnBothSidesLeavesTheSecondSideAlone) {
  form().ListBox1->setCurrentRow(0);
  form().ListBox2->setCurrentRow(0);
  form().BuInit2->click();
  EXPECT_EQ(form().MeLog->toPlainText(), "Memo1");
}

// The simulated rig: two cameras and a frame-grabber board.
class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_CAMERAS();
    // ThreadSanitizer starts a thread of its own with the first thread made;
    // have it running before counting.
    std::thread([] {}).join();
    threads_before_ = ThreadCount();
    windows_ = std::make_unique<Windows>();
    filter_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", filter_});
    form().ListBox1->setCurrentRow(RowWithId(form().ListBox1, 3001));
    form().ListBox2->setCurrentRow(RowWithId(form().ListBox2, 3002));
  }
  TForm1& form() { return windows_->form(); }
  size_t Pairs() const { return filter_->pairs.size(); }
  bool WaitForPairs(size_t more, std::chrono::milliseconds timeout) {
    const size_t target = Pairs() + more;
    return ProcessEventsUntil([&] { return Pairs() >= target; }, timeout);
  }
  // The frames each camera holds now are the last pair's, pixel for pixel:
  // the rig's frames differ in every one (a moving board, sensor noise).
  void ExpectLastPairIsTheFramesHeld() {
    ASSERT_FALSE(filter_->last_pixels[0].empty());
    EXPECT_EQ(filter_->last_pixels[0], PixelsOf(form().Device1->HeldFrame()));
    EXPECT_EQ(filter_->last_pixels[1], PixelsOf(form().Device2->HeldFrame()));
  }

  ScopedSettingsFolder folder_;
  size_t threads_before_ = 0;
  std::unique_ptr<Windows> windows_;
  std::shared_ptr<RecordingFilter> filter_;
};

TEST_F(CameraTest, InitOfBothOpensSizesAndStartsLiveCapture) {
  form().BuInitBoth->click();
  ASSERT_NE(form().Device1, nullptr);
  ASSERT_NE(form().Device2, nullptr);
  EXPECT_EQ(form().Device1->State, 1);
  EXPECT_EQ(form().Device2->State, 1);
  EXPECT_EQ(form().Device2->Width, 640);
  EXPECT_EQ(form().Device2->Channels, 3);
  EXPECT_NE(form().MeLog->toPlainText(), "Memo1");
  EXPECT_EQ(Form2->PbGraf1->geometry(), QRect(0, 0, 320, 240));
  EXPECT_EQ(Form2->PbGraf2->geometry(), QRect(321, 0, 320, 240));
  EXPECT_TRUE(Form2->PbGraf2->Bitmap().Matches(640, 480, 24));
  ASSERT_TRUE(WaitForPairs(3, 20s));
  for (const ImagePair& pair : filter_->pairs) {
    EXPECT_NE(pair.Left(), nullptr);
    EXPECT_NE(pair.Right(), nullptr);
  }
  ExpectLastPairIsTheFramesHeld();
}

TEST_F(CameraTest, FalconBoardOpensOnTheSecondSideLikeTheFirst) {
  form().ListBox2->setCurrentRow(RowWithId(form().ListBox2, 2000));
  form().BuInit2->click();
  ASSERT_NE(dynamic_cast<tVideoDeviceFalcon*>(form().Device2.get()), nullptr);
  EXPECT_GE(Form2->PbGraf2->x(), 321);
}

TEST_F(CameraTest, OnlyTheFirstCameraGivesLeftOnlyPairs) {
  form().BuInit1->click();
  form().BuStart->click();
  ASSERT_TRUE(WaitForPairs(2, 20s));
  EXPECT_EQ(filter_->pairs.back().Right(), nullptr);
}

// In trigger mode without a timer each "Trigger" gives one frame a camera:
// the pair handled holds both, of the same trigger however late either
// arrives, and announcing the same frames again makes no second pair.
TEST_F(CameraTest, AnnouncementsPairTheCamerasImages) {
  form().BuInitBoth->click();
  // Both cameras have delivered before trigger mode begins.
  ASSERT_TRUE(WaitForPairs(1, 20s));
  form().tbFrameRate->setValue(0);
  form().ChTrigger->setChecked(true);
  // Live frames taken before trigger mode are handled first: no pair for half
  // a second (a slow build may hand over a late live frame after the first).
  for (size_t seen = SIZE_MAX; seen != Pairs();) {
    seen = Pairs();
    ProcessEventsFor(500ms);
  }
  // A late live pair may still come first; the trigger's pair follows it. A
  // live frame still under way at the switch may take the first trigger's
  // number on one camera: that trigger makes no pair, the next one does.
  const auto triggered_pair = [&] { return filter_->pairs.back().Stamps[0].Trigger != 0; };
  for (int clicks = 0; clicks < 4 && !triggered_pair(); ++clicks) {
    form().Trigger->click();
    ProcessEventsUntil(triggered_pair, 5s);
  }
  ASSERT_TRUE(triggered_pair());
  ProcessEventsFor(300ms);
  const ImagePair first = filter_->pairs.back();
  EXPECT_NE(first.Stamps[0].Trigger, 0u);
  EXPECT_EQ(first.Stamps[0].Trigger, first.Stamps[1].Trigger);
  ExpectLastPairIsTheFramesHeld();
  // A loaded machine may still hand over frames of an earlier trigger: the
  // same frames announced again are what must make no second pair.
  const auto pairs_of_first = [&] {
    return std::count_if(filter_->pairs.begin(), filter_->pairs.end(),
                         [&](const ImagePair& pair) { return pair.Stamps == first.Stamps; });
  };
  for (uint32_t message : {kFirstSourceMessage, kSecondSourceMessage}) form().Post(message);
  QCoreApplication::sendPostedEvents(&form());
  EXPECT_EQ(pairs_of_first(), 1);
  form().Trigger->click();
  EXPECT_TRUE(ProcessEventsUntil(
      [&] { return filter_->pairs.back().Stamps[0].Number > first.Stamps[0].Number; }, 20s));
  form().ChTrigger->setChecked(false);
}

// Both open: no frame of the first camera is handled without the second's.
TEST_F(CameraTest, Regression_SilentSecondCameraHoldsEveryPairBack) {
  form().BuInit1->click();
  form().BuInit2->click();
  form().Device1->Start();
  // A loaded machine may take long for the first frame; then more come.
  ASSERT_TRUE(ProcessEventsUntil([&] { return form().Arrived1; }, 20s));
  ProcessEventsFor(1s);
  EXPECT_EQ(Pairs(), 0u);
  EXPECT_TRUE(form().Arrived1);
  form().Device2->Start();
  ASSERT_TRUE(WaitForPairs(2, 20s));
  EXPECT_NE(filter_->pairs.front().Left(), nullptr);
  EXPECT_NE(filter_->pairs.front().Right(), nullptr);
}

TEST_F(CameraTest, InitAgainReplacesTheSideAndForgetsItsArrival) {
  form().BuInit1->click();
  form().BuInit2->click();
  form().Arrived1 = true;
  form().BuInit1->click();
  EXPECT_FALSE(form().Arrived1);
  ASSERT_NE(form().Device1, nullptr);
  EXPECT_EQ(form().Device1->State, 1);
  // The replaced camera was closed: the driver lets the same camera open again.
  form().BuStart->click();
  EXPECT_TRUE(WaitForPairs(2, 20s));
}

// A replaced camera's image is freed with it: a filter made afterwards sizes
// its outputs from the current frames and must not read the old one.
TEST_F(CameraTest, Regression_ReplacedCameraLeavesNoCurrentFrameBehind) {
  form().BuInitBoth->click();
  ASSERT_TRUE(WaitForPairs(1, 20s));
  ASSERT_NE(form().CurrentLeft, nullptr);
  form().BuInit1->click();
  const auto filter = TVidFilter::Create<RecordingFilter>();
  EXPECT_EQ(filter->OutLeft, nullptr);
  ASSERT_NE(filter->OutRight, nullptr);
  EXPECT_EQ(filter->OutRight->width, 640);
}

TEST_F(CameraTest, TriggerGivesOneResultPerCamera) {
  form().BuInitBoth->click();
  form().tbFrameRate->setValue(0);
  form().ChTrigger->setChecked(true);
  form().Trigger->click();
  EXPECT_EQ(form().StatusBar1->currentMessage(), "00");
}

TEST_F(CameraTest, TriggerModeGivesPairsAtThePeriodSetAndOffRestartsLiveCapture) {
  form().BuInitBoth->click();
  ASSERT_TRUE(WaitForPairs(1, 20s));
  form().tbFrameRate->setValue(50);  // 200 ms
  form().ChTrigger->setChecked(true);
  ProcessEventsFor(500ms);
  const size_t before = Pairs();
  const auto started = std::chrono::steady_clock::now();
  ProcessEventsFor(2000ms);
  const double elapsed_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  const size_t pairs = Pairs() - before;
  EXPECT_GE(pairs, 4u);
  // Never more than one pair per period (plus the one in flight).
  EXPECT_LE(pairs, static_cast<size_t>(elapsed_ms / 200.0) + 2);

  form().ChTrigger->setChecked(false);
  EXPECT_EQ(form().QueryTimer, nullptr);
  EXPECT_TRUE(WaitForPairs(3, 20s));
}

TEST_F(CameraTest, ClosingLiveCamerasInTriggerModeIsQuickAndLeavesNoThread) {
  form().BuInitBoth->click();
  form().tbFrameRate->setValue(80);
  form().ChTrigger->setChecked(true);
  ASSERT_TRUE(WaitForPairs(2, 20s));
  const auto started = std::chrono::steady_clock::now();
  form().close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_EQ(form().Device1, nullptr);
  EXPECT_EQ(form().QueryTimer, nullptr);
  windows_.reset();
  EXPECT_EQ(ThreadCount(), threads_before_);
}

}  // namespace
