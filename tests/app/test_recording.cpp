#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <signal.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

double Psnr(const IplImage* read, const cv::Mat& written) {
  cv::Mat image = cv::cvarrToMat(read);
  if (image.channels() != written.channels()) cv::cvtColor(image.clone(), image, cv::COLOR_BGR2GRAY);
  return cv::PSNR(image, written);
}

TEST(AviPair, NamesCodecAndRate) {
  EXPECT_EQ(WriterPairNames("/d/run.avi").Right, "/d/runR.avi");
  // Only the file name's dot counts; without one the letters go last.
  EXPECT_EQ(WriterPairNames("/d.x/run").Left, "/d.x/runL");
  EXPECT_EQ(ReaderPairNames("/d/runR.avi").Left, "/d/runL.avi");
  EXPECT_EQ(ReaderPairNames("/d/.avi").Right, "/d/R.avi");
  EXPECT_EQ(CodecCode("XVID"), 0x44495658);
  EXPECT_EQ(CodecCode("    "), kDefaultAviCodec);
  // Whole frames per second, never the rate / 1000 nor 0.
  for (auto [position, rate] : {std::pair{85, 8.0}, {95, 10.0}, {0, 1.0}})
    EXPECT_EQ(RecordingRate(position), rate);
}

// Two sources driven by hand; frames painted by the test are written with
// "Single Frame" and read back through the window's own buttons.
class RecordingTest : public ::testing::Test {
 protected:
  TForm1& form() { return windows_.form(); }
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  // The right source may differ in size and colour nature from the left.
  void OpenSources(int right_channels = 3, int right_width = 64) {
    form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
    form().Device2 = std::make_unique<FakeSource>(right_width, right_width * 3 / 4, right_channels);
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
  // A file pair of one frame each, written and closed.
  void RecordOnePair() {
    OpenSources();
    OpenWriters(Path("run.avi"));
    PaintAndWrite(0);
    form().BuCloseWriter->click();
  }
  // Both sources announce a frame and the window takes them.
  void AnnounceBoth() {
    form().Post(kFirstSourceMessage);
    form().Post(kSecondSourceMessage);
    QCoreApplication::sendPostedEvents(&form());
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

TEST_F(RecordingTest, WriterThatCannotOpenIsLoggedWithFileAndCodecAndLeavesWritingOff) {
  OpenSources();
  for (auto [fourcc, folder] : {std::pair{"ZZZZ", ""}, {"XVID", "missing/"}}) {
    form().EdFourcc->setText(fourcc);
    OpenWriters(Path(folder) + "run.avi");
    EXPECT_TRUE(Log().contains(QString("File %1runL.avi can not be written with codec \"%2\"")
                                   .arg(QString::fromStdString(Path(folder)), fourcc)));
    EXPECT_FALSE(form().ChWrite->isEnabled());
    EXPECT_FALSE(form().ChCallback->isEnabled());
  }
}

TEST_F(RecordingTest, Regression_LeftFileOfAPairWhoseRightCannotBeWrittenIsRemoved) {
  OpenSources();
  form().EdFourcc->setText("XVID");
  // A folder where the right file should go.
  std::filesystem::create_directory(Path("") + "runR.avi");
  OpenWriters(Path("") + "run.avi");
  EXPECT_TRUE(
      Log().contains(QString("File %1runR.avi can not be written").arg(QString::fromStdString(Path("")))));
  EXPECT_FALSE(std::filesystem::exists(Path("") + "runL.avi"));
  EXPECT_TRUE(Log().contains(QString("File %1runL.avi removed").arg(QString::fromStdString(Path("")))));
  EXPECT_FALSE(form().ChWrite->isEnabled());
}

TEST_F(RecordingTest, WithoutAnySourceNothingIsOpened) {
  form().Button7->click();
  EXPECT_TRUE(Log().contains("no source to record"));
  EXPECT_EQ(form().SaveDialog1, nullptr);
  EXPECT_FALSE(form().ChWrite->isEnabled());
}

// Each file has its own source's format: a smaller grey right source too.
TEST_F(RecordingTest, EveryOpenWriterIsFinishedWhateverBecameOfItsSource) {
  OpenSources(1, 32);
  form().EdFourcc->setText("    ");
  OpenWriters(Path("first.avi"));
  PaintAndWrite(0);
  PaintAndWrite(1);
  // A new pair finishes the one open so far.
  OpenWriters(Path("second.avi"));
  PaintAndWrite(2);
  form().Device2.reset();
  PaintAndWrite(3);
  form().BuCloseWriter->click();
  const Probe first[] = {FfProbe(Path("firstL.avi")), FfProbe(Path("firstR.avi"))};
  for (const Probe& probe : first) {
    EXPECT_EQ(probe.codec, "FMP4");
    EXPECT_EQ(probe.frames, 2);
  }
  EXPECT_EQ(FfProbe(Path("secondL.avi")).frames, 2);
  EXPECT_EQ(FfProbe(Path("secondR.avi")).frames, 1);
  EXPECT_FALSE(form().ChWrite->isEnabled());
}

TEST_F(RecordingTest, Regression_FrameOfAnotherFormatNeverLandsInADevicesImage) {
  RecordOnePair();
  // A live pair of smaller grey sources leaves their images current.
  form().Device1 = std::make_unique<FakeSource>(32, 24, 1);
  iplSet(form().Device1->Image, 0x55);
  AnnounceBoth();
  ASSERT_EQ(form().CurrentLeft, form().Device1->Image);
  OpenReaders(Path("runL.avi"));
  form().BuReadSingle->click();
  ASSERT_NE(form().CurrentLeft, nullptr);
  EXPECT_NE(form().CurrentLeft, form().Device1->Image);
  EXPECT_EQ(form().CurrentLeft->width, 64);
  EXPECT_EQ(cv::countNonZero(cv::cvarrToMat(form().Device1->Image) != 0x55), 0);
  EXPECT_GT(Psnr(form().CurrentLeft, left_[0]), 30.0);
}

TEST_F(RecordingTest, Regression_FrameOfTheSourcesOwnFormatGoesIntoTheWindowsImage) {
  RecordOnePair();
  // A running source of the file's own format: its memory is the driver's.
  IplImage* source = form().Device1->Image;
  std::memset(source->imageData, 0x55, static_cast<size_t>(source->imageSize));
  AnnounceBoth();
  ASSERT_EQ(form().CurrentLeft, form().Device1->Image);
  OpenReaders(Path("runL.avi"));
  form().BuReadSingle->click();
  ASSERT_NE(form().CurrentLeft, nullptr);
  EXPECT_NE(form().CurrentLeft, source);
  EXPECT_TRUE(std::all_of(source->imageData, source->imageData + source->imageSize,
                          [](char byte) { return byte == 0x55; }));
  EXPECT_GT(Psnr(form().CurrentLeft, left_[0]), 30.0);
}

// Damaged files, made from a good recording, never bring the reader down;
// a side whose file is intact still plays all of it.
enum class Damage { Truncated, Empty, ByteFlipped, LeftOnly, RightOnly };

void Spoil(const std::string& file, Damage damage) {
  if (!std::filesystem::exists(file)) return;
  const auto size = std::filesystem::file_size(file);
  if (damage == Damage::Truncated || damage == Damage::Empty)
    std::filesystem::resize_file(file, damage == Damage::Empty ? 0 : size / 2);
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  for (auto at = size / 8; damage == Damage::ByteFlipped && at < size; at += 97) {
    stream.seekg(static_cast<std::streamoff>(at));
    const int byte = stream.get();
    stream.seekp(static_cast<std::streamoff>(at));
    stream.put(static_cast<char>(byte ^ 0xA5));
  }
}

std::string DamageName(const ::testing::TestParamInfo<Damage>& info) {
  return std::array{"Truncated", "Empty", "ByteFlipped", "LeftOnly",
                    "RightOnly"}[static_cast<int>(info.param)];
}

class DamagedFiles : public RecordingTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedFiles, NeverCrashTheReader) {
  constexpr int kFrames = 8;
  const Damage damage = GetParam();
  OpenSources();
  OpenWriters(Path("run.avi"));
  for (int k = 0; k < kFrames; ++k) PaintAndWrite(k);
  form().BuCloseWriter->click();
  if (damage == Damage::LeftOnly) std::filesystem::remove(Path("runR.avi"));
  if (damage == Damage::RightOnly) std::filesystem::remove(Path("runL.avi"));
  Spoil(Path("runL.avi"), damage);
  OpenReaders(Path(damage == Damage::RightOnly ? "runR.avi" : "runL.avi"));
  const auto [left, right] = ReadToEnd(kFrames + 4);
  EXPECT_EQ(left, damage == Damage::LeftOnly ? kFrames : std::min(left, kFrames));
  EXPECT_EQ(right, damage == Damage::LeftOnly ? 0 : kFrames);
  // A missing or empty file is named; a damaged one may open or not.
  const bool unreadable = damage == Damage::Empty || damage == Damage::RightOnly;
  EXPECT_TRUE(!unreadable || Log().contains("can not be read"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFiles,
                         ::testing::Values(Damage::Truncated, Damage::Empty, Damage::ByteFlipped,
                                           Damage::LeftOnly, Damage::RightOnly),
                         DamageName);

// The simulated rig recorded through the window's controls, at 25 frames per
// second once the clock has opened the camera's rate range; a still board
// without noise makes every frame the same picture.
class RigRecording : public RecordingTest {
 protected:
  RigRecording() : still_("STEREO_SIM_SCENE_SPEED", "0"), quiet_("STEREO_SIM_NOISE", "0") {}
  void Record(const std::string& chosen, QCheckBox* way, std::chrono::milliseconds duration) {
    ASSERT_TRUE(SetUpSimulatedPair(form()));
    form().tbPixelClock->setValue(40);
    form().tbFrameRate->setValue(250);
    OpenWriters(Path(chosen));
    way->setChecked(true);
    ProcessEventsFor(duration);
    form().BuStop->click();
    form().BuCloseWriter->click();
  }
  ScopedEnv still_;
  ScopedEnv quiet_;
};

TEST_F(RigRecording, EveryAnnouncedFrameIsWrittenAndPlaysBackAsRecorded) {
  REQUIRE_CAMERAS();
  std::shared_ptr<RecordingFilter> pairs = TVidFilter::Create<RecordingFilter>();
  form().FilterList.push_back({"Recorder", pairs});
  Record("run.avi", form().ChWrite, 2500ms);
  const long shown = static_cast<long>(pairs->pairs.size());
  const Probe probes[] = {FfProbe(Path("runL.avi")), FfProbe(Path("runR.avi"))};
  for (const Probe& probe : probes) {
    EXPECT_EQ(probe.codec, "XVID");
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_GE(probe.frames, std::max(shown, 10L));
  }
  const cv::Mat recorded[] = {cv::cvarrToMat(form().Device1->Image).clone(),
                              cv::cvarrToMat(form().Device2->Image).clone()};
  OpenReaders(Path("runL.avi"));
  long read[] = {0, 0};
  for (long i = 0; i <= probes[0].frames + probes[1].frames; ++i) {
    form().BuReadSingle->click();
    const IplImage* frames[] = {form().CurrentLeft, form().CurrentRight};
    for (int side = 0; side < 2; ++side) {
      if (frames[side] == nullptr) continue;
      ++read[side];
      EXPECT_GT(Psnr(frames[side], recorded[side]), 30.0) << "side " << side << " frame " << read[side];
    }
  }
  EXPECT_EQ(read[0], probes[0].frames);
  EXPECT_EQ(read[1], probes[1].frames);
  // Each file's end is logged once, however often it is read past.
  EXPECT_EQ(Log().count("has no more frames"), 2);
}

TEST_F(RigRecording, WriteInThreadRecordsFromTheCaptureThreads) {
  REQUIRE_CAMERAS();
  Record("thread.avi", form().ChCallback, 1500ms);
  EXPECT_FALSE(form().WriteInThread);
  // 25 frames per second for 1.5 s; a loaded machine delivers fewer.
  for (const char* file : {"threadL.avi", "threadR.avi"}) EXPECT_GE(FfProbe(Path(file)).frames, 5) << file;
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
