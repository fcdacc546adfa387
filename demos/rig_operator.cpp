#include "demos/rig_operator.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <opencv2/calib3d.hpp>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/decimal_spin_edit.h"
#include "app/filter_list_box.h"
#include "app/setdistort.h"
#include "drivers/sim_driver_api.h"
#include "filters/disparity_filter.h"
#include "filters/stereo_calibration.h"
#include "filters/vidfilters_distort.h"
#include "platform/dynamic_library.h"

namespace rig_operator {

void ClickWithPath(QPushButton* button, const std::string& path) {
  // Runs inside the dialog's own event loop, once it is shown.
  QTimer::singleShot(0, button, [path] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->selectFile(QString::fromStdString(path));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  button->click();
}
namespace {

bool SelectDevice(QListWidget* list, int id) {
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->data(Qt::UserRole).toInt() == id) {
      list->setCurrentRow(row);
      return true;
    }
  }
  return false;
}

template <class Function>
Function Lookup(void* library, const char* name) {
  return library == nullptr ? nullptr : reinterpret_cast<Function>(platform::GetProcAddress(library, name));
}

}  // namespace

bool ProcessEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout.count()) return false;
    QTest::qWait(2);
  }
  return true;
}

void ProcessEventsFor(std::chrono::milliseconds duration) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < duration.count()) QTest::qWait(2);
}

bool SetUpBothCameras(TForm1& form, int first_id, int second_id) {
  if (!SelectDevice(form.ListBox1, first_id) || !SelectDevice(form.ListBox2, second_id)) {
    return false;
  }
  form.BuInitBoth->click();
  return form.Device1 && form.Device2;
}

void DropPanel(TForm1& form, QWidget* panel) {
  QMimeData data;
  data.setData(kPanelMimeType, panel->objectName().toUtf8());
  QWidget* target = form.StereoFIlterListBox->viewport();
  const QPointF centre = QRectF(target->rect()).center();
  QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
}

void DoubleClickEntry(TForm1& form, int row) {
  QListWidget* list = form.StereoFIlterListBox;
  const QPoint where = list->visualItemRect(list->item(row)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, where);
}

namespace {

template <class Filter>
Filter* FilterOfKindAt(TForm1& form, int row) {
  if (row < 0 || row >= static_cast<int>(form.FilterList.size())) return nullptr;
  return dynamic_cast<Filter*>(form.FilterList[row].Filter.get());
}

}  // namespace

TDistortFilter* DistortFilterAt(TForm1& form, int row) { return FilterOfKindAt<TDistortFilter>(form, row); }

TFoDistortSetup* DialogOf(TDistortFilter& filter) { return dynamic_cast<TFoDistortSetup*>(filter.Setup); }

DistortionSetup AddDistortionFilter(TForm1& form) {
  DropPanel(form, form.PaDistort);
  const int row = form.StereoFIlterListBox->count() - 1;
  DoubleClickEntry(form, row);
  TDistortFilter* filter = DistortFilterAt(form, row);
  TFoDistortSetup* dialog = filter != nullptr ? DialogOf(*filter) : nullptr;
  if (dialog == nullptr) return {};
  return {filter, dialog};
}

bool WaitForBoardSearch(TFoDistortSetup& dialog, std::chrono::milliseconds timeout) {
  dialog.StatusBar1->clearMessage();
  const bool searched =
      ProcessEventsUntil([&] { return !dialog.StatusBar1->currentMessage().isEmpty(); }, timeout);
  return searched && dialog.StatusBar1->currentMessage().startsWith("Found 48 48");
}

int PushStillPoses(SimulatedRig& rig, TFoDistortSetup& dialog, int views) {
  return PushStillPoses([&rig](double seconds) { rig.SetSceneTime(seconds); }, dialog, views);
}

int PushStillPoses(const std::function<void(double)>& hold, TFoDistortSetup& dialog, int views) {
  int pushed = 0;
  for (int pose = 0; pushed < views && pose < 3 * views; ++pose) {
    hold(pose * 1.37);
    // The first search may still see a frame triggered before the move.
    WaitForBoardSearch(dialog, std::chrono::seconds(5));
    if (!WaitForBoardSearch(dialog, std::chrono::seconds(5))) continue;
    dialog.findChild<QPushButton*>("BuPush")->click();
    ++pushed;
  }
  return pushed;
}

double HoldPosesUntil(const SimulatedRig& rig, double every_s, std::chrono::milliseconds hold,
                      const std::function<bool()>& done, double last_s) {
  for (int pose = 0; pose * every_s < last_s; ++pose) {
    const double scene_s = pose * every_s;
    rig.SetSceneTime(scene_s);
    if (ProcessEventsUntil(done, hold)) return scene_s;
  }
  return -1;
}

TDisparityFilter* DisparityFilterAt(TForm1& form, int row) {
  return FilterOfKindAt<TDisparityFilter>(form, row);
}

std::string FieldTexts(const TFoDistortSetup& dialog) {
  std::string text;
  for (int index = 0; index < kDistortFieldCount; ++index) {
    const TDecimalSpinEdit* field = dialog.Field(static_cast<TDistortField>(index));
    text += field->objectName().toStdString() + "=" + field->text().toStdString() + "\n";
  }
  return text;
}

SimulatedRig::SimulatedRig() : library_(platform::LoadLibrary("libuEye_api.so")) {}

SimulatedRig::~SimulatedRig() {
  if (library_ != nullptr) platform::FreeLibrary(library_);
}

void SimulatedRig::SetSceneTime(double seconds) const {
  if (auto set = Lookup<decltype(&stereo_sim_SetSceneTime)>(library_, "stereo_sim_SetSceneTime"))
    set(seconds);
}

TStereoCalibration SimulatedRig::TrueCalibration(cv::Size size) const {
  TStereoCalibration c;
  c.ImageSize = size;
  auto model = Lookup<decltype(&stereo_sim_GetCameraModel)>(library_, "stereo_sim_GetCameraModel");
  auto board = Lookup<decltype(&stereo_sim_GetBoard)>(library_, "stereo_sim_GetBoard");
  StereoSimCameraModel left{}, right{};
  StereoSimBoard target{};
  if (model == nullptr || board == nullptr || model(1, size.width, size.height, &left) != 0 ||
      model(2, size.width, size.height, &right) != 0 || board(&target) != 0) {
    return c;
  }
  c.BoardSize = {target.inner_columns, target.inner_rows};
  c.SquareSize_mm = target.square_mm;
  c.K1 = cv::Matx33d(left.fx, 0, left.cx, 0, left.fy, left.cy, 0, 0, 1);
  c.K2 = cv::Matx33d(right.fx, 0, right.cx, 0, right.fy, right.cy, 0, 0, 1);
  c.D1 = cv::Vec4d(left.k1, left.k2, left.p1, left.p2);
  c.D2 = cv::Vec4d(right.k1, right.k2, right.p1, right.p2);
  cv::Rodrigues(cv::Vec3d(right.rotation), c.R);
  c.T = cv::Vec3d(right.translation);
  cv::stereoRectify(c.K1, c.D1, c.K2, c.D2, size, c.R, c.T, c.R1, c.R2, c.P1, c.P2, c.Q);
  return c;
}

cv::Mat SimulatedRig::DepthTruth(int camera, cv::Size size) const {
  using Query = int32_t (*)(uint32_t, int32_t, int32_t, float*);
  auto query = Lookup<Query>(library_, "stereo_sim_GetDepthTruth");
  cv::Mat depth(size, CV_32F);
  if (query == nullptr ||
      query(static_cast<uint32_t>(camera), size.width, size.height, depth.ptr<float>()) != 0)
    return {};
  return depth;
}

cv::Mat SimulatedRig::DisparityTruth(const TStereoCalibration& c) const {
  using Query = int32_t (*)(int32_t, int32_t, const double*, const double*, const double*, const double*,
                            const double*, const double*, const double*, const double*, float*);
  auto query = Lookup<Query>(library_, "stereo_sim_GetRectifiedDisparityTruth");
  cv::Mat disparity(c.ImageSize, CV_32F);
  if (query == nullptr || query(c.ImageSize.width, c.ImageSize.height, c.K1.val, c.D1.val, c.R1.val, c.P1.val,
                                c.K2.val, c.D2.val, c.R2.val, c.P2.val, disparity.ptr<float>()) != 0)
    return {};
  return disparity;
}

bool SimulatedRig::WriteRigFile(const std::string& path, int width, int height) const {
  auto write = Lookup<decltype(&stereo_sim_WriteRigFile)>(library_, "stereo_sim_WriteRigFile");
  return write != nullptr && write(path.c_str(), width, height) == 0;
}

}  // namespace rig_operator
