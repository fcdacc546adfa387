// "autocalib": the stereo calibration on the harsh stand-in rig with views
// taken by themselves: the moving board in trigger mode, sub-pixel corners,
// "Auto push" until 20 views, "Calibrate", "Stereo Calibrate", "Drop worst
// view", both again, and the views saved.

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>
#include <string>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

// The board goes along its path as an operator moves it, held at a pose
// every so many seconds of scene time for about a second.
constexpr double kHoldEvery_s = 0.8;

void PrepareAutocalib() {
  setenv("STEREO_SIM_IMAGING", "harsh", 1);
  demo::HoldSceneStill();
}

// Scene time at which the 20th view was taken; negative when not.
double HoldPosesUntilTwentyViews(const rig_operator::SimulatedRig& rig, const TDistortFilter& filter) {
  const auto& views = filter.Calibration.Cameras[0].ViewCount;
  return rig_operator::HoldPosesUntil(rig, kHoldEvery_s, 1500ms,
                                      [&views] { return views >= TCalibrationFilter::MaxViews; });
}

void Click(TFoDistortSetup& dialog, const char* name) { dialog.findChild<QPushButton*>(name)->click(); }

int RunAutocalib(const std::string& out_dir, const std::vector<std::string>&) {
  rig_operator::SimulatedRig rig;
  if (!rig.Loaded() || !rig.WriteRigFile(out_dir + "/rig.yml", 640, 480)) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  TForm1& form = *Form1;
  if (!rig_operator::SetUpBothCameras(form)) return 1;
  form.ChTrigger->setChecked(true);
  const auto [filter, dialog] = rig_operator::AddDistortionFilter(form);
  if (dialog == nullptr) return 1;
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  dialog->findChild<QCheckBox*>("ChAutoPush")->setChecked(true);
  demo::Say("Harsh imaging, both cameras in trigger mode, \"Auto push\" on");

  const double scene_s = HoldPosesUntilTwentyViews(rig, *filter);
  const bool collected = scene_s >= 0;
  const std::string summary = FormatLine("Auto push: %d views in %.1f s of scene time",
                                         filter->Calibration.Cameras[0].ViewCount, scene_s);
  demo::Say(QString::fromStdString(summary));
  demo::SaveWidget(dialog, out_dir + "/coverage.png");
  demo::SaveWidget(Form2, out_dir + "/mode4.png");
  form.ChTrigger->setChecked(false);

  Click(*dialog, "BuCalib");
  Click(*dialog, "BuStereoCalib");
  Click(*dialog, "BuDropWorst");
  Click(*dialog, "BuCalib");
  Click(*dialog, "BuStereoCalib");
  const bool saved =
      filter->SaveViews(out_dir + "/views") && filter->SaveCalibration(out_dir + "/calibration.yml");
  const QString log = dialog->Memo1->toPlainText() + "\n" + QString::fromStdString(summary) + "\n";
  demo::WriteText(out_dir + "/log.txt", log.toStdString());
  demo::Say("Calibration log:\n" + log);
  return collected && saved && filter->StereoResult ? 0 : 1;
}

const demo::Registration registration("autocalib", &RunAutocalib, &PrepareAutocalib);

}  // namespace
