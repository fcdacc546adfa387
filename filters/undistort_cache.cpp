#include "filters/undistort_cache.h"

#include <algorithm>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/parallel_loop.h"

bool TUndistortCache::Model::operator==(const Model& other) const {
  return camera == other.camera && distortion == other.distortion && rotation == other.rotation &&
         projection == other.projection && rectified == other.rectified;
}

void TUndistortCache::Apply(const cv::Mat& src, cv::Mat& dst, const cv::Matx33f& camera,
                            const cv::Vec4f& distortion) {
  const cv::Matx33d model(camera);
  Remap(src, dst, {model, cv::Vec4d(distortion), cv::Matx33d::eye(), model, false});
}

void TUndistortCache::ApplyRectified(const cv::Mat& src, cv::Mat& dst, const cv::Matx33d& camera,
                                     const cv::Vec4d& distortion, const cv::Matx33d& rotation,
                                     const cv::Matx33d& projection) {
  Remap(src, dst, {camera, distortion, rotation, projection, true});
}

void TUndistortCache::Remap(const cv::Mat& src, cv::Mat& dst, const Model& model) {
  dst.create(src.size(), src.type());
  if (src.empty()) return;
  if (map_xy_.empty() || src.size() != size_ || !(model == model_)) Rebuild(src.size(), model);
  // Equal bands of rows, one a thread: remap's own split leaves one thread
  // with more rows than the other at these frame sizes. Never more bands
  // than rows: an empty band is not a valid remap.
  const int bands = std::clamp(cv::getNumThreads(), 1, src.rows);
  parallel::ForEachPart(cv::Range(0, bands), [&](const cv::Range& range) {
    for (int band = range.start; band < range.end; ++band) {
      const cv::Range rows(src.rows * band / bands, src.rows * (band + 1) / bands);
      cv::Mat target = dst.rowRange(rows);
      cv::remap(src, target, map_xy_.rowRange(rows), map_fraction_.rowRange(rows), cv::INTER_LINEAR,
                cv::BORDER_CONSTANT);
    }
  });
}

void TUndistortCache::Rebuild(cv::Size size, const Model& model) {
  size_ = size;
  model_ = model;
  ++rebuilds_;
  map_xy_.create(size, CV_16SC2);
  map_fraction_.create(size, CV_16UC1);
  if (model.rectified) {
    cv::initUndistortRectifyMap(model.camera, model.distortion, model.rotation, model.projection, size,
                                CV_16SC2, map_xy_, map_fraction_);
    return;
  }
  BuildPlain(size);
}

void TUndistortCache::BuildPlain(cv::Size size) {
  const cv::Mat_<double> coefficients = cv::Mat_<double>(model_.distortion);
  // Worked out in the same bands of rows, with the same shifted principal
  // point, as cv::undistort does, so the fixed-point positions and hence
  // the pixels are exactly its own.
  const int band = std::min(std::max(1, (1 << 12) / std::max(size.width, 1)), size.height);
  cv::Matx33d shifted = model_.camera;
  for (int y = 0; y < size.height; y += band) {
    const int rows = std::min(band, size.height - y);
    shifted(1, 2) = model_.camera(1, 2) - y;
    cv::Mat xy = map_xy_.rowRange(y, y + rows), fraction = map_fraction_.rowRange(y, y + rows);
    cv::initUndistortRectifyMap(model_.camera, coefficients, cv::noArray(), shifted,
                                cv::Size(size.width, rows), CV_16SC2, xy, fraction);
  }
}
