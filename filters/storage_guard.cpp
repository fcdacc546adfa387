#include "filters/storage_guard.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <opencv2/core/persistence.hpp>
#include <vector>

namespace {

// Where a line's content ends: at a comment outside quotes. Updates the
// flow depth and the deepest level seen on the way.
void ScanContent(std::string_view line, int base, int& flow, int& deepest) {
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      if (c == '\\' && quote == '"') {
        ++i;
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (i == 0 || line[i - 1] == ' ')) {
      return;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, base + ++flow);
    } else if ((c == ']' || c == '}') && flow > 0) {
      --flow;
    }
  }
}

}  // namespace

int YamlNestingDepth(std::string_view text) {
  int deepest = 0, flow = 0;
  std::vector<size_t> indents;  // of the open block levels
  int block = 0;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const size_t indent = std::min(line.find_first_not_of(' '), line.size());
    if (indent == line.size() || line[indent] == '#') continue;
    // Inside a flow collection the indentation means nothing.
    if (flow == 0) {
      while (!indents.empty() && indents.back() >= indent) indents.pop_back();
      indents.push_back(indent);
      block = static_cast<int>(indents.size());
    }
    size_t at = indent;
    while (at + 1 < line.size() && (line[at] == '-' || line[at] == '?') && line[at + 1] == ' ') {
      ++block;
      at = std::min(line.find_first_not_of(' ', at + 1), line.size());
    }
    deepest = std::max(deepest, block);
    ScanContent(line.substr(at), block, flow, deepest);
  }
  return deepest;
}

std::optional<std::string> StorageFileRefusal(const std::string& path, bool opencv_storage) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return path + " can not be read";
  std::string text;
  text.resize(kLargestStorageFile_bytes + 1);
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  if (text.size() > kLargestStorageFile_bytes) {
    return path + " is larger than " + std::to_string(kLargestStorageFile_bytes / 1024) + " kB";
  }
  if (opencv_storage && !text.starts_with("%YAML")) return path + " is not YAML storage";
  if (YamlNestingDepth(text) > kDeepestStorageNesting) {
    return path + " nests deeper than " + std::to_string(kDeepestStorageNesting) + " levels";
  }
  return std::nullopt;
}

std::optional<int> ReadBoundedInt(const cv::FileNode& node, int smallest, int largest) {
  if (!node.isInt()) return std::nullopt;
  const int value = static_cast<int>(node);
  if (value < smallest || value > largest) return std::nullopt;
  return value;
}

std::optional<double> ReadBoundedReal(const cv::FileNode& node, double smallest, double largest) {
  if (!node.isInt() && !node.isReal()) return std::nullopt;
  const double value = static_cast<double>(node);
  // Written this way, NaN fails both comparisons.
  if (!(value >= smallest && value <= largest)) return std::nullopt;
  return value;
}
