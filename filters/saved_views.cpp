#include "filters/saved_views.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <set>
#include <system_error>

#include "filters/storage_guard.h"
#include "filters/ucalibfilter.h"

namespace {

constexpr const char* kSettingsFile = "views.yml";

void Say(TCalibrationFilter& calibration, const std::string& line) {
  if (calibration.LogMemo != nullptr) calibration.LogMemo->AppendLine(line);
}

std::string PairFile(const std::string& folder, const std::string& name, char side) {
  return (std::filesystem::path(folder) / (name + side + ".png")).string();
}

const std::regex& ViewImageName() {
  static const std::regex name(R"((\d+)([LR])\.png)");
  return name;
}

bool WriteSettings(const TCalibrationFilter& calibration, const std::string& path) {
  try {
    cv::FileStorage file(path, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_YAML);
    if (!file.isOpened()) return false;
    file << "board_width" << calibration.BoardWidth << "board_height" << calibration.BoardHeight;
    file << "square_size_mm" << calibration.SquareSize_mm << "sub_pixel" << (calibration.SubPixel ? 1 : 0);
    return true;
  } catch (const cv::Exception&) {
    return false;
  }
}

// Removes the view images an earlier save left, so that the folder holds
// this set only; false (with a line) when one cannot be removed.
bool RemoveOlderViews(TCalibrationFilter& calibration, const std::string& folder) {
  std::error_code error;
  int removed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string file = entry.path().filename().string();
    if (!std::regex_match(file, ViewImageName())) continue;
    if (!std::filesystem::remove(entry.path(), error)) {
      Say(calibration, "Save views: " + entry.path().string() + " can not be removed");
      return false;
    }
    ++removed;
  }
  if (removed > 0) Say(calibration, FormatLine("Save views: removed %d older view images", removed));
  return true;
}

// Width and height a PNG file's header claims, read before decoding it; none
// for a file that is not PNG.
std::optional<cv::Size> PngHeaderSize(const std::string& path) {
  std::array<unsigned char, 24> header{};
  std::ifstream file(path, std::ios::binary);
  if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) return std::nullopt;
  static constexpr std::array<unsigned char, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (!std::equal(kSignature.begin(), kSignature.end(), header.begin())) return std::nullopt;
  const auto big_endian = [&](size_t at) {
    return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) | (uint32_t{header[at + 2]} << 8) |
           uint32_t{header[at + 3]};
  };
  const uint32_t largest = static_cast<uint32_t>(std::numeric_limits<int>::max());
  return cv::Size(static_cast<int>(std::min(big_endian(16), largest)),
                  static_cast<int>(std::min(big_endian(20), largest)));
}

bool TooLarge(cv::Size size) { return size.width > kLargestViewSide || size.height > kLargestViewSide; }

// One image of a pair as the search takes it; empty (with the reason) when
// it is missing, unreadable, too large or of another kind of pixel.
cv::Mat ReadViewImage(const std::string& folder, const std::string& name, char side, std::string& why) {
  const std::string path = PairFile(folder, name, side);
  const std::string file = name + side + ".png";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return why = file + " is missing", cv::Mat();
  const std::string too_large = FormatLine(" is larger than %d x %d px", kLargestViewSide, kLargestViewSide);
  if (const auto size = PngHeaderSize(path); size && TooLarge(*size))
    return why = file + too_large, cv::Mat();
  cv::Mat image;
  try {
    image = cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
  }
  if (image.empty()) return why = file + " can not be read", cv::Mat();
  if (TooLarge(image.size())) return why = file + too_large, cv::Mat();
  if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3))
    return why = file + " is not an 8-bit grey or colour picture", cv::Mat();
  return image;
}

// Searches one pair and pushes it as a view; the reason when it is not taken.
std::string LoadViewPair(TCalibrationFilter& calibration, const std::string& folder,
                         const std::string& name) {
  std::string why;
  std::vector<cv::Mat> pair;
  for (const char side : {'L', 'R'}) {
    pair.push_back(ReadViewImage(folder, name, side, why));
    if (pair.back().empty()) return why;
  }
  const cv::Size first_size = calibration.Cameras[0].ViewSize;
  if (pair[0].size() != pair[1].size() || (!first_size.empty() && pair[0].size() != first_size))
    return name + "L.png and " + name + "R.png differ in size from the views";
  const int before = calibration.Cameras[0].ViewCount;
  try {
    calibration.FindCorners(pair);
    calibration.PushView();
  } catch (const cv::Exception& error) {
    return "pair " + name + " can not be searched: " + error.err;
  }
  return calibration.Cameras[0].ViewCount == before ? "no whole board in pair " + name : std::string();
}

}  // namespace

bool SaveViews(TCalibrationFilter& calibration, const std::string& folder) {
  if (calibration.CameraCount() != 2 || calibration.Cameras[0].ViewCount == 0) {
    Say(calibration, "Save views: no views collected");
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!WriteSettings(calibration, (std::filesystem::path(folder) / kSettingsFile).string())) {
    Say(calibration, "Save views: " + folder + " can not be written");
    return false;
  }
  if (!RemoveOlderViews(calibration, folder)) return false;
  const int views = calibration.Cameras[0].ViewCount;
  for (int v = 0; v < views; ++v) {
    const std::string name = FormatLine("%02d", v + 1);
    for (const char side : {'L', 'R'}) {
      const cv::Mat& frame = calibration.Cameras[side == 'L' ? 0 : 1].ViewFrames[static_cast<size_t>(v)];
      bool written = false;
      try {
        written = cv::imwrite(PairFile(folder, name, side), frame);
      } catch (const cv::Exception&) {
      }
      if (!written) {
        Say(calibration, "Save views: " + PairFile(folder, name, side) + " can not be written");
        return false;
      }
    }
  }
  Say(calibration, FormatLine("Saved %d views to %s", views, folder.c_str()));
  return true;
}

std::optional<TViewsSettings> ReadViewsSettings(const std::string& folder, std::string& why) {
  const std::string path = (std::filesystem::path(folder) / kSettingsFile).string();
  why = "Load views: " + path + " is missing or damaged";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::nullopt;
  if (const auto refusal = StorageFileRefusal(path)) {
    why = "Load views: " + *refusal + "; not read";
    return std::nullopt;
  }
  TViewsSettings settings;
  try {
    cv::FileStorage file(path, cv::FileStorage::READ);
    if (!file.isOpened()) return std::nullopt;
    const auto width = ReadBoundedInt(file["board_width"], 0, std::numeric_limits<int>::max());
    const auto height = ReadBoundedInt(file["board_height"], 0, std::numeric_limits<int>::max());
    const auto square = ReadBoundedReal(file["square_size_mm"], 0, TCalibrationFilter::MaxSquareSize_mm);
    const auto sub_pixel = ReadBoundedInt(file["sub_pixel"], 0, 1);
    if (!width || !height || !square || *square <= 0 || !sub_pixel) {
      why = "Load views: " + path + " refused: its board, square size or sub-pixel setting is out of bounds";
      return std::nullopt;
    }
    if (std::string refusal = TCalibrationFilter::BoardSizeRefusal(*width, *height); !refusal.empty()) {
      why = "Load views: " + path + " refused: " + refusal;
      return std::nullopt;
    }
    settings = {*width, *height, *square, *sub_pixel != 0};
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  why.clear();
  return settings;
}

std::vector<std::string> ViewPairNames(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::smatch match;
    const std::string file = entry.path().filename().string();
    if (std::regex_match(file, match, ViewImageName())) names.insert(match[1].str());
  }
  return {names.begin(), names.end()};
}

int LoadViewPairs(TCalibrationFilter& calibration, const std::string& folder,
                  const std::vector<std::string>& names, const TViewsProgress& progress) {
  calibration.ClearViews();
  const int pairs = static_cast<int>(names.size());
  for (int searched = 0; searched < pairs; ++searched) {
    const std::string why = LoadViewPair(calibration, folder, names[static_cast<size_t>(searched)]);
    if (!why.empty()) Say(calibration, "Load views: " + why);
    if (progress && !progress(searched + 1, pairs)) {
      Say(calibration, FormatLine("Load views: stopped after %d of %d pairs", searched + 1, pairs));
      break;
    }
  }
  const int views = calibration.Cameras[0].ViewCount;
  if (views == 0) {
    Say(calibration, "Load views: no whole board in any pair of " + folder);
  } else {
    Say(calibration,
        FormatLine("Loaded %d views of %d pairs from %s; ready to calibrate", views, pairs, folder.c_str()));
  }
  return views;
}
