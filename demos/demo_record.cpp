// "record OUT SECONDS": both simulated cameras live, a pair of AVI files
// recorded with "Write File" for SECONDS, the views saved, then the pair read
// back with "Single Frame" to its end. Leaves runL.avi, runR.avi, log.txt,
// playback.txt, anaglyph.png and difference.png.

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <string>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters.h"

namespace {

using namespace std::chrono_literals;

// Counts the pairs that reach the filter chain, that is the pairs shown.
class TPairCounter : public TVidFilter {
 public:
  explicit TPairCounter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    ++pairs;
    return TVidFilter::ProcessPair(input);
  }
  long pairs = 0;
};

bool SaveView(QCheckBox* view, const std::string& file) {
  view->setChecked(true);
  demo::ProcessEventsFor(1s);
  const bool saved = demo::SaveWidget(Form2, file);
  view->setChecked(false);
  return saved;
}

std::string PlayBack(const std::string& out_dir) {
  rig_operator::ClickWithPath(Form1->BuOpenReader, out_dir + "/runL.avi");
  std::string lines;
  long pairs = 0;
  for (;;) {
    Form1->BuReadSingle->click();
    const IplImage* sides[] = {Form1->CurrentLeft, Form1->CurrentRight};
    if (sides[0] == nullptr && sides[1] == nullptr) break;
    ++pairs;
    lines += "pair " + std::to_string(pairs) + ":";
    for (const IplImage* side : sides) {
      lines += side == nullptr ? std::string(" -")
                               : " " + std::to_string(side->width) + "x" + std::to_string(side->height) +
                                     "x" + std::to_string(side->nChannels);
    }
    lines += "\n";
  }
  Form1->BuCloseReader->click();
  return lines + "pairs read back: " + std::to_string(pairs) + "\n";
}

int RunRecord(const std::string& out_dir, const std::vector<std::string>& arguments) {
  const int seconds = arguments.empty() ? 5 : std::max(1, std::atoi(arguments.front().c_str()));
  if (!rig_operator::SetUpBothCameras(*Form1)) {
    demo::Say("The simulated cameras did not open (is libuEye_api.so beside the program?)");
    return 1;
  }
  std::shared_ptr<TPairCounter> counter = TVidFilter::Create<TPairCounter>();
  Form1->FilterList.push_back({"Pairs", counter});
  // The clock opens the camera's rate range; then 25 frames per second.
  Form1->tbPixelClock->setValue(40);
  Form1->tbFrameRate->setValue(250);
  demo::ProcessEventsFor(500ms);

  rig_operator::ClickWithPath(Form1->Button7, out_dir + "/run.avi");
  if (!Form1->ChWrite->isEnabled()) {
    demo::Say("The writers did not open:\n" + Form1->MeLog->toPlainText());
    return 1;
  }
  const long before = counter->pairs;
  Form1->ChWrite->setChecked(true);
  demo::Say(QString("Recording %1 s with \"Write File\"").arg(seconds));
  demo::ProcessEventsFor(std::chrono::seconds(seconds));
  Form1->ChWrite->setChecked(false);
  const long shown = counter->pairs - before;
  Form1->BuCloseWriter->click();
  demo::Say(QString("Pairs shown while recording: %1").arg(shown));

  const bool views = SaveView(Form1->ChAnal, out_dir + "/anaglyph.png") &&
                     SaveView(Form1->ChDiff, out_dir + "/difference.png");
  Form1->BuStop->click();
  const std::string playback = PlayBack(out_dir);
  demo::WriteText(out_dir + "/playback.txt", playback);
  demo::WriteText(out_dir + "/log.txt", Form1->MeLog->toPlainText().toStdString() + "\n");
  demo::Say(Form1->MeLog->toPlainText().section('\n', -3));
  demo::Say(QString::fromStdString(playback).section('\n', -2));
  return views ? 0 : 1;
}

const demo::Registration registration("record", &RunRecord);

}  // namespace
