#include <gtest/gtest.h>

#include <array>

#include "Video/vidclass/ocv.h"

TEST(OcvMatrix, HeaderOverCallerBuffer) {
  std::array<float, 960 * 2> points{};
  CvMat* row = ocv::cvMat(1, 960, CV_32FC2, points.data());
  EXPECT_EQ(row->step, 0);
  EXPECT_EQ(row->type, 0x42420000 | 0x4000 | 13);
  EXPECT_EQ(row->data.fl, points.data());
  EXPECT_EQ(row->refcount, nullptr);
  ocv::ReleaseMat(&row);
  EXPECT_EQ(row, nullptr);

  std::array<float, 9> camera{};
  CvMat* square = ocv::cvMat(3, 3, CV_32FC1, camera.data());
  EXPECT_EQ(square->step, 12);
  ocv::cvmSet(square, 2, 1, 4.25);
  EXPECT_FLOAT_EQ(camera[2 * 3 + 1], 4.25f);
  EXPECT_DOUBLE_EQ(ocv::cvmGet(square, 2, 1), 4.25);
  ocv::ReleaseMat(&square);
}

TEST(OcvMatrix, ElementSizesFollowTheType) {
  EXPECT_EQ(CV_ELEM_SIZE(CV_32FC1), 4);
  EXPECT_EQ(CV_ELEM_SIZE(CV_32FC2), 8);
  EXPECT_EQ(CV_ELEM_SIZE(CV_32FC3), 12);
  EXPECT_EQ(CV_MAT_CN(CV_32FC3), 3);
  EXPECT_EQ(CV_MAT_DEPTH(CV_32SC1), CV_32S);
}

TEST(OcvMatrixBadIndex, OutsideTheMatrixFailsNamingTheModule) {
  std::array<float, 9> values{};
  CvMat* mat = ocv::cvMat(3, 3, CV_32FC1, values.data());
  for (auto [row, col] : {std::pair{3, 0}, std::pair{-1, 0}, std::pair{0, 3}, std::pair{0, -1}}) {
    try {
      ocv::cvmGet(mat, row, col);
      ADD_FAILURE() << "cvmGet(" << row << ", " << col << ") did not fail";
    } catch (const ocv::AssertionFailure& error) {
      EXPECT_NE(std::string(error.what()).find("ocv"), std::string::npos);
    }
    EXPECT_THROW(ocv::cvmSet(mat, row, col, 1.0), ocv::AssertionFailure);
  }
  EXPECT_THROW(ocv::cvmGet(nullptr, 0, 0), ocv::AssertionFailure);
  ocv::ReleaseMat(&mat);
}

TEST(OcvMatrix, IntegerMatricesReadZeroAndStoreNothing) {
  std::array<int32_t, 4> counts{7, 7, 7, 7};
  CvMat* mat = ocv::cvMat(1, 4, CV_32SC1, counts.data());
  EXPECT_EQ(ocv::cvmGet(mat, 0, 2), 0.0);
  ocv::cvmSet(mat, 0, 2, 99.0);
  EXPECT_EQ(counts[2], 7);
  ocv::ReleaseMat(&mat);
}
