#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <cstring>
#include <opencv2/core.hpp>
#include <vector>

#include "Video/vidclass/ipl.h"

namespace {

uint8_t Pixel(const IplImage* image, int x, int y, int channel = 0) {
  return reinterpret_cast<const uint8_t*>(
      image->imageData)[y * image->widthStep + x * image->nChannels + channel];
}

void SetPixel(IplImage* image, int x, int y, int channel, uint8_t value) {
  reinterpret_cast<uint8_t*>(image->imageData)[y * image->widthStep + x * image->nChannels + channel] = value;
}

bool AllBytes(const IplImage* image, uint8_t value) {
  for (int i = 0; i < image->imageSize; ++i)
    if (static_cast<uint8_t>(image->imageData[i]) != value) return false;
  return true;
}

}  // namespace

TEST(CreateImage, GreyAndColourHeadersFollowTheLayoutRules) {
  IplImage* grey = CreateImage(cvSize(641, 3), 1, IPL_DEPTH_8U, true);
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(std::string(grey->colorModel, 4), "GRAY");
  EXPECT_EQ(std::string(grey->channelSeq, 4), "GRAY");
  EXPECT_EQ(grey->widthStep, 644);
  EXPECT_EQ(grey->align, 4);
  EXPECT_EQ(grey->origin, 0);
  EXPECT_EQ(grey->dataOrder, 0);
  EXPECT_EQ(grey->imageId, grey->imageDataOrigin);
  EXPECT_TRUE(AllBytes(grey, 0));
  ReleaseImage(&grey);
  EXPECT_EQ(grey, nullptr);

  IplImage* colour = CreateImage(cvSize(5, 2), 3, IPL_DEPTH_8U, true);
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(std::string(colour->colorModel, 3), "RGB");
  EXPECT_EQ(std::string(colour->channelSeq, 3), "BGR");
  EXPECT_EQ(colour->widthStep, 16);
  ReleaseImage(&colour);
}

TEST(CreateImage, OnlyOneOrThreeChannels) {
  EXPECT_EQ(CreateImage(cvSize(8, 8), 2, IPL_DEPTH_8U, true), nullptr);
  EXPECT_EQ(CreateImage(cvSize(8, 8), 4, IPL_DEPTH_8U, true), nullptr);
}

TEST(CreateImage, FloatImagesStartAtZero) {
  IplImage* map = CreateImage(cvSize(7, 5), 1, IPL_DEPTH_32F, true);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->widthStep, 28);
  cv::Mat view = cv::cvarrToMat(map);
  EXPECT_EQ(view.type(), CV_32FC1);
  EXPECT_EQ(cv::countNonZero(view), 0);
  ReleaseImage(&map);
}

TEST(ReleaseImage, NothingHeldOrDeadHeaderIsLeftAlone) {
  IplImage* none = nullptr;
  ReleaseImage(&none);
  EXPECT_EQ(none, nullptr);
  ReleaseImage(nullptr);

  IplImage* dead = CreateImage(cvSize(4, 4), 1, IPL_DEPTH_8U, false);
  dead->nSize = 0;
  IplImage* kept = dead;
  ReleaseImage(&dead);
  EXPECT_EQ(dead, kept);  // untouched reference: nothing was freed
  kept->nSize = sizeof(IplImage);
  ReleaseImage(&kept);
}

TEST(ReleaseImage, HeaderOnlyLeavesForeignPixelsAlone) {
  std::vector<uint8_t> driver_memory(4 * 4, 77);
  IplImage* header = CreateImage(cvSize(4, 4), 1, IPL_DEPTH_8U, false);
  EXPECT_EQ(header->imageId, nullptr);
  header->imageData = reinterpret_cast<char*>(driver_memory.data());
  ReleaseImage(&header);
  EXPECT_EQ(header, nullptr);
  EXPECT_EQ(driver_memory[5], 77);  // and AddressSanitizer sees no foreign free
}

TEST(ReleaseImage, OwnBlockIsFreedEvenWhenPointedElsewhere) {
  std::vector<uint8_t> sample(16 * 2, 1);
  IplImage* image = CreateImage(cvSize(16, 2), 1, IPL_DEPTH_8U, true);
  image->imageData = reinterpret_cast<char*>(sample.data());
  image->imageDataOrigin = reinterpret_cast<char*>(sample.data());
  ReleaseImage(&image);  // a leak or a foreign free would fail under the sanitizers
  EXPECT_EQ(image, nullptr);
}

TEST(ReleaseImage, OpenCvMarkerGoesThroughOpenCv) {
  IplImage* image = cvCreateImage(cvSize(8, 8), IPL_DEPTH_8U, 1);
  image->imageId = kReleaseThroughOpenCv;
  ReleaseImage(&image);
  EXPECT_EQ(image, nullptr);
}

TEST(CloneImage, OwnsACopyOfThePixels) {
  IplImage* source = CreateImage(cvSize(3, 2), 3, IPL_DEPTH_8U, true);
  SetPixel(source, 2, 1, 2, 200);
  IplImage* clone = iplCloneImage(source);
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone->imageData, source->imageData);
  EXPECT_EQ(clone->imageId, clone->imageDataOrigin);
  EXPECT_EQ(Pixel(clone, 2, 1, 2), 200);
  SetPixel(source, 2, 1, 2, 10);
  EXPECT_EQ(Pixel(clone, 2, 1, 2), 200);
  ReleaseImage(&source);
  ReleaseImage(&clone);
}

TEST(ImageOperations, SetCopyAndSaturatingAdd) {
  IplImage* a = CreateImage(cvSize(5, 3), 1, IPL_DEPTH_8U, true);
  IplImage* b = CreateImage(cvSize(5, 3), 1, IPL_DEPTH_8U, true);
  iplSet(a, 200);
  iplCopy(a, b);
  EXPECT_EQ(Pixel(b, 4, 2), 200);
  iplAdd(a, b, b);
  EXPECT_EQ(Pixel(b, 0, 0), 255);
  iplSet(a, 20);
  iplAdd(a, a, b);
  EXPECT_EQ(Pixel(b, 3, 1), 40);
  ReleaseImage(&a);
  ReleaseImage(&b);
}

TEST(ImageOperations, ColourAndGreyConversions) {
  IplImage* colour = CreateImage(cvSize(2, 1), 3, IPL_DEPTH_8U, true);
  IplImage* grey = CreateImage(cvSize(2, 1), 1, IPL_DEPTH_8U, true);
  SetPixel(colour, 0, 0, 2, 255);  // pure red
  SetPixel(colour, 1, 0, 0, 255);  // pure blue
  SetPixel(colour, 1, 0, 1, 255);
  SetPixel(colour, 1, 0, 2, 255);  // white
  iplColorToGray(colour, grey);
  EXPECT_NEAR(Pixel(grey, 0, 0), 76, 2);
  EXPECT_EQ(Pixel(grey, 1, 0), 255);

  iplSet(grey, 100);
  iplGrayToColor(grey, colour, 1.0f, 0.5f, 0.0f);
  EXPECT_EQ(Pixel(colour, 0, 0, 2), 100);  // red
  EXPECT_EQ(Pixel(colour, 0, 0, 1), 50);   // green
  EXPECT_EQ(Pixel(colour, 0, 0, 0), 0);    // blue
  ReleaseImage(&colour);
  ReleaseImage(&grey);
}

TEST(ImageOperations, ScaleFloatRangeOntoBytes) {
  IplImage* map = CreateImage(cvSize(3, 1), 1, IPL_DEPTH_32F, true);
  IplImage* bytes = CreateImage(cvSize(3, 1), 1, IPL_DEPTH_8U, true);
  auto* values = reinterpret_cast<float*>(map->imageData);
  values[0] = 0.0f;
  values[1] = 320.0f;
  values[2] = 640.0f;
  iplScaleFP(map, bytes, 0.0f, 640.0f);
  EXPECT_EQ(Pixel(bytes, 0, 0), 0);
  EXPECT_NEAR(Pixel(bytes, 1, 0), 128, 1);
  EXPECT_EQ(Pixel(bytes, 2, 0), 255);
  ReleaseImage(&map);
  ReleaseImage(&bytes);
}

TEST(ImageOperationsBadArgs, MismatchedFormatsAreRefusedNotReallocated) {
  IplImage* small = CreateImage(cvSize(4, 4), 1, IPL_DEPTH_8U, true);
  IplImage* large = CreateImage(cvSize(8, 4), 1, IPL_DEPTH_8U, true);
  IplImage* colour = CreateImage(cvSize(4, 4), 3, IPL_DEPTH_8U, true);
  EXPECT_THROW(iplCopy(small, large), std::invalid_argument);
  EXPECT_THROW(iplAdd(small, small, large), std::invalid_argument);
  EXPECT_THROW(iplColorToGray(small, small), std::invalid_argument);
  EXPECT_THROW(iplColorToGray(colour, large), std::invalid_argument);
  EXPECT_THROW(iplGrayToColor(small, small, 1, 1, 1), std::invalid_argument);
  EXPECT_THROW(iplScaleFP(small, small, 0, 1), std::invalid_argument);
  ReleaseImage(&small);
  ReleaseImage(&large);
  ReleaseImage(&colour);
}
