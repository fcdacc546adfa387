#include "Video/vidclass/ocv.h"

#include <string>

namespace ocv {
namespace {

constexpr int kMatSignature = 0x42420000;
constexpr int kContinuousFlag = 0x4000;

void CheckIndex(const char* operation, const CvMat* mat, int row, int col) {
  if (mat == nullptr || static_cast<unsigned>(row) >= static_cast<unsigned>(mat->rows) ||
      static_cast<unsigned>(col) >= static_cast<unsigned>(mat->cols))
    throw AssertionFailure(std::string("Assertion failed in module ocv: ") + operation + "(" +
                           std::to_string(row) + ", " + std::to_string(col) + ") outside the matrix");
}

float* Element(const CvMat* mat, int row, int col) {
  return reinterpret_cast<float*>(mat->data.ptr + static_cast<std::ptrdiff_t>(mat->step) * row) + col;
}

}  // namespace

CvMat* cvMat(int rows, int cols, int type, void* data) {
  auto* mat = new CvMat{};
  mat->type = kMatSignature | kContinuousFlag | type;
  mat->rows = rows;
  mat->cols = cols;
  mat->step = rows > 1 ? cols * CV_ELEM_SIZE(type) : 0;
  mat->data.ptr = static_cast<uchar*>(data);
  mat->refcount = nullptr;
  return mat;
}

void ReleaseMat(CvMat** mat) {
  if (mat == nullptr) return;
  delete *mat;
  *mat = nullptr;
}

double cvmGet(const CvMat* mat, int row, int col) {
  CheckIndex("cvmGet", mat, row, col);
  if (CV_MAT_DEPTH(mat->type) != CV_32F || CV_MAT_CN(mat->type) != 1) return 0.0;
  return *Element(mat, row, col);
}

void cvmSet(CvMat* mat, int row, int col, double value) {
  CheckIndex("cvmSet", mat, row, col);
  if (CV_MAT_DEPTH(mat->type) != CV_32F || CV_MAT_CN(mat->type) != 1) return;
  *Element(mat, row, col) = static_cast<float>(value);
}

}  // namespace ocv
