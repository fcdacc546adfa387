// "dataset": a recording made to be worked on later. The stereo calibration
// as in "depth" (textured scene, still board poses, square size set), 5 s of
// pairs written with "Write Pairs" and "FFV1" into OUT/run.avi (with its
// stamp file and the calibration beside it), the calibration saved in every
// format the distortion dialog offers into OUT/calibration/, then the
// program's own "stereo --depth" over the recording into OUT/depth/. log.txt
// holds the counts.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <filesystem>
#include <opencv2/core.hpp>

#include "app/Unit1.h"
#include "app/avifiles.h"
#include "app/dataset_export.h"
#include "app/pair_stamps.h"
#include "app/setdistort.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"

namespace {

using namespace std::chrono_literals;

const cv::Size kImageSize(640, 480);
constexpr int kViews = 18;
constexpr int kRecordSeconds = 5;

// The file names each format of "Save…" is told apart by, one folder each.
struct SavedFormat {
  const char* folder;
  const char* file;
};
constexpr SavedFormat kFormats[] = {{"workbench", "calibration.yml"},
                                    {"ros", "left.yaml"},
                                    {"kalibr", "camchain.yaml"},
                                    {"mrcal", "left.cameramodel"},
                                    {"opencv", "intrinsics.yml"}};

int FilesIn(const std::string& folder) {
  std::error_code error;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    files += entry.is_regular_file() ? 1 : 0;
  return files;
}

// "Stereo Calibrate" over still poses; the filter, or null.
TDistortFilter* CalibratePair(rig_operator::SimulatedRig& rig, double square_mm) {
  const auto [filter, dialog] = rig_operator::AddDistortionFilter(*Form1);
  if (dialog == nullptr) return nullptr;
  dialog->findChild<QCheckBox*>("ChSubPixel")->setChecked(true);
  dialog->findChild<QDoubleSpinBox*>("SeSquareSize")->setValue(square_mm);
  dialog->CoMode->setCurrentIndex(kSearchForCheckerboard);
  if (rig_operator::PushStillPoses(rig, *dialog, kViews) != kViews) return nullptr;
  dialog->findChild<QPushButton*>("BuCalib")->click();
  dialog->findChild<QPushButton*>("BuStereoCalib")->click();
  // Recorded as captured: the calibration goes with the files.
  dialog->CoMode->setCurrentIndex(kPassWithoutChange);
  return filter->StereoResult ? filter : nullptr;
}

// The board 1.2 m before the rig when the recording starts; the scene then
// moves on a tenth of a second every tenth.
constexpr double kRecordingPose = 1058.5;

// Records with "Write Pairs" while the scene moves.
bool Record(rig_operator::SimulatedRig& rig, const std::string& chosen) {
  Form1->EdFourcc->setText("FFV1");
  rig_operator::ClickWithPath(Form1->Button7, chosen);
  if (!Form1->ChWritePairs->isEnabled()) return false;
  Form1->ChWritePairs->setChecked(true);
  for (int tenth = 0; tenth < 10 * kRecordSeconds; ++tenth) {
    rig.SetSceneTime(kRecordingPose + tenth / 10.0);
    demo::ProcessEventsFor(100ms);
  }
  Form1->ChWritePairs->setChecked(false);
  Form1->BuCloseWriter->click();
  return true;
}

long FramesOf(const std::string& file) {
  TAviReader reader;
  if (!reader.Open(file)) return -1;
  long frames = 0;
  for (cv::Mat frame; reader.Next(frame) == TAviReader::Result::Frame;) ++frames;
  return frames;
}

// "stereo --depth" of the program beside the demo; its exit code.
int RunBatchDepth(const std::string& out_dir, std::string& output) {
  const QString program = QCoreApplication::applicationDirPath() + "/stereo";
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, {"--depth", QString::fromStdString(out_dir + "/runL.avi"), "--calibration",
                          QString::fromStdString(out_dir + "/run.yml"), "--out",
                          QString::fromStdString(out_dir + "/depth")});
  if (!process.waitForStarted(10000)) {
    output = program.toStdString() + " does not start";
    return -1;
  }
  process.waitForFinished(-1);
  output = process.readAll().toStdString();
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int RunDataset(const std::string& out_dir, const std::vector<std::string>&) {
  rig_operator::SimulatedRig rig;
  if (!rig.Loaded() || !rig.WriteRigFile(out_dir + "/rig.yml", kImageSize.width, kImageSize.height)) {
    demo::Say("The simulated rig is not there (libuEye_api.so beside the program?)");
    return 1;
  }
  const double square_mm =
      static_cast<double>(cv::FileStorage(out_dir + "/rig.yml", cv::FileStorage::READ)["square_mm"]);
  rig.SetSceneTime(0);
  if (!rig_operator::SetUpBothCameras(*Form1)) return 1;
  Form1->tbPixelClock->setValue(40);
  Form1->tbFrameRate->setValue(100);
  Form1->ChTrigger->setChecked(true);
  TDistortFilter* filter = CalibratePair(rig, square_mm);
  if (filter == nullptr) {
    demo::Say("The stereo calibration failed");
    return 1;
  }
  demo::Say("Stereo calibration done; recording " + QString::number(kRecordSeconds) +
            " s with \"Write Pairs\"");
  if (!Record(rig, out_dir + "/run.avi")) {
    demo::Say("The recording did not open:\n" + Form1->MeLog->toPlainText());
    return 1;
  }
  Form1->ChTrigger->setChecked(false);

  std::vector<std::string> lines;
  const auto stamps = ReadStampFile(out_dir + "/run.csv");
  const long left = FramesOf(out_dir + "/runL.avi"), right = FramesOf(out_dir + "/runR.avi");
  lines.push_back(FormatLine("pairs written: %ld left, %ld right frames", left, right));
  lines.push_back(FormatLine("stamp lines: %zu, damaged %zu", stamps ? stamps->Pairs.size() : 0,
                             stamps ? stamps->DamagedLines.size() : 0));
  lines.push_back(std::string("calibration beside: ") +
                  (std::filesystem::exists(out_dir + "/run.yml") ? "run.yml" : "none"));

  for (const SavedFormat& format : kFormats) {
    const std::string folder = out_dir + "/calibration/" + format.folder;
    std::filesystem::create_directories(folder);
    const bool saved = filter->SaveCalibration(folder + "/" + format.file);
    lines.push_back(FormatLine("calibration %s: %s, %d files", format.folder, saved ? "saved" : "refused",
                               FilesIn(folder)));
  }

  // The recording as a dataset folder, both cameras of a pair under one time.
  TStereoCalibration calibration;
  const bool calibrated = Form1->CalibrationForExport(calibration);
  std::vector<std::string> export_lines;
  const bool exported = ExportRecording(out_dir + "/runL.avi", out_dir + "/euroc",
                                        calibrated ? &calibration : nullptr, export_lines);
  for (const std::string& line : export_lines) lines.push_back(line);
  lines.push_back(FormatLine("euroc export: %s, %d images of cam0, %d of cam1", exported ? "done" : "failed",
                             FilesIn(out_dir + "/euroc/mav0/cam0/data"),
                             FilesIn(out_dir + "/euroc/mav0/cam1/data")));

  std::string depth_output;
  const int depth_code = RunBatchDepth(out_dir, depth_output);
  demo::WriteText(out_dir + "/depth_log.txt", depth_output);
  lines.push_back(FormatLine("stereo --depth: exit code %d, %d files in depth/", depth_code,
                             FilesIn(out_dir + "/depth")));

  QString log = Form1->MeLog->toPlainText() + "\n";
  for (const std::string& line : lines) log += QString::fromStdString(line) + "\n";
  demo::WriteText(out_dir + "/log.txt", log.toStdString());
  demo::Say(log);
  const bool whole = stamps && left > 0 && left == right && static_cast<long>(stamps->Pairs.size()) == left;
  return whole && exported && depth_code == 0 ? 0 : 1;
}

// The textured scene, moved by the demo alone.
const demo::Registration registration("dataset", &RunDataset, &demo::PrepareStillScene);

}  // namespace
