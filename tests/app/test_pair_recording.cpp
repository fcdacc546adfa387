// "Write Pairs" and what comes with every recording: whole pairs of one
// trigger in both files and the stamp file, files that keep every pixel
// with FFV1, the calibration beside the files and the recording's figures.

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <opencv2/core.hpp>

#include "app/Unit1.h"
#include "app/avifiles.h"
#include "app/filter_list_box.h"
#include "app/pair_recorder.h"
#include "app/pair_stamps.h"
#include "app_test_support.h"
#include "demos/rig_operator.h"
#include "fake_source.h"
#include "filters/stereo_calibration.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

// Every frame of a file, in order.
std::vector<cv::Mat> ReadFrames(const std::string& name) {
  std::vector<cv::Mat> frames;
  TAviReader reader;
  if (!reader.Open(name)) return frames;
  for (cv::Mat frame; reader.Next(frame) == TAviReader::Result::Frame;) frames.push_back(frame.clone());
  return frames;
}

// True when the frame read back holds the written one at every pixel; a grey
// frame may come back as three equal channels.
bool SamePixels(const cv::Mat& read, const cv::Mat& written) {
  if (read.size() != written.size()) return false;
  if (read.channels() == written.channels()) return cv::norm(read, written, cv::NORM_INF) == 0;
  if (written.channels() != 1 || read.channels() != 3) return false;
  std::vector<cv::Mat> planes;
  cv::split(read, planes);
  return std::all_of(planes.begin(), planes.end(),
                     [&](const cv::Mat& plane) { return cv::norm(plane, written, cv::NORM_INF) == 0; });
}

struct LosslessCase {
  int channels;
  int width;
  int height;
};

void PrintTo(const LosslessCase& c, std::ostream* out) {
  *out << c.channels << " channels, " << c.width << " x " << c.height;
}

class LosslessFiles : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessFiles, FramesReadBackEqualTheWrittenOnesAtEveryPixel) {
  const LosslessCase& c = GetParam();
  QTemporaryDir dir;
  const std::string name = dir.path().toStdString() + "/noise.avi";
  std::vector<cv::Mat> written;
  {
    TAviWriter writer;
    ASSERT_TRUE(writer.Open(name, CodecCode("FFV1"), 10, c.width, c.height, c.channels));
    cv::RNG rng(c.width * 7 + c.channels);
    for (int i = 0; i < 4; ++i) {
      // Noise with a few flat areas: what any lossy codec changes first.
      cv::Mat frame(c.height, c.width, CV_MAKETYPE(CV_8U, c.channels));
      rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
      frame(cv::Rect(0, 0, c.width / 3, c.height / 3)).setTo(cv::Scalar::all(17 * i));
      IplImage image = cvIplImage(frame);
      ASSERT_TRUE(writer.Write(&image));
      written.push_back(frame);
    }
  }
  const std::vector<cv::Mat> read = ReadFrames(name);
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < read.size(); ++i) EXPECT_TRUE(SamePixels(read[i], written[i])) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, LosslessFiles,
                         ::testing::Values(LosslessCase{1, 640, 480}, LosslessCase{3, 640, 480},
                                           LosslessCase{1, 66, 50}, LosslessCase{3, 66, 50}),
                         [](const auto& info) {
                           const LosslessCase& c = info.param;
                           return (c.channels == 1 ? std::string("Grey") : std::string("Colour")) +
                                  std::to_string(c.width) + "x" + std::to_string(c.height);
                         });

// One pair offered to the recorder and what it must make of it.
struct OfferedPair {
  cv::Size left;
  int left_channels;
  cv::Size right;
  int right_channels;
  TPairRecorder::Outcome outcome;
};

TEST(PairRecorder, APairOneFileCannotTakeGoesIntoNeitherAndTheCountsStayEqual) {
  QTemporaryDir dir;
  const std::string stem = dir.path().toStdString() + "/run";
  TAviWriter left_file, right_file;
  ASSERT_TRUE(left_file.Open(stem + "L.avi", CodecCode("FFV1"), 10, 64, 48, 3));
  ASSERT_TRUE(right_file.Open(stem + "R.avi", CodecCode("FFV1"), 10, 64, 48, 3));
  TPairRecorder recorder;
  ASSERT_TRUE(recorder.Open(stem + ".csv"));
  using Outcome = TPairRecorder::Outcome;
  const cv::Size fits(64, 48), other(32, 24);
  const OfferedPair offered[] = {{fits, 3, fits, 3, Outcome::Written},  {fits, 3, other, 3, Outcome::Refused},
                                 {other, 3, fits, 3, Outcome::Refused}, {fits, 1, fits, 3, Outcome::Refused},
                                 {fits, 3, fits, 1, Outcome::Refused},  {fits, 3, fits, 3, Outcome::Written}};
  uint64_t number = 0;
  for (const OfferedPair& pair : offered) {
    cv::Mat left(pair.left, CV_MAKETYPE(CV_8U, pair.left_channels), cv::Scalar::all(50));
    cv::Mat right(pair.right, CV_MAKETYPE(CV_8U, pair.right_channels), cv::Scalar::all(90));
    IplImage left_image = cvIplImage(left), right_image = cvIplImage(right);
    ++number;
    const double ms = 1000.0 + static_cast<double>(number);
    const std::array<FrameStamp, 2> stamps{FrameStamp{number, ms, number + 100},
                                           FrameStamp{number + 1, ms + 2, number + 100}};
    EXPECT_EQ(recorder.Write(left_file, right_file, &left_image, &right_image, stamps), pair.outcome)
        << "pair " << number;
    EXPECT_EQ(left_file.Frames(), right_file.Frames());
  }
  recorder.Close();
  EXPECT_EQ(recorder.PairsWritten(), 2);
  EXPECT_EQ(recorder.PairsRefused(), 4);
  const auto stamps = ReadStampFile(stem + ".csv");
  ASSERT_TRUE(stamps);
  ASSERT_EQ(stamps->Pairs.size(), 2U);
  // Each line is the frame number in the files of the pair it stamps.
  EXPECT_EQ(stamps->Pairs[0].Pair, 0);
  EXPECT_EQ(stamps->Pairs[1].Pair, 1);
  EXPECT_EQ(stamps->Pairs[1].Sides[0].Number, 6U);
  EXPECT_EQ(stamps->Pairs[1].Sides[1].Trigger, 106U);
  EXPECT_EQ(stamps->Pairs[1].Time_ns, 1007000000);
}

// "Write Pairs" on the stamped rig in trigger mode, through the windows.
struct WritePairsCase {
  const char* fourcc;
  // A lossless file keeps the stamps the rig drew into each frame.
  bool keeps_pixels;
};

void PrintTo(const WritePairsCase& c, std::ostream* out) { *out << c.fourcc; }

class WritePairsTest : public ::testing::TestWithParam<WritePairsCase> {
 protected:
  TForm1& form() { return windows_.form(); }
  QString Log() { return form().MeLog->toPlainText(); }
  ScopedEnv stamp_{"STEREO_SIM_STAMP", "1"};
  ScopedSettingsFolder folder_;
  QTemporaryDir dir_;
  Windows windows_;
};

TEST_P(WritePairsTest, EveryWrittenPairIsOneTriggerInBothFilesAndOneStampLine) {
  REQUIRE_CAMERAS();
  ASSERT_TRUE(rig_operator::SetUpBothCameras(form()));
  form().tbPixelClock->setValue(40);
  form().tbPixelClockChange();
  form().tbFrameRate->setValue(250);
  form().ChTrigger->setChecked(true);
  // Live pairs still under way at the switch come first; the recording
  // starts with the triggered ones.
  ASSERT_TRUE(ProcessEventsUntil([this] { return form().CurrentStamps[0].Trigger != 0; }, 30s));
  form().EdFourcc->setText(GetParam().fourcc);
  const std::string stem = dir_.path().toStdString() + "/run";
  AnswerFileDialog([this] { return form().SaveDialog1; }, QString::fromStdString(stem + ".avi"));
  form().Button7->click();
  ASSERT_TRUE(form().ChWritePairs->isEnabled()) << Log().toStdString();
  form().ChWritePairs->setChecked(true);
  // Written on the window's thread: its count can be read between events.
  ProcessEventsUntil([this] { return form().WriterLeft->Frames() >= 20; }, 60s);
  // The panel follows the files while they are written.
  EXPECT_TRUE(form().LaRates->text().contains("Rec 00:0")) << form().LaRates->text().toStdString();
  form().ChWritePairs->setChecked(false);
  form().BuCloseWriter->click();
  form().ChTrigger->setChecked(false);
  EXPECT_FALSE(form().LaRates->text().contains("Rec")) << form().LaRates->text().toStdString();

  const auto stamps = ReadStampFile(stem + ".csv");
  ASSERT_TRUE(stamps);
  EXPECT_TRUE(stamps->DamagedLines.empty());
  const int64_t pairs = static_cast<int64_t>(stamps->Pairs.size());
  ASSERT_GE(pairs, 10) << Log().toStdString();
  for (int64_t i = 0; i < pairs; ++i) {
    const TPairStamp& stamp = stamps->Pairs[i];
    EXPECT_EQ(stamp.Pair, i);
    EXPECT_GT(stamp.Sides[0].Trigger, 0U);
    EXPECT_EQ(stamp.Sides[0].Trigger, stamp.Sides[1].Trigger) << "pair " << i;
    // Each trigger once, in order.
    if (i > 0) {
      EXPECT_GT(stamp.Sides[0].Trigger, stamps->Pairs[i - 1].Sides[0].Trigger);
    }
  }
  const QString count = QString::number(pairs);
  EXPECT_TRUE(Log().contains(QString::fromStdString("Stamp file " + stem + ".csv closed, ") + count +
                             " pairs written"))
      << Log().toStdString();
  for (const char* side : {"L", "R"})
    EXPECT_TRUE(
        Log().contains(QString::fromStdString("File " + stem + side + ".avi closed, ") + count + " frames"));

  const std::vector<cv::Mat> left = ReadFrames(stem + "L.avi");
  const std::vector<cv::Mat> right = ReadFrames(stem + "R.avi");
  ASSERT_EQ(static_cast<int64_t>(left.size()), pairs);
  ASSERT_EQ(static_cast<int64_t>(right.size()), pairs);
  if (!GetParam().keeps_pixels) return;
  // Frame n of both files shows the one trigger, drawn whole.
  for (int64_t i = 0; i < pairs; ++i) {
    const uint32_t number = RowStamp(left[i], 0);
    EXPECT_EQ(RowStamp(left[i], left[i].rows - 1), number) << "torn left frame " << i;
    EXPECT_EQ(RowStamp(right[i], 0), number) << "mixed pair " << i;
    EXPECT_EQ(RowStamp(right[i], right[i].rows - 1), number) << "torn right frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, WritePairsTest,
                         ::testing::Values(WritePairsCase{"FFV1", true}, WritePairsCase{"XVID", false}),
                         [](const auto& info) { return std::string(info.param.fourcc); });

// Sources driven by hand: what comes beside the files when a recording opens.
class RecordingExtrasTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  QString Log() { return form().MeLog->toPlainText(); }
  std::string Stem() const { return dir_.path().toStdString() + "/run"; }
  void OpenRecording() {
    form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
    form().Device2 = std::make_unique<FakeSource>(64, 48, 3);
    AnswerFileDialog([this] { return form().SaveDialog1; }, QString::fromStdString(Stem() + ".avi"));
    form().Button7->click();
  }
  ScopedSettingsFolder folder_;
  QTemporaryDir dir_;
  Windows windows_;
};

TEST_F(RecordingExtrasTest, TheCalibrationInForceIsSavedBesideTheRecording) {
  rig_operator::DropPanel(form(), form().PaDistort);
  TDistortFilter* filter = rig_operator::DistortFilterAt(form(), 0);
  ASSERT_NE(filter, nullptr);
  filter->SetLeftFx(512.5F);
  filter->SetRightCy(201.0F);
  OpenRecording();
  EXPECT_TRUE(Log().contains(QString::fromStdString("Calibration in force saved as " + Stem() + ".yml")))
      << Log().toStdString();
  std::string why;
  const auto saved = ReadCalibrationFile(Stem() + ".yml", why);
  ASSERT_TRUE(saved) << why;
  EXPECT_DOUBLE_EQ(saved->K1(0, 0), 512.5);
  EXPECT_DOUBLE_EQ(saved->K2(1, 2), 201.0);
}

TEST_F(RecordingExtrasTest, WithoutACalibrationNoneIsSavedAndTheLogSaysSo) {
  OpenRecording();
  EXPECT_TRUE(Log().contains("No calibration in force: none saved beside the recording"))
      << Log().toStdString();
  EXPECT_FALSE(std::filesystem::exists(Stem() + ".yml"));
  // The stamp file opens with the pair, with its header alone.
  const auto stamps = ReadStampFile(Stem() + ".csv");
  ASSERT_TRUE(stamps);
  EXPECT_TRUE(stamps->Pairs.empty());
  EXPECT_TRUE(form().ChWritePairs->isEnabled());
  form().BuCloseWriter->click();
  EXPECT_FALSE(form().ChWritePairs->isEnabled());
  // Without "Write Pairs" the recording keeps no stamp file.
  EXPECT_FALSE(std::filesystem::exists(Stem() + ".csv"));
  EXPECT_FALSE(Log().contains("Stamp file")) << Log().toStdString();
}

TEST_F(RecordingExtrasTest, ThePanelShowsTheFramesOfEachFileUntilCloseFile) {
  OpenRecording();
  for (int i = 0; i < 3; ++i) form().Button3->click();
  EXPECT_TRUE(ProcessEventsUntil([&] { return form().LaRates->text().contains("3 / 3 frames"); }, 5s))
      << form().LaRates->text().toStdString();
  form().BuCloseWriter->click();
  EXPECT_FALSE(form().LaRates->text().contains("frames")) << form().LaRates->text().toStdString();
}

TEST_F(RecordingExtrasTest, AStampFileThatCannotBeMadeLeavesWritePairsOff) {
  // A folder where the stamp file should go.
  std::filesystem::create_directory(Stem() + ".csv");
  OpenRecording();
  EXPECT_TRUE(form().ChWrite->isEnabled());
  EXPECT_FALSE(form().ChWritePairs->isEnabled());
  EXPECT_TRUE(Log().contains(QString::fromStdString("Stamp file " + Stem() + ".csv can not be made")));
}

}  // namespace
