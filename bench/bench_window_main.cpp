// main() of the benchmarks that make the workbench's windows: offscreen,
// with a settings folder of their own, under one application object.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // No benchmark looks for GenICam cameras: GigE Vision discovery broadcasts.
  setenv("STEREO_GENICAM_FAKE", "0", 0);
  // The main window reads and writes its settings; keep the user's untouched.
  QTemporaryDir settings;
  setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
