// The reader's timeline (play, pause, seek, the frame shown), folders of
// image pairs played back like a recorded pair, and datasets exported from
// a recording or from the sources.

#include <opencv2/core/core_c.h>

#include <QBoxLayout>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "app/Unit1.h"
#include "app/application.h"
#include "app/avifiles.h"
#include "app/dataset_export.h"
#include "app/image_folders.h"
#include "filters/vidfilters_distort.h"

struct TForm1::TPlayback {
  // A recording or a folder is open for playback.
  bool Open = false;
  TPlaybackIndex Index;
  // The reader's chosen file of an open recording.
  std::string Recording;
  std::optional<TImageFolder> Folder;
  bool FolderEndTold = false;
  QTimer* PlayTimer = nullptr;
  // The dataset written from the sources while it is open.
  TDatasetWriter Live;
  QElapsedTimer LiveClock;
  QTimer* LiveTimer = nullptr;
};

namespace {

// Seconds of the live export offered first.
constexpr int kLiveExportSeconds = 10;

QFileDialog* FolderChooser(QWidget* parent, QFileDialog*& dialog, const QString& title) {
  if (dialog != nullptr) return dialog;
  // Our own dialog, like the files' one, so it can be driven offscreen.
  dialog = new QFileDialog(parent, title);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  return dialog;
}

std::string ChosenFolder(QFileDialog* dialog) {
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().front().toStdString();
}

cv::Mat ImageOrNone(const IplImage* image) { return image != nullptr ? cv::cvarrToMat(image) : cv::Mat(); }

int64_t SteadyNow_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TForm1::SetUpPlayback() {
  playback_ = std::make_shared<TPlayback>();
  auto* group = qobject_cast<QGroupBox*>(BuReadSingle->parentWidget());
  auto* rows = group != nullptr ? qobject_cast<QBoxLayout*>(group->layout()) : nullptr;
  // The reader's buttons stay one row; the timeline and the export go below.
  auto* buttons = new QHBoxLayout;
  if (rows != nullptr) {
    while (rows->count() > 0) buttons->addItem(rows->takeAt(0));
    rows->setDirection(QBoxLayout::TopToBottom);
  }
  BuPlay = new QPushButton("Play", group);
  BuPause = new QPushButton("Pause", group);
  buttons->insertWidget(buttons->indexOf(BuReadSingle) + 1, BuPlay);
  buttons->insertWidget(buttons->indexOf(BuPlay) + 1, BuPause);
  BuOpenFolder = new QPushButton("Open Folder…", group);
  buttons->insertWidget(buttons->indexOf(BuOpenReader) + 1, BuOpenFolder);
  auto* timeline = new QHBoxLayout;
  TbSeek = new QSlider(Qt::Horizontal, group);
  TbSeek->setObjectName("TbSeek");
  LaFrame = new QLabel(group);
  timeline->addWidget(TbSeek, 1);
  timeline->addWidget(LaFrame);
  auto* exports = new QHBoxLayout;
  BuExport = new QPushButton("Export…", group);
  BuExportLive = new QPushButton("Export Live", group);
  EdExportSeconds = new QSpinBox(group);
  EdExportSeconds->setRange(1, 3600);
  EdExportSeconds->setValue(kLiveExportSeconds);
  EdExportSeconds->setSuffix(" s");
  for (QWidget* widget : {static_cast<QWidget*>(BuExport), static_cast<QWidget*>(BuExportLive),
                          static_cast<QWidget*>(EdExportSeconds)})
    exports->addWidget(widget);
  exports->addStretch();
  if (rows != nullptr) {
    rows->addLayout(buttons);
    rows->addLayout(timeline);
    rows->addLayout(exports);
  }
  playback_->PlayTimer = new QTimer(this);
  playback_->PlayTimer->setSingleShot(true);
  playback_->LiveTimer = new QTimer(this);
  playback_->LiveTimer->setSingleShot(true);
  const std::pair<QPushButton*, void (TForm1::*)()> handlers[] = {{BuPlay, &TForm1::BuPlayClick},
                                                                  {BuPause, &TForm1::BuPauseClick},
                                                                  {BuOpenFolder, &TForm1::BuOpenFolderClick},
                                                                  {BuExport, &TForm1::BuExportClick},
                                                                  {BuExportLive, &TForm1::BuExportLiveClick}};
  for (const auto& [button, handler] : handlers)
    connect(button, &QPushButton::clicked, this, Guarded([this, method = handler] { (this->*method)(); }));
  connect(playback_->PlayTimer, &QTimer::timeout, this, Guarded([this] { PlayTick(); }));
  connect(playback_->LiveTimer, &QTimer::timeout, this, Guarded([this] { FinishLiveExport(); }));
  // A dataset under way is finished when the window closes, so it is whole.
  connect(this, &TForm1::Closed, this, Guarded([this] { FinishLiveExport(); }));
  connect(TbSeek, &QSlider::valueChanged, this, GuardedWith([this](int frame) { SeekPlayback(frame); }));
  LivePairHooks.push_back(
      [this](const IplImage* left, const IplImage* right, const std::array<FrameStamp, 2>& stamps) {
        ExportLivePair(left, right, stamps);
      });
  ShowTimeline();
}

bool TForm1::Playing() const { return playback_->PlayTimer->isActive(); }

bool TForm1::ExportingLive() const { return playback_->Live.IsOpen(); }

const TPlaybackIndex& TForm1::PlaybackIndex() const { return playback_->Index; }

void TForm1::ShowTimeline() {
  const TPlaybackIndex& index = playback_->Index;
  {
    // Moved by playing, not by the operator: no seek.
    const QSignalBlocker quiet(TbSeek);
    TbSeek->setRange(0, std::max(index.Count - 1, 0));
    TbSeek->setValue(std::max(index.Shown(), 0));
  }
  TbSeek->setEnabled(playback_->Open && index.Count > 0);
  LaFrame->setText(playback_->Open ? QString::fromStdString(FrameLabel(index)) : QString("No file open"));
  BuPlay->setEnabled(playback_->Open && !Playing());
  BuPause->setEnabled(Playing());
  BuExport->setEnabled(playback_->Open);
  BuExportLive->setEnabled(!ExportingLive());
}

void TForm1::OpenPlayback(const std::string& chosen) {
  if (!playback_) return;
  TPlayback& playback = *playback_;
  playback.Open = ReaderLeft || ReaderRight;
  playback.Recording = chosen;
  TPlaybackIndex index;
  for (const TAviReader* reader : {ReaderLeft.get(), ReaderRight.get()}) {
    if (reader == nullptr) continue;
    index.Count = std::max(index.Count, static_cast<int>(reader->FrameCount()));
    if (index.Rate <= 0) index.Rate = reader->FrameRate();
  }
  if (playback.Open) {
    std::string why;
    index.Stamps = UsableStamps(StampFileName(RecordedName(chosen)), why);
    if (!why.empty()) AppendLog(why);
  }
  playback.Index = std::move(index);
  ShowTimeline();
}

void TForm1::ClosePlayback() {
  if (!playback_) return;
  TPlayback& playback = *playback_;
  playback.PlayTimer->stop();
  playback.Open = false;
  playback.Recording.clear();
  playback.Folder.reset();
  playback.FolderEndTold = false;
  playback.Index = {};
  ShowTimeline();
}

void TForm1::BuOpenFolderClick() {
  const std::string chosen = ChosenFolder(FolderChooser(this, FolderDialog, "Open Folder"));
  if (chosen.empty()) return;
  BuCloseReaderClick();
  std::string why;
  std::optional<TImageFolder> folder = ReadImageFolder(chosen, why);
  if (!folder) {
    AppendLog(why);
    return;
  }
  for (const std::string& line : folder->Lines) AppendLog(line);
  TPlayback& playback = *playback_;
  playback.Index.Count = static_cast<int>(folder->Pairs.size());
  // Untimed folders play at the index's video rate.
  playback.Index.Rate = 0;
  if (folder->Timed) {
    for (size_t pair = 0; pair < folder->Pairs.size(); ++pair) {
      const double time_ms = static_cast<double>(folder->Pairs[pair].Time_ns) / 1e6;
      const FrameStamp side{pair, time_ms, 0};
      playback.Index.Stamps.push_back(
          {static_cast<int64_t>(pair), {side, side}, folder->Pairs[pair].Time_ns});
    }
  }
  AppendLog("Folder " + chosen + ": " + std::to_string(folder->Pairs.size()) + " pairs");
  playback.Folder = std::move(folder);
  playback.Open = true;
  ShowTimeline();
}

bool TForm1::ReadFolderPair() {
  if (!playback_ || !playback_->Folder) return false;
  TPlayback& playback = *playback_;
  CurrentLeft = nullptr;
  CurrentRight = nullptr;
  if (playback.Index.AtEnd()) {
    if (!std::exchange(playback.FolderEndTold, true))
      AppendLog("Folder " + playback.Folder->Path + " has no more pairs");
    return true;
  }
  const TFolderPair& pair = playback.Folder->Pairs[playback.Index.Next];
  const std::pair<const std::string*, int> sides[] = {{&pair.Left, 1}, {&pair.Right, 2}};
  for (const auto& [path, side] : sides) {
    if (path->empty()) continue;
    std::string why;
    const std::optional<cv::Mat> image = ReadFolderImage(*path, why);
    if (!image) {
      AppendLog(why);
      continue;
    }
    IplImage*& current = side == 1 ? CurrentLeft : CurrentRight;
    IplImage*& own = side == 1 ? own_left_ : own_right_;
    current = own;
    CopyFrame(*image, current, own);
  }
  return true;
}

std::array<FrameStamp, 2> TForm1::TakePlaybackStamps() {
  if (!playback_ || !playback_->Open) return {};
  TPlayback& playback = *playback_;
  TPlaybackIndex& index = playback.Index;
  // A folder's pair counts even when none of its images could be read.
  const bool read = playback.Folder ? !index.AtEnd() : CurrentLeft != nullptr || CurrentRight != nullptr;
  if (!read) return {};
  const std::array<FrameStamp, 2> stamps = index.SidesOf(index.Next);
  ++index.Next;
  // A file header may tell fewer frames than the file holds.
  index.Count = std::max(index.Count, index.Next);
  ShowTimeline();
  return stamps;
}

void TForm1::SeekPlayback(int frame) {
  TPlayback& playback = *playback_;
  if (!playback.Open) return;
  frame = std::clamp(frame, 0, std::max(playback.Index.Count - 1, 0));
  for (TAviReader* reader : {ReaderLeft.get(), ReaderRight.get()}) {
    if (reader != nullptr && !reader->Seek(playback.Index.Next, frame))
      AppendLog("File " + reader->Name() + " has no frame " + std::to_string(frame + 1));
  }
  playback.Index.Next = frame;
  playback.FolderEndTold = false;
  BuReadSingleClick();
}

void TForm1::BuPlayClick() {
  TPlayback& playback = *playback_;
  if (!playback.Open) {
    AppendLog("Play: no file open");
    return;
  }
  if (Playing()) return;
  // Played to its end: again from the start.
  if (playback.Index.AtEnd()) SeekPlayback(0);
  playback.PlayTimer->start(0);
  ShowTimeline();
}

void TForm1::BuPauseClick() {
  playback_->PlayTimer->stop();
  ShowTimeline();
}

void TForm1::PlayTick() {
  TPlayback& playback = *playback_;
  BuReadSingleClick();
  const bool ended =
      CurrentLeft == nullptr && CurrentRight == nullptr && (!playback.Folder || playback.Index.AtEnd());
  if (!ended && playback.Open)
    playback.PlayTimer->start(static_cast<int>(playback.Index.Interval_ms(playback.Index.Shown())));
  ShowTimeline();
}

bool TForm1::CalibrationForExport(TStereoCalibration& calibration) const {
  for (const TFilterEntry& entry : FilterList) {
    const auto* distort = dynamic_cast<const TDistortFilter*>(entry.Filter.get());
    if (distort == nullptr) continue;
    calibration = distort->StereoResult.value_or(TStereoCalibration{});
    calibration.K1 = distort->CameraLeft;
    calibration.D1 = distort->DistLeft;
    calibration.K2 = distort->CameraRight;
    calibration.D2 = distort->DistRight;
    return true;
  }
  return false;
}

void TForm1::BuExportClick() {
  const TPlayback& playback = *playback_;
  if (!playback.Open) {
    AppendLog("Export: no recording open");
    return;
  }
  const std::string folder = ChosenFolder(FolderChooser(this, ExportDialog, "Export"));
  if (folder.empty()) return;
  TStereoCalibration calibration;
  const bool calibrated = CalibrationForExport(calibration);
  std::vector<std::string> lines;
  if (playback.Folder) {
    ExportImageFolder(playback.Folder->Path, folder, calibrated ? &calibration : nullptr, lines);
  } else {
    ExportRecording(playback.Recording, folder, calibrated ? &calibration : nullptr, lines);
  }
  for (const std::string& line : lines) AppendLog(line);
}

void TForm1::BuExportLiveClick() {
  if (!Device1 && !Device2) {
    AppendLog("Export: no source to export");
    return;
  }
  if (ExportingLive()) return;
  const std::string folder = ChosenFolder(FolderChooser(this, ExportDialog, "Export"));
  if (folder.empty()) return;
  TPlayback& playback = *playback_;
  std::string why;
  if (!playback.Live.Open(folder, why)) {
    AppendLog(why);
    return;
  }
  playback.LiveClock.start();
  playback.LiveTimer->start(EdExportSeconds->value() * 1000);
  AppendLog("Export: the sources to " + folder + " for " + std::to_string(EdExportSeconds->value()) + " s");
  ShowTimeline();
}

void TForm1::ExportLivePair(const IplImage* left, const IplImage* right,
                            const std::array<FrameStamp, 2>& stamps) {
  TPlayback& playback = *playback_;
  if (!playback.Live.IsOpen()) return;
  const int64_t pair_ns = MakePairStamp(0, stamps).Time_ns;
  std::string why;
  if (!playback.Live.Write(ImageOrNone(left), ImageOrNone(right), pair_ns != 0 ? pair_ns : SteadyNow_ns(),
                           why)) {
    AppendLog(why);
    FinishLiveExport();
  }
}

void TForm1::FinishLiveExport() {
  TPlayback& playback = *playback_;
  playback.LiveTimer->stop();
  if (!playback.Live.IsOpen()) return;
  const double seconds = static_cast<double>(playback.LiveClock.elapsed()) / 1000.0;
  const int64_t pairs = playback.Live.Pairs();
  const std::string folder = playback.Live.Folder();
  TStereoCalibration calibration;
  const bool calibrated = CalibrationForExport(calibration);
  std::string why;
  if (!playback.Live.Finish(calibrated ? &calibration : nullptr, seconds > 0 ? pairs / seconds : 0.0, why)) {
    AppendLog(why);
  } else {
    AppendLog("Export: " + std::to_string(pairs) + " pairs of the sources written to " + folder);
  }
  ShowTimeline();
}
