// stereo_demo NAME OUT [ARGUMENT...]: runs one demo with the workbench's own windows,
// offscreen, on a settings folder of its own, and leaves its results in OUT.

#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Video/vidclass/arvimp.h"
#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "app/setblur.h"
#include "app/setdistort.h"
#include "demos/demo.h"

namespace demo {
namespace {

struct Demo {
  DemoFunction run = nullptr;
  PrepareFunction prepare = nullptr;
};

std::map<std::string, Demo>& Demos() {
  static std::map<std::string, Demo> demos;
  return demos;
}

int Usage() {
  std::fprintf(stderr, "Usage: stereo_demo NAME OUT [ARGUMENT...]\nDemos:");
  for (const auto& entry : Demos()) std::fprintf(stderr, " %s", entry.first.c_str());
  std::fprintf(stderr, "\n");
  return 2;
}

}  // namespace

Registration::Registration(const char* name, DemoFunction function, PrepareFunction prepare) {
  Demos()[name] = {function, prepare};
}

bool SaveWidget(QWidget* widget, const std::string& file) {
  return widget->grab().save(QString::fromStdString(file), "PNG");
}

bool WriteText(const std::string& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

void Say(const QString& line) {
  std::printf("%s\n", line.toLocal8Bit().constData());
  std::fflush(stdout);
}

void HoldSceneStill() { setenv("STEREO_SIM_SCENE_SPEED", "0", 1); }

void PrepareStillScene() {
  setenv("STEREO_SIM_SOURCE", "scene", 1);
  HoldSceneStill();
}

}  // namespace demo

int main(int argc, char** argv) {
  if (argc < 3 || demo::Demos().count(argv[1]) == 0) return demo::Usage();
  const std::vector<std::string> arguments(argv + 3, argv + argc);
  const std::string out_dir = argv[2];
  if (!QDir().mkpath(QString::fromStdString(out_dir))) {
    std::fprintf(stderr, "Folder %s can not be made\n", out_dir.c_str());
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // No demo looks for GenICam cameras on the network; the genicam demo asks
  // for the fakes.
  setenv(arvimp::kFakeCamerasVariable, "0", 0);
  // The operator's own settings stay untouched.
  QTemporaryDir settings;
  setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);

  const demo::Demo& chosen = demo::Demos()[argv[1]];
  if (chosen.prepare != nullptr) chosen.prepare();
  uEyeimp::Load();
  falcimp::Load();
  int result = 0;
  {
    TStereoApplication app(argc, argv);
    // A demo records errors instead of waiting for a click on a message box.
    SetErrorReporter([](const QString& message) { demo::Say("Error shown: " + message); });
    Form1 = new TForm1;
    Form2 = new TForm2;
    FoDistortSetup = new TFoDistortSetup;
    FoBlurSetup = new TFoBlurSetup;
    Form1->show();
    result = chosen.run(out_dir, arguments);
    delete FoBlurSetup;
    delete FoDistortSetup;
    delete Form2;
    delete Form1;
  }
  falcimp::Release();
  uEyeimp::Release();
  return result;
}
