// One stereo pair written to two AVI files, as "Write File" does for every
// pair: a 25 frames-per-second rig leaves 40 ms per pair. The frames move,
// so the encoder does the work it does on a live scene.

#include <benchmark/benchmark.h>
#include <opencv2/core/core_c.h>

#include <QTemporaryDir>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "Video/vidclass/ipl.h"
#include "app/avifiles.h"

namespace {

// A board-like picture with a little noise, shifted by one pixel per frame.
void Paint(IplImage* image, int frame, cv::RNG& noise) {
  cv::Mat view = cv::cvarrToMat(image);
  view.setTo(cv::Scalar(90, 100, 110));
  for (int y = 0; y < view.rows; y += 40) {
    for (int x = (y / 40) % 2 * 40; x < view.cols; x += 80)
      cv::rectangle(view, cv::Rect(x + frame % 80, y, 40, 40), cv::Scalar(230, 230, 230), cv::FILLED);
  }
  cv::Mat grain(view.size(), view.type());
  noise.fill(grain, cv::RNG::NORMAL, 0, 2);
  view += grain;
}

void WritePair(benchmark::State& state, const char* fourcc) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  QTemporaryDir folder;
  const PairNames names = WriterPairNames(folder.path().toStdString() + "/bench.avi");
  TAviWriter left;
  TAviWriter right;
  const int32_t codec = CodecCode(fourcc);
  if (!left.Open(names.Left, codec, 25, width, height, 3) ||
      !right.Open(names.Right, codec, 25, width, height, 3)) {
    state.SkipWithError("the writers do not open");
    return;
  }
  constexpr int kFrames = 50;
  IplImage* frames[kFrames];
  cv::RNG noise(1);
  for (int i = 0; i < kFrames; ++i) {
    frames[i] = CreateImage(cvSize(width, height), 3, IPL_DEPTH_8U, true);
    Paint(frames[i], i, noise);
  }
  int i = 0;
  for (auto _ : state) {
    left.Write(frames[i % kFrames]);
    right.Write(frames[(i + 7) % kFrames]);
    ++i;
  }
  left.Close();
  right.Close();
  for (IplImage*& frame : frames) ReleaseImage(&frame);
  state.counters["pairs_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// "    " is the edit's four blanks: the library's own codec for AVI files.
BENCHMARK_CAPTURE(WritePair, XVID, "XVID")
    ->Name("WritePair/XVID")
    ->Args({640, 480})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritePair, MJPG, "MJPG")
    ->Name("WritePair/MJPG")
    ->Args({640, 480})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritePair, FMP4, "    ")
    ->Name("WritePair/FMP4")
    ->Args({640, 480})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
