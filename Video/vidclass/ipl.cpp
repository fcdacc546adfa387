#include "Video/vidclass/ipl.h"

#include <opencv2/core/core_c.h>

#include <cstdlib>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

namespace {

constexpr int kPixelAlignment = 16;

int BytesPerSample(int depth) { return (depth & 255) / 8; }

int RowPitch(int width, int channels, int depth, int align) {
  const int row = width * channels * BytesPerSample(depth);
  const int step = align > 0 ? align : 4;
  return (row + step - 1) / step * step;
}

void CopyModel(char (&to)[4], const char* from) {
  std::memset(to, 0, sizeof to);
  if (from != nullptr) std::memcpy(to, from, strnlen(from, sizeof to));
}

void AllocatePixels(IplImage* image) {
  const std::size_t size = static_cast<std::size_t>(image->imageSize);
  const std::size_t rounded = (size + kPixelAlignment - 1) / kPixelAlignment * kPixelAlignment;
  char* pixels =
      static_cast<char*>(std::aligned_alloc(kPixelAlignment, rounded > 0 ? rounded : kPixelAlignment));
  if (pixels == nullptr) throw std::bad_alloc();
  image->imageData = pixels;
  image->imageDataOrigin = pixels;
}

bool SameFormat(const IplImage* a, const IplImage* b) {
  return a->width == b->width && a->height == b->height && a->nChannels == b->nChannels &&
         a->depth == b->depth;
}

void RequireSameFormat(const char* operation, const IplImage* a, const IplImage* b) {
  if (a == nullptr || b == nullptr) throw std::invalid_argument(std::string(operation) + ": no image");
  if (!SameFormat(a, b)) throw std::invalid_argument(std::string(operation) + ": images differ in format");
}

void RequireSize(const char* operation, const IplImage* a, const IplImage* b, int channels_b) {
  if (a == nullptr || b == nullptr) throw std::invalid_argument(std::string(operation) + ": no image");
  if (a->width != b->width || a->height != b->height || b->nChannels != channels_b ||
      b->depth != IPL_DEPTH_8U)
    throw std::invalid_argument(std::string(operation) + ": images differ in format");
}

// A matrix header over the image's pixels; never reallocated by OpenCV as
// long as callers write only through matching formats.
cv::Mat View(const IplImage* image) { return cv::cvarrToMat(image); }

}  // namespace

IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align, int width,
                               int height, IplROI* roi, IplImage* maskROI, void* imageId,
                               IplTileInfo* tileInfo) {
  auto* image = new IplImage{};
  image->nSize = sizeof(IplImage);
  image->nChannels = nChannels;
  image->alphaChannel = alphaChannel;
  image->depth = depth;
  CopyModel(image->colorModel, colorModel);
  CopyModel(image->channelSeq, channelSeq);
  image->dataOrder = dataOrder;
  image->origin = origin;
  image->align = align;
  image->width = width;
  image->height = height;
  image->roi = roi;
  image->maskROI = maskROI;
  image->imageId = imageId;
  image->tileInfo = tileInfo;
  image->widthStep = RowPitch(width, nChannels, depth, align);
  image->imageSize = image->widthStep * height;
  return image;
}

void iplAllocateImage(IplImage* image, int doFill, int fillValue) {
  AllocatePixels(image);
  if (doFill != 0) std::memset(image->imageData, fillValue & 255, static_cast<std::size_t>(image->imageSize));
}

void iplAllocateImageFP(IplImage* image, int doFill, float fillValue) {
  AllocatePixels(image);
  if (doFill == 0) return;
  // Padding bytes between rows are zeroed too, so no byte stays undefined.
  std::memset(image->imageData, 0, static_cast<std::size_t>(image->imageSize));
  if (fillValue != 0.0f) View(image).setTo(cv::Scalar::all(fillValue));
}

void iplDeallocate(IplImage* image, int flag) {
  if (image == nullptr) return;
  if ((flag & IPL_IMAGE_DATA) != 0) {
    std::free(image->imageDataOrigin);
    image->imageData = nullptr;
    image->imageDataOrigin = nullptr;
  }
  if ((flag & IPL_IMAGE_ROI) != 0) {
    delete image->roi;
    image->roi = nullptr;
  }
  if ((flag & IPL_IMAGE_HEADER) != 0) delete image;
}

IplImage* CreateImage(CvSize size, int channels, int depth, bool allocate) {
  IplImage* image;
  if (channels == 1) {
    image =
        iplCreateImageHeader(1, 0, depth, "GRAY", "GRAY", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL,
                             IPL_ALIGN_DWORD, size.width, size.height, nullptr, nullptr, nullptr, nullptr);
  } else if (channels == 3) {
    image =
        iplCreateImageHeader(3, 0, depth, "RGB", "BGR", IPL_DATA_ORDER_PIXEL, IPL_ORIGIN_TL, IPL_ALIGN_DWORD,
                             size.width, size.height, nullptr, nullptr, nullptr, nullptr);
  } else {
    return nullptr;
  }
  if (!allocate) {
    image->imageId = nullptr;
    return image;
  }
  if (depth > IPL_DEPTH_8U)
    iplAllocateImageFP(image, 1, 0.0f);
  else
    iplAllocateImage(image, 1, 0);
  image->imageId = image->imageDataOrigin;
  return image;
}

void ReleaseImage(IplImage** image) {
  if (image == nullptr || *image == nullptr || (*image)->nSize <= 0) return;
  IplImage* held = *image;
  if (held->imageId == nullptr) {
    iplDeallocate(held, IPL_IMAGE_HEADER);
  } else if (held->imageId == kReleaseThroughOpenCv) {
    cvReleaseImage(image);
  } else {
    // Someone may have pointed the header at foreign pixels; free our own.
    held->imageData = static_cast<char*>(held->imageId);
    held->imageDataOrigin = static_cast<char*>(held->imageId);
    iplDeallocate(held, IPL_IMAGE_ALL);
  }
  *image = nullptr;
}

IplImage* iplCloneImage(const IplImage* image) {
  if (image == nullptr) return nullptr;
  IplImage* clone =
      iplCreateImageHeader(image->nChannels, image->alphaChannel, image->depth, image->colorModel,
                           image->channelSeq, image->dataOrder, image->origin, image->align, image->width,
                           image->height, nullptr, nullptr, nullptr, nullptr);
  AllocatePixels(clone);
  clone->imageId = clone->imageDataOrigin;
  if (image->imageData != nullptr) {
    const std::size_t row = static_cast<std::size_t>(std::min(image->widthStep, clone->widthStep));
    for (int y = 0; y < image->height; ++y)
      std::memcpy(clone->imageData + static_cast<std::ptrdiff_t>(y) * clone->widthStep,
                  image->imageData + static_cast<std::ptrdiff_t>(y) * image->widthStep, row);
  } else {
    std::memset(clone->imageData, 0, static_cast<std::size_t>(clone->imageSize));
  }
  return clone;
}

void iplCopy(const IplImage* src, IplImage* dst) {
  RequireSameFormat("iplCopy", src, dst);
  cv::Mat target = View(dst);
  View(src).copyTo(target);
}

void iplSet(IplImage* image, int fillValue) {
  if (image == nullptr) throw std::invalid_argument("iplSet: no image");
  View(image).setTo(cv::Scalar::all(fillValue));
}

void iplColorToGray(const IplImage* src, IplImage* dst) {
  if (src == nullptr || src->nChannels != 3)
    throw std::invalid_argument("iplColorToGray: colour input expected");
  RequireSize("iplColorToGray", src, dst, 1);
  cv::Mat target = View(dst);
  cv::cvtColor(View(src), target, cv::COLOR_BGR2GRAY);
}

void iplGrayToColor(const IplImage* src, IplImage* dst, float fractR, float fractG, float fractB) {
  if (src == nullptr || src->nChannels != 1)
    throw std::invalid_argument("iplGrayToColor: grey input expected");
  RequireSize("iplGrayToColor", src, dst, 3);
  cv::Mat target = View(dst);
  // One pass into the image itself: no planes made per frame.
  cv::transform(View(src), target, cv::Matx31f(fractB, fractG, fractR));
}

void iplAdd(const IplImage* a, const IplImage* b, IplImage* dst) {
  RequireSameFormat("iplAdd", a, b);
  RequireSameFormat("iplAdd", a, dst);
  cv::Mat target = View(dst);
  cv::add(View(a), View(b), target);
}

void iplScaleFP(const IplImage* src, IplImage* dst, float minVal, float maxVal) {
  if (src == nullptr || src->depth != IPL_DEPTH_32F)
    throw std::invalid_argument("iplScaleFP: float input expected");
  RequireSize("iplScaleFP", src, dst, src->nChannels);
  const double range = static_cast<double>(maxVal) - minVal;
  const double scale = range != 0.0 ? 255.0 / range : 0.0;
  cv::Mat target = View(dst);
  View(src).convertTo(target, CV_8U, scale, -minVal * scale);
}
