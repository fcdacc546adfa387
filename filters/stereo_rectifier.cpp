#include "filters/stereo_rectifier.h"

#include "filters/ucalibfilter.h"

std::string RectificationProblem(const TStereoCalibration& calibration, const cv::Mat& left,
                                 const cv::Mat& right) {
  if (left.size() != right.size() || left.type() != right.type()) {
    return FormatLine("The pair's images differ (%d x %d with %d channels beside %d x %d with %d)", left.cols,
                      left.rows, left.channels(), right.cols, right.rows, right.channels());
  }
  if (calibration.ImageSize != left.size()) {
    return FormatLine("The calibration is of %d x %d images, the frames are %d x %d",
                      calibration.ImageSize.width, calibration.ImageSize.height, left.cols, left.rows);
  }
  return {};
}

bool SameRectification(const TStereoCalibration& a, const TStereoCalibration& b) {
  return a.ImageSize == b.ImageSize && a.SquareSize_mm == b.SquareSize_mm && a.K1 == b.K1 && a.D1 == b.D1 &&
         a.K2 == b.K2 && a.D2 == b.D2 && a.R == b.R && a.T == b.T && a.R1 == b.R1 && a.R2 == b.R2 &&
         a.P1 == b.P1 && a.P2 == b.P2 && a.Q == b.Q;
}

bool TStereoRectifier::Rectify(const TStereoCalibration& calibration, const cv::Mat& left,
                               const cv::Mat& right, cv::Mat& out_left, cv::Mat& out_right,
                               std::string& why) {
  why = RectificationProblem(calibration, left, right);
  if (!why.empty()) return false;
  const cv::Matx33d p1(calibration.P1.get_minor<3, 3>(0, 0)), p2(calibration.P2.get_minor<3, 3>(0, 0));
  left_.ApplyRectified(left, out_left, calibration.K1, calibration.D1, calibration.R1, p1);
  right_.ApplyRectified(right, out_right, calibration.K2, calibration.D2, calibration.R2, p2);
  if (!rectified_with_ || !SameRectification(*rectified_with_, calibration)) {
    rectified_with_ = std::make_shared<const TStereoCalibration>(calibration);
  }
  return true;
}
