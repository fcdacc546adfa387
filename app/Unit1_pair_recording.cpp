// "Write Pairs": whole pairs into both AVI files with their stamp file, the
// calibration in force saved beside a recording, and the recording's figures
// in the status panel.

#include <QBoxLayout>
#include <QCheckBox>
#include <QTimer>
#include <mutex>

#include "app/Unit1.h"
#include "app/avifiles.h"
#include "app/pair_recorder.h"
#include "app/pair_stamps.h"
#include "filters/vidfilters_distort.h"

namespace {

// The figures follow the files this often.
constexpr int kRecordingRefresh_ms = 250;

std::string Count(int64_t pairs) { return std::to_string(pairs) + (pairs == 1 ? " pair" : " pairs"); }

// The distortion filter whose calibration is in force: the first with a
// stereo calibration, else the first of the chain.
TDistortFilter* CalibrationFilter(const std::vector<TFilterEntry>& chain) {
  TDistortFilter* first = nullptr;
  for (const TFilterEntry& entry : chain) {
    auto* distort = dynamic_cast<TDistortFilter*>(entry.Filter.get());
    if (distort == nullptr) continue;
    if (distort->StereoResult) return distort;
    if (first == nullptr) first = distort;
  }
  return first;
}

}  // namespace

void TForm1::SetUpPairRecording() {
  pair_recorder_ = std::make_shared<TPairRecorder>();
  ChWritePairs = new QCheckBox(QStringLiteral("Write Pairs"), ChCallback->parentWidget());
  ChWritePairs->setObjectName(QStringLiteral("ChWritePairs"));
  ChWritePairs->setEnabled(false);
  if (auto* row = qobject_cast<QBoxLayout*>(ChCallback->parentWidget()->layout())) {
    row->insertWidget(row->indexOf(ChCallback) + 1, ChWritePairs);
  }
  recording_timer_ = new QTimer(this);
  connect(recording_timer_, &QTimer::timeout, this, [this] { ShowRecordingFigures(); });
  LivePairHooks.push_back(
      [this](const IplImage* left, const IplImage* right, const std::array<FrameStamp, 2>& stamps) {
        WriteLivePair(left, right, stamps);
      });
}

void TForm1::WriteLivePair(const IplImage* left, const IplImage* right,
                           const std::array<FrameStamp, 2>& stamps) {
  if (!ChWritePairs->isChecked() || left == nullptr || right == nullptr) return;
  TPairRecorder::Outcome outcome;
  {
    const std::lock_guard lock(writer_mutex_);
    if (!WriterLeft || !WriterRight || !pair_recorder_->IsOpen()) return;
    outcome = pair_recorder_->Write(*WriterLeft, *WriterRight, left, right, stamps);
  }
  // One line for the first of each kind; the close tells how many.
  if (outcome == TPairRecorder::Outcome::Refused && !refusal_logged_) {
    refusal_logged_ = true;
    AppendLog("Write Pairs: a pair of another size or colour than the files is written to neither file");
  } else if (outcome == TPairRecorder::Outcome::StampLost && pair_recorder_->StampsLost() == 1) {
    AppendLog("Stamp file " + pair_recorder_->StampPath() + " can not be written");
  } else if (outcome == TPairRecorder::Outcome::WriteFailed && pair_recorder_->WritesFailed() == 1) {
    AppendLog("Write Pairs: the video library failed to write a frame");
  }
}

void TForm1::OpenRecordingExtras(const std::string& chosen) {
  const std::string stamps = StampFileName(chosen);
  bool opened = false;
  {
    const std::lock_guard lock(writer_mutex_);
    opened = pair_recorder_->Open(stamps);
  }
  refusal_logged_ = false;
  if (!opened) AppendLog("Stamp file " + stamps + " can not be made: Write Pairs is off");
  ChWritePairs->setEnabled(opened && WriterLeft && WriterRight);
  SaveCalibrationBeside(chosen);
  recording_opened_ = std::chrono::steady_clock::now();
  recording_timer_->start(kRecordingRefresh_ms);
  ShowRecordingFigures();
}

void TForm1::CloseRecordingExtras() {
  recording_timer_->stop();
  ChWritePairs->setChecked(false);
  ChWritePairs->setEnabled(false);
  bool kept = false;
  {
    const std::lock_guard lock(writer_mutex_);
    kept = pair_recorder_->Close();
  }
  if (kept) {
    std::string line = "Stamp file " + pair_recorder_->StampPath() + " closed, " +
                       Count(pair_recorder_->PairsWritten()) + " written";
    if (pair_recorder_->PairsRefused() > 0) line += ", " + Count(pair_recorder_->PairsRefused()) + " refused";
    if (pair_recorder_->StampsLost() > 0)
      line += ", " + std::to_string(pair_recorder_->StampsLost()) + " stamp lines lost";
    if (pair_recorder_->WritesFailed() > 0) line += ", " + Count(pair_recorder_->WritesFailed()) + " failed";
    AppendLog(line);
  }
  ShowRecording(-1, 0, 0);
}

void TForm1::SaveCalibrationBeside(const std::string& chosen) {
  TDistortFilter* filter = CalibrationFilter(FilterList);
  if (filter == nullptr) {
    AppendLog("No calibration in force: none saved beside the recording");
    return;
  }
  const std::string path = CalibrationBesideName(chosen);
  if (filter->SaveCalibration(path)) {
    AppendLog("Calibration in force saved as " + path);
  } else {
    AppendLog("Calibration in force can not be saved as " + path);
  }
}

void TForm1::ShowRecordingFigures() {
  int64_t frames[2] = {0, 0};
  {
    const std::lock_guard lock(writer_mutex_);
    if (!WriterLeft && !WriterRight) return;
    if (WriterLeft) frames[0] = WriterLeft->Frames();
    if (WriterRight) frames[1] = WriterRight->Frames();
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - recording_opened_;
  ShowRecording(seconds.count(), frames[0], frames[1]);
}
