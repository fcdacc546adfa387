#pragma once

// The image library's operations, written over OpenCV's IplImage header.
// Every image of the workbench is made by CreateImage and freed by
// ReleaseImage, which reads the ownership marker kept in imageId.

#include <opencv2/core/types_c.h>

// Marker of an image to be released through OpenCV; CreateImage never sets it.
inline void* const kReleaseThroughOpenCv = reinterpret_cast<void*>(static_cast<intptr_t>(-1));

#ifndef IPL_IMAGE_ALL
#define IPL_IMAGE_ALL 31
#endif

// Channels 1 ("GRAY") or 3 ("RGB"/"BGR"), depth 8 or 32; zero-filled pixels
// when allocate is set. Any other channel count makes no image.
IplImage* CreateImage(CvSize size, int channels, int depth, bool allocate);
// Frees by the ownership marker and sets the reference to null.
void ReleaseImage(IplImage** image);

IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align, int width,
                               int height, IplROI* roi, IplImage* maskROI, void* imageId,
                               IplTileInfo* tileInfo);
void iplAllocateImage(IplImage* image, int doFill, int fillValue);
void iplAllocateImageFP(IplImage* image, int doFill, float fillValue);
// flag: IPL_IMAGE_HEADER frees the header, IPL_IMAGE_DATA the pixels,
// IPL_IMAGE_ALL everything.
void iplDeallocate(IplImage* image, int flag);

// A new image of the same format that owns a copy of the pixels; its marker
// is its own pixel block, so ReleaseImage frees both.
IplImage* iplCloneImage(const IplImage* image);
// Pixels of src into dst of the same format.
void iplCopy(const IplImage* src, IplImage* dst);
void iplSet(IplImage* image, int fillValue);
// Luminance of a BGR image into a one-channel image of the same size.
void iplColorToGray(const IplImage* src, IplImage* dst);
// Grey into BGR, each channel the grey value times its factor.
void iplGrayToColor(const IplImage* src, IplImage* dst, float fractR, float fractG, float fractB);
// Saturating sum of two images of one format.
void iplAdd(const IplImage* a, const IplImage* b, IplImage* dst);
// Float image into 8 bits, [minVal, maxVal] mapped linearly onto 0 ... 255.
void iplScaleFP(const IplImage* src, IplImage* dst, float minVal, float maxVal);
