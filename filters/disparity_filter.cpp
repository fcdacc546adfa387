#include "filters/disparity_filter.h"

#include <opencv2/core/core_c.h>

#include <charconv>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "depth/disparity_view.h"
#include "filters/mainwindow_link.h"
#include "filters/ucalibfilter.h"

namespace {

cv::Mat Grey(const cv::Mat& image) {
  cv::Mat grey;
  if (image.channels() == 1) {
    image.copyTo(grey);
  } else {
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  }
  return grey;
}

// Keys of the settings beside the ones every filter keeps, in the order they
// are read: a value is judged with the ones read before it.
struct SettingKey {
  const char* key;
  int TDisparitySettings::*value;
};
constexpr SettingKey kSettingKeys[] = {
    {"NumDisparities", &TDisparitySettings::NumDisparities},
    {"MinDisparity", &TDisparitySettings::MinDisparity},
    {"BlockSize", &TDisparitySettings::BlockSize},
    {"UniquenessRatio", &TDisparitySettings::UniquenessRatio},
    {"SpeckleWindow", &TDisparitySettings::SpeckleWindowSize},
    {"SpeckleRange", &TDisparitySettings::SpeckleRange},
    {"P1", &TDisparitySettings::PenaltySmall},
    {"P2", &TDisparitySettings::PenaltyLarge},
};

// The steps after matching: each switch (0 or 1) and its whole numbers.
struct PostSwitchKey {
  const char* key;
  bool TDisparityPostSettings::*value;
};
constexpr PostSwitchKey kPostSwitchKeys[] = {
    {"LeftRightCheck", &TDisparityPostSettings::LeftRightCheck},
    {"TextureCheck", &TDisparityPostSettings::TextureCheck},
    {"Fill", &TDisparityPostSettings::Fill},
    {"HideFilled", &TDisparityPostSettings::HideFilled},
    {"Temporal", &TDisparityPostSettings::Temporal},
    {"Range", &TDisparityPostSettings::Range},
};
struct PostNumberKey {
  const char* key;
  int TDisparityPostSettings::*value;
};
constexpr PostNumberKey kPostNumberKeys[] = {
    {"LeftRightMaxDiff", &TDisparityPostSettings::LeftRightMaxDiff_px},
    {"TextureThreshold", &TDisparityPostSettings::TextureThreshold},
    {"FillLambda", &TDisparityPostSettings::FillLambda},
    {"TemporalMaps", &TDisparityPostSettings::TemporalMaps},
    {"SceneChange", &TDisparityPostSettings::SceneChange},
};
// Read as one: each end is judged with the other.
constexpr const char* kNearKey = "RangeNear";
constexpr const char* kFarKey = "RangeFar";
constexpr const char* kSigmaKey = "FillSigmaColor";

// No value read from a line of a settings file holds a line break.
const std::string kMissing = "\n";

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  return text;
}

// The whole text as one number, blanks around it and a leading "+" allowed.
template <typename Number>
std::optional<Number> WholeText(std::string_view text) {
  text = Trimmed(text);
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Shown(const std::string& text) { return text.size() > 24 ? text.substr(0, 24) + "..." : text; }

// The [Disparity] keys read over the current settings. A value that is not a
// number of its kind, or that cannot run with the ones read before it, keeps
// the current one and is named in `replaced`.
class SettingsReader {
 public:
  SettingsReader(TSettingsStore& store, const std::string& section, const TDisparitySettings& current)
      : store_(store), section_(section), read_(current) {}

  // `set` puts the text's value into the candidate; false when it is none.
  template <typename Set>
  void Take(const char* key, Set set, const std::string& kept) {
    const std::string text = store_.ReadString(section_, key, kMissing);
    if (text == kMissing) return;
    TDisparitySettings candidate = read_;
    if (set(candidate, text) && DisparitySettingsProblem(candidate).empty()) {
      read_ = candidate;
      return;
    }
    replaced_.push_back(std::string(key) + " \"" + Shown(text) + "\" by " + kept);
  }
  // Both ends of the range, judged together.
  void TakeRange() {
    const std::string near = store_.ReadString(section_, kNearKey, kMissing);
    const std::string far = store_.ReadString(section_, kFarKey, kMissing);
    if (near == kMissing && far == kMissing) return;
    TDisparitySettings candidate = read_;
    const auto near_mm = near == kMissing ? std::optional(read_.Post.Near_mm) : WholeText<int>(near);
    const auto far_mm = far == kMissing ? std::optional(read_.Post.Far_mm) : WholeText<int>(far);
    if (near_mm && far_mm) {
      candidate.Post.Near_mm = *near_mm;
      candidate.Post.Far_mm = *far_mm;
      if (DisparitySettingsProblem(candidate).empty()) {
        read_ = candidate;
        return;
      }
    }
    replaced_.push_back(std::string(kNearKey) + " \"" + Shown(near == kMissing ? "" : near) + "\" and " +
                        kFarKey + " \"" + Shown(far == kMissing ? "" : far) + "\" by " +
                        std::to_string(read_.Post.Near_mm) + " and " + std::to_string(read_.Post.Far_mm));
  }

  const TDisparitySettings& Read() const { return read_; }
  const std::vector<std::string>& Replaced() const { return replaced_; }

 private:
  TSettingsStore& store_;
  const std::string& section_;
  TDisparitySettings read_;
  std::vector<std::string> replaced_;
};

TDisparitySettings ReadDisparitySettings(TSettingsStore& store, const std::string& section,
                                         const TDisparitySettings& current,
                                         std::vector<std::string>& replaced) {
  SettingsReader reader(store, section, current);
  const auto whole = [](auto assign) {
    return [assign](TDisparitySettings& s, const std::string& text) {
      const auto number = WholeText<int>(text);
      return number && assign(s, *number);
    };
  };
  reader.Take("Matcher", whole([](TDisparitySettings& s, int value) {
                s.Matcher = static_cast<TMatcherKind>(value);
                return value >= 0 && value <= static_cast<int>(TMatcherKind::SemiGlobal3Way);
              }),
              std::to_string(static_cast<int>(reader.Read().Matcher)));
  for (const SettingKey& key : kSettingKeys) {
    reader.Take(key.key, whole([&key](TDisparitySettings& s, int value) {
                  s.*key.value = value;
                  return true;
                }),
                std::to_string(reader.Read().*key.value));
  }
  for (const PostSwitchKey& key : kPostSwitchKeys) {
    reader.Take(key.key, whole([&key](TDisparitySettings& s, int value) {
                  s.Post.*key.value = value == 1;
                  return value == 0 || value == 1;
                }),
                reader.Read().Post.*key.value ? "1" : "0");
  }
  for (const PostNumberKey& key : kPostNumberKeys) {
    reader.Take(key.key, whole([&key](TDisparitySettings& s, int value) {
                  s.Post.*key.value = value;
                  return true;
                }),
                std::to_string(reader.Read().Post.*key.value));
  }
  reader.Take(
      kSigmaKey,
      [](TDisparitySettings& s, const std::string& text) {
        const auto number = WholeText<double>(text);
        if (number) s.Post.FillSigmaColor = *number;
        return number.has_value();
      },
      FormatLine("%g", reader.Read().Post.FillSigmaColor));
  reader.TakeRange();
  replaced = reader.Replaced();
  return reader.Read();
}

}  // namespace

TDisparityFilter::TDisparityFilter(CreateKey key)
    : TVidFilter(key), worker_(std::make_unique<TDisparityWorker>()) {
  if (MainWindow != nullptr) dialog_ = MainWindow->MakeDisparitySetup(*this);
  Setup = dialog_.get();
  if (dialog_) dialog_->WriteSettings(Settings);
}

// The worker ends first: it may still be matching a pair.
TDisparityFilter::~TDisparityFilter() { worker_.reset(); }

void TDisparityFilter::ShowSetup() {
  if (dialog_) dialog_->ShowModeless();
}

void TDisparityFilter::Log(const std::string& line) {
  if (dialog_) {
    dialog_->Memo().AppendLine(line);
  } else {
    WriteLog(line);
  }
}

void TDisparityFilter::LogRefusal(const std::string& why) {
  if (why == refusal_) return;
  refusal_ = why;
  Log(why);
}

bool TDisparityFilter::SetSettings(const TDisparitySettings& settings) {
  const std::string problem = DisparitySettingsProblem(settings);
  if (problem.empty()) {
    Settings = settings;
  } else {
    Log(problem);
  }
  if (dialog_) dialog_->WriteSettings(Settings);
  return problem.empty();
}

void TDisparityFilter::LoadSettings(TSettingsStore& store, const std::string& section) {
  TVidFilter::LoadSettings(store, section);
  std::vector<std::string> replaced;
  const TDisparitySettings read = ReadDisparitySettings(store, section, Settings, replaced);
  if (!replaced.empty()) {
    std::string line = "[" + section + "] values replaced: ";
    for (size_t i = 0; i < replaced.size(); ++i) line += (i > 0 ? ", " : "") + replaced[i];
    WriteLog(line);
  }
  SetSettings(read);
}

void TDisparityFilter::SaveSettings(TSettingsStore& store, const std::string& section) {
  TVidFilter::SaveSettings(store, section);
  store.WriteInteger(section, "Matcher", static_cast<int>(Settings.Matcher));
  for (const SettingKey& key : kSettingKeys) store.WriteInteger(section, key.key, Settings.*key.value);
  for (const PostSwitchKey& key : kPostSwitchKeys) {
    store.WriteInteger(section, key.key, Settings.Post.*key.value ? 1 : 0);
  }
  for (const PostNumberKey& key : kPostNumberKeys)
    store.WriteInteger(section, key.key, Settings.Post.*key.value);
  store.WriteString(section, kSigmaKey, FormatLine("%g", Settings.Post.FillSigmaColor));
  store.WriteInteger(section, kNearKey, Settings.Post.Near_mm);
  store.WriteInteger(section, kFarKey, Settings.Post.Far_mm);
}

ImagePair TDisparityFilter::ProcessPair(const ImagePair& input) {
  ImagePair output = TVidFilter::ProcessPair(input);
  if (!Enabled) return output;
  cv::Mat left, right;
  std::shared_ptr<const TStereoCalibration> calibration;
  if (!Rectified(input, left, right, calibration)) return output;
  refusal_.clear();
  Submit(left, right, std::move(calibration), input);
  ShowNewestMap();
  // Left pane: the rectified left image, at the cameras' rate.
  FitBuffer(OutLeft, CvSize{left.cols, left.rows}, left.channels());
  cv::Mat shown_left = cv::cvarrToMat(OutLeft);
  left.copyTo(shown_left);
  output.Left() = OutLeft;
  output.Right() = OutRight;
  output.Geometry = TPairGeometry::NotCameraImages;
  output.Rectification = nullptr;
  return output;
}

namespace {

// Why a pair the steps before undistorted cannot be matched as it is.
std::string NotRectifiedReason(TPairGeometry geometry) {
  switch (geometry) {
    case TPairGeometry::Undistorted:
      return "Disparity: \"Calibrate only\" undistorts the pair but does not rectify it; "
             "put \"Rectify both\" before this filter";
    case TPairGeometry::Warped:
      return "Disparity: \"Calibrate and Rectify\" lines up far points only; "
             "put \"Rectify both\" before this filter";
    default:
      return "Disparity: the pair before this filter is no camera pair; put \"Rectify both\" before it";
  }
}

}  // namespace

bool TDisparityFilter::Rectified(const ImagePair& input, cv::Mat& left, cv::Mat& right,
                                 std::shared_ptr<const TStereoCalibration>& calibration) {
  if (input.Left() == nullptr || input.Right() == nullptr) {
    LogRefusal("Disparity: a pair of two images is needed");
    return false;
  }
  left = cv::cvarrToMat(input.Left());
  right = cv::cvarrToMat(input.Right());
  if (left.size() != right.size() || left.type() != right.type()) {
    LogRefusal(
        FormatLine("Disparity: the pair's images differ (%d x %d with %d channels beside %d x %d with %d)",
                   left.cols, left.rows, left.channels(), right.cols, right.rows, right.channels()));
    return false;
  }
  if (input.Geometry == TPairGeometry::Rectified) {
    calibration = input.Rectification;
    return true;
  }
  if (input.Geometry == TPairGeometry::NotCameraImages) {
    LogRefusal(NotRectifiedReason(input.Geometry));
    return false;
  }
  const TStereoCalibration* in_force =
      MainWindow != nullptr ? MainWindow->StereoCalibrationInForce() : nullptr;
  if (in_force == nullptr) return true;  // taken as rectified
  // Rectifying an undistorted pair would undistort it a second time.
  if (input.Geometry != TPairGeometry::AsCaptured) {
    LogRefusal(NotRectifiedReason(input.Geometry));
    return false;
  }
  std::string why;
  if (!rectifier_.Rectify(*in_force, left, right, rectified_left_, rectified_right_, why)) {
    LogRefusal("Disparity: " + why);
    return false;
  }
  left = rectified_left_;
  right = rectified_right_;
  calibration = rectifier_.RectifiedWith();
  return true;
}

void TDisparityFilter::Submit(const cv::Mat& left, const cv::Mat& right,
                              std::shared_ptr<const TStereoCalibration> calibration, const ImagePair& input) {
  TDisparityJob job;
  job.LeftGrey = Grey(left);
  job.RightGrey = Grey(right);
  job.Left = left.clone();
  job.Settings = Settings;
  job.Calibration = std::move(calibration);
  job.Stamps = input.Stamps;
  worker_->Submit(std::move(job));
}

void TDisparityFilter::ShowNewestMap() {
  std::shared_ptr<const TDisparityResult> newest = worker_->Latest();
  if (!newest || (shown_ && newest->Sequence == shown_->Sequence)) {
    if (OutRight == nullptr && OutLeft != nullptr) FitBuffer(OutRight, SizeOf(OutLeft), 3);
    return;
  }
  shown_ = newest;
  if (!newest->Error.empty()) {
    LogRefusal(newest->Error);
    return;
  }
  const cv::Mat& map = newest->Snapshot.Disparity16;
  FitBuffer(OutRight, CvSize{map.cols, map.rows}, 3);
  cv::Mat view = cv::cvarrToMat(OutRight);
  ColouriseDisparity(map, newest->Settings, view, newest->Filled);
  const auto& calibration = newest->Snapshot.Calibration;
  DrawLegend(view, newest->Settings, calibration.get());
  // A step that cannot run is said once, until it can again.
  if (newest->PostNote != post_note_) {
    post_note_ = newest->PostNote;
    if (!post_note_.empty()) Log(post_note_);
  }
  if (dialog_) {
    const std::string post =
        newest->PostTimes.empty() ? std::string() : FormatLine(", after matching %.1f ms", newest->Post_ms);
    dialog_->ShowStatus(FormatLine("Matcher %.1f ms%s, %.1f maps/s, valid %.1f %%%s", newest->Matcher_ms,
                                   post.c_str(), newest->MapsPerSecond, 100.0 * newest->ValidShare,
                                   calibration ? "" : ", no calibration: pair taken as rectified"));
  }
}

namespace {

std::string RegionLine(const TDepthSnapshot& snapshot, const cv::Rect& pixels, double true_distance) {
  const std::optional<TDepthQuality> quality = MeasureQuality(snapshot, pixels, true_distance);
  if (!snapshot.Calibration) return "Region: no depth without a stereo calibration";
  if (!quality) return "Region: outside the image";
  return DescribeQuality(*quality, LengthUnit(*snapshot.Calibration));
}

}  // namespace

std::string TDisparityFilter::MeasureRegion(const cv::Rect& pixels) {
  if (!shown_ || shown_->Snapshot.Disparity16.empty()) return "No disparity map is shown";
  region_ = pixels;
  return RegionLine(shown_->Snapshot, pixels, true_distance_mm_);
}

bool TDisparityFilter::SaveDepth(const std::string& stem) {
  if (!shown_ || shown_->Snapshot.Disparity16.empty()) {
    Log("Save depth: no disparity map yet");
    return false;
  }
  std::string why;
  int unfit = 0;
  if (!SaveDepthFiles(stem, shown_->Snapshot, why, unfit)) {
    Log(why);
    return false;
  }
  const auto& calibration = shown_->Snapshot.Calibration;
  const bool depth = calibration && calibration->SquareSize_mm > 0;
  // The region the operator marked, measured on the map saved.
  const std::string region = region_ ? "; " + RegionLine(shown_->Snapshot, *region_, true_distance_mm_) : "";
  Log("Saved " + stem + "_disparity.png, " + stem + "_left.png" +
      (depth ? ", " + stem + "_depth.png, " + stem + ".ply"
             : std::string(" (no depth without a calibration in mm)")) +
      region);
  if (unfit > 0) {
    Log(
        FormatLine("Save depth: %d matched pixels lie below 0 or above 255.99 px, beyond what the 16-bit "
                   "disparity file holds; they are no match there",
                   unfit));
  }
  return true;
}
