#pragma once

// What the playback and the export tests share: a recorded pair of frames
// the test knows, its stamp file, and the window's reader driven through its
// dialogs.

#include <opencv2/core/core_c.h>

#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/avifiles.h"
#include "app/pair_stamps.h"
#include "app_test_support.h"

namespace playback_test {

inline constexpr int kWidth = 64;
inline constexpr int kHeight = 48;
inline constexpr double kFileRate = 25.0;
// Stamped pairs are this far apart, unlike the file's rate.
inline constexpr int64_t kStampStep_ns = 30'000'000;
inline constexpr int64_t kFirstStamp_ns = 5'000'000'000;

// Frame k of a side: a bright square moved by k on a dark ground, the right
// side's lower than the left's.
inline cv::Mat KnownFrame(int k, int side) {
  cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80));
  cv::rectangle(image, cv::Rect(2 + 4 * k, side == 0 ? 6 : 24, 12, 12), cv::Scalar(220, 200, 180), cv::FILLED);
  return image;
}

// The index of the known frame the image is closest to; -1 for no image.
inline int ClosestFrame(const IplImage* image, int frames, int side) {
  if (image == nullptr) return -1;
  const cv::Mat read = cv::cvarrToMat(image);
  int closest = -1;
  double best = -1;
  for (int k = 0; k < frames; ++k) {
    const double psnr = cv::PSNR(read, KnownFrame(k, side));
    if (psnr > best) best = psnr, closest = k;
  }
  return closest;
}

// The stamp of pair k as the stamped recording keeps it.
inline TPairStamp KnownStamp(int k) {
  const int64_t time = kFirstStamp_ns + k * kStampStep_ns;
  const FrameStamp left{static_cast<uint64_t>(1000 + k), static_cast<double>(time) / 1e6, static_cast<uint64_t>(70 + k)};
  const FrameStamp right{static_cast<uint64_t>(2000 + k), static_cast<double>(time) / 1e6, static_cast<uint64_t>(70 + k)};
  return {100 + k, {left, right}, time};
}

// Writes "<stem>L.avi" and "<stem>R.avi" of `frames` known frames for the
// chosen name, and with `stamped` its stamp file; false when it fails.
inline bool WriteKnownRecording(const std::string& chosen, int frames, bool stamped) {
  const PairNames names = WriterPairNames(chosen);
  TAviWriter writers[2];
  if (!writers[0].Open(names.Left, kDefaultAviCodec, kFileRate, kWidth, kHeight, 3) ||
      !writers[1].Open(names.Right, kDefaultAviCodec, kFileRate, kWidth, kHeight, 3))
    return false;
  TStampWriter stamps;
  if (stamped && !stamps.Open(StampFileName(chosen))) return false;
  for (int k = 0; k < frames; ++k) {
    for (int side = 0; side < 2; ++side) {
      cv::Mat frame = KnownFrame(k, side);
      IplImage image = cvIplImage(frame);
      if (!writers[side].Write(&image)) return false;
    }
    if (stamped && !stamps.Write(KnownStamp(k))) return false;
  }
  return true;
}

// Answers the dialog the button shows with the path, then presses it.
inline void ChooseWith(QPushButton* button, std::function<QFileDialog*()> dialog, const std::string& path) {
  AnswerFileDialog(std::move(dialog), QString::fromStdString(path));
  button->click();
}

inline void OpenRecording(TForm1& form, const std::string& file) {
  ChooseWith(form.BuOpenReader, [&form] { return form.OpenDialog1; }, file);
}

inline void OpenFolder(TForm1& form, const std::string& folder) {
  ChooseWith(form.BuOpenFolder, [&form] { return form.FolderDialog; }, folder);
}

inline QString LogOf(const TForm1& form) { return form.MeLog->toPlainText(); }

}  // namespace playback_test
