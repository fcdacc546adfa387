#pragma once

// A look at a storage file before OpenCV's reader parses it: that reader
// recurses once per level of nesting and reads the whole file, so a huge or
// deeply nested file must never reach it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Files the workbench writes are a few kB and nest three levels deep.
inline constexpr size_t kLargestStorageFile_bytes = size_t{64} * 1024;
inline constexpr int kDeepestStorageNesting = 16;

// Levels of nesting of a YAML text: block indentation, "- " and "? "
// markers and flow brackets, counted outside quotes and comments.
int YamlNestingDepth(std::string_view text);

// Why the file is not plausibly one the workbench wrote (missing, too large,
// not OpenCV's YAML storage where that is asked for, nested too deeply);
// none when it may be parsed.
std::optional<std::string> StorageFileRefusal(const std::string& path, bool opencv_storage = true);

namespace cv {
class FileNode;
}

// A number as written by the workbench, within bounds: none for text, a
// real where an integer belongs, or a number out of bounds.
std::optional<int> ReadBoundedInt(const cv::FileNode& node, int smallest, int largest);
std::optional<double> ReadBoundedReal(const cv::FileNode& node, double smallest, double largest);
