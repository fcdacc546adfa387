#include "filters/formats/format_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <sstream>

#include "filters/storage_guard.h"

namespace formats {

std::string NumberList(const double* values, int count) {
  std::ostringstream text;
  text.precision(17);
  text << "[";
  for (int i = 0; i < count; ++i) text << (i > 0 ? ", " : "") << values[i];
  text << "]";
  return text.str();
}

std::optional<std::vector<double>> ReadNumbers(const cv::FileNode& node, int count) {
  if (!node.isSeq() || static_cast<int>(node.size()) != count) return std::nullopt;
  std::vector<double> values;
  for (const cv::FileNode& element : node) {
    if (!element.isInt() && !element.isReal()) return std::nullopt;
    values.push_back(static_cast<double>(element));
    if (!std::isfinite(values.back())) return std::nullopt;
  }
  return values;
}

namespace {

size_t Indent(const std::string& line) { return std::min(line.find_first_not_of(' '), line.size()); }

// A sequence written at its key's indentation ("key:\n- a"), as PyYAML
// writes it, indented one step deeper for OpenCV's reader, which wants it so.
std::string IndentCompactSequences(const std::string& text) {
  std::istringstream lines(text);
  std::string result, line, previous;
  size_t sequence_indent = std::string::npos;
  while (std::getline(lines, line)) {
    const size_t indent = Indent(line);
    const bool item = line.compare(indent, 2, "- ") == 0;
    if (item && indent == sequence_indent) {
      line.insert(0, "  ");
    } else if (item && !previous.empty() && previous.back() == ':' && Indent(previous) == indent) {
      sequence_indent = indent;
      line.insert(0, "  ");
    } else {
      sequence_indent = std::string::npos;
    }
    previous = line;
    while (!previous.empty() && previous.back() == ' ') previous.pop_back();
    result += line + "\n";
  }
  return result;
}

}  // namespace

std::optional<cv::FileStorage> OpenYaml(const std::string& path, std::string& why) {
  if (const auto refusal = StorageFileRefusal(path, false)) {
    why = *refusal;
    return std::nullopt;
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  // OpenCV's reader takes YAML only behind its own header.
  const std::string body = IndentCompactSequences(text.str());
  const std::string yaml = body.starts_with("%YAML") ? body : "%YAML:1.0\n" + body;
  try {
    cv::FileStorage file(yaml,
                         cv::FileStorage::READ | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_YAML);
    if (file.isOpened()) return file;
  } catch (const cv::Exception&) {
  }
  why = path + " is not YAML";
  return std::nullopt;
}

void RectifyFromPair(TStereoCalibration& c) {
  if (!PairRefusal(c).empty() || c.ImageSize.empty()) return;
  cv::stereoRectify(c.K1, c.D1, c.K2, c.D2, c.ImageSize, c.R, c.T, c.R1, c.R2, c.P1, c.P2, c.Q);
  c.Warp = InfinityWarp(c.K1, c.R, c.K2);
}

std::string FileBeside(const std::string& path, const std::string& name) {
  return (std::filesystem::path(path).parent_path() / name).string();
}

}  // namespace formats
