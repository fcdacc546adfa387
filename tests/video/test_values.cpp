// The value conversions of the device kinds.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Video/vidclass/vidclass_values.h"

namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(127.5), 128);
  EXPECT_EQ(RoundHalfEven(128.5), 128);
  EXPECT_EQ(RoundHalfEven(255.5), 256);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
}

TEST(RoundHalfEven, OtherValuesGoToTheNearest) {
  EXPECT_EQ(RoundHalfEven(76.4), 76);
  EXPECT_EQ(RoundHalfEven(76.6), 77);
  EXPECT_EQ(RoundHalfEven(511.0), 511);
}

TEST(RoundHalfEven, ValuesOutsideTheIntegerRangeAreClamped) {
  EXPECT_EQ(RoundHalfEven(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundHalfEven(-1e12), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
}

TEST(HexAddress, EightUpperCaseDigitsOfTheLowWord) {
  EXPECT_EQ(HexAddress(nullptr), "00000000");
  EXPECT_EQ(HexAddress(reinterpret_cast<void*>(uintptr_t{0x1A2B0000})), "1A2B0000");
  EXPECT_EQ(HexAddress(reinterpret_cast<void*>(uintptr_t{0xab})), "000000AB");
  if constexpr (sizeof(uintptr_t) > 4) {
    EXPECT_EQ(HexAddress(reinterpret_cast<void*>(uintptr_t{0x7F12DEADBEEF})), "DEADBEEF");
  }
}

TEST(FrameRateRange, ComesFromTheFrameTimeRange) {
  const ValueRange range = FrameRateRangeFromFrameTimes(0.01, 0.5, 0.001);
  EXPECT_DOUBLE_EQ(range.Minimum, 2.0);
  EXPECT_DOUBLE_EQ(range.Maximum, 100.0);
  EXPECT_DOUBLE_EQ(range.Increment, 0.001);
}

TEST(FrameRateRange, ZeroFrameTimesGiveRateZero) {
  const ValueRange range = FrameRateRangeFromFrameTimes(0.0, 0.0, 0.0);
  EXPECT_EQ(range.Minimum, 0.0);
  EXPECT_EQ(range.Maximum, 0.0);
}

TEST(FrameHeader, HeadersCarryNoPixelsAndNoOwner) {
  for (int channels : {1, 3, 4}) {
    IplImage* header = CreateFrameHeader(641, 480, channels);
    ASSERT_NE(header, nullptr) << channels;
    EXPECT_EQ(header->nChannels, channels);
    EXPECT_EQ(header->depth, IPL_DEPTH_8U);
    EXPECT_EQ(header->imageData, nullptr);
    EXPECT_EQ(header->imageId, nullptr);
    EXPECT_EQ(header->widthStep % 4, 0);
    EXPECT_GE(header->widthStep, 641 * channels);
    ReleaseImage(&header);
  }
  EXPECT_EQ(CreateFrameHeader(640, 480, 2), nullptr);
}

TEST(FrameHeader, ColourModelsNameThePixelOrder) {
  IplImage* grey = CreateFrameHeader(8, 8, 1);
  IplImage* colour = CreateFrameHeader(8, 8, 3);
  IplImage* withAlpha = CreateFrameHeader(8, 8, 4);
  EXPECT_EQ(std::string(grey->channelSeq, 4), "GRAY");
  EXPECT_EQ(std::string(colour->colorModel, 3), "RGB");
  EXPECT_EQ(std::string(colour->channelSeq, 3), "BGR");
  EXPECT_EQ(std::string(withAlpha->channelSeq, 4), "BGRA");
  ReleaseImage(&grey);
  ReleaseImage(&colour);
  ReleaseImage(&withAlpha);
}

}  // namespace
