#include "app/avifiles.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "Video/vidclass/ipl.h"
#include "Video/vidclass/vidclass_values.h"

namespace {

// Position of the extension's dot in the path, or npos.
size_t ExtensionStart(const std::string& path) {
  const size_t name_start = path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1;
  const size_t dot = path.find_last_of('.');
  return dot == std::string::npos || dot < name_start ? std::string::npos : dot;
}

PairNames WithLetters(const std::string& base, const std::string& extension) {
  return {base + "L" + extension, base + "R" + extension};
}

bool SameFormat(const cv::Mat& frame, const IplImage* image) {
  return image != nullptr && image->width == frame.cols && image->height == frame.rows &&
         image->nChannels == frame.channels() && image->depth == IPL_DEPTH_8U;
}

}  // namespace

const int32_t kDefaultAviCodec = MakeFourcc('F', 'M', 'P', '4');
const int32_t kLosslessAviCodec = MakeFourcc('F', 'F', 'V', '1');

PairNames WriterPairNames(const std::string& chosen) {
  const size_t dot = ExtensionStart(chosen);
  if (dot == std::string::npos) return WithLetters(chosen, "");
  return WithLetters(chosen.substr(0, dot), chosen.substr(dot));
}

PairNames ReaderPairNames(const std::string& chosen) {
  const size_t dot = ExtensionStart(chosen);
  const size_t end = dot == std::string::npos ? chosen.size() : dot;
  const size_t name_start = chosen.find_last_of('/') == std::string::npos ? 0 : chosen.find_last_of('/') + 1;
  // A name with nothing before the extension has no letter to replace.
  const size_t base_end = end > name_start ? end - 1 : end;
  return WithLetters(chosen.substr(0, base_end), chosen.substr(end));
}

int32_t MakeFourcc(char c1, char c2, char c3, char c4) {
  const auto byte = [](char c) { return static_cast<uint32_t>(static_cast<unsigned char>(c)); };
  return static_cast<int32_t>(byte(c1) | byte(c2) << 8 | byte(c3) << 16 | byte(c4) << 24);
}

int32_t CodecCode(const std::string& text) {
  std::string code = text.substr(0, std::min<size_t>(text.size(), 4));
  code.resize(4, ' ');
  if (code == "    ") return kDefaultAviCodec;
  return MakeFourcc(code[0], code[1], code[2], code[3]);
}

std::string CodecText(int32_t code) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((static_cast<uint32_t>(code) >> (8 * i)) & 0xFF);
  return text;
}

double RecordingRate(int frame_rate_position) {
  return std::max(1, RoundHalfEven(frame_rate_position / 10.0));
}

TAviWriter::TAviWriter() = default;

TAviWriter::~TAviWriter() { Close(); }

bool TAviWriter::Open(const std::string& name, int32_t codec, double fps, int width, int height,
                      int channels) {
  Close();
  if (channels != 1 && channels != 3) return false;
  auto writer = std::make_unique<cv::VideoWriter>();
  try {
    if (!writer->open(name, cv::CAP_FFMPEG, codec, fps, cv::Size(width, height), channels == 3)) return false;
  } catch (const cv::Exception&) {
    return false;
  }
  writer_ = std::move(writer);
  name_ = name;
  width_ = width;
  height_ = height;
  channels_ = channels;
  frames_ = 0;
  return true;
}

bool TAviWriter::Accepts(const IplImage* frame) const {
  return writer_ && frame != nullptr && frame->width == width_ && frame->height == height_ &&
         frame->nChannels == channels_ && frame->depth == IPL_DEPTH_8U;
}

bool TAviWriter::Write(const IplImage* frame) {
  if (!Accepts(frame)) return false;
  try {
    writer_->write(cv::cvarrToMat(frame));
  } catch (const cv::Exception&) {
    return false;
  }
  ++frames_;
  return true;
}

void TAviWriter::Close() {
  if (!writer_) return;
  writer_->release();
  writer_.reset();
}

TAviReader::TAviReader() = default;

TAviReader::~TAviReader() = default;

bool TAviReader::Open(const std::string& name) {
  auto capture = std::make_unique<cv::VideoCapture>();
  try {
    if (!capture->open(name, cv::CAP_FFMPEG)) return false;
  } catch (const cv::Exception&) {
    return false;
  }
  capture_ = std::move(capture);
  name_ = name;
  ended_ = false;
  return true;
}

TAviReader::Result TAviReader::Next(cv::Mat& frame) {
  bool read = false;
  if (capture_ && !ended_) {
    try {
      read = capture_->read(frame) && !frame.empty() && frame.depth() == CV_8U &&
             (frame.channels() == 1 || frame.channels() == 3);
    } catch (const cv::Exception&) {
      read = false;
    }
  }
  if (read) return Result::Frame;
  if (ended_) return Result::End;
  ended_ = true;
  return Result::FirstEnd;
}

void CopyFrame(const cv::Mat& frame, IplImage*& target, IplImage*& own) {
  if (!SameFormat(frame, target)) {
    if (!SameFormat(frame, own)) {
      ReleaseImage(&own);
      own = CreateImage(cvSize(frame.cols, frame.rows), frame.channels(), IPL_DEPTH_8U, true);
    }
    target = own;
  }
  cv::Mat view = cv::cvarrToMat(target);
  frame.copyTo(view);
}

int64_t TAviReader::FrameCount() const {
  if (!capture_) return 0;
  const double count = capture_->get(cv::CAP_PROP_FRAME_COUNT);
  return count > 0 ? static_cast<int64_t>(count) : 0;
}

double TAviReader::FrameRate() const {
  if (!capture_) return 0;
  const double rate = capture_->get(cv::CAP_PROP_FPS);
  return rate > 0 ? rate : 0;
}

bool TAviReader::Seek(int64_t at, int64_t frame) {
  if (!capture_) return false;
  // Frame by frame rather than the library's seek, which lands on the key
  // frame before the one asked for with some codecs and tells positions
  // ahead of the frames decoded.
  if (ended_ || at > frame) {
    const std::string name = name_;
    if (!Open(name)) return false;
    at = 0;
  }
  try {
    for (; at < frame; ++at) {
      if (!capture_->grab()) return false;
    }
  } catch (const cv::Exception&) {
    return false;
  }
  return true;
}
