// AVI pair files: the writers, fed from the message hook, the capture threads
// or one frame at a time, and the readers that play a pair back into the
// processing loop.

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QSlider>
#include <cstdio>
#include <opencv2/core.hpp>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/avifiles.h"

namespace {

// Our own dialog rather than the desktop's, so it behaves the same everywhere
// and can be driven offscreen. Made on first use: a file dialog keeps its
// state in the user's configuration folder when it goes, which a window
// that never showed one must not touch. A pair is often saved again under
// its old name: no overwrite question.
QFileDialog* FileDialog(QWidget* parent, QFileDialog*& dialog, QFileDialog::AcceptMode mode) {
  if (dialog != nullptr) return dialog;
  dialog = new QFileDialog(parent);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setAcceptMode(mode);
  dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog->setDefaultSuffix("avi");
  dialog->setNameFilter("*.avi");
  return dialog;
}

// The path chosen in a file dialog; empty when it was cancelled.
std::string ChoosePath(QFileDialog* dialog) {
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().front().toStdString();
}

}  // namespace

void TForm1::Button7Click() {
  if (!Device1 && !Device2) {
    AppendLog("Open File: no source to record");
    return;
  }
  const std::string chosen = ChoosePath(FileDialog(this, SaveDialog1, QFileDialog::AcceptSave));
  if (chosen.empty()) return;
  // The pair open so far is finished first, so it stays readable.
  BuCloseWriterClick();
  const bool opened = OpenWriters(chosen);
  ChWrite->setEnabled(opened);
  ChCallback->setEnabled(opened);
  if (opened) OpenRecordingExtras(chosen);
}

bool TForm1::OpenWriters(const std::string& chosen) {
  const int32_t codec = CodecCode(EdFourcc->text().toStdString());
  const double fps = RecordingRate(tbFrameRate->value());
  const PairNames names = WriterPairNames(chosen);
  std::unique_ptr<TAviWriter> writers[2];
  const std::pair<tVideoDevice*, const std::string*> sides[] = {{Device1.get(), &names.Left},
                                                                {Device2.get(), &names.Right}};
  for (int i = 0; i < 2; ++i) {
    tVideoDevice* device = sides[i].first;
    if (device == nullptr) continue;
    // Each file takes its own source's format: the library writes frames
    // of another size as nothing at all.
    const IplImage* image = device->Image;
    const int width = image != nullptr ? image->width : device->Width;
    const int height = image != nullptr ? image->height : device->Height;
    const int channels = image != nullptr ? image->nChannels : device->Channels;
    auto writer = std::make_unique<TAviWriter>();
    if (!writer->Open(*sides[i].second, codec, fps, width, height, channels)) {
      AppendLog("File " + *sides[i].second + " can not be written with codec \"" + CodecText(codec) + "\"");
      // Half a pair is no recording: the file already opened goes again.
      for (int opened = 0; opened < i; ++opened) {
        if (!writers[opened]) continue;
        writers[opened].reset();
        std::remove(sides[opened].second->c_str());
        AppendLog("File " + *sides[opened].second + " removed: its pair can not be written");
      }
      return false;
    }
    writers[i] = std::move(writer);
  }
  const std::lock_guard lock(writer_mutex_);
  WriterLeft = std::move(writers[0]);
  WriterRight = std::move(writers[1]);
  return true;
}

void TForm1::WriteSourceFrame(int side) {
  tVideoDevice* device = side == 1 ? Device1.get() : Device2.get();
  TAviWriter* writer = side == 1 ? WriterLeft.get() : WriterRight.get();
  if (device != nullptr && writer != nullptr)
    device->ReadNewestFrame([writer](const IplImage& frame) { writer->Write(&frame); });
}

void TForm1::WriteAnnouncedFrame(int side) {
  if (!ChWrite->isChecked()) return;
  const std::lock_guard lock(writer_mutex_);
  WriteSourceFrame(side);
}

void TForm1::Button3Click() {
  const std::lock_guard lock(writer_mutex_);
  WriteSourceFrame(1);
  WriteSourceFrame(2);
}

void TForm1::WriteFrameInThread(int side) {
  TForm1* form = Form1;
  if (form == nullptr) return;
  // The same order as everywhere: sources, then writers.
  const std::lock_guard sources(form->source_mutex_);
  const std::lock_guard writers(form->writer_mutex_);
  if (form->WriteInThread) form->WriteSourceFrame(side);
}

void TForm1::WriteFrameLeft() { WriteFrameInThread(1); }

void TForm1::WriteFrameRight() { WriteFrameInThread(2); }

void TForm1::BuCloseWriterClick() {
  std::unique_ptr<TAviWriter> finished[2];
  {
    const std::lock_guard lock(writer_mutex_);
    WriteInThread = false;
    finished[0] = std::move(WriterLeft);
    finished[1] = std::move(WriterRight);
  }
  // Every open writer is finished, whether or not its source still exists.
  for (auto& writer : finished) {
    if (!writer) continue;
    writer->Close();
    AppendLog("File " + writer->Name() + " closed, " + std::to_string(writer->Frames()) + " frames");
  }
  ChWrite->setChecked(false);
  ChWrite->setEnabled(false);
  ChCallback->setChecked(false);
  ChCallback->setEnabled(false);
  CloseRecordingExtras();
}

void TForm1::ChCallbackClick() {
  const std::lock_guard lock(writer_mutex_);
  WriteInThread = ChCallback->isChecked();
}

void TForm1::BuOpenReaderClick() {
  const std::string chosen = ChoosePath(FileDialog(this, OpenDialog1, QFileDialog::AcceptOpen));
  if (chosen.empty()) return;
  BuCloseReaderClick();
  const PairNames names = ReaderPairNames(chosen);
  const std::pair<std::unique_ptr<TAviReader>*, const std::string*> sides[] = {{&ReaderLeft, &names.Left},
                                                                               {&ReaderRight, &names.Right}};
  for (const auto& [reader, name] : sides) {
    auto opened = std::make_unique<TAviReader>();
    if (opened->Open(*name)) {
      *reader = std::move(opened);
    } else {
      AppendLog("File " + *name + " can not be read");
    }
  }
  OpenPlayback(chosen);
}

void TForm1::ReadSide(int side) {
  std::unique_ptr<TAviReader>& reader = side == 1 ? ReaderLeft : ReaderRight;
  IplImage*& current = side == 1 ? CurrentLeft : CurrentRight;
  if (!reader) {
    current = nullptr;
    return;
  }
  cv::Mat frame;
  const TAviReader::Result result = reader->Next(frame);
  if (result != TAviReader::Result::Frame) {
    if (result == TAviReader::Result::FirstEnd) AppendLog("File " + reader->Name() + " has no more frames");
    current = nullptr;
    return;
  }
  // The reader's rows come top row first, as the panes draw them. A file
  // frame goes into the window's own image, never into a source's memory.
  IplImage*& own = side == 1 ? own_left_ : own_right_;
  current = own;
  CopyFrame(frame, current, own);
}

void TForm1::BuReadSingleClick() {
  if (!ReadFolderPair()) {
    ReadSide(1);
    ReadSide(2);
  }
  CurrentStamps = TakePlaybackStamps();
  // Both files ended or none open: there is no pair to process.
  if (CurrentLeft == nullptr && CurrentRight == nullptr) return;
  if (Form2 != nullptr && CurrentLeft != nullptr && CurrentLeft->width != Form2->PbGraf1->width()) {
    SizePane(Form2->PbGraf1, CurrentLeft->width, CurrentLeft->nChannels, 0, CurrentLeft->height);
    if (CurrentRight != nullptr) {
      SizePane(Form2->PbGraf2, CurrentRight->width, CurrentRight->nChannels,
               Form2->PbGraf1->x() + Form2->PbGraf1->width() + 1, CurrentRight->height);
    }
  }
  HandlePair(CurrentLeft, CurrentRight);
}

void TForm1::BuCloseReaderClick() {
  ReaderLeft.reset();
  ReaderRight.reset();
  ClosePlayback();
}
