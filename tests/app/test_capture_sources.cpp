// System capture devices in the main window, on GStreamer test sources
// listed in STEREO_CAPTURE_SOURCES; and a close that meets a source which
// refuses to stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "Video/vidclass/vidclass_dshow.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/qtimer.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ContainsRegex;

// Pictures with structure along both axes.
const char kBars[] = "videotestsrc pattern=smpte";
const char kCheckers[] = "videotestsrc pattern=checkers-8";
const char kMissingFile[] = "filesrc location=/no/such/capture/file";
const char kThirtyFrames[] = "videotestsrc num-buffers=30";

void Select(QListWidget* list, const char* text) {
  const auto found = list->findItems(QString::fromLatin1(text), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text;
  list->setCurrentItem(found.front());
}

// The pane's bitmap holds the frame upright, every row and column of it.
::testing::AssertionResult PaneShows(const TPaneBitmap& pane, const IplImage* frame) {
  if (frame == nullptr || !pane.Matches(frame->width, frame->height, 8)) {
    return ::testing::AssertionFailure() << "formats differ";
  }
  for (int y = 0; y < frame->height; ++y) {
    const uint8_t* shown = pane.Pixels() + static_cast<ptrdiff_t>(frame->height - 1 - y) * pane.RowPitch();
    const auto* held = reinterpret_cast<const uint8_t*>(frame->imageData + y * frame->widthStep);
    for (int x = 0; x < frame->width; ++x) {
      if (shown[x] != held[x]) return ::testing::AssertionFailure() << "differs at " << x << ", " << y;
    }
  }
  return ::testing::AssertionSuccess();
}

// Grey levels that vary along a row and down a column.
bool HasStructure(const IplImage* frame) {
  const auto at = [frame](int x, int y) { return frame->imageData[y * frame->widthStep + x]; };
  bool along = false, down = false;
  for (int i = 1; i < frame->height; ++i)
    down = down || at(0, i) != at(0, 0) || at(frame->width / 2, i) != at(frame->width / 2, 0);
  for (int i = 1; i < frame->width; ++i) along = along || at(i, 0) != at(0, 0);
  return along && down;
}

int Occurrences(const QString& text, const QString& line) { return static_cast<int>(text.count(line)); }

class CaptureSources : public ::testing::Test {
 protected:
  CaptureSources()
      : sources_("STEREO_CAPTURE_SOURCES",
                 std::string(kBars) + "\n" + kCheckers + "\n" + kMissingFile + "\n" + kThirtyFrames + "\n") {}
  void SetUp() override {
    windows_ = std::make_unique<Windows>();
    filter_ = TVidFilter::Create<RecordingFilter>();
    form().FilterList.push_back({"Recorder", filter_});
  }
  TForm1& form() { return windows_->form(); }
  bool WaitForPairs(size_t count) {
    return ProcessEventsUntil([&] { return filter_->pairs.size() >= count; }, 20s);
  }

  ScopedSettingsFolder folder_;
  ScopedEnv sources_;
  std::unique_ptr<Windows> windows_;
  std::shared_ptr<RecordingFilter> filter_;
};

TEST_F(CaptureSources, BothListsOpenThemAndLivePairsAreDrawnInBothPanes) {
  Select(form().ListBox1, kBars);
  Select(form().ListBox2, kCheckers);
  form().BuInitBoth->click();
  ASSERT_NE(dynamic_cast<tVideoDeviceDShow*>(form().Device1.get()), nullptr);
  ASSERT_NE(dynamic_cast<tVideoDeviceDShow*>(form().Device2.get()), nullptr);
  EXPECT_EQ(TakeShownErrors(), "");
  ASSERT_TRUE(WaitForPairs(3));
  // The pair is the frames each source holds for the window.
  EXPECT_EQ(filter_->pairs.back().Left(), form().Device1->HeldFrame());
  EXPECT_EQ(filter_->pairs.back().Right(), form().Device2->HeldFrame());

  // What is painted is each source's own frame, whole and upright: the two
  // pictures have structure both ways, and differ.
  const TPaneBitmap& left = Form2->PbGraf1->Bitmap();
  const TPaneBitmap& right = Form2->PbGraf2->Bitmap();
  ASSERT_TRUE(left.Matches(320, 240, 8));
  ASSERT_TRUE(right.Matches(320, 240, 8));
  EXPECT_TRUE(HasStructure(form().Device1->HeldFrame()));
  EXPECT_TRUE(HasStructure(form().Device2->HeldFrame()));
  EXPECT_TRUE(PaneShows(left, form().Device1->HeldFrame()));
  EXPECT_TRUE(PaneShows(right, form().Device2->HeldFrame()));
  EXPECT_NE(std::memcmp(left.Pixels(), right.Pixels(), left.ByteSize()), 0);
}

TEST_F(CaptureSources, SourceThatFailsToStartShowsItsErrorAndTheOtherRuns) {
  Select(form().ListBox1, kMissingFile);
  Select(form().ListBox2, kCheckers);
  form().BuInitBoth->click();
  EXPECT_THAT(TakeShownErrors().toStdString(), ContainsRegex(" \\(\\$[0-9A-F]+\\)\\.\n$"));
  ASSERT_NE(form().Device2, nullptr);
  EXPECT_TRUE(ProcessEventsUntil([&] { return form().Arrived2; }, 20s));
}

TEST_F(CaptureSources, StreamThatEndsLeavesOneLineInTheLog) {
  Select(form().ListBox1, kThirtyFrames);
  form().BuInit1->click();
  form().BuStart->click();
  const QString line = "DShow stopped: end of stream";
  ASSERT_TRUE(ProcessEventsUntil([&] { return form().MeLog->toPlainText().contains(line); }, 20s));
  const size_t pairs = filter_->pairs.size();
  EXPECT_GE(pairs, 1u);
  ProcessEventsFor(1200ms);
  EXPECT_EQ(Occurrences(form().MeLog->toPlainText(), line), 1);
  EXPECT_LE(filter_->pairs.size(), pairs + 1);
  form().BuStop->click();
  EXPECT_EQ(TakeShownErrors(), "");
}

// A source whose Stop raises, and one that tells how often it was stopped.
class RefusingSource : public FakeSource {
 public:
  RefusingSource() : FakeSource(64, 48, 1) {}
  void Stop() override { throw std::runtime_error("Stop refused ($1)."); }
};

class CountedSource : public FakeSource {
 public:
  explicit CountedSource(int* stops_out) : FakeSource(64, 48, 1), stops_out_(stops_out) {}
  ~CountedSource() override { *stops_out_ = stops; }

 private:
  int* stops_out_;
};

TEST(ClosePath, Regression_SourceThatRefusesToStopEndsNothingEarly) {
  ScopedSettingsFolder folder;
  auto windows = std::make_unique<Windows>();
  TForm1& form = windows->form();
  int second_stops = -1;
  form.Device1 = std::make_unique<RefusingSource>();
  form.Device2 = std::make_unique<CountedSource>(&second_stops);
  form.Button1->click();  // the trigger timer runs
  ASSERT_NE(form.QueryTimer, nullptr);

  form.close();
  EXPECT_EQ(TakeShownErrors(), "Stop refused ($1).\n");
  EXPECT_EQ(form.Device1, nullptr);
  EXPECT_EQ(form.Device2, nullptr);
  EXPECT_GE(second_stops, 1);
  EXPECT_EQ(form.QueryTimer, nullptr);

  form.Device1 = std::make_unique<RefusingSource>();
  windows.reset();
  EXPECT_EQ(TakeShownErrors(), "Stop refused ($1).\n");
  EXPECT_THAT(folder.ReadSettings(), ContainsRegex("Framerate="));
}

}  // namespace
