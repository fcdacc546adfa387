#include "filters/undistort_cache.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

void TUndistortCache::Apply(const cv::Mat& src, cv::Mat& dst, const cv::Matx33f& camera,
                            const cv::Vec4f& distortion) {
  if (map_xy_.empty() || src.size() != size_ || camera != camera_ || distortion != distortion_) {
    Rebuild(src.size(), camera, distortion);
  }
  // Equal bands of rows, one a thread: remap's own split leaves one thread
  // with more rows than the other at these frame sizes.
  const int bands = std::max(1, cv::getNumThreads());
  cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
    for (int band = range.start; band < range.end; ++band) {
      const cv::Range rows(src.rows * band / bands, src.rows * (band + 1) / bands);
      cv::Mat target = dst.rowRange(rows);
      cv::remap(src, target, map_xy_.rowRange(rows), map_fraction_.rowRange(rows), cv::INTER_LINEAR,
                cv::BORDER_CONSTANT);
    }
  });
}

void TUndistortCache::Rebuild(cv::Size size, const cv::Matx33f& camera, const cv::Vec4f& distortion) {
  size_ = size;
  camera_ = camera;
  distortion_ = distortion;
  ++rebuilds_;
  map_xy_.create(size, CV_16SC2);
  map_fraction_.create(size, CV_16UC1);
  const cv::Matx33d model(camera);
  const cv::Mat_<double> coefficients = cv::Mat_<double>(cv::Vec4d(distortion));
  // Worked out in the same bands of rows, with the same shifted principal
  // point, as cv::undistort does, so the fixed-point positions and hence
  // the pixels are exactly its own.
  const int band = std::min(std::max(1, (1 << 12) / std::max(size.width, 1)), size.height);
  cv::Matx33d shifted = model;
  for (int y = 0; y < size.height; y += band) {
    const int rows = std::min(band, size.height - y);
    shifted(1, 2) = model(1, 2) - y;
    cv::Mat xy = map_xy_.rowRange(y, y + rows), fraction = map_fraction_.rowRange(y, y + rows);
    cv::initUndistortRectifyMap(model, coefficients, cv::noArray(), shifted, cv::Size(size.width, rows),
                                CV_16SC2, xy, fraction);
  }
}
