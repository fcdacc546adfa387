#include "filters/formats/calibration_formats.h"

#include <filesystem>

#include "filters/formats/kalibr_camchain.h"
#include "filters/formats/mrcal_cameramodel.h"
#include "filters/formats/opencv_stereo_sample.h"
#include "filters/formats/ros_camera_info.h"

TCalibrationFormat FormatOfPath(const std::string& path) {
  const std::filesystem::path file(path);
  const std::string name = file.filename().string();
  if (name == "left.yaml" || name == "right.yaml") return TCalibrationFormat::RosCameraInfo;
  if (name == "camchain.yaml") return TCalibrationFormat::KalibrCamchain;
  if (file.extension() == ".cameramodel") return TCalibrationFormat::MrcalCameraModel;
  if (name == "intrinsics.yml" || name == "extrinsics.yml") return TCalibrationFormat::OpenCvStereoSample;
  return TCalibrationFormat::Workbench;
}

const char* FormatName(TCalibrationFormat format) {
  switch (format) {
    case TCalibrationFormat::RosCameraInfo:
      return "ROS camera_info";
    case TCalibrationFormat::KalibrCamchain:
      return "Kalibr camchain";
    case TCalibrationFormat::MrcalCameraModel:
      return "mrcal camera models";
    case TCalibrationFormat::OpenCvStereoSample:
      return "OpenCV stereo sample";
    default:
      return "calibration";
  }
}

bool WriteCalibrationAs(const std::string& path, const TStereoCalibration& c, std::string& why) {
  const TCalibrationFormat format = FormatOfPath(path);
  const bool sized =
      format == TCalibrationFormat::Workbench || format == TCalibrationFormat::OpenCvStereoSample;
  if (!sized && c.ImageSize.empty()) {
    why = std::string("Save: ") + FormatName(format) + " files need the image size; calibrate first";
    return false;
  }
  switch (format) {
    case TCalibrationFormat::RosCameraInfo:
      return formats::WriteRosCameraInfo(path, c, why);
    case TCalibrationFormat::KalibrCamchain:
      return formats::WriteKalibrCamchain(path, c, why);
    case TCalibrationFormat::MrcalCameraModel:
      return formats::WriteMrcalCameraModels(path, c, why);
    case TCalibrationFormat::OpenCvStereoSample:
      return formats::WriteOpenCvStereoSample(path, c, why);
    default:
      return WriteCalibrationFile(path, c, why);
  }
}

std::optional<TStereoCalibration> ReadCalibrationAs(const std::string& path, std::string& why) {
  const TCalibrationFormat format = FormatOfPath(path);
  std::optional<TStereoCalibration> c;
  switch (format) {
    case TCalibrationFormat::RosCameraInfo:
      c = formats::ReadRosCameraInfo(path, why);
      break;
    case TCalibrationFormat::KalibrCamchain:
      c = formats::ReadKalibrCamchain(path, why);
      break;
    case TCalibrationFormat::MrcalCameraModel:
      c = formats::ReadMrcalCameraModels(path, why);
      break;
    case TCalibrationFormat::OpenCvStereoSample:
      c = formats::ReadOpenCvStereoSample(path, why);
      break;
    default:
      return ReadCalibrationFile(path, why);
  }
  const std::string prefix = std::string("Load: ") + FormatName(format) + " ";
  if (!c) return why = prefix + why, std::nullopt;
  for (const auto& [name, k] : {std::pair{"left", &c->K1}, {"right", &c->K2}}) {
    if (const std::string refusal = CameraMatrixRefusal(*k); !refusal.empty()) {
      why = prefix + "refused: the " + name + " camera " + refusal;
      return std::nullopt;
    }
  }
  const bool sized = c->ImageSize.empty() ||
                     (c->ImageSize.width <= kLargestImageSide && c->ImageSize.height <= kLargestImageSide &&
                      c->ImageSize.width > 0 && c->ImageSize.height > 0);
  if (!sized) return why = prefix + "refused: the image size is out of bounds", std::nullopt;
  // A pair that is there but not one: no rotation, no baseline.
  const bool broken_pair = !PairRefusal(*c).empty() && c->T != cv::Vec3d();
  if (broken_pair) return why = prefix + "refused: " + PairRefusal(*c), std::nullopt;
  const bool broken_rectification =
      PairRefusal(*c).empty() && !c->ImageSize.empty() && !RectificationRefusal(*c).empty();
  if (broken_rectification) return why = prefix + "refused: " + RectificationRefusal(*c), std::nullopt;
  why.clear();
  return c;
}
