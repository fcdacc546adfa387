// "sidebyside": the simulated rig's two cameras seen through one stereo
// camera whose frame holds both views side by side (a GStreamer source that
// reads rendered pictures). Its one entry is picked in both lists, "Init"
// below both gives each side its eye, and the stereo calibration runs through
// the real dialog; log.txt holds its figures beside the rig's truth, and
// display.png the rectified pair.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "Video/vidclass/vidclass_sidebyside.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"
#include "demos/side_by_side_rig.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

constexpr int kViews = 18;
constexpr double kIntrinsicsShare_pct = 0.5;
constexpr double kBaselineShare_pct = 1.0;

std::unique_ptr<rig_operator::SideBySideRig>& Rig() {
  static std::unique_ptr<rig_operator::SideBySideRig> rig;
  return rig;
}

// The pictures go into the demo's own settings folder, which goes with it.
void ListStereoCamera() {
  const std::string folder = std::string(std::getenv("XDG_CONFIG_HOME")) + "/side-by-side";
  QDir().mkpath(QString::fromStdString(folder));
  Rig() = std::make_unique<rig_operator::SideBySideRig>(folder);
  Rig()->ShowPose(0);
  setenv("STEREO_CAPTURE_SOURCES", Rig()->SourceLine().c_str(), 1);
}

bool SelectStereoCamera(QListWidget* list) {
  const auto found = list->findItems(QString::fromStdString(Rig()->SourceLine()), Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list->setCurrentItem(found.front());
  return true;
}

double Percent(double found, double truth) { return 100.0 * std::abs(found - truth) / std::abs(truth); }

// One line per figure: found, true, and how far apart; the worst share of
// the intrinsics comes back.
double CompareIntrinsics(const char* camera, const cv::Matx33d& found, const cv::Matx33d& truth,
                         std::string& log) {
  double worst = 0;
  const std::pair<const char*, std::pair<int, int>> figures[] = {
      {"fx", {0, 0}}, {"fy", {1, 1}}, {"cx", {0, 2}}, {"cy", {1, 2}}};
  for (const auto& [name, at] : figures) {
    const double share = Percent(found(at.first, at.second), truth(at.first, at.second));
    worst = std::max(worst, share);
    char line[128];
    std::snprintf(line, sizeof line, "%s %s %.3f, true %.3f (%.3f %%)\n", camera, name,
                  found(at.first, at.second), truth(at.first, at.second), share);
    log += line;
  }
  return worst;
}

int RunSideBySide(const std::string& out_dir, const std::vector<std::string>&) {
  TForm1& form = *Form1;
  if (!SelectStereoCamera(form.ListBox1) || !SelectStereoCamera(form.ListBox2)) {
    demo::Say("The stereo camera is not listed (are GStreamer's png and multifile plugins installed?)");
    return 1;
  }
  form.BuInitBoth->click();
  if (dynamic_cast<tVideoDeviceSideBySide*>(form.Device1.get()) == nullptr ||
      dynamic_cast<tVideoDeviceSideBySide*>(form.Device2.get()) == nullptr) {
    demo::Say("The stereo camera did not open");
    return 1;
  }
  demo::Say(QString("Stereo camera live: each side %1 x %2 of one %3 x %2 frame")
                .arg(form.Device1->Width)
                .arg(form.Device1->Height)
                .arg(2 * form.Device1->Width));

  const auto [filter, dialog] = rig_operator::AddDistortionFilter(form);
  if (dialog == nullptr) {
    demo::Say("The distortion dialog did not open");
    return 1;
  }
  const rig_operator::SimulatedRig truth_source;
  const TStereoCalibration truth = truth_source.TrueCalibration(Rig()->EyeSize());
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog->findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(truth.SquareSize_mm);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  const int pushed = rig_operator::PushSideBySidePoses(*Rig(), *dialog, kViews);
  demo::Say(QString("%1 views pushed").arg(pushed));
  dialog->findChild<QPushButton*>("BuCalib")->click();
  dialog->findChild<QPushButton*>("BuStereoCalib")->click();
  std::string log = dialog->Memo1->toPlainText().toStdString() + "\n";
  if (!filter->StereoResult || pushed < kViews) {
    demo::WriteText(out_dir + "/log.txt", log + "No stereo calibration\n");
    return 1;
  }

  log += "\nAgainst the rig's truth (" + std::to_string(Rig()->EyeSize().width) + " x " +
         std::to_string(Rig()->EyeSize().height) + " each eye):\n";
  const double left = CompareIntrinsics("left", filter->StereoResult->K1, truth.K1, log);
  const double right = CompareIntrinsics("right", cv::Matx33d(filter->CameraRight), truth.K2, log);
  const double baseline = cv::norm(filter->StereoResult->T), true_baseline = cv::norm(truth.T);
  const double baseline_pct = Percent(baseline, true_baseline);
  char line[160];
  std::snprintf(line, sizeof line, "baseline %.3f mm, true %.3f mm (%.3f %%)\n", baseline, true_baseline,
                baseline_pct);
  log += line;
  const bool met = std::max(left, right) <= kIntrinsicsShare_pct && baseline_pct <= kBaselineShare_pct;
  std::snprintf(line, sizeof line, "intrinsics within %.1f %% and baseline within %.1f %%: %s\n",
                kIntrinsicsShare_pct, kBaselineShare_pct, met ? "yes" : "no");
  log += line;

  dialog->findChild<QPushButton*>("BuRecalc")->click();
  dialog->CoMode->setCurrentIndex(kRectifyBoth);
  demo::ProcessEventsFor(1s);
  const bool saved = demo::SaveWidget(Form2, out_dir + "/display.png");
  demo::WriteText(out_dir + "/log.txt", log);
  demo::Say(QString::fromStdString(log));
  return met && saved ? 0 : 1;
}

const demo::Registration registration("sidebyside", &RunSideBySide, &ListStereoCamera);

}  // namespace
