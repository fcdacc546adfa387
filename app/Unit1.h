#pragma once

// The main window "Stereo": the operator's control panel and the owner of the
// two frame sources, the filter chain and the trigger timer.

#include <QMainWindow>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Video/vidclass/frame_stamp.h"
#include "app/pair_moment.h"
#include "app/playback_index.h"
#include "filters/mainwindow_link.h"
#include "platform/frame_message_gate.h"
#include "platform/window_handle.h"

class QAction;
class QCheckBox;
class QLabel;
class QComboBox;
class QFileDialog;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QStatusBar;
class QTimer;
class TDragPanel;
class TFilterListBox;
class TAviReader;
class TAviWriter;
class TIniFile;
class TLiveRates;
struct TRecordingShown;
class TPane;
class TQueryTimer;
class TVidFilter;
class tVideoDevEnum;
class tVideoDevice;

namespace Ui {
class TForm1;
}

// Slider position (tenths of frames per second) from a stored rate: halves go
// to the even neighbour, then the position is held inside [minimum, maximum].
int FrameRatePosition(double frames_per_second, int minimum, int maximum);
// One frame period in milliseconds for a slider position; position 0 (or
// less) has no period and gives +infinity, which never fires.
double TimerInterval(int frame_rate_position);
// Settings file path under the folder; makes the one missing directory when
// no file is there yet, or throws "Directory <path> can not be made".
std::string PrepareSettingsPath(const std::string& folder);

// Row of a source list's selected entry, or -1. The current row alone does
// not count: a list that gets focus has a current row without any selection.
int SelectedRow(const QListWidget* list);

// A weight text read as a decimal number with "." whatever the locale: blanks,
// a sign, digits with a fraction, an exponent. A text that is not a number in
// full gives what its valid beginning gives, 0 when none.
float ParseFactor(const std::string& text);

// Sets a slider's range, refusing a minimum above its maximum or a maximum
// below its minimum, each on its own (Qt would move the other end instead).
void SetSliderRange(QSlider* slider, int minimum, int maximum);
struct ValueRange;
// True when both ends of a camera's range, times the scale, are numbers a
// slider can hold.
bool SliderCanTake(const ValueRange& range, double scale);

// The device object for a source-list id, not yet initialised; null for an
// id below every kind's range. A stereo camera's entry gives the side's eye.
std::unique_ptr<tVideoDevice> MakeSourceDevice(int32_t id, platform::WindowHandle window, int side = 1);

// One entry of the filter chain as the filter list shows it.
struct TFilterEntry {
  std::string Name;
  // One filter may stand in several entries.
  std::shared_ptr<TVidFilter> Filter;
};

class TForm1 : public QMainWindow, public TMainWindowLink, public platform::MessageTarget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // What filters reach of the main window.
  IplImage* CurrentLeftImage() const override { return CurrentLeft; }
  IplImage* CurrentRightImage() const override { return CurrentRight; }
  void AppendLog(const std::string& line) override;
  void SetFilterChecks(const TVidFilter* filter, bool checked) override;
  std::unique_ptr<TDistortSetupLink> MakeDistortSetup(TDistortFilter& filter) override;
  std::unique_ptr<TDisparitySetupLink> MakeDisparitySetup(TDisparityFilter& filter) override;
  const TStereoCalibration* StereoCalibrationInForce() const override;
  // The last switched-on disparity filter of the chain: its map is the one
  // the panes show. Null when there is none.
  TDisparityFilter* ShownDisparityFilter() const;

  // Posts a frame-ready message to this window; callable from any thread. A
  // source whose last message is still waiting posts nothing.
  void Post(uint32_t message) override;
  // True while a message of that source waits in the queue.
  bool MessagePending(uint32_t message);
  // Appends a device's line to MeLog on this window's thread; callable from
  // any thread.
  void PostLine(const std::string& line) override;

  // Controls of the form.
  QListWidget* ListBox1;
  QListWidget* ListBox2;
  QPushButton* BuInit1;
  QPushButton* BuInit2;
  QPushButton* BuInitBoth;
  QPushButton* BuStart;
  QPushButton* BuStop;
  QPushButton* Trigger;
  QPushButton* BuDisplay1;
  QPushButton* BuDisplay2;
  QPushButton* Button1;
  QCheckBox* ChTrigger;
  QCheckBox* ChDisplay;
  QCheckBox* ChDiff;
  QCheckBox* ChAnal;
  QCheckBox* ChWrite;
  QPlainTextEdit* MeLog;
  QStatusBar* StatusBar1;
  QSlider* tbFrameRate;
  QSlider* tbExposure;
  QLineEdit* EdFourcc;
  QLineEdit* EdR1;
  QLineEdit* EdR2;
  QLineEdit* EdG1;
  QLineEdit* EdG2;
  QLineEdit* EdB1;
  QLineEdit* EdB2;
  // The filter-chain editor: panels to drag and the list they are dropped on.
  TDragPanel* PaDiff;
  TDragPanel* PaDistort;
  TDragPanel* PaColToGray;
  TDragPanel* PaTrack;
  TDragPanel* PaCalib;
  TDragPanel* PaThres;
  TDragPanel* PaBlur;
  TDragPanel* PaDepth;
  TFilterListBox* StereoFIlterListBox;
  QPushButton* Button8;
  // Beside each source list: the modes of the side's capture device; the
  // one picked is kept in Stereo.ini by the device's entry.
  QComboBox* CbMode1 = nullptr;
  QComboBox* CbMode2 = nullptr;
  // The "View" menu: the display window back once closed, and the 3D view.
  QAction* AcShowDisplay = nullptr;
  QAction* AcShow3D = nullptr;
  void ShowDisplayWindow();
  // The second status-bar panel: frames per second of each source, pairs per
  // second and frames dropped, then the recording's time and frames written.
  QLabel* LaRates = nullptr;
  // What the recording tells the panel: seconds recorded and frames written
  // to the left and the right file; a negative time ends the recording's part.
  void ShowRecording(double seconds, int64_t frames_left, int64_t frames_right);

  // Application state, in the order the window keeps it.
  std::unique_ptr<tVideoDevice> Device1;
  std::unique_ptr<tVideoDevice> Device2;
  std::vector<TFilterEntry> FilterList;
  IplImage* CurrentLeft = nullptr;
  IplImage* CurrentRight = nullptr;
  IplImage* ProcessedLeft = nullptr;
  IplImage* ProcessedRight = nullptr;
  // Which frame of its source each side of the current pair is.
  std::array<FrameStamp, 2> CurrentStamps{};
  bool Arrived1 = false;
  bool Arrived2 = false;
  std::unique_ptr<TQueryTimer> QueryTimer;
  bool WriteInThread = false;
  std::unique_ptr<tVideoDevEnum> DeviceEnum;

  // --- Views, AVI pair files and camera controls ---
  QSlider* tbPixelClock;
  QSlider* tbBrightness;
  QSlider* tbContrast;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QPushButton* Button2;
  QPushButton* Button5;
  QPushButton* BuDiff;
  QPushButton* BuAnal;
  QPushButton* Button7;
  QPushButton* Button3;
  QPushButton* BuCloseWriter;
  QCheckBox* ChCallback;
  QPushButton* BuOpenReader;
  QPushButton* BuReadSingle;
  QPushButton* BuCloseReader;
  // Made when first shown.
  QFileDialog* SaveDialog1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;

  // Guarded by writer_mutex_: capture threads write through them.
  std::unique_ptr<TAviWriter> WriterLeft;
  std::unique_ptr<TAviWriter> WriterRight;

  std::unique_ptr<TAviReader> ReaderLeft;
  std::unique_ptr<TAviReader> ReaderRight;
  IplImage* ViewGreyLeft = nullptr;
  IplImage* ViewGreyRight = nullptr;
  IplImage* ViewColourRight = nullptr;
  IplImage* ViewColourLeft = nullptr;
  float R1 = 0.0F;
  float G1 = 0.0F;
  float B1 = 0.0F;
  float R2 = 0.0F;
  float G2 = 0.0F;
  float B2 = 0.0F;

  void PrepareViewBuffers(const IplImage* frame);
  void ShowDifference();
  void ShowAnaglyph();
  void ReadFactors();
  void BuDiffClick() { ShowDifference(); }
  void BuAnalClick() { ShowAnaglyph(); }

  void Button7Click();
  void Button3Click();
  void BuCloseWriterClick();
  void ChCallbackClick();
  void BuOpenReaderClick();
  void BuReadSingleClick();
  void BuCloseReaderClick();
  // Frame callbacks of the two sources, on their capture threads.
  static void WriteFrameLeft();
  static void WriteFrameRight();

  void tbPixelClockChange();
  void tbBrightnessChange();
  void tbContrastChange();
  void Button2Click();
  // --- end of views, files and controls ---

  // Event handlers.
  void BuInit1Click();
  void BuInit2Click();
  void BuInitBothClick();
  void BuStartClick();
  void BuStopClick();
  void TriggerClick();
  void ChTriggerClick();
  void BuDisplay1Click();
  void BuDisplay2Click();
  void Button1Click();
  void tbFrameRateChange();
  void tbExposureChange();
  // The filter-chain editor.
  void StereoFIlterListBoxDragDrop(const QWidget* source);
  void AddFilter(const std::shared_ptr<TVidFilter>& filter, const std::string& name);
  void StereoFIlterListBoxClickCheck(int row);
  void StereoFIlterListBoxDblClick();
  // Takes the entry out of the chain. A filter whose worker still matches is
  // kept aside until it is idle, so the window never waits for it.
  void RemoveFilter(int row);
  // Filters taken out whose workers have not finished yet.
  size_t RetiringFilters() const { return retiring_filters_.size(); }
  void Button8Click() {}

  // The application-wide message hook; true marks the event handled.
  bool ApplicationEvents1Message(QEvent* event);
  void HandlePair(IplImage* left, IplImage* right);
  // Called with every pair taken from the sources (raw, before the chain)
  // and its stamps, on the window's thread; one-sided pairs have a null side.
  using LivePairHook = std::function<void(const IplImage* left, const IplImage* right,
                                          const std::array<FrameStamp, 2>& stamps)>;
  std::vector<LivePairHook> LivePairHooks;
  // Frame period of the faster or the slower source in milliseconds (in
  // trigger mode no shorter than the timer's).
  double FramePeriod_ms(bool slower) const;
  void RunFilterChain(IplImage* left, IplImage* right);

  void ReadSettings();
  void WriteSettings();

  // The timer's callback: one software trigger on each existing source.
  static void TriggerBoth();

  // Playback and export
  // The reader's timeline: play at the recorded rate, pause, seek, the frame
  // shown; folders of image pairs play back like a recorded pair.
  QPushButton* BuPlay = nullptr;
  QPushButton* BuPause = nullptr;
  QSlider* TbSeek = nullptr;
  QLabel* LaFrame = nullptr;
  QPushButton* BuOpenFolder = nullptr;
  // A dataset of the open recording, or of the sources for some seconds.
  QPushButton* BuExport = nullptr;
  QPushButton* BuExportLive = nullptr;
  QSpinBox* EdExportSeconds = nullptr;
  QFileDialog* FolderDialog = nullptr;
  QFileDialog* ExportDialog = nullptr;
  void BuPlayClick();
  void BuPauseClick();
  // Shows pair `frame` (from 0) of what plays back; playing goes on from it.
  void SeekPlayback(int frame);
  void BuOpenFolderClick();
  void BuExportClick();
  void BuExportLiveClick();
  bool Playing() const;
  bool ExportingLive() const;
  const TPlaybackIndex& PlaybackIndex() const;
  // The calibration of the chain's first distortion filter, typed values
  // included; false without such a filter.
  bool CalibrationForExport(TStereoCalibration& calibration) const;

 private:
  struct TPlayback;
  void SetUpPlayback();
  // The index (count, rate, stamps) of the pair just opened by the reader.
  void OpenPlayback(const std::string& chosen);
  void ClosePlayback();
  // Reads the next pair of an open folder into the current images; false
  // when no folder is open.
  bool ReadFolderPair();
  // The stamps of the pair just read; moves the index and the timeline on.
  std::array<FrameStamp, 2> TakePlaybackStamps();
  void PlayTick();
  void ShowTimeline();
  void ExportLivePair(const IplImage* left, const IplImage* right, const std::array<FrameStamp, 2>& stamps);
  void FinishLiveExport();
  // Shared: its parts are only known in the playback unit.
  std::shared_ptr<TPlayback> playback_;

 signals:
  // The window has closed; the program ends.
  void Closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormCloseQuery();
  void FormDestroy();

  // One side's set-up from its list; false when it made no device.
  bool SetUpSource(int side);
  void ReleaseSource(int side);
  // The mode lists: made once, filled from a side's device after its
  // set-up; the stored mode goes to a capture device before its Init.
  void SetUpModeLists();
  void ShowModes(int side);
  void ApplyStoredMode(int side, tVideoDevice& device);
  void ModeChosen(int side);
  std::unique_ptr<tVideoDevice>& Source(int side) { return side == 1 ? Device1 : Device2; }
  void StartTimer();
  void EndTimer();
  void LoadSettingsFrom(TIniFile& ini);
  void SaveSettingsTo(TIniFile& ini) const;
  // The anaglyph weight edits in the order their keys are stored.
  std::array<QLineEdit*, 6> FactorEdits() const;
  void ReplaceLog(const std::vector<std::string>& lines);
  void ConnectFilterEditor();
  // Settings of the filters that keep theirs in the settings file.
  void RestoreFilterSettings(TVidFilter& filter);
  void SaveFilterSettings(TIniFile& ini) const;

  void SetUpViewsFilesAndControls();
  void SetUpViewMenu();
  void SetUpStatusPanel();
  // Counts a frame taken from a source (1, 2) and a pair handed to the chain.
  void CountArrival(int side, const FrameStamp& stamp);
  void CountPair();
  void ShowRates();
  // False, with a line in the log, for a camera range no slider can take:
  // the slider then keeps its last range.
  bool TakeRange(const ValueRange& range, double scale, const char* what);
  // Writes the side's frame when it has an open writer; the caller holds
  // writer_mutex_.
  void WriteSourceFrame(int side);
  static void WriteFrameInThread(int side);
  // The hook's write of an announced frame while "Write File" is checked.
  void WriteAnnouncedFrame(int side);
  bool OpenWriters(const std::string& chosen);
  void ReadSide(int side);
  void ReleaseViewBuffers();

  std::unique_ptr<Ui::TForm1> ui_;
  std::unique_ptr<TLiveRates> live_rates_;
  std::vector<std::shared_ptr<TVidFilter>> retiring_filters_;
  QTimer* retire_timer_ = nullptr;
  void EndIdleFilters();
  // Null while nothing records.
  std::unique_ptr<TRecordingShown> recording_shown_;
  // Around the writers and WriteInThread: a capture thread never writes to a
  // writer that is being finished or replaced.
  std::mutex writer_mutex_;
  // Images of frames read from a file that did not fit the current image.
  IplImage* own_left_ = nullptr;
  IplImage* own_right_ = nullptr;
  // Held by the timer thread while it triggers and by this thread while it
  // replaces a source, so a trigger never reaches a device being destroyed.
  std::mutex source_mutex_;
  // When the timer's last trigger went out; timer thread only.
  std::chrono::steady_clock::time_point last_trigger_{};
  // The timer's period, for the timer thread.
  std::atomic<double> trigger_period_ms_{0.0};
  // Pairing: with both sources open only whole pairs, else the one side.
  void TakeArrivals();
  void PairBothSides();
  void HandleOneSided(int side);
  void HandleHeldPair(IplImage* left, IplImage* right, const std::array<FrameStamp, 2>& stamps);
  PairChoice last_pair_{};
  // The number of the next software trigger in trigger mode, 0 otherwise;
  // any thread.
  uint64_t NextTriggerNumber();
  std::atomic<bool> numbering_triggers_{false};
  std::atomic<uint64_t> trigger_count_{0};
  // One per source message; null for any other message number.
  platform::FrameMessageGate* GateFor(uint32_t message);
  platform::FrameMessageGate message_gates_[2];

  // Write Pairs and batch
 public:
  // "Write Pairs": beside "Write File" and "Write in Thread", made in code.
  QCheckBox* ChWritePairs = nullptr;
  // The figures of the recording open now, for the status panel.
  void ShowRecordingFigures();

 private:
  void SetUpPairRecording();
  void WriteLivePair(const IplImage* left, const IplImage* right, const std::array<FrameStamp, 2>& stamps);
  // The stamp file, the calibration beside the files and the figures of a
  // recording just opened, and their end at "Close File".
  void OpenRecordingExtras(const std::string& chosen);
  void CloseRecordingExtras();
  void SaveCalibrationBeside(const std::string& chosen);
  // Shared, so that the window's other files need not know it.
  std::shared_ptr<class TPairRecorder> pair_recorder_;
  QTimer* recording_timer_ = nullptr;
  std::chrono::steady_clock::time_point recording_opened_{};
  bool refusal_logged_ = false;
  // end of Write Pairs and batch
};

// The main window's one process-wide instance; null while none exists.
extern TForm1* Form1;
