// "genicam": two fake GenICam cameras of Aravis, in process, showing the
// simulated rig's two views in colour (BayerRG8 at 640 x 480): picked in the
// two lists, "Init" below both, trigger mode at 8 pairs a second, and a
// stereo calibration of 18 still poses whose figures are set against the
// rig's truth in log.txt; display.png shows the rectified pair.

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QString>
#include <cstdlib>
#include <sstream>

#include "Video/vidclass/arvimp.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/genicam_rig_views.h"
#include "demos/rig_operator.h"
#include "filters/vidfilters_distort.h"

namespace {

constexpr int kViews = 18;
const cv::Size kSize(640, 480);

void PrepareFakes() {
  setenv(arvimp::kFakeCamerasVariable, "2", 1);
  // Each pose is held while both cameras take it.
  demo::HoldSceneStill();
  genicam_rig::ShowRigOnFakeCameras();
}

std::string Against(const char* name, double found, double truth) {
  char line[160];
  std::snprintf(line, sizeof line, "%-16s %10.3f  truth %10.3f  off %+.3f %%", name, found, truth,
                100.0 * (found - truth) / truth);
  return line;
}

std::string Figures(const TDistortFilter& filter, const TStereoCalibration& truth) {
  const TStereoCalibration& found = *filter.StereoResult;
  const cv::Matx33d right(filter.CameraRight);
  std::ostringstream text;
  text << "Through two fake GenICam cameras, against the rig's truth:\n";
  for (const auto& [name, value, true_value] : {std::tuple{"left fx", found.K1(0, 0), truth.K1(0, 0)},
                                                {"left fy", found.K1(1, 1), truth.K1(1, 1)},
                                                {"left cx", found.K1(0, 2), truth.K1(0, 2)},
                                                {"left cy", found.K1(1, 2), truth.K1(1, 2)},
                                                {"right fx", right(0, 0), truth.K2(0, 0)},
                                                {"right fy", right(1, 1), truth.K2(1, 1)},
                                                {"right cx", right(0, 2), truth.K2(0, 2)},
                                                {"right cy", right(1, 2), truth.K2(1, 2)},
                                                {"baseline mm", cv::norm(found.T), cv::norm(truth.T)}})
    text << Against(name, value, true_value) << "\n";
  return text.str();
}

int RunGenICam(const std::string& out_dir, const std::vector<std::string>&) {
  const rig_operator::SimulatedRig rig;
  const TStereoCalibration truth = rig.TrueCalibration(kSize);
  if (truth.SquareSize_mm <= 0) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  TForm1& form = *Form1;
  genicam_rig::SetSceneTime(0.0);
  if (!rig_operator::SetUpBothCameras(form, kGenICamDeviceIdBase, kGenICamDeviceIdBase + 1)) {
    demo::Say("The fake GenICam cameras did not open");
    return 1;
  }
  const std::string init_log = form.MeLog->toPlainText().toStdString();
  demo::Say("Both fake GenICam cameras live:\n" + form.MeLog->toPlainText());
  // At the slider's default rate: the window's board search keeps up, so
  // a pose pushed is one both cameras were triggered at.
  form.ChTrigger->setChecked(true);
  demo::Say("Trigger mode at " + QString::number(form.Device1->FrameRate) + " pairs a second");

  const auto [filter, dialog] = rig_operator::AddDistortionFilter(form);
  if (dialog == nullptr) return 1;
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog->findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(truth.SquareSize_mm);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  if (rig_operator::PushStillPoses(&genicam_rig::SetSceneTime, *dialog, kViews) != kViews) {
    demo::Say("The board was not found often enough");
    return 1;
  }
  dialog->findChild<QPushButton*>("BuCalib")->click();
  dialog->findChild<QPushButton*>("Button2")->click();
  dialog->findChild<QPushButton*>("BuStereoCalib")->click();
  dialog->findChild<QPushButton*>("BuRecalc")->click();
  if (!filter->StereoResult || !filter->SaveCalibration(out_dir + "/calibration.yml")) return 1;
  genicam_rig::SetSceneTime(30.5);
  dialog->CoMode->setCurrentIndex(kCalibrateAndRectify);
  demo::ProcessEventsFor(std::chrono::seconds(1));
  demo::SaveWidget(Form2, out_dir + "/display.png");
  const std::string figures = Figures(*filter, truth);
  demo::WriteText(out_dir + "/log.txt", "Camera set-up:\n" + init_log + "\n\nCalibration:\n" +
                                            dialog->Memo1->toPlainText().toStdString() + "\n\n" + figures);
  demo::Say(QString::fromStdString(figures));
  form.ChTrigger->setChecked(false);
  return 0;
}

const demo::Registration registration("genicam", &RunGenICam, &PrepareFakes);

}  // namespace
