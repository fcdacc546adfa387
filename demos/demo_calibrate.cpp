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

// The operator's steps up to "Calibrate": the dialog of the dropped
// distortion filter, or null (with a line said) when a step failed.
TFoDistortSetup* CalibrateBothCameras(const std::string& out_dir, bool sub_pixel) {
  rig_operator::SimulatedRig rig;
  if (!rig.Loaded() || !rig.WriteRigFile(out_dir + "/rig.yml", kWidth, kHeight)) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return nullptr;
  }
  TForm1& form = *Form1;
  if (!rig_operator::SetUpBothCameras(form)) return nullptr;
  form.ChTrigger->setChecked(true);
  demo::Say("Both cameras live in trigger mode");

  const auto [filter, dialog] = rig_operator::AddDistortionFilter(form);
  if (dialog == nullptr || !dialog->isVisible()) {
    demo::Say("The distortion dialog did not open");
    return nullptr;
  }
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(sub_pixel);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  if (!PushViews(*dialog)) {
    demo::Say("The board was not found often enough");
    return nullptr;
  }
  demo::SaveWidget(Form2, out_dir + "/mode4.png");
  dialog->findChild<QPushButton*>("BuCalib")->click();
  return dialog;
}

void ShowMode(TFoDistortSetup& dialog, int mode, const std::string& picture) {
  dialog.CoMode->setCurrentIndex(mode);
  demo::ProcessEventsFor(1s);
  demo::SaveWidget(Form2, picture);
}

void LeaveLog(TFoDistortSetup& dialog, const std::string& out_dir) {
  demo::WriteText(out_dir + "/log.txt", dialog.Memo1->toPlainText().toStdString() + "\n");
  demo::Say("Calibration log:\n" + dialog.Memo1->toPlainText());
  Form1->ChTrigger->setChecked(false);
}

int RunCalibrate(const std::string& out_dir, const std::vector<std::string>&) {
  TFoDistortSetup* dialog = CalibrateBothCameras(out_dir, false);
  if (dialog == nullptr) return 1;
  dialog->findChild<QPushButton*>("Button2")->click();
  dialog->findChild<QPushButton*>("BuRecalc")->click();
  ShowMode(*dialog, kShowDistortionMap, out_dir + "/mode3.png");
  ShowMode(*dialog, kCalibrateOnly, out_dir + "/mode2.png");
  demo::WriteText(out_dir + "/fields.txt", rig_operator::FieldTexts(*dialog));
  LeaveLog(*dialog, out_dir);
  return 0;
}

// "stereo": the same with sub-pixel corners (unless "--no-subpixel"), then
// "Stereo Calibrate", the calibration saved, and the pair in mode 1.
int RunStereo(const std::string& out_dir, const std::vector<std::string>& arguments) {
  const bool sub_pixel = arguments.empty() || arguments[0] != "--no-subpixel";
  TFoDistortSetup* dialog = CalibrateBothCameras(out_dir, sub_pixel);
  if (dialog == nullptr) return 1;
  dialog->findChild<QPushButton*>("Button2")->click();
  dialog->findChild<QPushButton*>("BuStereoCalib")->click();
  dialog->findChild<QPushButton*>("BuRecalc")->click();
  if (!dialog->Filter->SaveCalibration(out_dir + "/calibration.yml")) return 1;
  ShowMode(*dialog, kCalibrateAndRectify, out_dir + "/mode1.png");
  LeaveLog(*dialog, out_dir);
  return dialog->Filter->StereoResult ? 0 : 1;
}

const demo::Registration stereo_registration("stereo", &RunStereo);
const demo::Registration registration("calibrate", &RunCalibrate);

}  // namespace
