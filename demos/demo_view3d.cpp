// "view3d": what the operator sees of depth. The depth demo's textured scene
// with the board 1.2 m away, the rig's own calibration loaded, "Rectify
// both" and a "Disparity" filter; the 3D view opened from its dialog and
// turned to an oblique eye, two clicks on the board's corners in it; the
// display window maximised with "Fit to window"; the main window's status
// panel with the live rates.

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <cstdlib>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdisparity.h"
#include "app/view3d.h"
#include "demos/demo.h"
#include "demos/depth_figures.h"
#include "demos/rig_operator.h"
#include "filters/disparity_filter.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

constexpr double kDepthPose = 1058.5;

// The rectifying distortion filter with the rig's true calibration, then the
// disparity filter with its dialog open; the dialog, or null.
TFoDisparitySetup* SetUpDepth(rig_operator::SimulatedRig& rig, const std::string& out_dir) {
  TForm1& form = *Form1;
  rig_operator::DropPanel(form, form.PaDistort);
  TDistortFilter* distort = rig_operator::DistortFilterAt(form, 0);
  const std::string path = out_dir + "/calibration.yml";
  std::string why;
  if (distort == nullptr || !WriteCalibrationFile(path, rig.TrueCalibration({640, 480}), why) ||
      !distort->LoadCalibration(path)) {
    demo::Say(QString::fromStdString("The rig's calibration could not be loaded " + why));
    return nullptr;
  }
  distort->SetMode(kRectifyBoth);
  rig_operator::DropPanel(form, form.PaDepth);
  rig_operator::DoubleClickEntry(form, 1);
  TDisparityFilter* filter = rig_operator::DisparityFilterAt(form, 1);
  return filter != nullptr ? dynamic_cast<TFoDisparitySetup*>(filter->Setup) : nullptr;
}

// Clicks the 3D view where the left image's pixel shows in the camera's view.
void ClickView(TCloudView* view, const cv::Point2f& pixel, const TLens& lens) {
  const double scale = static_cast<double>(view->height()) / lens.Image.height;
  const double margin = (view->width() - lens.Image.width * scale) / 2;
  QTest::mouseClick(view, Qt::LeftButton, {},
                    QPoint(static_cast<int>(pixel.x * scale + margin), static_cast<int>(pixel.y * scale)));
}

int RunView3D(const std::string& out_dir, const std::vector<std::string>&) {
  rig_operator::SimulatedRig rig;
  if (!rig.Loaded()) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  if (!OpenGLAvailable()) {
    demo::Say("No OpenGL on this display (scripts/demo.sh runs this demo on a virtual X server)");
    return 1;
  }
  TForm1& form = *Form1;
  rig.SetSceneTime(kDepthPose);
  if (!rig_operator::SetUpBothCameras(form)) return 1;
  form.ChTrigger->setChecked(true);
  TFoDisparitySetup* dialog = SetUpDepth(rig, out_dir);
  if (dialog == nullptr) return 1;
  auto* open = dialog->findChild<QPushButton*>("BuView3D");
  if (open == nullptr) return 1;
  open->click();
  TView3D* view = View3D();
  TCloudView* cloud_view = view != nullptr ? view->CloudView() : nullptr;
  if (cloud_view == nullptr || !demo::ProcessEventsUntil([&] { return !cloud_view->Cloud().Empty(); }, 60s)) {
    demo::Say("No point cloud came");
    return 1;
  }
  demo::Say("3D view: the cloud came");
  view->resize(900, 700);
  demo::ProcessEventsFor(2s);
  const auto map = Form1->ShownDisparityFilter()->ShownMap();
  const TDepthSnapshot& snapshot = map->Snapshot;
  const TLens lens = LensOf(snapshot.Calibration.get(), snapshot.Disparity16.size());
  cloud_view->ResetView();
  std::vector<std::string> lines;
  const std::vector<cv::Point2f> corners = depth_figures::BoardCorners(snapshot.Left, {8, 6});
  if (corners.size() == 48) {
    ClickView(cloud_view, corners.front(), lens);
    lines.push_back("first click: " + view->LaMeasure->text().toStdString());
    ClickView(cloud_view, corners.back(), lens);
    lines.push_back("second click: " + view->LaMeasure->text().toStdString());
    const double square = Form1->StereoCalibrationInForce()->SquareSize_mm;
    lines.push_back(
        FormatLine("the board's diagonal of 7 x 5 squares is %.1f mm", square * std::hypot(7.0, 5.0)));
  }
  // An eye up and to the left of the camera, looking at the cloud's centre.
  TOrbit oblique = cloud_view->Orbit();
  oblique.Yaw_deg += 35;
  oblique.Pitch_deg -= 20;
  cloud_view->SetOrbit(oblique);
  demo::ProcessEventsFor(300ms);
  const bool saved_view = cloud_view->grabFramebuffer().save(QString::fromStdString(out_dir + "/view3d.png"));
  lines.push_back(FormatLine("cloud of %zu points, eye yaw %.0f pitch %.0f degrees, %.0f mm from the centre",
                             cloud_view->Cloud().Positions.size(), oblique.Yaw_deg, oblique.Pitch_deg,
                             oblique.Distance));

  // The display window over the whole screen, both panes fitted.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  Form2->showMaximized();
  Form2->setGeometry(screen);
  Form2->FitToWindow1->trigger();
  demo::ProcessEventsFor(1s);
  lines.push_back(FormatLine("display %d x %d, panes %d x %d", Form2->width(), Form2->height(),
                             Form2->PbGraf1->width(), Form2->PbGraf1->height()));
  const bool saved_display = demo::SaveWidget(Form2, out_dir + "/display_fit.png");
  // The status panel while a pair is being written.
  rig_operator::ClickWithPath(form.Button7, out_dir + "/view3d_run.avi");
  form.ChWritePairs->setChecked(true);
  demo::ProcessEventsFor(2s);
  lines.push_back("status: " + form.LaRates->text().toStdString());
  const bool saved_main = demo::SaveWidget(&form, out_dir + "/main.png");
  const bool recorded = form.LaRates->text().contains("Rec ");
  form.BuCloseWriter->click();
  form.ChTrigger->setChecked(false);
  QString log;
  for (const std::string& line : lines) log += QString::fromStdString(line) + "\n";
  demo::WriteText(out_dir + "/log.txt", log.toStdString());
  for (const std::string& line : lines) demo::Say(QString::fromStdString(line));
  return saved_view && saved_display && saved_main && recorded ? 0 : 1;
}

const demo::Registration registration("view3d", &RunView3D, &demo::PrepareStillScene);

}  // namespace
