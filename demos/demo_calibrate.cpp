// "calibrate": the chessboard calibration of the left camera as an operator
// does it: "Distortion" dropped on the filter list, its dialog opened, the
// search mode chosen, 15 views of the moving board pushed in trigger mode,
// "Calibrate", "Get Parameter", "Init", then the corrected pair shown.

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <cstdlib>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

constexpr int kViews = 15;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

bool PushViews(TFoDistortSetup& dialog) {
  QPushButton* push = dialog.findChild<QPushButton*>("BuPush");
  int pushed = 0;
  for (int tries = 0; pushed < kViews && tries < 400; ++tries) {
    if (!rig_operator::WaitForBoardSearch(dialog, 5s)) continue;
    push->click();
    ++pushed;
    demo::Say(dialog.Memo1->toPlainText().section('\n', -1));
    // The board moves on to another pose before the next push.
    demo::ProcessEventsFor(700ms);
  }
  return pushed == kViews;
}

int RunCalibrate(const std::string& out_dir, const std::vector<std::string>&) {
  rig_operator::SimulatedRig rig;
  if (!rig.Loaded() || !rig.WriteRigFile(out_dir + "/rig.yml", kWidth, kHeight)) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  TForm1& form = *Form1;
  if (!rig_operator::SetUpBothCameras(form)) return 1;
  form.ChTrigger->setChecked(true);
  demo::Say("Both cameras live in trigger mode");

  rig_operator::DropPanel(form, form.PaDistort);
  rig_operator::DoubleClickEntry(form, 0);
  TDistortFilter* filter = rig_operator::DistortFilterAt(form, 0);
  TFoDistortSetup* dialog = filter != nullptr ? rig_operator::DialogOf(*filter) : nullptr;
  if (dialog == nullptr || !dialog->isVisible()) {
    demo::Say("The distortion dialog did not open");
    return 1;
  }
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  if (!PushViews(*dialog)) {
    demo::Say("The board was not found often enough");
    return 1;
  }
  demo::SaveWidget(Form2, out_dir + "/mode4.png");

  dialog->findChild<QPushButton*>("BuCalib")->click();
  dialog->findChild<QPushButton*>("Button2")->click();
  dialog->findChild<QPushButton*>("BuRecalc")->click();
  for (const auto& [mode, picture] :
       {std::pair{kShowDistortionMap, "mode3.png"}, {kCalibrateOnly, "mode2.png"}}) {
    dialog->CoMode->setCurrentIndex(mode);
    demo::ProcessEventsFor(1s);
    demo::SaveWidget(Form2, out_dir + "/" + picture);
  }
  demo::WriteText(out_dir + "/log.txt", dialog->Memo1->toPlainText().toStdString() + "\n");
  demo::WriteText(out_dir + "/fields.txt", rig_operator::FieldTexts(*dialog));
  demo::Say("Calibration log:\n" + dialog->Memo1->toPlainText());
  form.ChTrigger->setChecked(false);
  return 0;
}

const demo::Registration registration("calibrate", &RunCalibrate);

}  // namespace
