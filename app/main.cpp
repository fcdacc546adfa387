// The workbench's entry: driver libraries, the four windows, the message loop.

#include <QDialog>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "app/batch_mode.h"
#include "app/setblur.h"
#include "app/setdistort.h"
#include "app/version_info.h"

namespace {

// Answered before any window or driver exists, so they work without a display.
bool Asks(int argc, char** argv, const char* option, const char* short_option) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], option) == 0 || std::strcmp(argv[i], short_option) == 0) return true;
  }
  return false;
}

// The display window and the main window side by side, drawn by Qt itself so
// it works on any platform plugin, a virtual X server included.
bool SaveScreenshot(const QString& file) {
  const QPixmap display = Form2 != nullptr ? Form2->grab() : QPixmap();
  const QPixmap main = Form1->grab();
  QPixmap shot(display.width() + main.width(), std::max(display.height(), main.height()));
  shot.fill(Qt::darkGray);
  QPainter painter(&shot);
  painter.drawPixmap(0, 0, display);
  painter.drawPixmap(display.width(), 0, main);
  painter.end();
  return shot.save(file, "PNG");
}

int RunWindows(TStereoApplication& app, const StartOptions& options) {
  // Listened to before any window exists: a box shown while the windows are
  // made (a settings folder that cannot be made) must not outlast a signal.
  static bool running = false;
  static bool close_at_start = false;
  OnCloseSignal([] {
    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) box->reject();
    if (running && Form1 != nullptr) {
      Form1->close();
    } else {
      close_at_start = true;
    }
  });

  // The main window's creation reads the settings before the others exist.
  Form1 = new TForm1;
  Form2 = new TForm2;
  FoDistortSetup = new TFoDistortSetup;
  FoBlurSetup = new TFoBlurSetup;

  // The display window would otherwise keep the program alive on its own.
  app.setQuitOnLastWindowClosed(false);
  QObject::connect(Form1, &TForm1::Closed, &app, &QCoreApplication::quit);
  Form1->show();

  // Queued, so a failure in the set-up is reported like any handler's.
  if (options.init_both) QTimer::singleShot(0, Form1, &TForm1::BuInitBothClick);
  if (!options.screenshot.empty()) {
    const QString file = QString::fromStdString(options.screenshot);
    QTimer::singleShot(options.screenshot_delay_ms, Form1, [file] {
      if (!SaveScreenshot(file)) ShowErrorMessage("Screenshot " + file + " can not be written");
      Form1->close();
    });
  }
  // Closed from within the loop: a quit before it runs would be lost.
  if (close_at_start) QTimer::singleShot(0, Form1, [] { Form1->close(); });
  running = true;
  const int result = app.exec();

  delete FoBlurSetup;
  delete FoDistortSetup;
  delete Form2;
  // Its destruction writes the settings.
  delete Form1;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: a signal that comes during start-up is acted on
  // once the message loop runs, instead of killing the program unsaved.
  CatchCloseSignals();
  if (Asks(argc, argv, "--help", "-h")) {
    std::fputs(kUsage, stdout);
    std::fputs(kBatchUsage, stdout);
    return 0;
  }
  if (Asks(argc, argv, "--version", "-v")) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }

  // The batch commands need no window, display nor camera driver.
  if (const std::vector<std::string> words(argv + 1, argv + argc); AsksForBatch(words))
    return RunBatch(words);

  uEyeimp::Load();
  falcimp::Load();
  int result = 0;
  {
    TStereoApplication app(argc, argv);
    std::vector<std::string> arguments;
    for (const QString& argument : app.arguments().mid(1)) arguments.push_back(argument.toStdString());
    const StartOptions options = ParseStartOptions(arguments);
    if (!options.error.empty()) {
      std::fprintf(stderr, "%s\n%s", options.error.c_str(), kUsage);
      result = 2;
    } else {
      result = RunWindows(app, options);
    }
  }
  falcimp::Release();
  uEyeimp::Release();
  return result;
}
