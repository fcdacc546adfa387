#pragma once

// AVI file pairs: one chosen path names a left and a right file, each written
// and read by the video library on its own.

#include <opencv2/core/types_c.h>

#include <cstdint>
#include <memory>
#include <string>

namespace cv {
class Mat;
class VideoCapture;
class VideoWriter;
}  // namespace cv

struct PairNames {
  std::string Left;
  std::string Right;
};

// "L" and "R" go just before the extension of the file name (from its last
// "."; a dot in a folder name does not count).
PairNames WriterPairNames(const std::string& chosen);
// The file of a written pair: the one letter before the extension is
// replaced by "L" and "R".
PairNames ReaderPairNames(const std::string& chosen);

// c1 + c2 * 256 + c3 * 65536 + c4 * 16777216.
int32_t MakeFourcc(char c1, char c2, char c3, char c4);
// The codec of the library's own choice for AVI files (MPEG-4 part 2).
extern const int32_t kDefaultAviCodec;
// FFmpeg's lossless codec: every pixel read back as written, for views and
// depth work.
extern const int32_t kLosslessAviCodec;
// The codec code of an edit text, short texts padded with blanks; four
// blanks choose kDefaultAviCodec (the library opens nothing for -1).
int32_t CodecCode(const std::string& text);
// The four characters of a codec code, for the log.
std::string CodecText(int32_t code);
// Frames per second a file is written at: the slider's tenths rounded to
// whole frames (halves to even), at least 1.
double RecordingRate(int frame_rate_position);

// One AVI file being written; frames must keep the format it was opened with.
class TAviWriter {
 public:
  TAviWriter();
  ~TAviWriter();  // finishes the file
  TAviWriter(const TAviWriter&) = delete;
  TAviWriter& operator=(const TAviWriter&) = delete;

  // False when the library cannot write that file with that codec.
  bool Open(const std::string& name, int32_t codec, double fps, int width, int height, int channels);
  // False (and nothing written) for a frame of another size or channel count:
  // the library would write it as garbage or not at all. False too when the
  // encoder fails.
  bool Write(const IplImage* frame);
  // True when Write would take the frame: open, same size, channels, 8 bits.
  bool Accepts(const IplImage* frame) const;
  // Finishes the file so that players can read it.
  void Close();
  const std::string& Name() const { return name_; }
  long Frames() const { return frames_; }

 private:
  std::unique_ptr<cv::VideoWriter> writer_;
  std::string name_;
  int width_ = 0;
  int height_ = 0;
  int channels_ = 0;
  long frames_ = 0;
};

// One AVI file read frame by frame.
class TAviReader {
 public:
  enum class Result { Frame, FirstEnd, End };

  TAviReader();
  ~TAviReader();
  TAviReader(const TAviReader&) = delete;
  TAviReader& operator=(const TAviReader&) = delete;

  // False when the file cannot be read.
  bool Open(const std::string& name);
  // The next frame (top row first, 8-bit); FirstEnd the first time there is
  // none, End after that.
  Result Next(cv::Mat& frame);
  const std::string& Name() const { return name_; }
  // Frames the file holds and its frames per second, as its header tells
  // them; 0 when it tells none.
  int64_t FrameCount() const;
  double FrameRate() const;
  // The next Next gives frame `frame` (from 0), when the next Next would
  // have given frame `at`: reads forward to it, from the file's start when
  // it lies behind or the file has ended. False when the file ends before.
  bool Seek(int64_t at, int64_t frame);

 private:
  std::unique_ptr<cv::VideoCapture> capture_;
  std::string name_;
  bool ended_ = false;
};

// Copies a frame into target when it has the frame's size and channel count;
// otherwise into own, re-made to the frame's format when needed, and target
// then refers to own. Target is never written outside its bounds nor freed.
void CopyFrame(const cv::Mat& frame, IplImage*& target, IplImage*& own);
