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

// cvSize, cvPoint3D32f, cvScalarAll and the element-type macros CV_MAT_CN,
// CV_MAT_DEPTH and CV_ELEM_SIZE are OpenCV's own (types_c.h, cvdef.h).

// A header on the heap over the caller's buffer, which it does not own.
// Free it with ReleaseMat.
CvMat* cvMat(int rows, int cols, int type, void* data);
void ReleaseMat(CvMat** mat);

double cvmGet(const CvMat* mat, int row, int col);
void cvmSet(CvMat* mat, int row, int col, double value);

}  // namespace ocv
