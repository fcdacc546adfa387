#pragma once

// The OpenCV matrix glue: headers over the workbench's own float buffers and
// bounds-checked element access.

#include <opencv2/core/types_c.h>

#include <stdexcept>

namespace ocv {

// Raised on an index outside a matrix; the message names this module.
class AssertionFailure : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

inline CvSize cvSize(int width, int height) { return CvSize{width, height}; }
inline CvPoint3D32f cvPoint3D32f(float x, float y, float z) { return CvPoint3D32f{x, y, z}; }
inline CvScalar cvScalarAll(double value) { return CvScalar{{value, value, value, value}}; }

constexpr int CV_MAT_CN(int type) { return ((type & 24) >> 3) + 1; }
constexpr int CV_MAT_DEPTH(int type) { return type & 7; }
constexpr int CV_ELEM_SIZE(int type) { return CV_MAT_CN(type) << ((0xBA50 >> (2 * CV_MAT_DEPTH(type))) & 3); }

// A header on the heap over the caller's buffer, which it does not own.
// Free it with ReleaseMat.
CvMat* cvMat(int rows, int cols, int type, void* data);
void ReleaseMat(CvMat** mat);

double cvmGet(const CvMat* mat, int row, int col);
void cvmSet(CvMat* mat, int row, int col, double value);

}  // namespace ocv
