// "capture": two GStreamer test sources listed as system capture devices,
// set up with the "Init" below both lists and live for a few seconds; leaves
// display.png and log.txt. No camera is needed.

#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>
#include <string>
#include <tuple>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "demos/demo.h"

namespace {

const char kLeftSource[] = "videotestsrc pattern=ball";
const char kRightSource[] = "videotestsrc pattern=smpte";

// The main window lists the sources when it is made.
void ListTestSources() {
  const std::string sources = std::string(kLeftSource) + "\n" + kRightSource + "\n";
  setenv("STEREO_CAPTURE_SOURCES", sources.c_str(), 1);
}

bool Select(QListWidget* list, const char* text) {
  const auto found = list->findItems(QString::fromLatin1(text), Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list->setCurrentItem(found.front());
  return true;
}

int RunCapture(const std::string& out_dir, const std::vector<std::string>& /*arguments*/) {
  if (!Select(Form1->ListBox1, kLeftSource) || !Select(Form1->ListBox2, kRightSource)) {
    demo::Say("The test sources are not listed (is GStreamer's videotestsrc installed?)");
    return 1;
  }
  Form1->BuInitBoth->click();
  if (!Form1->Device1 || !Form1->Device2) {
    demo::Say("The test sources did not open");
    return 1;
  }
  demo::Say("Both test sources live");
  demo::ProcessEventsFor(std::chrono::seconds(3));
  const bool saved = demo::SaveWidget(Form2, out_dir + "/display.png");
  std::string log = Form1->MeLog->toPlainText().toStdString() + "\n";
  for (const auto& [side, device, source] : {std::tuple{"Left", Form1->Device1.get(), kLeftSource},
                                             std::tuple{"Right", Form1->Device2.get(), kRightSource}}) {
    log += std::string(side) + ": " + source + ", State " + std::to_string(device->State) + ", " +
           std::to_string(device->Width) + "x" + std::to_string(device->Height) + "x" +
           std::to_string(device->Channels) + "\n";
  }
  demo::WriteText(out_dir + "/log.txt", log);
  return saved ? 0 : 1;
}

const demo::Registration registration("capture", &RunCapture, &ListTestSources);

}  // namespace
