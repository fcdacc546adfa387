// "capture": two GStreamer test sources listed as system capture devices,
// one in colour and one in grey, each stating its own size and rate; set up
// with the "Init" below both lists, each opens at its own mode, and both are
// live for a few seconds; leaves display.png and log.txt (each side's mode,
// size and channels, and the modes its list offers). No camera is needed.

#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>
#include <string>
#include <tuple>

#include "Video/vidclass/vidclass.h"
#include "Video/vidclass/vidclass_dshow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "demos/demo.h"

namespace {

const char kLeftSource[] =
    "videotestsrc pattern=smpte ! capsfilter "
    "caps=video/x-raw,format=YUY2,width=640,height=360,framerate=30/1";
const char kRightSource[] =
    "videotestsrc pattern=smpte ! capsfilter "
    "caps=video/x-raw,format=GRAY8,width=480,height=270,framerate=15/1";

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
  for (const auto& [side, device, modes, source] :
       {std::tuple{"Left", Form1->Device1.get(), Form1->CbMode1, kLeftSource},
        std::tuple{"Right", Form1->Device2.get(), Form1->CbMode2, kRightSource}}) {
    const auto* capture = dynamic_cast<const tVideoDeviceDShow*>(device);
    log += std::string(side) + ": " + source + "\n  State " + std::to_string(device->State) + ", mode \"" +
           (capture != nullptr ? capture->ModeText() : "") + "\", " + std::to_string(device->Width) + "x" +
           std::to_string(device->Height) + "x" + std::to_string(device->Channels) + ", mode list:";
    for (int i = 0; i < modes->count(); ++i) log += " \"" + modes->itemText(i).toStdString() + "\"";
    log += "\n";
  }
  demo::WriteText(out_dir + "/log.txt", log);
  return saved ? 0 : 1;
}

const demo::Registration registration("capture", &RunCapture, &ListTestSources);

}  // namespace
