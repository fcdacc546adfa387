// The reader's timeline through the window: seeking shows that frame's
// pixels, playing runs to the end and stops, the label tells the frame and
// its stamps; recordings and folders of image pairs alike.

#include <gtest/gtest.h>

#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <set>

#include "app/dataset_export.h"
#include "app/playback_index.h"
#include "fake_source.h"
#include "playback_test_support.h"

namespace {

using namespace std::chrono_literals;
using namespace playback_test;
namespace fs = std::filesystem;

// More than ten, so that "10" must come after "9".
constexpr int kFrames = 12;

enum class Kind { Recording, StampedRecording, Dataset, LetterPairs, SideFolders };

struct PlaybackCase {
  const char* name;
  Kind kind;
  // Between the first two pairs while playing.
  double interval_ms;
  const char* end_line;
};

void WriteImage(const fs::path& path, const cv::Mat& image) {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(cv::imwrite(path.string(), image)) << path;
}

class PlaybackTest : public ::testing::TestWithParam<PlaybackCase> {
 protected:
  void SetUp() override {
    const Kind kind = GetParam().kind;
    ASSERT_TRUE(WriteKnownRecording(Path("run.avi"), kFrames, kind != Kind::Recording));
    recorder_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", recorder_});
    if (kind == Kind::Recording || kind == Kind::StampedRecording) {
      OpenRecording(form(), Path("runL.avi"));
    } else {
      OpenFolder(form(), MakeFolder(kind));
    }
  }
  std::string MakeFolder(Kind kind) {
    if (kind == Kind::Dataset) {
      std::vector<std::string> lines;
      EXPECT_TRUE(ExportRecording(Path("runL.avi"), Path("dataset"), nullptr, lines));
      return Path("dataset");
    }
    for (int k = 0; k < kFrames; ++k) {
      for (int side = 0; side < 2; ++side) {
        const std::string name = std::to_string(k);
        WriteImage(kind == Kind::LetterPairs
                       ? fs::path(Path("pairs")) / (name + (side == 0 ? "L.png" : "R.png"))
                       : fs::path(Path("sides")) / (side == 0 ? "left" : "right") / ("frame" + name + ".png"),
                   KnownFrame(k, side));
      }
    }
    return Path(kind == Kind::LetterPairs ? "pairs" : "sides");
  }
  TForm1& form() { return windows_.form(); }
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  std::string Label() const { return windows_.form1->LaFrame->text().toStdString(); }
  // The stamps pair k should be shown with.
  std::array<FrameStamp, 2> ExpectedStamps(int k) const {
    const TPairStamp stamp = KnownStamp(k);
    switch (GetParam().kind) {
      case Kind::StampedRecording:
        return stamp.Sides;
      case Kind::Dataset: {
        const FrameStamp side{static_cast<uint64_t>(k), static_cast<double>(stamp.Time_ns) / 1e6, 0};
        return {side, side};
      }
      default:
        return {};
    }
  }
  std::string ExpectedLabel(int k) const {
    std::string label = "Frame " + std::to_string(k + 1) + " of " + std::to_string(kFrames);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", static_cast<double>(k * kStampStep_ns) / 1e9);
    if (GetParam().kind == Kind::StampedRecording)
      label += ": pair " + std::to_string(100 + k) + ", trigger " + std::to_string(70 + k) + ", " + seconds;
    if (GetParam().kind == Kind::Dataset) label += ": pair " + std::to_string(k) + ", " + seconds;
    return label;
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
  // The known frame the chain's last left image was closest to.
  int LastLeftInChain() const {
    std::vector<char> pixels = recorder_->last_pixels[0];
    if (pixels.size() != static_cast<size_t>(kWidth * kHeight * 3)) return -1;
    cv::Mat image(kHeight, kWidth, CV_8UC3, pixels.data());
    IplImage header = cvIplImage(image);
    return ClosestFrame(&header, kFrames, 0);
  }

  ScopedSettingsFolder settings_;
  QTemporaryDir dir_;
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

TEST_P(PlaybackTest, PlayRunsToTheEndWithoutHoldingTheWindowAndStops) {
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
  // The end shows the last pair; the read after it found none.
  ExpectTimelineAt(kFrames - 1);
  EXPECT_EQ(LastLeftInChain(), kFrames - 1);
  EXPECT_EQ(recorder_->pairs.size(), static_cast<size_t>(kFrames));
  EXPECT_TRUE(LogOf(form()).contains(GetParam().end_line)) << LogOf(form()).toStdString();
  EXPECT_TRUE(form().BuPlay->isEnabled());

  // Played to the end, it starts again from the first pair; paused, it stays.
  form().BuPlay->click();
  ExpectShown(0);
  form().BuPause->click();
  EXPECT_FALSE(form().Playing());
  const int next = form().PlaybackIndex().Next;
  ProcessEventsFor(200ms);
  EXPECT_EQ(form().PlaybackIndex().Next, next);
  EXPECT_LT(next, kFrames);
}

TEST_P(PlaybackTest, CloseFileEndsPlayingAndTheTimeline) {
  form().BuPlay->click();
  form().BuCloseReader->click();
  EXPECT_FALSE(form().Playing());
  EXPECT_EQ(Label(), "No file open");
  EXPECT_FALSE(form().TbSeek->isEnabled());
  EXPECT_FALSE(form().BuPlay->isEnabled());
  form().BuPlayClick();
  EXPECT_TRUE(LogOf(form()).contains("Play: no file open"));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PlaybackTest,
    ::testing::Values(PlaybackCase{"Recording", Kind::Recording, 40.0, "runL.avi has no more frames"},
                      PlaybackCase{"StampedRecording", Kind::StampedRecording, 30.0,
                                   "runR.avi has no more frames"},
                      PlaybackCase{"Dataset", Kind::Dataset, 30.0, "dataset has no more pairs"},
                      PlaybackCase{"LetterPairs", Kind::LetterPairs, 40.0, "pairs has no more pairs"},
                      PlaybackCase{"SideFolders", Kind::SideFolders, 40.0, "sides has no more pairs"}),
    [](const auto& info) { return std::string(info.param.name); });

// Damaged inputs: a line in the log, the rest plays.
struct DamageCase {
  const char* name;
  // Makes the input under the folder; the path to open.
  std::function<std::string(const fs::path&)> make;
  const char* line;
  // What pair 1 shows of each side.
  bool left;
  bool right;
};

void WriteLetterPairs(const fs::path& folder, int pairs) {
  for (int k = 0; k < pairs; ++k) {
    WriteImage(folder / (std::to_string(k) + "L.png"), KnownFrame(k, 0));
    WriteImage(folder / (std::to_string(k) + "R.png"), KnownFrame(k, 1));
  }
}

std::string Dataset(const fs::path& dir) {
  EXPECT_TRUE(WriteKnownRecording((dir / "run.avi").string(), 3, true));
  std::vector<std::string> lines;
  EXPECT_TRUE(ExportRecording((dir / "runL.avi").string(), (dir / "set").string(), nullptr, lines));
  return (dir / "set").string();
}

std::string SecondImage(const fs::path& dataset, int camera) {
  std::ifstream list(fs::path(dataset) / "mav0" / ("cam" + std::to_string(camera)) / "data.csv");
  std::string line;
  for (int row = 0; row < 3; ++row) std::getline(list, line);
  return (fs::path(dataset) / "mav0" / ("cam" + std::to_string(camera)) / "data" /
          line.substr(line.find(',') + 1))
      .string();
}

const DamageCase kDamageCases[] = {
    {"DamagedStampFile",
     [](const fs::path& dir) {
       EXPECT_TRUE(WriteKnownRecording((dir / "run.avi").string(), 3, true));
       std::ofstream(dir / "run.csv", std::ios::app) << "7,not,a,stamp\n";
       return (dir / "runL.avi").string();
     },
     "run.csv is damaged (line 5); going on without stamps", true, true},
    {"MissingRightImage",
     [](const fs::path& dir) {
       WriteLetterPairs(dir / "pairs", 3);
       fs::remove(dir / "pairs" / "1R.png");
       return (dir / "pairs").string();
     },
     "1 pairs have no right image", true, false},
    {"UnreadablePng",
     [](const fs::path& dir) {
       WriteLetterPairs(dir / "pairs", 3);
       std::ofstream(dir / "pairs" / "1L.png", std::ios::trunc) << "no picture";
       return (dir / "pairs").string();
     },
     "1L.png can not be read", false, true},
    {"DamagedDataCsv",
     [](const fs::path& dir) {
       const std::string set = Dataset(dir);
       std::ofstream(fs::path(set) / "mav0" / "cam1" / "data.csv", std::ios::app) << "12x4,a.png\n,\n";
       return set;
     },
     "cam1/data.csv: 2 damaged lines skipped", true, true},
    {"DatasetImageGone",
     [](const fs::path& dir) {
       const std::string set = Dataset(dir);
       fs::remove(SecondImage(set, 0));
       return set;
     },
     ".png can not be read", false, true},
};

class DamagedInputTest : public ::testing::TestWithParam<DamageCase> {
 protected:
  ScopedSettingsFolder settings_;
  QTemporaryDir dir_;
  Windows windows_;
};

TEST_P(DamagedInputTest, GivesALineAndPlaysTheRest) {
  TForm1& form = windows_.form();
  const std::string input = GetParam().make(fs::path(dir_.path().toStdString()));
  if (input.ends_with(".avi")) {
    OpenRecording(form, input);
  } else {
    OpenFolder(form, input);
  }
  form.TbSeek->setValue(1);
  EXPECT_TRUE(LogOf(form).contains(GetParam().line)) << LogOf(form).toStdString();
  EXPECT_EQ(form.CurrentLeft != nullptr, GetParam().left);
  EXPECT_EQ(form.CurrentRight != nullptr, GetParam().right);
  if (GetParam().left) {
    EXPECT_EQ(ClosestFrame(form.CurrentLeft, 3, 0), 1);
  }
  if (GetParam().right) {
    EXPECT_EQ(ClosestFrame(form.CurrentRight, 3, 1), 1);
  }
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

TEST(PlaybackFolders, WithoutPairsNothingOpens) {
  ScopedSettingsFolder settings;
  QTemporaryDir dir;
  Windows windows;
  fs::create_directories(fs::path(dir.path().toStdString()) / "left");
  OpenFolder(windows.form(), dir.path().toStdString());
  EXPECT_TRUE(LogOf(windows.form()).contains("holds no image pairs"));
  EXPECT_EQ(windows.form().LaFrame->text(), "No file open");
}

}  // namespace
