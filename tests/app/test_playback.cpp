// The reader's timeline through the window: seeking shows that frame's
// pixels, playing runs to the end and stops, the label tells the frame and
// its stamps; recordings and folders of image pairs alike.

#include <gtest/gtest.h>

#include <QLabel>
#include <QSlider>
#include <cstdio>
#include <fstream>
#include <set>

#include "fake_source.h"
#include "playback_test_support.h"

namespace {

using namespace std::chrono_literals;
using namespace playback_test;

// More than ten, so that "10" must come after "9".
constexpr int kFrames = 12;

enum class Kind { Recording, StampedRecording, Dataset, LetterPairs, SideFolders };

struct PlaybackCase {
  const char* name;
  Kind kind;
  // From the first pair to the second while playing.
  double interval_ms;
  const char* end_line;
};

class PlaybackTest : public ::testing::TestWithParam<PlaybackCase> {
 protected:
  void SetUp() override {
    const Kind kind = GetParam().kind;
    recorder_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", recorder_});
    if (kind == Kind::Recording || kind == Kind::StampedRecording) {
      ASSERT_TRUE(WriteKnownRecording(dir_.Path("run.avi"), kFrames, kind == Kind::StampedRecording));
      OpenRecording(form(), dir_.Path("runL.avi"));
    } else if (kind == Kind::Dataset) {
      OpenFolder(form(), StampedDataset(dir_, kFrames));
    } else {
      OpenFolder(form(), WriteImagePairs(dir_, kFrames, kind == Kind::SideFolders));
    }
  }
  TForm1& form() { return windows_.form(); }
  std::string Label() const { return windows_.form1->LaFrame->text().toStdString(); }
  bool Timed() const { return GetParam().kind == Kind::StampedRecording || GetParam().kind == Kind::Dataset; }
  // The stamps pair k should be shown with: a dataset knows only times.
  std::array<FrameStamp, 2> ExpectedStamps(int k) const {
    std::array<FrameStamp, 2> sides = KnownStamp(k).Sides;
    if (GetParam().kind == Kind::Dataset)
      sides[0] = sides[1] = {static_cast<uint64_t>(k), sides[0].Time_ms, 0};
    return Timed() ? sides : std::array<FrameStamp, 2>{};
  }
  std::string ExpectedLabel(int k) const {
    char text[96];
    std::snprintf(text, sizeof text, "Frame %d of %d", k + 1, kFrames);
    std::string label = text;
    const double seconds = static_cast<double>(k * kStampStep_ns) / 1e9;
    if (GetParam().kind == Kind::StampedRecording)
      std::snprintf(text, sizeof text, ": pair %d, trigger %d, %.3f s", 100 + k, 70 + k, seconds);
    if (GetParam().kind == Kind::Dataset) std::snprintf(text, sizeof text, ": pair %d, %.3f s", k, seconds);
    return Timed() ? label + text : label;
  }
  void ExpectTimelineAt(int k) {
    EXPECT_EQ(Label(), ExpectedLabel(k));
    EXPECT_EQ(form().TbSeek->value(), k);
  }
  void ExpectShown(int k) {
    EXPECT_EQ(ClosestFrame(form().CurrentLeft, kFrames, 0), k);
    EXPECT_EQ(ClosestFrame(form().CurrentRight, kFrames, 1), k);
    EXPECT_EQ(form().CurrentStamps, ExpectedStamps(k)) << "pair " << k;
    ExpectTimelineAt(k);
  }

  TestFolder dir_;
  Windows windows_;
  std::shared_ptr<RecordingFilter> recorder_;
};

TEST_P(PlaybackTest, SeekShowsThatFramesPixelsAndSingleFrameGoesOnFromIt) {
  EXPECT_EQ(Label(), "Frame 0 of " + std::to_string(kFrames));
  EXPECT_EQ(form().TbSeek->maximum(), kFrames - 1);
  // Forward, back to the start, to the end, back again.
  for (int frame : {5, 0, kFrames - 1, 2, 10}) {
    form().TbSeek->setValue(frame);
    ExpectShown(frame);
  }
  form().TbSeek->setValue(2);
  form().BuReadSingle->click();
  ExpectShown(3);
  // Every pair shown went through the chain.
  EXPECT_EQ(recorder_->pairs.size(), 7U);
}

TEST_P(PlaybackTest, PlayRunsToTheEndWithoutHoldingTheWindowStopsAndCloses) {
  EXPECT_DOUBLE_EQ(form().PlaybackIndex().Interval_ms(0), GetParam().interval_ms);
  form().BuPlay->click();
  EXPECT_TRUE(form().Playing());
  EXPECT_FALSE(form().BuPlay->isEnabled());
  std::set<std::string> labels;
  ASSERT_TRUE(ProcessEventsUntil(
      [&] {
        labels.insert(Label());
        return !form().Playing();
      },
      20s));
  // The window saw the pairs come one by one.
  EXPECT_GE(labels.size(), 3U);
  // The end shows the last pair, handed to the chain; the read after it
  // found none.
  ExpectTimelineAt(kFrames - 1);
  ASSERT_EQ(recorder_->pairs.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(ClosestFrame(recorder_->last_pixels[0], kFrames, 0), kFrames - 1);
  EXPECT_TRUE(LogOf(form()).contains(GetParam().end_line)) << LogOf(form()).toStdString();

  // Played to the end, it starts again from the first pair; paused, it stays.
  form().BuPlay->click();
  ExpectShown(0);
  form().BuPause->click();
  const int next = form().PlaybackIndex().Next;
  ProcessEventsFor(200ms);
  EXPECT_EQ(form().PlaybackIndex().Next, next);

  form().BuPlay->click();
  form().BuCloseReader->click();
  EXPECT_FALSE(form().Playing());
  EXPECT_EQ(Label(), "No file open");
  EXPECT_FALSE(form().BuPlay->isEnabled() || form().TbSeek->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PlaybackTest,
    ::testing::Values(PlaybackCase{"Recording", Kind::Recording, 40.0, "runL.avi has no more frames"},
                      PlaybackCase{"StampedRecording", Kind::StampedRecording, 30.0,
                                   "runR.avi has no more frames"},
                      PlaybackCase{"Dataset", Kind::Dataset, 30.0, "dataset has no more pairs"},
                      PlaybackCase{"LetterPairs", Kind::LetterPairs, 40.0, "pairs has no more pairs"},
                      PlaybackCase{"SideFolders", Kind::SideFolders, 40.0, "pairs has no more pairs"}),
    [](const auto& info) { return std::string(info.param.name); });

// Damaged inputs: a line in the log, the rest plays.
struct DamageCase {
  const char* name;
  // Makes the input in the folder; the path to open.
  std::function<std::string(const TestFolder&)> make;
  const char* line;
  // Which sides pair 1 shows; -1 for no pair at all.
  int left, right;
};

const DamageCase kDamageCases[] = {
    {"DamagedStampFile",
     [](const TestFolder& dir) {
       EXPECT_TRUE(WriteKnownRecording(dir.Path("run.avi"), 3, true));
       std::ofstream(dir.Path("run.csv"), std::ios::app) << "7,not,a,stamp\n";
       return dir.Path("runL.avi");
     },
     "run.csv is damaged (line 5); going on without stamps", 1, 1},
    {"MissingRightImage",
     [](const TestFolder& dir) {
       const std::string folder = WriteImagePairs(dir, 3, false);
       std::remove((folder + "/1R.png").c_str());
       return folder;
     },
     "1 pairs have no right image", 1, 0},
    {"UnreadablePng",
     [](const TestFolder& dir) {
       const std::string folder = WriteImagePairs(dir, 3, false);
       std::ofstream(folder + "/1L.png", std::ios::trunc) << "no picture";
       return folder;
     },
     "1L.png can not be read", 0, 1},
    {"DamagedDataCsv",
     [](const TestFolder& dir) {
       const std::string set = StampedDataset(dir, 3);
       std::ofstream(set + "/mav0/cam1/data.csv", std::ios::app) << "12x4,a.png\n,\n";
       return set;
     },
     "cam1/data.csv: 2 damaged lines skipped", 1, 1},
    {"NoPairs", [](const TestFolder& dir) { return dir.Path(""); }, "holds no image pairs", -1, -1},
};

class DamagedInputTest : public ::testing::TestWithParam<DamageCase> {
 protected:
  TestFolder dir_;
  Windows windows_;
};

TEST_P(DamagedInputTest, GivesALineAndPlaysTheRest) {
  TForm1& form = windows_.form();
  const std::string input = GetParam().make(dir_);
  input.ends_with(".avi") ? OpenRecording(form, input) : OpenFolder(form, input);
  form.TbSeek->setValue(1);
  EXPECT_TRUE(LogOf(form).contains(GetParam().line)) << LogOf(form).toStdString();
  if (GetParam().left < 0) {
    EXPECT_EQ(form.LaFrame->text(), "No file open");
    return;
  }
  EXPECT_EQ(ClosestFrame(form.CurrentLeft, 3, 0), GetParam().left ? 1 : -1);
  EXPECT_EQ(ClosestFrame(form.CurrentRight, 3, 1), GetParam().right ? 1 : -1);
  // A damaged stamp file gives none at all.
  if (input.ends_with(".avi")) {
    EXPECT_EQ(form.CurrentStamps, (std::array<FrameStamp, 2>{}));
  }
  form.TbSeek->setValue(0);
  form.BuPlay->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form.Playing(); }, 10s));
  EXPECT_EQ(form.PlaybackIndex().Next, 3);
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedInputTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
