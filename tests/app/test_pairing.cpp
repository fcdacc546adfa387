#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <chrono>
#include <optional>
#include <vector>

#include "Video/vidclass/frame_store.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/pair_moment.h"
#include "app/qtimer.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

using namespace std::chrono_literals;

class PairingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeShownErrors();
    filter_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", filter_});
  }
  TForm1& form() { return windows_.form(); }
  FakeSource* OpenLeft(int channels = 3) { return Open(form().Device1, channels); }
  FakeSource* OpenRight(int channels = 3) { return Open(form().Device2, channels); }
  // Posts the messages as the capture threads do and lets the hook take them.
  void Announce(std::initializer_list<uint32_t> messages) {
    for (uint32_t message : messages) {
      form().Post(message);
      QCoreApplication::sendPostedEvents(&form());
    }
  }
  size_t Pairs() const { return filter_->pairs.size(); }

  ScopedSettingsFolder folder_;
  Windows windows_;
  std::shared_ptr<RecordingFilter> filter_;

 private:
  static FakeSource* Open(std::unique_ptr<tVideoDevice>& side, int channels) {
    auto source = std::make_unique<FakeSource>(64, 48, channels);
    FakeSource* raw = source.get();
    side = std::move(source);
    return raw;
  }
};

TEST_F(PairingTest, OnePairOnceEachSourceHasAnnounced) {
  FakeSource* left = OpenLeft();
  FakeSource* right = OpenRight();
  Announce({2024, 2024, 2025});
  ASSERT_EQ(Pairs(), 1u);
  EXPECT_EQ(filter_->pairs[0].Left(), left->Image);
  EXPECT_EQ(filter_->pairs[0].Right(), right->Image);
  for (size_t slot = 2; slot < 8; ++slot) EXPECT_EQ(filter_->pairs[0].Images[slot], nullptr);
  EXPECT_FALSE(form().Arrived1 || form().Arrived2);
  Announce({2025, 2024, 2025});
  EXPECT_EQ(Pairs(), 2u);
  Announce({2024, 2025, 2024, 2025});
  EXPECT_EQ(Pairs(), 4u);
}

TEST_F(PairingTest, PairsAreDrawnIntoBothPanes) {
  OpenLeft();
  OpenRight(1);
  Announce({2024, 2025});
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 24);
  EXPECT_EQ(Form2->PbGraf1->Bitmap().Width(), 64);
  EXPECT_EQ(Form2->PbGraf2->Bitmap().BitCount(), 8);
}

TEST_F(PairingTest, OnlyTheFirstSourceGivesLeftOnlyPairs) {
  FakeSource* left = OpenLeft();
  Announce({2024, 2024, 2024});
  ASSERT_EQ(Pairs(), 3u);
  EXPECT_EQ(filter_->pairs[2].Left(), left->Image);
  EXPECT_EQ(filter_->pairs[2].Right(), nullptr);
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 24);
  EXPECT_EQ(Form2->PbGraf2->Bitmap().BitCount(), 0);
}

TEST_F(PairingTest, OnlyTheSecondSourceGivesRightOnlyPairs) {
  OpenRight();
  Announce({2025, 2025});
  ASSERT_EQ(Pairs(), 2u);
  EXPECT_EQ(filter_->pairs[1].Left(), nullptr);
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 0);
}

// Both open and the second silent: the first's arrival waits, however long.
TEST_F(PairingTest, Regression_SilentSecondSourceNeverLetsTheFirstBeHandledAlone) {
  OpenLeft();
  OpenRight();
  for (int i = 0; i < 20; ++i) Announce({2024});
  ProcessEventsFor(std::chrono::milliseconds(static_cast<int>(form().FramePeriod_ms(true)) * 5));
  EXPECT_EQ(Pairs(), 0u);
  EXPECT_TRUE(form().Arrived1);
}

TEST_F(PairingTest, ArrivalWaitingForASourceThatIsGoneIsHandledAlone) {
  FakeSource* left = OpenLeft();
  OpenRight();
  Announce({2024});
  form().Device2.reset();
  EXPECT_EQ(Pairs(), 0u);
  // The next message of any number completes it.
  QCoreApplication::postEvent(&form(), new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&form());
  ASSERT_EQ(Pairs(), 1u);
  EXPECT_EQ(filter_->pairs[0].Left(), left->Image);
  EXPECT_EQ(filter_->pairs[0].Right(), nullptr);
  EXPECT_FALSE(form().Arrived1);
}

// Copies that refuse to keep one frame, as a memory the driver refilled
// between the choice of a pair and its lock.
class RefusingFrames : public CopiedFrames {
 public:
  using CopiedFrames::CopiedFrames;
  IplImage* Hold(const FrameSlot& slot) override {
    return slot.Stamp.Number == refused ? nullptr : CopiedFrames::Hold(slot);
  }
  bool Pin(const FrameSlot& slot) override { return slot.Stamp.Number != refused && CopiedFrames::Pin(slot); }
  uint64_t refused = 0;
};

TEST_F(PairingTest, PairThatCanNotBeHeldWholeLeavesTheLastPairHeld) {
  FakeSource* left = OpenLeft();
  FakeSource* right = OpenRight();
  left->Frames = std::make_unique<CopiedFrames>(*left->Image, 3);
  auto refusing = std::make_unique<RefusingFrames>(*right->Image, 3);
  RefusingFrames& right_frames = *refusing;
  right->Frames = std::move(refusing);
  const std::vector<char> pixels(static_cast<size_t>(left->Image->imageSize));
  const auto put_both = [&](uint64_t number) {
    const FrameStamp stamp{number, 40.0 * static_cast<double>(number)};
    ASSERT_TRUE(static_cast<CopiedFrames&>(*left->Frames).Put(pixels.data(), left->Image->widthStep, stamp));
    ASSERT_TRUE(right_frames.Put(pixels.data(), right->Image->widthStep, stamp));
  };
  put_both(1);
  Announce({2024, 2025});
  ASSERT_EQ(Pairs(), 1u);
  const IplImage* first_left = left->HeldFrame();

  put_both(2);
  right_frames.refused = 2;
  Announce({2024, 2025});
  EXPECT_EQ(Pairs(), 1u);
  EXPECT_EQ(left->HeldFrame(), first_left);

  right_frames.refused = 0;
  Announce({2024, 2025});
  ASSERT_EQ(Pairs(), 2u);
  EXPECT_EQ(filter_->pairs[1].Stamps[0].Number, 2u);
  EXPECT_EQ(filter_->pairs[1].Stamps[1].Number, 2u);
  EXPECT_NE(left->HeldFrame(), first_left);
}

TEST_F(PairingTest, OneSidedPairCarriesTheStampOfTheFrameHeld) {
  FakeSource* right = OpenRight();
  auto refusing = std::make_unique<RefusingFrames>(*right->Image, 3);
  RefusingFrames& frames = *refusing;
  right->Frames = std::move(refusing);
  const std::vector<char> pixels(static_cast<size_t>(right->Image->imageSize));
  for (uint64_t number : {1u, 2u})
    ASSERT_TRUE(
        frames.Put(pixels.data(), right->Image->widthStep, {number, 40.0 * static_cast<double>(number)}));
  frames.refused = 2;
  Announce({2025});
  ASSERT_EQ(Pairs(), 1u);
  EXPECT_EQ(filter_->pairs[0].Right(), right->HeldFrame());
  EXPECT_EQ(filter_->pairs[0].Stamps[1].Number, 1u);
}

FrameSlot Frame(int32_t memory, uint64_t number, double time_ms, uint64_t trigger = 0) {
  return {memory, {number, time_ms, trigger}};
}

struct MomentCase {
  const char* name;
  std::vector<FrameSlot> left;
  std::vector<FrameSlot> right;
  PairChoice last;
  std::optional<std::pair<uint64_t, uint64_t>> chosen;  // frame numbers, left and right
  bool numbered = false;                                // both sides number the triggers their frames answer
};

class MomentChoice : public ::testing::TestWithParam<MomentCase> {};

TEST_P(MomentChoice, PicksTheNewestNewPairWithinHalfAPeriod) {
  const MomentCase& c = GetParam();
  const std::optional<PairChoice> choice =
      ChooseMoment(c.left, c.right, MomentRule{5.0, c.numbered, c.numbered}, c.last);
  ASSERT_EQ(choice.has_value(), c.chosen.has_value());
  if (choice) {
    EXPECT_EQ(choice->Left.Stamp.Number, c.chosen->first);
    EXPECT_EQ(choice->Right.Stamp.Number, c.chosen->second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, MomentChoice,
    ::testing::Values(
        MomentCase{"RightNotYetIn",
                   {Frame(1, 9, 90), Frame(2, 8, 80)},
                   {Frame(1, 8, 80.02), Frame(2, 7, 70)},
                   {},
                   std::pair{8u, 8u}},
        MomentCase{"BothIn",
                   {Frame(1, 9, 90), Frame(2, 8, 80)},
                   {Frame(2, 9, 90.01), Frame(1, 8, 80)},
                   {},
                   std::pair{9u, 9u}},
        MomentCase{"NoPartner", {Frame(1, 9, 90)}, {Frame(1, 7, 70)}, {}, std::nullopt},
        MomentCase{"OnlyTheHandledPair",
                   {Frame(1, 9, 90)},
                   {Frame(1, 9, 90.01)},
                   PairChoice{Frame(1, 9, 90), Frame(1, 9, 90.01)},
                   std::nullopt},
        MomentCase{"LiveWithinHalfAPeriod", {Frame(3, 5, 104.9)}, {Frame(3, 6, 100)}, {}, std::pair{5u, 6u}},
        MomentCase{"UnknownStampsAlwaysPair", {FrameSlot{}}, {FrameSlot{}}, {}, std::pair{0u, 0u}},
        // Arrival times of one trigger drift apart under load; the trigger's
        // number still names the moment, and two triggers are never one.
        MomentCase{"Regression_SameTriggerArrivedAPeriodApart",
                   {Frame(1, 9, 190, 5)},
                   {Frame(1, 4, 100, 5)},
                   {},
                   std::pair{9u, 4u}},
        MomentCase{"Regression_NeighbourTriggersArrivedTogether",
                   {Frame(1, 9, 100, 6), Frame(2, 8, 90, 5)},
                   {Frame(1, 4, 100.5, 5)},
                   {},
                   std::pair{8u, 4u}},
        // At the switch to trigger mode a live frame taken just before it
        // meets the first triggered frame within the tolerance.
        MomentCase{"Regression_LiveFrameNeverMeetsTheFirstTriggeredFrame",
                   {Frame(1, 9, 100, 1), Frame(2, 8, 80)},
                   {Frame(1, 4, 101)},
                   {},
                   std::nullopt,
                   true},
        MomentCase{"TriggeredFrameOfAKindThatNumbersNoneMeetsByTime",
                   {Frame(1, 9, 100, 1), Frame(2, 8, 80)},
                   {Frame(1, 4, 101)},
                   {},
                   std::pair{9u, 4u}},
        // At the switch back to live a late triggered frame meets a live one.
        MomentCase{"Regression_LastTriggeredFrameWaitsForItsPartnerNotALiveFrame",
                   {Frame(1, 10, 120), Frame(2, 9, 100, 1)},
                   {Frame(1, 5, 118, 1)},
                   {},
                   std::pair{9u, 5u},
                   true}),
    [](const ::testing::TestParamInfo<MomentCase>& info) { return std::string(info.param.name); });

TEST_F(PairingTest, AnnouncementOfAMissingSourceIsLeftUnhandled) {
  OpenLeft();
  QEvent right(static_cast<QEvent::Type>(2025));
  EXPECT_FALSE(form().ApplicationEvents1Message(&right));
  EXPECT_EQ(Pairs(), 0u);
  QEvent left(static_cast<QEvent::Type>(2024));
  EXPECT_TRUE(form().ApplicationEvents1Message(&left));
  EXPECT_EQ(Pairs(), 1u);
}

TEST_F(PairingTest, DisplayOffStillRunsTheChainButDrawsNothing) {
  OpenLeft();
  OpenRight();
  form().ChDisplay->setChecked(false);
  Announce({2024, 2025, 2024, 2025});
  EXPECT_EQ(Pairs(), 2u);
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 0);
  EXPECT_EQ(Form2->PbGraf2->Bitmap().BitCount(), 0);
}

TEST_F(PairingTest, EmptyChainHandsTheInputPairOn) {
  FakeSource* left = OpenLeft();
  form().FilterList.clear();
  form().RunFilterChain(left->Image, nullptr);
  EXPECT_EQ(form().ProcessedLeft, left->Image);
  EXPECT_EQ(form().ProcessedRight, nullptr);
}

// A pair whose filter fails is reported once and does not stay pending, so
// it is not retried on every later event of the application.
TEST_F(PairingTest, Regression_FailingFilterIsReportedOncePerPair) {
  OpenLeft();
  OpenRight();
  filter_->throws = true;
  Announce({2024, 2025});
  ProcessEventsFor(50ms);
  EXPECT_EQ(TakeShownErrors(), "filter failed\n");
  EXPECT_FALSE(form().Arrived1 || form().Arrived2);
  filter_->throws = false;
  Announce({2024, 2025});
  EXPECT_EQ(Pairs(), 2u);
}

TEST_F(PairingTest, StartStopAndTriggerReachEverySource) {
  FakeSource* left = OpenLeft();
  FakeSource* right = OpenRight();
  form().BuStart->click();
  form().BuStop->click();
  EXPECT_EQ(left->starts + right->starts, 2);
  EXPECT_EQ(left->stops + right->stops, 2);
  form().Trigger->click();
  EXPECT_EQ(form().StatusBar1->currentMessage(), "00");
  EXPECT_EQ(left->triggers + right->triggers, 2);
}

TEST_F(PairingTest, TriggerShowsEachResultWithoutSeparator) {
  form().Trigger->click();
  EXPECT_EQ(form().StatusBar1->currentMessage(), "");
  form().Device1 = std::make_unique<FakeSource>(8, 8, 3, -1);
  form().Device2 = std::make_unique<FakeSource>(8, 8, 3, 3);
  form().Trigger->click();
  EXPECT_EQ(form().StatusBar1->currentMessage(), "-13");
}

TEST_F(PairingTest, HiddenDisplayButtonsDrawTheRawImage) {
  form().BuDisplay1->click();
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 0);
  OpenLeft(1);
  form().BuDisplay1->click();
  EXPECT_EQ(Form2->PbGraf1->Bitmap().BitCount(), 8);
  EXPECT_EQ(Pairs(), 0u);
}

class TriggerModeTest : public PairingTest {
 protected:
  // A period of 125 ms.
  void SetUp() override {
    PairingTest::SetUp();
    form().tbFrameRate->setValue(80);
  }
};

TEST_F(TriggerModeTest, TriggersBothSourcesOncePerPeriod) {
  FakeSource* left = OpenLeft();
  FakeSource* right = OpenRight();
  form().ChTrigger->setChecked(true);
  EXPECT_TRUE(left->trigger_mode && right->trigger_mode);
  ASSERT_NE(form().QueryTimer, nullptr);
  EXPECT_DOUBLE_EQ(form().QueryTimer->Interval, 125.0);
  const auto started = std::chrono::steady_clock::now();
  ProcessEventsFor(1000ms);
  const int triggers = left->triggers;
  const double elapsed_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  // Never early; a loaded machine may make it late.
  EXPECT_LE(triggers, static_cast<int>(elapsed_ms / 125.0) + 1);
  EXPECT_GE(triggers, 3);
  EXPECT_NEAR(right->triggers, triggers, 1);
}

TEST_F(TriggerModeTest, FrameRateSliderSetsTheRunningPeriod) {
  OpenLeft();
  form().ChTrigger->setChecked(true);
  form().tbFrameRate->setValue(75);
  EXPECT_NEAR(form().QueryTimer->Interval, 133.33, 0.01);
  form().tbFrameRate->setValue(0);
  EXPECT_TRUE(std::isinf(form().QueryTimer->Interval.load()));
}

TEST_F(TriggerModeTest, PositionZeroNeverFires) {
  FakeSource* left = OpenLeft();
  form().tbFrameRate->setValue(0);
  form().ChTrigger->setChecked(true);
  ProcessEventsFor(300ms);
  EXPECT_EQ(left->triggers, 0);
}

TEST_F(TriggerModeTest, SwitchingOffEndsTheTimerAndRestartsCapture) {
  FakeSource* left = OpenLeft();
  FakeSource* right = OpenRight();
  form().ChTrigger->setChecked(true);
  const auto before = std::chrono::steady_clock::now();
  form().ChTrigger->setChecked(false);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 1000ms);
  EXPECT_EQ(form().QueryTimer, nullptr);
  EXPECT_FALSE(left->trigger_mode || right->trigger_mode);
  EXPECT_EQ(left->starts, 1);
  EXPECT_EQ(right->starts, 1);
  const int triggers = left->triggers;
  ProcessEventsFor(300ms);
  EXPECT_EQ(left->triggers, triggers);
}

TEST_F(TriggerModeTest, SwitchingOffWithoutTimerStillRestarts) {
  FakeSource* left = OpenLeft();
  form().ChTrigger->setChecked(true);
  form().QueryTimer.reset();
  form().ChTrigger->setChecked(false);
  EXPECT_EQ(left->starts, 1);
}

TEST_F(TriggerModeTest, ANewTimerEndsTheOneRunning) {
  FakeSource* left = OpenLeft();
  form().Button1->click();
  form().Button1->click();
  form().ChTrigger->setChecked(true);
  const auto started = std::chrono::steady_clock::now();
  ProcessEventsFor(1000ms);
  const double elapsed_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  // Three timers would trigger up to three times per period.
  EXPECT_LE(left->triggers, static_cast<int>(elapsed_ms / 125.0) + 2);
}

TEST_F(TriggerModeTest, ClosingEndsTheTimerBeforeTheSourcesGo) {
  OpenLeft();
  OpenRight();
  form().ChTrigger->setChecked(true);
  ProcessEventsFor(200ms);
  form().close();
  EXPECT_EQ(form().QueryTimer, nullptr);
  EXPECT_EQ(form().Device1, nullptr);
  EXPECT_EQ(form().Device2, nullptr);
}

}  // namespace
