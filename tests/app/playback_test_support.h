#pragma once

// What the playback and the export tests share: pairs of frames the test
// knows, written as a recording with its stamp file, as image folders and as
// a dataset, and the window's reader driven through its dialogs.

#include <opencv2/core/core_c.h>

#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/avifiles.h"
#include "app/dataset_export.h"
#include "app/pair_stamps.h"
#include "app_test_support.h"

namespace playback_test {

inline constexpr int kWidth = 64;
inline constexpr int kHeight = 48;
inline constexpr double kFileRate = 25.0;
// Stamped pairs are this far apart, unlike the file's rate.
inline constexpr int64_t kStampStep_ns = 30'000'000;

// A settings folder and a folder for the test's files.
struct TestFolder {
  std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
  ScopedSettingsFolder settings;
  QTemporaryDir dir;
};

// Frame k of a side: a bright square moved by k on a dark ground, the right
// side's lower than the left's.
inline cv::Mat KnownFrame(int k, int side) {
  cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80));
  cv::rectangle(image, cv::Rect(2 + 4 * k, side == 0 ? 6 : 24, 12, 12), cv::Scalar(220, 200, 180),
                cv::FILLED);
  return image;
}

// The index of the known frame an image (colour) is closest to; -1 for none.
inline int ClosestFrame(const cv::Mat& read, int frames, int side) {
  int closest = -1;
  double best = -1;
  for (int k = 0; k < frames && !read.empty(); ++k) {
    const double psnr = cv::PSNR(read, KnownFrame(k, side));
    if (psnr > best) best = psnr, closest = k;
  }
  return closest;
}
inline int ClosestFrame(const IplImage* image, int frames, int side) {
  return ClosestFrame(image != nullptr ? cv::cvarrToMat(image) : cv::Mat(), frames, side);
}
// Of an image's pixels row by row.
inline int ClosestFrame(std::vector<char> pixels, int frames, int side) {
  if (pixels.size() != static_cast<size_t>(kWidth * kHeight * 3)) return -1;
  return ClosestFrame(cv::Mat(kHeight, kWidth, CV_8UC3, pixels.data()), frames, side);
}

// The stamp of pair k as the stamped recording keeps it.
inline TPairStamp KnownStamp(int k) {
  const int64_t time = 5'000'000'000 + k * kStampStep_ns;
  const auto side = [&](int first) {
    return FrameStamp{static_cast<uint64_t>(first + k), static_cast<double>(time) / 1e6,
                      static_cast<uint64_t>(70 + k)};
  };
  return {100 + k, {side(1000), side(2000)}, time};
}

// Writes "<stem>L.avi" and "<stem>R.avi" of known frames for the chosen
// name, and with `stamped` its stamp file; false when that fails.
inline bool WriteKnownRecording(const std::string& chosen, int frames, bool stamped) {
  const PairNames names = WriterPairNames(chosen);
  TAviWriter writers[2];
  TStampWriter stamps;
  if (!writers[0].Open(names.Left, kDefaultAviCodec, kFileRate, kWidth, kHeight, 3) ||
      !writers[1].Open(names.Right, kDefaultAviCodec, kFileRate, kWidth, kHeight, 3) ||
      (stamped && !stamps.Open(StampFileName(chosen))))
    return false;
  for (int k = 0; k < frames; ++k) {
    for (int side = 0; side < 2; ++side) {
      cv::Mat frame = KnownFrame(k, side);
      const IplImage image = cvIplImage(frame);
      if (!writers[side].Write(&image)) return false;
    }
    if (stamped && !stamps.Write(KnownStamp(k))) return false;
  }
  return true;
}

// Known frames as "pairs/<k>L.png" and "<k>R.png", or with `sides` as
// "pairs/left/frame<k>.png" and "pairs/right/frame<k>.png"; the folder.
inline std::string WriteImagePairs(const TestFolder& dir, int frames, bool sides) {
  const std::filesystem::path folder = dir.Path("pairs");
  for (const char* side : {"left", "right"})
    std::filesystem::create_directories(folder / (sides ? side : ""));
  for (int k = 0; k < frames; ++k) {
    const std::string n = std::to_string(k);
    cv::imwrite((folder / (sides ? "left/frame" + n + ".png" : n + "L.png")).string(), KnownFrame(k, 0));
    cv::imwrite((folder / (sides ? "right/frame" + n + ".png" : n + "R.png")).string(), KnownFrame(k, 1));
  }
  return folder.string();
}

// A stamped recording of known frames exported as "dataset"; the folder.
inline std::string StampedDataset(const TestFolder& dir, int frames) {
  std::vector<std::string> lines;
  EXPECT_TRUE(WriteKnownRecording(dir.Path("run.avi"), frames, true));
  EXPECT_TRUE(ExportRecording(dir.Path("runL.avi"), dir.Path("dataset"), nullptr, lines));
  return dir.Path("dataset");
}

// Answers the dialog the button shows with the path, then presses it.
inline void ChooseWith(QPushButton* button, std::function<QFileDialog*()> dialog, const std::string& path) {
  AnswerFileDialog(std::move(dialog), QString::fromStdString(path));
  button->click();
}

inline void OpenRecording(TForm1& form, const std::string& file) {
  ChooseWith(
      form.BuOpenReader, [&form] { return form.OpenDialog1; }, file);
}

inline void OpenFolder(TForm1& form, const std::string& folder) {
  ChooseWith(
      form.BuOpenFolder, [&form] { return form.FolderDialog; }, folder);
}

inline QString LogOf(const TForm1& form) { return form.MeLog->toPlainText(); }

}  // namespace playback_test
