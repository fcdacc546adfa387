#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <opencv2/core/version.hpp>
#include <stdexcept>
#include <thread>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "app_test_support.h"
#include "platform/capture_devices.h"

namespace {

using namespace std::chrono_literals;

QString ProgramPath() { return QCoreApplication::applicationDirPath() + "/stereo"; }

// True once the process has its SIGTERM handler in place, so the signal is
// acted on rather than killing it.
bool CatchesSigterm(qint64 pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (SIGTERM - 1)) & 1u;
    }
  }
  return false;
}

// An object whose event handler fails on its first event.
class FailingReceiver : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    if (++events == 1) throw std::runtime_error("Camera went away");
    return true;
  }
  int events = 0;
};

TEST(ErrorsInHandlers, ReachTheOperatorAndTheProgramGoesOn) {
  TakeShownErrors();
  FailingReceiver receiver;
  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&receiver);
  EXPECT_EQ(receiver.events, 2);
  EXPECT_EQ(TakeShownErrors(), "Camera went away\n");
}

TEST(ErrorsInHandlers, AnythingThrownIsShown) {
  TakeShownErrors();
  bool ran = false;
  QTimer::singleShot(0, [] { throw 42; });
  QTimer::singleShot(0, [&ran] { ran = true; });
  ProcessEventsUntil([&ran] { return ran; }, 5s);
  EXPECT_TRUE(ran);
  EXPECT_EQ(TakeShownErrors(), "Unknown exception\n");
}

// Fails on every event and posts itself the next one first, as a filter
// that throws on every frame meets a new frame message each time.
class AlwaysFailingReceiver : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    if (++events < 20) QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    throw std::runtime_error("Matrix index outside");
  }
  int events = 0;
};

// A message box runs an event loop of its own, which goes on delivering
// frames; each failure must not open a further box inside the one shown.
TEST(ErrorsInHandlers, Regression_FailuresWhileAMessageIsShownOpenNoFurtherBox) {
  int open = 0;
  int deepest = 0;
  int shown = 0;
  SetErrorReporter([&](const QString&) {
    ++shown;
    deepest = std::max(deepest, ++open);
    ProcessEventsFor(50ms);
    --open;
  });
  AlwaysFailingReceiver receiver;
  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
  ProcessEventsUntil([&receiver] { return receiver.events >= 20; }, 10s);
  RecordShownErrors();
  EXPECT_EQ(receiver.events, 20);
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(shown, 1);
}

// A handler on a button is reached through Qt's widget code, which an
// exception must not unwind (the sanitizer sees what it leaves behind).
TEST(ErrorsInHandlers, Regression_FailingButtonHandlerIsShownAndTheButtonWorksOn) {
  TakeShownErrors();
  QPushButton button("Init");
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, &button, Guarded([&clicks] {
    if (++clicks == 1) throw std::runtime_error("Camera 1 can not be opened");
  }));
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(TakeShownErrors(), "Camera 1 can not be opened\n");
}

TEST(StartOptions, AcceptsTheWorkbenchOptions) {
  const StartOptions none = ParseStartOptions({});
  EXPECT_FALSE(none.help || none.init_both || !none.error.empty());
  EXPECT_TRUE(none.screenshot.empty());
  const StartOptions all =
      ParseStartOptions({"--init-both", "--screenshot", "a.png", "--screenshot-delay", "500"});
  EXPECT_TRUE(all.init_both);
  EXPECT_EQ(all.screenshot, "a.png");
  EXPECT_EQ(all.screenshot_delay_ms, 500);
  EXPECT_TRUE(all.error.empty());
  EXPECT_TRUE(ParseStartOptions({"-h"}).help);
  EXPECT_TRUE(ParseStartOptions({"--version"}).version);
}

TEST(StartOptions, Malformed_RefusesWhatItDoesNotKnow) {
  EXPECT_EQ(ParseStartOptions({"--init"}).error, "Unknown option \"--init\"");
  EXPECT_FALSE(ParseStartOptions({"--screenshot"}).error.empty());
  EXPECT_FALSE(ParseStartOptions({"--screenshot-delay", "-5"}).error.empty());
  EXPECT_FALSE(ParseStartOptions({"--screenshot-delay", "5s"}).error.empty());
}

// Capture devices of the machine itself (a webcam) come first, so they are
// counted here rather than assumed absent.
struct AttachedDevices {
  int listed = 0;
  int enumerated = 0;
};

AttachedDevices AttachedCaptureDevices() {
  ScopedEnv none("STEREO_CAPTURE_SOURCES", "");
  AttachedDevices attached;
  for (const platform::CaptureDevice& device : platform::SystemCaptureDevices()->Devices()) {
    ++attached.enumerated;
    attached.listed += device.openable ? 1 : 0;
  }
  return attached;
}

TEST(StartUp, ListsBothCaptureSourcesAndTheCamerasInOrder) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder folder;
  const AttachedDevices attached = AttachedCaptureDevices();
  ScopedEnv sources("STEREO_CAPTURE_SOURCES", "videotestsrc pattern=ball\nvideotestsrc pattern=snow\n");
  Windows windows;
  TForm1& form = windows.form();
  EXPECT_EQ(form.StatusBar1->currentMessage(), QString::number(attached.listed + 4));
  for (const QListWidget* list : {form.ListBox1, form.ListBox2}) {
    ASSERT_EQ(list->count(), attached.listed + 5);
    const auto entry = [list, first = attached.listed](int i) { return list->item(first + i); };
    const auto id = [&entry](int i) { return entry(i)->data(Qt::UserRole).toInt(); };
    EXPECT_EQ(entry(0)->text(), "videotestsrc pattern=ball");
    EXPECT_EQ(id(0), 1000 + attached.enumerated);
    EXPECT_EQ(entry(1)->text(), "videotestsrc pattern=snow");
    EXPECT_EQ(id(1), 1001 + attached.enumerated);
    EXPECT_EQ(id(2), 3001);
    EXPECT_EQ(id(3), 3002);
    EXPECT_EQ(id(4), 2000);
    EXPECT_TRUE(entry(2)->text().endsWith(" - #1"));
    EXPECT_EQ(entry(4)->text(), "Falcon");
  }
}

TEST(StartUp, ShowingTheMainWindowShowsTheDisplayWindow) {
  ScopedSettingsFolder folder;
  Windows windows;
  EXPECT_FALSE(Form2->isVisible());
  windows.form().show();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(windows.form().windowTitle(), "Stereo");
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFile::exists(ProgramPath())) GTEST_SKIP() << "stereo is not built beside the tests";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", config_.path());
    process_.setProcessEnvironment(environment);
  }
  void TearDown() override {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  std::string Settings() const {
    QFile file(config_.path() + "/Stereo.ini");
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
  }
  void StartAndTerminate(const QStringList& arguments) {
    process_.start(ProgramPath(), arguments);
    ASSERT_TRUE(process_.waitForStarted(10000));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!CatchesSigterm(process_.processId()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(CatchesSigterm(process_.processId()));
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    ASSERT_TRUE(process_.waitForFinished(60000)) << process_.readAllStandardError().toStdString();
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0) << process_.readAllStandardError().toStdString();
  }

  QTemporaryDir config_;
  QProcess process_;
};

TEST_F(ProgramTest, SigtermClosesThroughTheCloseBoxAndSavesDefaults) {
  StartAndTerminate({});
  EXPECT_EQ(Settings(),
            "[Mode]\nCam1=\nCam2=\nFramerate=8\nExposure=10\nFourCC=XVID\n"
            "R1=1.0\nR2=0\nG1=0\nG2=1.0\nB1=0\nB2=1.0\n");
}

TEST_F(ProgramTest, StoredValuesSurviveARunEndedBySignal) {
  QFile file(config_.path() + "/Stereo.ini");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Mode]\nFramerate=2.5\nFourCC=MJPG\nExposure=42\n");
  file.close();
  StartAndTerminate({});
  const std::string settings = Settings();
  EXPECT_NE(settings.find("Framerate=2.5\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("FourCC=MJPG\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Exposure=42\n"), std::string::npos) << settings;
}

// Stereo.ini is a directory: the settings cannot be written at close.
TEST_F(ProgramTest, SignalledCloseReportsAnUnwritableSettingsFileWithoutABox) {
  ASSERT_TRUE(QDir(config_.path()).mkdir("Stereo.ini"));
  StartAndTerminate({});
  const QString errors = process_.readAllStandardError();
  EXPECT_TRUE(errors.contains("Settings file " + config_.path() + "/Stereo.ini can not be written"))
      << errors.toStdString();
}

// The settings folder cannot be made: a box opens while the windows are made.
TEST_F(ProgramTest, SignalEndsTheProgramThroughAStartUpErrorBox) {
  QProcessEnvironment environment = process_.processEnvironment();
  environment.insert("XDG_CONFIG_HOME", config_.path() + "/no/parent");
  process_.setProcessEnvironment(environment);
  StartAndTerminate({});
  EXPECT_TRUE(process_.readAllStandardError().contains("can not be made"));
}

TEST(CloseBox, UnwritableSettingsFileIsShownInABox) {
  ScopedSettingsFolder folder;
  ASSERT_TRUE(std::filesystem::create_directory(folder.SettingsFile()));
  TakeShownErrors();
  { Windows windows; }
  EXPECT_EQ(TakeShownErrors().toStdString(),
            "Settings file " + folder.SettingsFile() + " can not be written\n");
}

// Both panes of a picture of the display window hold the board: dark squares
// and bright ones.
bool PaneShowsTheBoard(const QImage& shot, const QRect& pane) {
  int dark = 0;
  int bright = 0;
  for (int y = pane.top(); y <= pane.bottom(); y += 2) {
    for (int x = pane.left(); x <= pane.right(); x += 2) {
      const int grey = qGray(shot.pixel(x, y));
      dark += grey < 50;
      bright += grey > 180;
    }
  }
  return dark > 100 && bright > 100;
}

TEST_F(ProgramTest, InitBothStartsBothCamerasFromTheRestoredLists) {
  REQUIRE_CAMERAS();
  QFile file(config_.path() + "/Stereo.ini");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Mode]\nCam1=rig - #1\nCam2=RIG - #2\n");
  file.close();
  QProcessEnvironment environment = process_.processEnvironment();
  environment.insert("STEREO_SIM_MODEL", "Rig");
  process_.setProcessEnvironment(environment);
  const QString shot_file = config_.path() + "/shot.png";
  process_.start(ProgramPath(), {"--init-both", "--screenshot", shot_file, "--screenshot-delay", "2500"});
  ASSERT_TRUE(process_.waitForFinished(90000));
  EXPECT_EQ(process_.exitCode(), 0) << process_.readAllStandardError().toStdString();
  const QImage shot(shot_file);
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(PaneShowsTheBoard(shot, QRect(0, 0, 320, 240)));
  EXPECT_TRUE(PaneShowsTheBoard(shot, QRect(321, 0, 320, 240)));
  EXPECT_NE(Settings().find("Cam1=Rig - #1\nCam2=Rig - #2\n"), std::string::npos) << Settings();
}

TEST_F(ProgramTest, HelpNamesTheStartOptionsWithoutOpeningWindows) {
  process_.start(ProgramPath(), {"--help"});
  ASSERT_TRUE(process_.waitForFinished(20000));
  const QString usage = process_.readAllStandardOutput();
  EXPECT_TRUE(usage.contains("--init-both"));
  EXPECT_EQ(process_.exitCode(), 0);
  EXPECT_FALSE(QFile::exists(config_.path() + "/Stereo.ini"));
}

TEST_F(ProgramTest, VersionNamesTheLibrariesInUseWithoutOpeningWindows) {
  process_.start(ProgramPath(), {"--version"});
  ASSERT_TRUE(process_.waitForFinished(20000));
  EXPECT_EQ(process_.exitCode(), 0);
  const QStringList lines = QString(process_.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
  EXPECT_TRUE(
      QRegularExpression(R"(^stereo \d+\.\d+\.\d+(\+git\d+\.[0-9a-f]+)?$)").match(lines[0]).hasMatch())
      << lines[0].toStdString();
  // The same system libraries this test runs with.
  EXPECT_EQ(lines[1], QString("Qt ") + qVersion());
  EXPECT_EQ(lines[2], QString("OpenCV ") + CV_VERSION);
  EXPECT_TRUE(QRegularExpression(R"(^GStreamer 1\.\d+\.\d+$)").match(lines[3]).hasMatch())
      << lines[3].toStdString();
  EXPECT_FALSE(QFile::exists(config_.path() + "/Stereo.ini"));
}

}  // namespace
