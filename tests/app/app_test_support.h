#pragma once

// What the application tests share: one application object for the whole
// run (the workbench's own, so its exception handling is in force), a
// settings folder of their own, and the real windows.

#include <opencv2/core/core_c.h>

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

class TForm1;
class TForm2;

// Sets an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string previous_;
  bool had_previous_ = false;
};

// Points XDG_CONFIG_HOME at a fresh folder while it lives.
class ScopedSettingsFolder {
 public:
  ScopedSettingsFolder();
  ScopedSettingsFolder(const ScopedSettingsFolder&) = delete;
  ScopedSettingsFolder& operator=(const ScopedSettingsFolder&) = delete;

  std::string Path() const { return dir_.path().toStdString(); }
  std::string SettingsFile() const { return Path() + "/Stereo.ini"; }
  // Replaces the settings file with this text.
  void WriteSettings(const std::string& text) const;
  std::string ReadSettings() const;

 private:
  QTemporaryDir dir_;
  ScopedEnv config_home_;
};

// The main window and the display window as the program makes them; the
// main window is destroyed first-hand, so its settings are written.
struct Windows {
  Windows();
  ~Windows();
  TForm1& form() { return *form1; }
  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;
};

// Runs the event loop until the condition holds; false on time-out (longer
// under the thread checker).
bool ProcessEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Runs the event loop for this long.
void ProcessEventsFor(std::chrono::milliseconds duration);
// How many pairs a pairing test counts: `suite` unless STEREO_MOMENT_PAIRS
// asks for more (or fewer).
int PairsToCount(int suite);

class QFileDialog;

// Answers the next file dialog that the window shows with this path, as an
// operator typing it and pressing the dialog's button would; dialog gives
// the dialog once it has been made.
void AnswerFileDialog(std::function<QFileDialog*()> dialog, const QString& path);

// Messages shown to the operator since the last call, one per line.
QString TakeShownErrors();
// Puts back the recorder that TakeShownErrors reads, after a test replaced it.
void RecordShownErrors();

// Counts the frame messages the application delivers, per source, while it
// lives.
class DeliveryCounter : public QObject {
 public:
  DeliveryCounter();
  ~DeliveryCounter() override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  int first = 0;
  int second = 0;
};

// Picks the first two simulated cameras in the window's lists and presses the
// "Init" below both; true when both opened.
bool SetUpSimulatedPair(TForm1& form);

// True when the stand-in camera driver loaded, so real devices can be opened.
bool CamerasAvailable();

// Tests with the simulated cameras fail when the build made the stand-in
// drivers and they do not load, and are skipped in a build without them.
#ifdef STEREO_SIMULATED_CAMERAS
#define REQUIRE_CAMERAS() ASSERT_TRUE(CamerasAvailable()) << "the stand-in camera driver does not load"
#else
#define REQUIRE_CAMERAS() \
  if (!CamerasAvailable()) GTEST_SKIP() << "the stand-in camera driver is not built"
#endif

// The number the stand-in rig (STEREO_SIM_STAMP=1) writes into the first
// 4 bytes of a frame's rows.
inline uint32_t RowStamp(const cv::Mat& image, int row) {
  uint32_t stamp = 0;
  std::memcpy(&stamp, image.ptr(row), sizeof stamp);
  return stamp;
}
inline uint32_t RowStamp(const IplImage* image, int row) { return RowStamp(cv::cvarrToMat(image), row); }
