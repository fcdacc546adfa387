#include "app/image_folders.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

bool IsImageName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* known : {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".pgm", ".ppm"})
    if (extension == known) return true;
  return false;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// One side of a pair by its key (a time stamp or a name).
template <typename Key>
using SideFiles = std::map<Key, std::string>;

// The rows of a camera's "data.csv": time stamp -> image path.
SideFiles<int64_t> ReadDataCsv(const fs::path& camera, TImageFolder& folder) {
  SideFiles<int64_t> files;
  const fs::path csv = camera / "data.csv";
  std::ifstream in(csv);
  if (!in) {
    folder.Lines.push_back("Dataset file " + csv.string() + " can not be read");
    return files;
  }
  int damaged = 0;
  for (std::string line; std::getline(in, line);) {
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    const size_t comma = line.find(',');
    int64_t stamp = 0;
    const std::string time = Trimmed(line.substr(0, comma));
    const std::string name = comma == std::string::npos ? std::string() : Trimmed(line.substr(comma + 1));
    const auto [end, error] = std::from_chars(time.data(), time.data() + time.size(), stamp);
    if (error != std::errc() || end != time.data() + time.size() || stamp <= 0 || name.empty()) {
      ++damaged;
      continue;
    }
    files[stamp] = (camera / "data" / name).string();
  }
  if (damaged > 0)
    folder.Lines.push_back("Dataset file " + csv.string() + ": " + std::to_string(damaged) +
                           " damaged lines skipped");
  return files;
}

// Pairs of two sides' files by key, in the keys' order; counts the pairs
// that miss a side.
template <typename Key>
std::vector<std::pair<Key, TFolderPair>> Matched(const SideFiles<Key>& left, const SideFiles<Key>& right,
                                                 TImageFolder& folder) {
  std::map<Key, TFolderPair> pairs;
  for (const auto& [key, file] : left) pairs[key].Left = file;
  for (const auto& [key, file] : right) pairs[key].Right = file;
  int one_sided[2] = {0, 0};
  for (const auto& entry : pairs) {
    if (entry.second.Left.empty()) ++one_sided[0];
    if (entry.second.Right.empty()) ++one_sided[1];
  }
  for (int side = 0; side < 2; ++side) {
    if (one_sided[side] == 0) continue;
    folder.Lines.push_back("Folder " + folder.Path + ": " + std::to_string(one_sided[side]) +
                           " pairs have no " + (side == 0 ? "left" : "right") + " image");
  }
  return {pairs.begin(), pairs.end()};
}

void ReadDataset(const fs::path& mav0, TImageFolder& folder) {
  const SideFiles<int64_t> left = ReadDataCsv(mav0 / "cam0", folder);
  const SideFiles<int64_t> right = ReadDataCsv(mav0 / "cam1", folder);
  for (auto& [stamp, pair] : Matched(left, right, folder)) {
    pair.Time_ns = stamp;
    folder.Pairs.push_back(pair);
  }
  folder.Timed = true;
}

// A name ordered as the operator reads it: runs of digits by their value
// ("9" before "10"), the rest character by character.
struct NaturalName {
  std::string Text;
  bool operator<(const NaturalName& other) const { return NaturalLess(Text, other.Text); }
  static bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
      if (IsDigit(a[i]) && IsDigit(b[j])) {
        const size_t a_end = a.find_first_not_of("0123456789", i);
        const size_t b_end = b.find_first_not_of("0123456789", j);
        const std::string x = Digits(a.substr(i, a_end - i)), y = Digits(b.substr(j, b_end - j));
        if (x.size() != y.size()) return x.size() < y.size();
        if (x != y) return x < y;
        i = std::min(a_end, a.size());
        j = std::min(b_end, b.size());
      } else {
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
      }
    }
    // Equal so far: the shorter first, then by the text itself ("01" after "1").
    return a.size() - i != b.size() - j ? a.size() - i < b.size() - j : a < b;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  // A number's digits without its leading zeros.
  static std::string Digits(const std::string& run) {
    const size_t first = run.find_first_not_of('0');
    return first == std::string::npos ? std::string() : run.substr(first);
  }
};

SideFiles<NaturalName> ImagesIn(const fs::path& folder) {
  SideFiles<NaturalName> files;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && IsImageName(entry.path()))
      files[{entry.path().filename().string()}] = entry.path().string();
  }
  return files;
}

void AddNamedPairs(const SideFiles<NaturalName>& left, const SideFiles<NaturalName>& right,
                   TImageFolder& folder) {
  for (const auto& entry : Matched(left, right, folder)) folder.Pairs.push_back(entry.second);
}

// "<name>L.<ext>" and "<name>R.<ext>", keyed by <name>.
void ReadLetterPairs(const fs::path& path, TImageFolder& folder) {
  SideFiles<NaturalName> sides[2];
  for (const auto& [name, file] : ImagesIn(path)) {
    const std::string stem = fs::path(file).stem().string();
    if (stem.empty()) continue;
    const char letter = stem.back();
    if (letter != 'L' && letter != 'R') continue;
    sides[letter == 'L' ? 0 : 1][{stem.substr(0, stem.size() - 1)}] = file;
  }
  AddNamedPairs(sides[0], sides[1], folder);
}

bool IsDirectory(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

}  // namespace

std::optional<TImageFolder> ReadImageFolder(const std::string& path, std::string& why) {
  TImageFolder folder;
  folder.Path = path;
  const fs::path root(path);
  if (!IsDirectory(root)) {
    why = "Folder " + path + " can not be read";
    return std::nullopt;
  }
  if (IsDirectory(root / "mav0" / "cam0")) {
    ReadDataset(root / "mav0", folder);
  } else if (IsDirectory(root / "cam0") && IsDirectory(root / "cam1")) {
    ReadDataset(root, folder);
  } else if (IsDirectory(root / "left") && IsDirectory(root / "right")) {
    AddNamedPairs(ImagesIn(root / "left"), ImagesIn(root / "right"), folder);
  } else {
    ReadLetterPairs(root, folder);
  }
  if (folder.Pairs.empty()) {
    why = "Folder " + path + " holds no image pairs";
    return std::nullopt;
  }
  return folder;
}

std::optional<cv::Mat> ReadFolderImage(const std::string& path, std::string& why) {
  cv::Mat image;
  try {
    image = cv::imread(path, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    image.release();
  }
  if (image.empty()) {
    why = "Image " + path + " can not be read";
    return std::nullopt;
  }
  if (image.depth() == CV_16U) image.convertTo(image, CV_8U, 1.0 / 256.0);
  if (image.depth() != CV_8U) {
    why = "Image " + path + " is not an 8-bit image";
    return std::nullopt;
  }
  if (image.channels() == 4) cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
  if (image.channels() != 1 && image.channels() != 3) {
    why = "Image " + path + " has " + std::to_string(image.channels()) + " channels";
    return std::nullopt;
  }
  return image;
}
