#include "app/batch_mode.h"

#include <opencv2/core/core_c.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <opencv2/core.hpp>
#include <optional>
#include <thread>

#include "Video/vidclass/ipl.h"
#include "app/avifiles.h"
#include "filters/disparity_filter.h"
#include "filters/mainwindow_link.h"
#include "filters/ucalibfilter.h"
#include "filters/vidfilters_distort.h"

const char kBatchUsage[] =
    "\n"
    "Batch commands (no window; exit code 1 for an input that can not be used,\n"
    "2 for a command line that is not one):\n"
    "  --calibrate VIEWS_DIR --board WxH --square-mm MM --out FILE\n"
    "                          calibrate both cameras and the pair from a views\n"
    "                          folder saved with \"Save views...\" as \"Load views...\",\n"
    "                          \"Calibrate\" and \"Stereo Calibrate\" do, print each\n"
    "                          camera's rms, the stereo rms and the baseline, and save\n"
    "                          the calibration to FILE\n"
    "  --depth LEFT.avi --calibration FILE --out DIR\n"
    "                          rectify every pair of a recorded file pair with the\n"
    "                          calibration and write its depth files into DIR as\n"
    "                          \"Save depth...\" does (NNNNNN_disparity.png, _left.png,\n"
    "                          _depth.png, .ply)\n";

namespace {

using namespace std::chrono_literals;

// A whole match of a large pair in a debug build on a loaded machine.
constexpr auto kMatchTimeout = 120s;

// The filters' lines go to standard output: the batch's log.
class TPrintedLog : public TMainWindowLink, public TLogMemo {
 public:
  IplImage* CurrentLeftImage() const override { return nullptr; }
  IplImage* CurrentRightImage() const override { return nullptr; }
  void AppendLog(const std::string& line) override { AppendLine(line); }
  void AppendLine(const std::string& line) override {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  void SetFilterChecks(const TVidFilter*, bool) override {}
  std::unique_ptr<TDistortSetupLink> MakeDistortSetup(TDistortFilter&) override { return nullptr; }
};

// The filters reach the log through the main window's reference while the
// batch runs.
class TBatchWindow {
 public:
  TBatchWindow() : previous_(MainWindow) { MainWindow = &log_; }
  ~TBatchWindow() { MainWindow = previous_; }
  TBatchWindow(const TBatchWindow&) = delete;
  TBatchWindow& operator=(const TBatchWindow&) = delete;
  TPrintedLog& Log() { return log_; }

 private:
  TPrintedLog log_;
  TMainWindowLink* previous_;
};

int Refuse(const std::string& why, int code = 1) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return code;
}

// "--name value" pairs after the command's own word; none when a word is
// not an option of `allowed` or has no value.
std::optional<std::map<std::string, std::string>> Options(const std::vector<std::string>& arguments,
                                                          const std::vector<std::string>& allowed,
                                                          std::string& why) {
  std::map<std::string, std::string> options;
  for (size_t i = 0; i < arguments.size(); i += 2) {
    const std::string& name = arguments[i];
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      why = "Unknown option \"" + name + "\" for " + arguments.front();
      return std::nullopt;
    }
    if (i + 1 >= arguments.size()) {
      why = name + " needs a value";
      return std::nullopt;
    }
    options[name] = arguments[i + 1];
  }
  for (const std::string& name : allowed) {
    if (options.count(name) == 0) {
      why = arguments.front() + " needs " + name;
      return std::nullopt;
    }
  }
  return options;
}

template <typename Number>
std::optional<Number> NumberOf(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "9x6": inner corners across and down.
std::optional<cv::Size> BoardOf(const std::string& text) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return std::nullopt;
  const auto width = NumberOf<int>(std::string_view(text).substr(0, x));
  const auto height = NumberOf<int>(std::string_view(text).substr(x + 1));
  if (!width || !height) return std::nullopt;
  return cv::Size(*width, *height);
}

// Runs the views folder's load to its end, as the dialog's timer does.
void LoadViewsToEnd(TDistortFilter& filter) {
  while (filter.LoadViewsStep()) std::this_thread::sleep_for(20ms);
}

int Calibrate(const std::vector<std::string>& arguments) {
  std::string why;
  const auto options = Options(arguments, {"--calibrate", "--board", "--square-mm", "--out"}, why);
  if (!options) return Refuse(why, 2);
  const std::string folder = options->at("--calibrate");
  const std::string out = options->at("--out");
  const std::optional<cv::Size> board = BoardOf(options->at("--board"));
  if (!board || !TCalibrationFilter::BoardSizeRefusal(board->width, board->height).empty())
    return Refuse("--board needs the inner corners across and down as WxH (for example 9x6), not \"" +
                      options->at("--board") + "\"",
                  2);
  const std::optional<double> square = NumberOf<double>(options->at("--square-mm"));
  if (!square || !(*square > 0) || *square > TCalibrationFilter::MaxSquareSize_mm)
    return Refuse("--square-mm needs the squares' side in mm, above 0 and at most " +
                      FormatLine("%g", TCalibrationFilter::MaxSquareSize_mm) + ", not \"" +
                      options->at("--square-mm") + "\"",
                  2);
  if (!std::filesystem::is_directory(folder)) return Refuse("Views folder " + folder + " does not exist");

  TBatchWindow window;
  const auto filter = TVidFilter::Create<TDistortFilter>();
  filter->Calibration.LogMemo = &window.Log();
  filter->SetBoardSize(board->width, board->height);
  if (!filter->LoadViews(folder)) return Refuse("Views folder " + folder + " can not be loaded");
  LoadViewsToEnd(*filter);
  const TCalibrationFilter& calibration = filter->Calibration;
  if (calibration.Cameras[0].ViewCount == 0)
    return Refuse("Views folder " + folder + " holds no usable view");
  if (calibration.BoardWidth != board->width || calibration.BoardHeight != board->height)
    return Refuse(FormatLine("Views folder %s holds views of a %dx%d board, not %dx%d", folder.c_str(),
                             calibration.BoardWidth, calibration.BoardHeight, board->width, board->height));
  filter->SetSquareSize(*square);
  filter->Calibrate();
  filter->StereoCalibrate();
  if (!filter->StereoResult) return Refuse("Views folder " + folder + " gives no stereo calibration");
  const TStereoCalibration& result = *filter->StereoResult;
  std::printf(
      "Views: %d\nLeft camera rms: %.4f px\nRight camera rms: %.4f px\nStereo rms: %.4f px\n"
      "Baseline: %.2f mm\n",
      calibration.Cameras[0].ViewCount, calibration.Cameras[0].Rms, calibration.Cameras[1].Rms,
      result.RmsPair, cv::norm(result.T));
  if (!filter->SaveCalibration(out)) return Refuse("Calibration " + out + " can not be written");
  return 0;
}

// The pair's two files read side by side into images of their own.
class TPairReader {
 public:
  ~TPairReader() {
    ReleaseImage(&images_[0]);
    ReleaseImage(&images_[1]);
  }
  // The files' names, or empty with both open.
  std::string Open(const std::string& chosen) {
    const PairNames names = ReaderPairNames(chosen);
    if (!readers_[0].Open(names.Left)) return names.Left;
    if (!readers_[1].Open(names.Right)) return names.Right;
    return {};
  }
  // False once either file has no more frames.
  bool Next(ImagePair& pair) {
    for (int side = 0; side < 2; ++side) {
      if (readers_[side].Next(frame_) != TAviReader::Result::Frame) return false;
      IplImage* target = images_[side];
      CopyFrame(frame_, target, images_[side]);
      pair.Images[side] = images_[side];
    }
    return true;
  }

 private:
  TAviReader readers_[2];
  IplImage* images_[2] = {nullptr, nullptr};
  cv::Mat frame_;
};

// The depth files of pair `index` under "DIR/NNNNNN"; false when none.
bool SaveDepthOfPair(TDistortFilter& rectify, TDisparityFilter& disparity, ImagePair& pair, int index,
                     const std::string& out) {
  pair.Stamps[0].Number = pair.Stamps[1].Number = static_cast<uint64_t>(index) + 1;
  const ImagePair rectified = rectify.ProcessPair(pair);
  // The map of a pair shows with the filter's next pair: the same one again,
  // once the matcher has finished it.
  disparity.ProcessPair(rectified);
  if (!disparity.WaitForMatcher(kMatchTimeout)) return false;
  disparity.ProcessPair(rectified);
  const auto shown = disparity.ShownMap();
  const bool saved = shown && shown->Stamps[0].Number == pair.Stamps[0].Number &&
                     disparity.SaveDepth(FormatLine("%s/%06d", out.c_str(), index));
  // The second match goes before the next pair comes.
  disparity.WaitForMatcher(kMatchTimeout);
  return saved;
}

int Depth(const std::vector<std::string>& arguments) {
  std::string why;
  const auto options = Options(arguments, {"--depth", "--calibration", "--out"}, why);
  if (!options) return Refuse(why, 2);
  const std::string recording = options->at("--depth");
  const std::string calibration = options->at("--calibration");
  const std::string out = options->at("--out");

  TPairReader reader;
  if (const std::string unread = reader.Open(recording); !unread.empty())
    return Refuse("File " + unread + " can not be read");
  ImagePair pair;
  if (!reader.Next(pair)) return Refuse("File pair " + recording + " holds no pairs");
  TBatchWindow window;
  const auto rectify = TVidFilter::Create<TDistortFilter>();
  rectify->Calibration.LogMemo = &window.Log();
  if (!rectify->LoadCalibration(calibration))
    return Refuse("Calibration " + calibration + " can not be read");
  if (!rectify->StereoResult)
    return Refuse("Calibration " + calibration + " holds no stereo calibration; depth needs one");
  rectify->SetMode(kRectifyBoth);
  std::error_code error;
  std::filesystem::create_directories(out, error);
  if (!std::filesystem::is_directory(out)) return Refuse("Folder " + out + " can not be made");
  const auto disparity = TVidFilter::Create<TDisparityFilter>();

  int pairs = 0;
  int saved = 0;
  do {
    if (SaveDepthOfPair(*rectify, *disparity, pair, pairs, out)) ++saved;
    ++pairs;
    std::printf("Depth: pair %d, %d saved\n", pairs, saved);
    std::fflush(stdout);
  } while (reader.Next(pair));
  std::printf("Depth files of %d of %d pairs written to %s\n", saved, pairs, out.c_str());
  return saved == pairs ? 0 : 1;
}

}  // namespace

bool AsksForBatch(const std::vector<std::string>& arguments) {
  return !arguments.empty() && (arguments.front() == "--calibrate" || arguments.front() == "--depth");
}

int RunBatch(const std::vector<std::string>& arguments) {
  if (!AsksForBatch(arguments)) return Refuse("No batch command", 2);
  return arguments.front() == "--calibrate" ? Calibrate(arguments) : Depth(arguments);
}
