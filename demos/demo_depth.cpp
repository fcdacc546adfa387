// "depth": from a calibrated pair to a measured scene. The textured scene of
// the simulated rig, the stereo calibration as in "stereo" (square size set),
// "Rectify both", a "Disparity" filter with semi-global matching over 64
// disparities, 3 s live, two clicks on two board corners, "Save depth…";
// every figure beside the rig's truth. Then the steps after matching are
// switched on one after another, each map judged against the truth, and a
// rectangle dragged on the wall gives the depth's quality there.

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/filter_list_box.h"
#include "app/setdisparity.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/depth_figures.h"
#include "demos/rig_operator.h"
#include "depth/depth_measure.h"
#include "filters/disparity_filter.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kViews = 18;
// A moment at which the board faces the rig 1.2 m away, well inside the
// matcher's range.
constexpr double kDepthPose = 1058.5;

struct Rig {
  rig_operator::SimulatedRig sim;
  cv::FileStorage truth;
  double square_mm = 0;
  cv::Matx33d k1;
  cv::Vec4d d1;
};

bool ReadTruth(Rig& rig, const std::string& path) {
  if (!rig.sim.Loaded() || !rig.sim.WriteRigFile(path, kWidth, kHeight)) return false;
  rig.truth.open(path, cv::FileStorage::READ);
  rig.square_mm = static_cast<double>(rig.truth["square_mm"]);
  cv::Mat k, d;
  rig.truth["K1"] >> k;
  rig.truth["D1"] >> d;
  if (k.empty() || d.total() < 4) return false;
  k.convertTo(k, CV_64F);
  d.convertTo(d, CV_64F);
  rig.k1 = cv::Matx33d(k.ptr<double>());
  rig.d1 = cv::Vec4d(d.ptr<double>());
  return rig.square_mm > 0;
}

// "Stereo Calibrate" as the operator does it; the dialog, or null.
TFoDistortSetup* CalibratePair(Rig& rig, const std::string& out_dir) {
  TForm1& form = *Form1;
  const auto [filter, dialog] = rig_operator::AddDistortionFilter(form);
  if (dialog == nullptr) return nullptr;
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog->findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(rig.square_mm);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  if (rig_operator::PushStillPoses(rig.sim, *dialog, kViews) != kViews) return nullptr;
  dialog->findChild<QPushButton*>("BuCalib")->click();
  dialog->findChild<QPushButton*>("BuStereoCalib")->click();
  if (!filter->StereoResult || !filter->SaveCalibration(out_dir + "/calibration.yml")) return nullptr;
  dialog->CoMode->setCurrentIndex(kRectifyBoth);
  return dialog;
}

// Clicks the left pane where the pixel of the rectified image shows.
void ClickPixel(const cv::Point2f& pixel) {
  TPane* pane = Form2->PbGraf1;
  const double scale_x = static_cast<double>(pane->width()) / pane->Bitmap().Width();
  const double scale_y = static_cast<double>(pane->height()) / pane->Bitmap().Height();
  QTest::mouseClick(
      pane, Qt::LeftButton, {},
      QPoint(static_cast<int>((pixel.x + 0.5) * scale_x), static_cast<int>((pixel.y + 0.5) * scale_y)));
}

// Drags a rectangle on the left pane between two pixels of the image.
void DragPixels(const cv::Point& from, const cv::Point& to) {
  TPane* pane = Form2->PbGraf1;
  const auto at = [pane](const cv::Point& pixel) {
    return QPoint(static_cast<int>((pixel.x + 0.5) * pane->width() / pane->Bitmap().Width()),
                  static_cast<int>((pixel.y + 0.5) * pane->height() / pane->Bitmap().Height()));
  };
  QTest::mousePress(pane, Qt::LeftButton, {}, at(from));
  QTest::mouseMove(pane, at(to));
  QTest::mouseRelease(pane, Qt::LeftButton, {}, at(to));
}

// One row of the comparison: a name and the switches it adds.
struct StageRow {
  const char* name;
  std::vector<const char*> switches;
};

// Waits for `count` maps made after now; the newest, or null.
std::shared_ptr<const TDisparityResult> FreshMaps(TDisparityFilter& filter, int count) {
  const uint64_t seen = filter.ShownMap() ? filter.ShownMap()->Sequence : 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline &&
         (!filter.ShownMap() || filter.ShownMap()->Sequence < seen + static_cast<uint64_t>(count))) {
    demo::ProcessEventsFor(50ms);
  }
  return filter.ShownMap();
}

// The plain map and each step after matching added in turn, side by side.
std::vector<std::string> CompareStages(TDisparityFilter& filter, TFoDisparitySetup& dialog,
                                       const cv::Mat& truth) {
  const std::vector<StageRow> rows{{"plain semi-global", {}},
                                   {"+ left-right check", {"ChLeftRight"}},
                                   {"+ texture threshold", {"ChTexture"}},
                                   {"+ smoothing over maps", {"ChTemporal"}},
                                   {"+ filling along edges", {"ChFill"}},
                                   {"+ near/far range", {"ChRange"}}};
  std::vector<std::string> lines{FormatLine("%-24s %9s %9s %8s %7s %9s %9s", "map", "bad-2.0", "bad all",
                                            "density", "maps/s", "match ms", "after ms")};
  for (const StageRow& row : rows) {
    for (const char* name : row.switches) dialog.findChild<QCheckBox*>(name)->setChecked(true);
    // The first maps after a change may come from pairs taken before it.
    const auto map =
        FreshMaps(filter, filter.Settings.Post.Temporal ? filter.Settings.Post.TemporalMaps + 2 : 3);
    if (map == nullptr || map->Snapshot.Disparity16.empty() || !(map->Settings == filter.Settings)) {
      lines.push_back(FormatLine("%-24s no map", row.name));
      continue;
    }
    const auto figures = depth_figures::CompareWithTruth(map->Snapshot.Disparity16, truth, map->Settings);
    lines.push_back(FormatLine("%-24s %7.2f %% %7.2f %% %6.1f %% %7.1f %9.1f %9.1f", row.name,
                               100 * figures.Bad2, 100 * figures.Bad2All, 100 * figures.ValidShare,
                               map->MapsPerSecond, map->Matcher_ms, map->Post_ms));
  }
  return lines;
}

// The number after "Distance " in the measure line; NaN without one.
double ClickedDistance() {
  const QString text = Form2->LaMeasure->text();
  const int at = text.indexOf("Distance ");
  return at < 0 ? std::nan("") : text.mid(at + 9).section(' ', 0, 0).toDouble();
}

int RunDepth(const std::string& out_dir, const std::vector<std::string>&) {
  Rig rig;
  if (!ReadTruth(rig, out_dir + "/rig.yml")) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  TForm1& form = *Form1;
  rig.sim.SetSceneTime(0);
  if (!rig_operator::SetUpBothCameras(form)) return 1;
  form.ChTrigger->setChecked(true);
  TFoDistortSetup* distort = CalibratePair(rig, out_dir);
  if (distort == nullptr) {
    demo::Say("The stereo calibration failed");
    return 1;
  }
  demo::Say("Stereo calibration done, both images rectified");

  rig_operator::DropPanel(form, form.PaDepth);
  rig_operator::DoubleClickEntry(form, 1);
  TDisparityFilter* filter = rig_operator::DisparityFilterAt(form, 1);
  auto* dialog = filter != nullptr ? dynamic_cast<TFoDisparitySetup*>(filter->Setup) : nullptr;
  if (dialog == nullptr) return 1;
  dialog->CoMatcher->setCurrentIndex(static_cast<int>(TMatcherKind::SemiGlobal));
  dialog->findChild<QSpinBox*>("SeNumDisparities")->setValue(64);
  rig.sim.SetSceneTime(kDepthPose);
  Form2->FullSize1Click();
  demo::ProcessEventsFor(3s);
  filter->WaitForMatcher(5s);
  demo::ProcessEventsFor(300ms);
  const std::shared_ptr<const TDisparityResult> map = filter->ShownMap();
  if (map == nullptr || map->Snapshot.Disparity16.empty()) {
    demo::Say("No disparity map was made");
    return 1;
  }
  const TDepthSnapshot& snapshot = map->Snapshot;
  const std::vector<cv::Point2f> corners = depth_figures::BoardCorners(snapshot.Left, {8, 6});
  if (corners.empty()) {
    demo::Say("The board is not found in the rectified left image");
    return 1;
  }
  // Two corners across the board's diagonal.
  ClickPixel(corners.front());
  ClickPixel(corners.back());
  const double clicked = ClickedDistance();
  const double true_distance = rig.square_mm * std::hypot(7.0, 5.0);
  demo::SaveWidget(Form2, out_dir + "/display.png");
  dialog->SaveDepthTo(out_dir + "/depth");

  std::vector<std::string> lines;
  const cv::Mat truth_depth = rig.sim.DepthTruth(1, {kWidth, kHeight});
  const cv::Mat truth_disparity = rig.sim.DisparityTruth(*snapshot.Calibration);
  if (!truth_depth.empty()) {
    cv::Mat depth16;
    truth_depth.convertTo(depth16, CV_16U);
    cv::imwrite(out_dir + "/truth_depth.png", depth16);
  }
  if (!truth_disparity.empty()) {
    const depth_figures::MapFigures figures =
        depth_figures::CompareWithTruth(snapshot.Disparity16, truth_disparity, map->Settings);
    lines.push_back(
        FormatLine("bad-2.0 %.2f %% of %d pixels with a truth", 100 * figures.Bad2, figures.PixelsWithTruth));
    lines.push_back(FormatLine("valid share %.1f %% (filter: %.1f %% of the matchable area)",
                               100 * figures.ValidShare, 100 * map->ValidShare));
  }
  lines.push_back(FormatLine("maps per second %.1f, matcher %.1f ms", map->MapsPerSecond, map->Matcher_ms));
  lines.push_back(FormatLine("clicked distance %.1f mm, true %.1f mm, off %.2f %%", clicked, true_distance,
                             100 * std::abs(clicked - true_distance) / true_distance));
  // The clicked corners' depths beside the truth.
  std::vector<TProbe> probes;
  for (const cv::Point2f& clicked_corner : {corners.front(), corners.back()}) {
    probes.push_back(ProbeAt(snapshot, cv::Point(clicked_corner)));
    const TProbe& probe = probes.back();
    const auto depth =
        probe.Point && !truth_depth.empty()
            ? depth_figures::TrueDepthOf(*probe.Point, truth_depth, rig.k1, rig.d1, snapshot.Calibration->R1)
            : std::nullopt;
    if (!depth) continue;
    lines.push_back(FormatLine("corner (%.1f, %.1f) depth %.1f mm, true %.1f mm, off %.2f %%",
                               clicked_corner.x, clicked_corner.y, (*probe.Point)[2], *depth,
                               100 * std::abs((*probe.Point)[2] - *depth) / *depth));
  }
  const TProbe& corner = probes.front();
  const auto cloud = depth_figures::ReadPly(out_dir + "/depth.ply");
  const TProbe across = ProbeAt(snapshot, cv::Point(corners[7])),
               down = ProbeAt(snapshot, cv::Point(corners[40]));
  if (cloud && corner.Point && across.Point && down.Point) {
    const auto board = depth_figures::BoardPoints(*cloud, *corner.Point, *across.Point - *corner.Point,
                                                  *down.Point - *corner.Point);
    const double rms = depth_figures::PlaneRms(board);
    lines.push_back(FormatLine("board plane RMS %.2f mm over %zu points, %.3f %% of its distance %.0f mm",
                               rms, board.size(), 100 * rms / (*corner.Point)[2], (*corner.Point)[2]));
  }
  if (!truth_disparity.empty()) {
    const std::vector<std::string> stages = CompareStages(*filter, *dialog, truth_disparity);
    lines.insert(lines.end(), stages.begin(), stages.end());
  }
  // A rectangle on the plain wall beside the board, its true depth typed.
  const cv::Rect wall(520, 180, 60, 60);
  const std::shared_ptr<const TDisparityResult> filtered = filter->ShownMap();
  if (filtered && !truth_depth.empty()) {
    const TProbe centre = ProbeAt(filtered->Snapshot, (wall.tl() + wall.br()) / 2);
    const auto depth = centre.Point ? depth_figures::TrueDepthOf(*centre.Point, truth_depth, rig.k1, rig.d1,
                                                                 filtered->Snapshot.Calibration->R1)
                                    : std::nullopt;
    if (depth) dialog->findChild<QDoubleSpinBox*>("SeTrueDistance")->setValue(*depth);
  }
  DragPixels(wall.tl(), wall.br());
  lines.push_back("quality readout: " + Form2->LaQuality->text().toStdString());
  demo::SaveWidget(Form2, out_dir + "/depth_filtered.png");
  dialog->SaveDepthTo(out_dir + "/depth_filtered");
  QString log = distort->Memo1->toPlainText() + "\n" + dialog->Memo1->toPlainText() + "\n";
  for (const std::string& line : lines) log += QString::fromStdString(line) + "\n";
  demo::WriteText(out_dir + "/log.txt", log.toStdString());
  demo::Say(log);
  form.ChTrigger->setChecked(false);
  return std::isfinite(clicked) ? 0 : 1;
}

const demo::Registration registration("depth", &RunDepth, &demo::PrepareStillScene);

}  // namespace
