#pragma once

// The lens stage of the chain: undistorts both cameras' images and, in its
// main mode, warps the right image so that its rows line up with the left
// one. It owns its set-up dialog and the chessboard calibration.

#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "filters/filter_setup.h"
#include "filters/stereo_calibration.h"
#include "filters/stereo_rectifier.h"
#include "filters/ucalibfilter.h"
#include "filters/undistort_cache.h"
#include "filters/vidfilters.h"
#include "filters/views_loader.h"

// The dialog's mode list, by item index.
enum TDistortMode {
  kPassWithoutChange = 0,
  kCalibrateAndRectify = 1,
  kCalibrateOnly = 2,
  kShowDistortionMap = 3,
  kSearchForCheckerboard = 4,
  // Both images undistorted and rectified with the stereo calibration in
  // force, so that rows line up.
  kRectifyBoth = 5,
};

class TDistortFilter : public TVidFilter {
 public:
  explicit TDistortFilter(CreateKey key);
  ~TDistortFilter() override;

  ImagePair ProcessPair(const ImagePair& input) override;
  void AllocateOutputs() override;
  // Shows the dialog, modeless.
  void ShowSetup() override;
  // Rebuilds the maps of the map display from the current camera models.
  virtual void InitUndistortMaps();

  // Every setter writes its value back into its dialog field, then stores
  // it: distortion coefficients as field / 10000, the rest as they are.
  void SetField(TDistortField field, float value);
  // The stored value in the field's units.
  float FieldValue(TDistortField field) const;
  void SetLeftK1(float value) { SetField(TDistortField::Lk1, value); }
  void SetLeftK2(float value) { SetField(TDistortField::Lk2, value); }
  void SetLeftP1(float value) { SetField(TDistortField::Lp1, value); }
  void SetLeftP2(float value) { SetField(TDistortField::Lp2, value); }
  void SetLeftFx(float value) { SetField(TDistortField::Lfx, value); }
  void SetLeftFy(float value) { SetField(TDistortField::Lfy, value); }
  void SetLeftCx(float value) { SetField(TDistortField::Lcx, value); }
  void SetLeftCy(float value) { SetField(TDistortField::Lcy, value); }
  void SetRightK1(float value) { SetField(TDistortField::Rk1, value); }
  void SetRightK2(float value) { SetField(TDistortField::Rk2, value); }
  void SetRightP1(float value) { SetField(TDistortField::Rp1, value); }
  void SetRightP2(float value) { SetField(TDistortField::Rp2, value); }
  void SetRightFx(float value) { SetField(TDistortField::Rfx, value); }
  void SetRightFy(float value) { SetField(TDistortField::Rfy, value); }
  void SetRightCx(float value) { SetField(TDistortField::Rcx, value); }
  void SetRightCy(float value) { SetField(TDistortField::Rcy, value); }
  // Element (row, column) of Warp.
  void SetF(int row, int column, float value);
  float GetF(int row, int column) const { return Warp(row, column); }
  void SetMode(int mode);

  void PushView();
  void Calibrate() { Calibration.CalibrateCameras(); }
  void Stereo() { Calibration.FindFundamental(); }
  // The left camera's calibration result becomes the left camera model.
  void TakeCalibration();
  // Writes the left camera model and Warp into the dialog.
  void RefreshSetup();

  // The board's inner corners across and down; another size drops the views.
  void SetBoardSize(int width, int height);
  void SetSubPixel(bool on);
  void SetAutoPush(bool on) { Calibration.AutoPush = on; }
  void DropWorstView();
  // The views' image pairs and board settings to a folder; false when
  // refused (a line in the log).
  bool SaveViews(const std::string& folder);
  // Starts loading a views folder off the window's thread; false (with a
  // line) when it is refused at once or a load still runs.
  bool LoadViews(const std::string& folder);
  // Passes the load's lines and progress on and, once it is finished, puts
  // the views found in force (none found: the views held stay). True while
  // the load still runs.
  bool LoadViewsStep();
  bool LoadingViews() const { return views_loader_ != nullptr; }
  // Side of the board's squares in mm; calibrations made from now on give
  // their lengths in mm. A size outside 0 ... 1000 mm is refused.
  void SetSquareSize(double mm);
  // Calibrates the pair together, reports its figures and takes over both
  // camera models and the warp that lines up the rows.
  void StereoCalibrate();
  // The camera models and Warp in force, with the last stereo calibration,
  // to a calibration file and back; false when refused (a line in the log).
  // A file without a stereo calibration leaves none in force.
  bool SaveCalibration(const std::string& path);
  bool LoadCalibration(const std::string& path);

  cv::Matx33f CameraLeft = cv::Matx33f::eye();
  cv::Matx33f CameraRight = cv::Matx33f::eye();
  cv::Vec4f DistLeft = cv::Vec4f::all(0);
  cv::Vec4f DistRight = cv::Vec4f::all(0);
  // Maps output pixel positions of the right image to positions in its
  // undistorted image.
  cv::Matx33f Warp = cv::Matx33f::eye();
  // Source x and y of every output pixel, for the map display.
  IplImage* MapXLeft = nullptr;
  IplImage* MapYLeft = nullptr;
  IplImage* MapXRight = nullptr;
  IplImage* MapYRight = nullptr;
  // The undistorted right image before the warp.
  IplImage* Scratch = nullptr;
  int Mode = kPassWithoutChange;
  TCalibrationFilter Calibration;
  // The last stereo calibration, made or loaded; always a rectification.
  std::optional<TStereoCalibration> StereoResult;

 protected:
  void FinishCreate() override;

 private:
  struct Side;
  Side LeftSide();
  Side RightSide();
  float* FieldSlot(TDistortField field);
  IplImage* Undistort(const Side& side, IplImage* input, IplImage*& target);
  IplImage* Rectify(IplImage* input);
  IplImage* ShowMaps(const Side& side, IplImage* input);
  void SearchBoard(ImagePair& output);
  void ShowCoverage();
  void RectifyBoth(ImagePair& output);
  // Logs the reason once, until the mode changes or another reason comes.
  void LogRefusal(const std::string& why);
  void Log(const std::string& line);
  // Both camera models (fields of the dialog) from matrices and coefficients.
  void SetCameraModel(bool left, const cv::Matx33d& camera, const cv::Vec4d& distortion);
  void SetWarp(const cv::Matx33d& warp);

  void TakeLoadedViews(TCalibrationFilter& loaded);

  std::unique_ptr<TDistortSetupLink> dialog_;
  std::unique_ptr<TViewsLoader> views_loader_;
  // Image size named by the last calibration file loaded.
  cv::Size loaded_image_size_;
  TUndistortCache undistort_left_;
  TUndistortCache undistort_right_;
  TStereoRectifier rectifier_;
  std::string refusal_;
};
