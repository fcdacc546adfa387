#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <signal.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <regex>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "app/avifiles.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

using namespace std::chrono_literals;

// What ffprobe makes of a file's video stream; frames -1 when it cannot
// read the file.
struct Probe {
  std::string codec;
  std::string rate;
  long frames = -1;
};

// Through popen rather than QProcess: QProcess's fork leaves the thread
// race detector unable to follow the codec threads started after it.
Probe FfProbe(const std::string& file) {
  const std::string command =
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=codec_tag_string,r_frame_rate,nb_read_frames -of csv=p=0 '" +
      file + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  if (pclose(pipe) != 0) return {};
  const QStringList fields = QString::fromStdString(output).trimmed().split(',');
  if (fields.size() != 3) return {};
  return {fields[0].toStdString(), fields[1].toStdString(), fields[2].toLong()};
}

// Frames the writer reported for a file when it was closed; -1 when none.
long FramesClosed(const QString& log, const std::string& file) {
  const std::regex line("File " + std::regex_replace(file, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                        " closed, ([0-9]+) frames");
  std::smatch match;
  const std::string text = log.toStdString();
  return std::regex_search(text, match, line) ? std::stol(match[1]) : -1;
}

double Psnr(const IplImage* read, const cv::Mat& written) {
  cv::Mat image = cv::cvarrToMat(read);
  if (image.channels() != written.channels()) cv::cvtColor(image.clone(), image, cv::COLOR_BGR2GRAY);
  return cv::PSNR(image, written);
}

struct PairNamesCase {
  const char* chosen;
  const char* left;
  const char* right;
};

class WriterNames : public ::testing::TestWithParam<PairNamesCase> {};

TEST_P(WriterNames, PutTheLettersBeforeTheExtension) {
  const PairNames names = WriterPairNames(GetParam().chosen);
  EXPECT_EQ(names.Left, GetParam().left);
  EXPECT_EQ(names.Right, GetParam().right);
}

INSTANTIATE_TEST_SUITE_P(Paths, WriterNames,
                         ::testing::Values(PairNamesCase{"/d/run.avi", "/d/runL.avi", "/d/runR.avi"},
                                           PairNamesCase{"/d.x/run", "/d.x/runL", "/d.x/runR"},
                                           PairNamesCase{"/d/a.b.avi", "/d/a.bL.avi", "/d/a.bR.avi"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

class ReaderNames : public ::testing::TestWithParam<PairNamesCase> {};

TEST_P(ReaderNames, FindBothFilesOfAWrittenPair) {
  const PairNames names = ReaderPairNames(GetParam().chosen);
  EXPECT_EQ(names.Left, GetParam().left);
  EXPECT_EQ(names.Right, GetParam().right);
}

INSTANTIATE_TEST_SUITE_P(Paths, ReaderNames,
                         ::testing::Values(PairNamesCase{"/d/runR.avi", "/d/runL.avi", "/d/runR.avi"},
                                           PairNamesCase{"/d/runL.avi", "/d/runL.avi", "/d/runR.avi"},
                                           PairNamesCase{"/d.x/L", "/d.x/L", "/d.x/R"},
                                           PairNamesCase{"/d/.avi", "/d/L.avi", "/d/R.avi"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(CodecCode, FourLettersFirstInTheLowestByteAndBlanksForTheDefault) {
  EXPECT_EQ(CodecCode("XVID"), 0x44495658);
  EXPECT_EQ(CodecCode("    "), kDefaultAviCodec);
  EXPECT_EQ(CodecCode(""), kDefaultAviCodec);
  EXPECT_EQ(CodecText(CodecCode("MJ")), "MJ  ");
}

TEST(RecordingRate, WholeFramesPerSecondAndNeverZero) {
  const std::pair<int, double> cases[] = {{85, 8.0}, {95, 10.0}, {250, 25.0}, {4, 1.0}, {0, 1.0}};
  for (const auto& [position, rate] : cases) EXPECT_EQ(RecordingRate(position), rate) << position;
}

// Two sources driven by hand; frames painted by the test are written with
// "Single Frame" and read back through the window's own buttons.
class RecordingTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  void OpenSources(int channels, int width = 64, int height = 48) {
    form().Device1 = std::make_unique<FakeSource>(width, height, channels);
    form().Device2 = std::make_unique<FakeSource>(width, height, channels);
  }
  void OpenWriters(const std::string& chosen) {
    AnswerFileDialog([this] { return form().SaveDialog1; }, QString::fromStdString(chosen));
    form().Button7->click();
  }
  void OpenReaders(const std::string& chosen) {
    AnswerFileDialog([this] { return form().OpenDialog1; }, QString::fromStdString(chosen));
    form().BuOpenReader->click();
  }
  // A bright square that moves with k on a dark ground, each side its own.
  void PaintAndWrite(int k) {
    for (auto [device, written] :
         {std::pair{form().Device1.get(), &left_}, {form().Device2.get(), &right_}}) {
      if (device == nullptr) continue;
      cv::Mat image = cv::cvarrToMat(device->Image);
      image.setTo(cv::Scalar(40, 60, 80));
      cv::rectangle(image, cv::Rect(4 + 4 * k + (written == &right_ ? 8 : 0), 8, 16, 16),
                    cv::Scalar(220, 200, 180), cv::FILLED);
      written->push_back(image.clone());
    }
    form().Button3->click();
  }
  // Reads pairs until both files end; the frames each side gave.
  std::pair<int, int> ReadToEnd(int most) {
    std::pair<int, int> frames{0, 0};
    for (int i = 0; i < most; ++i) {
      form().BuReadSingle->click();
      if (form().CurrentLeft == nullptr && form().CurrentRight == nullptr) break;
      if (form().CurrentLeft != nullptr) ++frames.first;
      if (form().CurrentRight != nullptr) ++frames.second;
    }
    return frames;
  }
  QString Log() const { return windows_.form1->MeLog->toPlainText(); }

  ScopedSettingsFolder folder_;
  QTemporaryDir dir_;
  Windows windows_;
  std::vector<cv::Mat> left_;
  std::vector<cv::Mat> right_;
};

struct RoundTripCase {
  const char* name;
  const char* fourcc;
  const char* codec_written;
  int channels;
};

class RoundTrip : public RecordingTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTrip, FilesHoldTheFramesAtTheRateAndPlayBackAsWritten) {
  const RoundTripCase& c = GetParam();
  OpenSources(c.channels);
  form().EdFourcc->setText(c.fourcc);
  form().tbFrameRate->setValue(75);
  OpenWriters(Path("run"));
  ASSERT_TRUE(form().ChWrite->isEnabled()) << Log().toStdString();
  constexpr int kFrames = 6;
  for (int k = 0; k < kFrames; ++k) PaintAndWrite(k);
  form().BuCloseWriter->click();
  for (const char* file : {"runL.avi", "runR.avi"}) {
    const Probe probe = FfProbe(Path(file));
    EXPECT_EQ(probe.codec, c.codec_written) << file;
    EXPECT_EQ(probe.rate, "8/1") << file;
    EXPECT_EQ(probe.frames, kFrames) << file;
  }

  OpenReaders(Path("runR.avi"));
  for (int k = 0; k < kFrames; ++k) {
    form().BuReadSingle->click();
    ASSERT_NE(form().CurrentLeft, nullptr);
    ASSERT_NE(form().CurrentRight, nullptr);
    EXPECT_GT(Psnr(form().CurrentLeft, left_[k]), 30.0) << "left frame " << k;
    EXPECT_GT(Psnr(form().CurrentRight, right_[k]), 30.0) << "right frame " << k;
  }
  form().BuReadSingle->click();
  form().BuReadSingle->click();
  EXPECT_EQ(form().CurrentLeft, nullptr);
  EXPECT_EQ(form().CurrentRight, nullptr);
  EXPECT_EQ(Log().count("has no more frames"), 2);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RoundTrip,
                         ::testing::Values(RoundTripCase{"Xvid", "XVID", "XVID", 3},
                                           RoundTripCase{"Mjpg", "MJPG", "MJPG", 3},
                                           RoundTripCase{"Blanks", "    ", "FMP4", 3},
                                           RoundTripCase{"XvidGrey", "XVID", "XVID", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WriterFailureCase {
  const char* name;
  const char* fourcc;
  const char* folder;
};

class WriterFailure : public RecordingTest, public ::testing::WithParamInterface<WriterFailureCase> {};

TEST_P(WriterFailure, IsLoggedWithFileAndCodecAndLeavesWritingOff) {
  OpenSources(3);
  form().EdFourcc->setText(GetParam().fourcc);
  const std::string chosen = Path(GetParam().folder) + "run.avi";
  OpenWriters(chosen);
  const std::string log = Log().toStdString();
  EXPECT_NE(log.find(WriterPairNames(chosen).Left), std::string::npos) << log;
  EXPECT_NE(log.find(std::string("codec \"") + GetParam().fourcc + "\""), std::string::npos) << log;
  EXPECT_FALSE(form().ChWrite->isEnabled());
  EXPECT_FALSE(form().ChCallback->isEnabled());
  form().Button3->click();
  form().BuCloseWriter->click();
}

INSTANTIATE_TEST_SUITE_P(Causes, WriterFailure,
                         ::testing::Values(WriterFailureCase{"UnknownCodec", "ZZZZ", ""},
                                           WriterFailureCase{"MissingFolder", "XVID", "missing/"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordingTest, WithoutAnySourceNothingIsOpened) {
  form().Button7->click();
  EXPECT_TRUE(Log().contains("no source to record"));
  EXPECT_EQ(form().SaveDialog1, nullptr);
  EXPECT_FALSE(form().ChWrite->isEnabled());
}

TEST_F(RecordingTest, EveryOpenWriterIsFinishedWhateverBecameOfItsSource) {
  OpenSources(3);
  OpenWriters(Path("first.avi"));
  PaintAndWrite(0);
  PaintAndWrite(1);
  // A new pair finishes the one open so far.
  OpenWriters(Path("second.avi"));
  PaintAndWrite(2);
  form().Device2.reset();
  PaintAndWrite(3);
  form().BuCloseWriter->click();
  EXPECT_EQ(FfProbe(Path("firstL.avi")).frames, 2);
  EXPECT_EQ(FfProbe(Path("firstR.avi")).frames, 2);
  EXPECT_EQ(FfProbe(Path("secondL.avi")).frames, 2);
  EXPECT_EQ(FfProbe(Path("secondR.avi")).frames, 1);
  EXPECT_FALSE(form().ChWrite->isEnabled());
}

TEST_F(RecordingTest, ClosingTheWindowFinishesBothFiles) {
  OpenSources(3);
  OpenWriters(Path("run.avi"));
  for (int k = 0; k < 3; ++k) PaintAndWrite(k);
  form().close();
  EXPECT_EQ(FfProbe(Path("runL.avi")).frames, 3);
  EXPECT_EQ(FfProbe(Path("runR.avi")).frames, 3);
}

TEST_F(RecordingTest, Regression_FrameOfAnotherFormatNeverLandsInADevicesImage) {
  OpenSources(3);
  OpenWriters(Path("run.avi"));
  PaintAndWrite(0);
  form().BuCloseWriter->click();
  // A live pair of smaller grey sources leaves their images current.
  OpenSources(1, 32, 24);
  iplSet(form().Device1->Image, 0x55);
  form().Post(kFirstSourceMessage);
  form().Post(kSecondSourceMessage);
  QCoreApplication::sendPostedEvents(&form());
  ASSERT_EQ(form().CurrentLeft, form().Device1->Image);
  OpenReaders(Path("runL.avi"));
  form().BuReadSingle->click();
  ASSERT_NE(form().CurrentLeft, nullptr);
  EXPECT_NE(form().CurrentLeft, form().Device1->Image);
  EXPECT_EQ(form().CurrentLeft->width, 64);
  EXPECT_EQ(cv::countNonZero(cv::cvarrToMat(form().Device1->Image) != 0x55), 0);
  EXPECT_GT(Psnr(form().CurrentLeft, left_[0]), 30.0);
}

// Damaged files, made from a good recording, never bring the reader down;
// a side whose file is intact still plays all of it.
enum class Damage { Truncated, Empty, ByteFlipped, LeftOnly, RightOnly };

class DamagedFiles : public RecordingTest, public ::testing::WithParamInterface<Damage> {};

std::string DamageName(const ::testing::TestParamInfo<Damage>& info) {
  const char* names[] = {"Truncated", "Empty", "ByteFlipped", "LeftOnly", "RightOnly"};
  return names[static_cast<int>(info.param)];
}

void Damage_(const std::string& file, Damage damage) {
  if (!std::filesystem::exists(file)) return;
  const auto size = std::filesystem::file_size(file);
  if (damage == Damage::Truncated) std::filesystem::resize_file(file, size / 2);
  if (damage == Damage::Empty) std::filesystem::resize_file(file, 0);
  if (damage == Damage::ByteFlipped) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    for (auto at = size / 8; at < size; at += 97) {
      stream.seekg(static_cast<std::streamoff>(at));
      const int byte = stream.get();
      stream.seekp(static_cast<std::streamoff>(at));
      stream.put(static_cast<char>(byte ^ 0xA5));
    }
  }
}

TEST_P(DamagedFiles, NeverCrashTheReader) {
  constexpr int kFrames = 8;
  OpenSources(3);
  OpenWriters(Path("run.avi"));
  for (int k = 0; k < kFrames; ++k) PaintAndWrite(k);
  form().BuCloseWriter->click();
  const Damage damage = GetParam();
  if (damage == Damage::LeftOnly) std::filesystem::remove(Path("runR.avi"));
  if (damage == Damage::RightOnly) std::filesystem::remove(Path("runL.avi"));
  Damage_(Path("runL.avi"), damage);
  OpenReaders(Path(damage == Damage::RightOnly ? "runR.avi" : "runL.avi"));
  const auto [left, right] = ReadToEnd(kFrames + 4);
  EXPECT_LE(left, kFrames);
  EXPECT_EQ(right, damage == Damage::LeftOnly ? 0 : kFrames);
  if (damage == Damage::LeftOnly) {
    EXPECT_EQ(left, kFrames);
  }
  if (damage == Damage::Empty || damage == Damage::RightOnly) {
    EXPECT_TRUE(Log().contains("can not be read"));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFiles,
                         ::testing::Values(Damage::Truncated, Damage::Empty, Damage::ByteFlipped,
                                           Damage::LeftOnly, Damage::RightOnly),
                         DamageName);

// The simulated rig, recorded through the window's controls as an operator
// does; a still board without noise makes every frame the same picture.
class RigRecording : public ::testing::Test {
 protected:
  RigRecording() : still_("STEREO_SIM_SCENE_SPEED", "0"), quiet_("STEREO_SIM_NOISE", "0") {}
  TForm1& form() { return windows_.form(); }
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  void SetUpBothCameras() {
    for (auto [list, id] : {std::pair{form().ListBox1, 3001}, std::pair{form().ListBox2, 3002}}) {
      for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->data(Qt::UserRole).toInt() == id) list->setCurrentRow(row);
      }
    }
    form().BuInitBoth->click();
  }
  void StartRecording(const std::string& chosen) {
    // The frame-rate slider reaches 25 per second once the clock has set
    // the camera's range.
    form().tbPixelClock->setValue(40);
    form().tbFrameRate->setValue(250);
    AnswerFileDialog([this] { return form().SaveDialog1; }, QString::fromStdString(chosen));
    form().Button7->click();
    form().ChWrite->setChecked(true);
  }

  ScopedSettingsFolder folder_;
  ScopedEnv still_;
  ScopedEnv quiet_;
  QTemporaryDir dir_;
  Windows windows_;
};

TEST_F(RigRecording, EveryAnnouncedFrameIsWrittenAndPlaysBackAsRecorded) {
  REQUIRE_CAMERAS();
  SetUpBothCameras();
  ASSERT_TRUE(form().Device1 && form().Device2);
  std::shared_ptr<RecordingFilter> pairs = TVidFilter::Create<RecordingFilter>();
  form().FilterList.push_back({"Recorder", pairs});
  StartRecording(Path("run.avi"));
  ASSERT_TRUE(form().ChWrite->isChecked());
  ProcessEventsFor(2500ms);
  const size_t shown = pairs->pairs.size();
  form().BuStop->click();
  form().ChWrite->setChecked(false);
  form().BuCloseWriter->click();
  const QString log = form().MeLog->toPlainText();
  const long written[] = {FramesClosed(log, Path("runL.avi")), FramesClosed(log, Path("runR.avi"))};
  EXPECT_GE(written[0], static_cast<long>(shown));
  EXPECT_GE(written[1], static_cast<long>(shown));
  EXPECT_GE(shown, 10u);
  const char* files[] = {"runL.avi", "runR.avi"};
  for (int side = 0; side < 2; ++side) {
    const Probe probe = FfProbe(Path(files[side]));
    EXPECT_EQ(probe.codec, "XVID");
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.frames, written[side]) << files[side];
  }

  const cv::Mat recorded[] = {cv::cvarrToMat(form().Device1->Image).clone(),
                              cv::cvarrToMat(form().Device2->Image).clone()};
  pairs->pairs.clear();
  AnswerFileDialog([this] { return form().OpenDialog1; }, QString::fromStdString(Path("runL.avi")));
  form().BuOpenReader->click();
  long read[] = {0, 0};
  double worst = 100.0;
  for (long i = 0; i < written[0] + written[1]; ++i) {
    form().BuReadSingle->click();
    const IplImage* frames[] = {form().CurrentLeft, form().CurrentRight};
    if (frames[0] == nullptr && frames[1] == nullptr) break;
    for (int side = 0; side < 2; ++side) {
      if (frames[side] == nullptr) continue;
      ++read[side];
      worst = std::min(worst, Psnr(frames[side], recorded[side]));
    }
  }
  EXPECT_EQ(read[0], written[0]);
  EXPECT_EQ(read[1], written[1]);
  EXPECT_GT(worst, 30.0);
}

TEST_F(RigRecording, WriteInThreadRecordsFromTheCaptureThreads) {
  REQUIRE_CAMERAS();
  SetUpBothCameras();
  ASSERT_TRUE(form().Device1 && form().Device2);
  StartRecording(Path("thread.avi"));
  form().ChWrite->setChecked(false);
  form().ChCallback->setChecked(true);
  ASSERT_TRUE(form().WriteInThread);
  ProcessEventsFor(1500ms);
  form().BuCloseWriter->click();
  EXPECT_FALSE(form().WriteInThread);
  const QString log = form().MeLog->toPlainText();
  for (const char* file : {"threadL.avi", "threadR.avi"}) {
    const long written = FramesClosed(log, Path(file));
    // 25 frames per second for 1.5 s; a loaded machine delivers fewer.
    EXPECT_GE(written, 5) << file;
    EXPECT_EQ(FfProbe(Path(file)).frames, written) << file;
  }
}

// The other half of the signal test: a recording workbench that ends the way
// the program does on a signal. Runs only when the parent starts it.
TEST(RecordingChild, RecordsUntilSignalled) {
  const char* folder = std::getenv("STEREO_RECORDING_CHILD");
  if (folder == nullptr) GTEST_SKIP() << "started by SignalWhileRecording only";
  CatchCloseSignals();
  Windows windows;
  OnCloseSignal([] {
    if (Form1 != nullptr) Form1->close();
  });
  bool closed = false;
  QObject::connect(windows.form1.get(), &TForm1::Closed, [&closed] { closed = true; });
  windows.form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
  windows.form().Device2 = std::make_unique<FakeSource>(64, 48, 3);
  AnswerFileDialog([&windows] { return windows.form().SaveDialog1; }, QString(folder) + "/run.avi");
  windows.form().Button7->click();
  ASSERT_TRUE(windows.form().ChWrite->isEnabled());
  windows.form().ChWrite->setChecked(true);
  std::puts("recording");
  std::fflush(stdout);
  while (!closed) {
    windows.form().Post(kFirstSourceMessage);
    windows.form().Post(kSecondSourceMessage);
    ProcessEventsFor(10ms);
  }
}

TEST(SignalWhileRecording, LeavesBothFilesReadable) {
  QTemporaryDir dir;
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("STEREO_RECORDING_CHILD", dir.path());
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=RecordingChild.RecordsUntilSignalled"});
  ASSERT_TRUE(child.waitForStarted());
  ASSERT_TRUE(ProcessEventsUntil(
      [&child] { return child.readAllStandardOutput().contains("recording") || !child.isOpen(); }, 30s));
  ProcessEventsFor(500ms);
  ::kill(static_cast<pid_t>(child.processId()), SIGTERM);
  ASSERT_TRUE(child.waitForFinished(30000));
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
  for (const char* file : {"/runL.avi", "/runR.avi"})
    EXPECT_GT(FfProbe(dir.path().toStdString() + file).frames, 0);
}

}  // namespace
