#pragma once

// How a disparity map is shown: one fixed colour range from the minimum
// disparity to minimum + number, near warm, far cool, no match black, with a
// legend of what the colours mean.

#include <opencv2/core.hpp>

#include "depth/disparity_matcher.h"
#include "filters/stereo_calibration.h"

// A CV_16S map in sixteenths into a BGR image of its size. Pixels marked in
// `filled` (CV_8U, may be empty) are drawn paler, or black when the settings
// hide filled pixels.
void ColouriseDisparity(const cv::Mat& disparity16, const TDisparitySettings& settings, cv::Mat& bgr,
                        const cv::Mat& filled = cv::Mat());

// A colour halfway to white: how a filled pixel is shown.
cv::Vec3b Paler(const cv::Vec3b& colour);

// A strip along the image's bottom: the colour scale with the distance of
// each mark (mm with a calibration) or, without one, the disparities and a
// note that the pair is taken as rectified.
void DrawLegend(cv::Mat& bgr, const TDisparitySettings& settings, const TStereoCalibration* calibration);
