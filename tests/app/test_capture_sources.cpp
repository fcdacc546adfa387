// System capture devices in the main window, on GStreamer test sources
// listed in STEREO_CAPTURE_SOURCES; and a close that meets a source which
// refuses to stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
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
// Sources that state their size: colour at 25 frames a second, and grey in
// two sizes.
const char kColour[] =
    "videotestsrc pattern=smpte ! capsfilter caps=video/x-raw,format=BGR,width=640,height=360,framerate=25/1";
const char kGreyModes[] =
    "videotestsrc pattern=checkers-8 ! capsfilter "
    "caps=\"video/x-raw,format=GRAY8,width={400,200},height=150\"";
// One device holding both eyes: red on the left, blue on the right.
const char kStereoCamera[] =
    "side-by-side: compositor name=m sink_1::xpos=320 ! capsfilter "
    "caps=video/x-raw,format=BGR,width=640,height=240 "
    "videotestsrc pattern=red ! capsfilter caps=video/x-raw,width=320,height=240 ! m. "
    "videotestsrc pattern=blue ! capsfilter caps=video/x-raw,width=320,height=240 ! m.";

void Select(QListWidget* list, const char* text) {
  const auto found = list->findItems(QString::fromLatin1(text), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text;
  list->setCurrentItem(found.front());
}

// The pane's bitmap holds the frame upright, every row and column of it.
::testing::AssertionResult PaneShows(const TPaneBitmap& pane, const IplImage* frame) {
  if (frame == nullptr || !pane.Matches(frame->width, frame->height, 8 * frame->nChannels)) {
    return ::testing::AssertionFailure() << "formats differ";
  }
  for (int y = 0; y < frame->height; ++y) {
    const uint8_t* shown = pane.Pixels() + static_cast<ptrdiff_t>(frame->height - 1 - y) * pane.RowPitch();
    const auto* held = reinterpret_cast<const uint8_t*>(frame->imageData + y * frame->widthStep);
    for (int x = 0; x < frame->width * frame->nChannels; ++x) {
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
      : sources_("STEREO_CAPTURE_SOURCES", std::string(kBars) + "\n" + kCheckers + "\n" + kMissingFile +
                                               "\n" + kThirtyFrames + "\n" + kColour + "\n" + kGreyModes +
                                               "\n" + kStereoCamera + "\n") {}
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

// Each source opens at the size and colour it states, and its pane shows it.
TEST_F(CaptureSources, SourcesOpenAtTheirOwnSizeAndColour) {
  Select(form().ListBox1, kColour);
  Select(form().ListBox2, kGreyModes);
  form().BuInitBoth->click();
  EXPECT_EQ(TakeShownErrors(), "");
  ASSERT_TRUE(WaitForPairs(3));
  const TPaneBitmap& left = Form2->PbGraf1->Bitmap();
  const TPaneBitmap& right = Form2->PbGraf2->Bitmap();
  EXPECT_TRUE(left.Matches(640, 360, 24));
  EXPECT_TRUE(right.Matches(400, 150, 8));
  EXPECT_TRUE(PaneShows(left, form().Device1->HeldFrame()));
  EXPECT_TRUE(PaneShows(right, form().Device2->HeldFrame()));
  // The bars are colour, as the source gives them: blue and red differ.
  const IplImage* bars = form().Device1->HeldFrame();
  const auto* pixel = reinterpret_cast<const uint8_t*>(bars->imageData + 300 * bars->widthStep);
  EXPECT_NE(pixel[0], pixel[2]);
  EXPECT_EQ(form().CbMode1->currentText(), "640 x 360 BGR 25 fps");
  EXPECT_EQ(form().CbMode2->count(), 2);
}

// A mode picked from the list opens the side again at it, and the next
// start of the program opens that source at the same mode.
TEST_F(CaptureSources, PickedModeOpensTheSideAgainAndIsKeptInTheSettings) {
  Select(form().ListBox1, kGreyModes);
  form().BuInit1->click();
  ASSERT_EQ(form().Device1->Width, 400);
  const int smaller = form().CbMode1->findText("200 x 150 GRAY8");
  ASSERT_GE(smaller, 0);
  form().CbMode1->setCurrentIndex(smaller);
  emit form().CbMode1->activated(smaller);
  ASSERT_NE(form().Device1, nullptr);
  EXPECT_EQ(form().Device1->Width, 200);
  // Opened again and started: its frames go on, at the smaller size.
  ASSERT_TRUE(WaitForPairs(filter_->pairs.size() + 2));
  EXPECT_TRUE(Form2->PbGraf1->Bitmap().Matches(200, 150, 8));
  EXPECT_EQ(filter_->pairs.back().Left()->width, 200);
  EXPECT_THAT(folder_.ReadSettings(), ContainsRegex("\\[Capture modes\\]"));

  windows_.reset();
  windows_ = std::make_unique<Windows>();
  Select(form().ListBox1, kGreyModes);
  form().BuInit1->click();
  EXPECT_EQ(form().Device1->Width, 200);
  EXPECT_EQ(form().CbMode1->currentText(), "200 x 150 GRAY8");
}

// Picked in both lists, the stereo camera's entry gives the left half to the
// first side and the right half to the second, each pair one frame.
TEST_F(CaptureSources, StereoCameraGivesEachSideItsHalfOfOneFrame) {
  Select(form().ListBox1, kStereoCamera);
  Select(form().ListBox2, kStereoCamera);
  form().BuInitBoth->click();
  EXPECT_EQ(TakeShownErrors(), "");
  ASSERT_NE(form().Device1, nullptr);
  ASSERT_NE(form().Device2, nullptr);
  ASSERT_TRUE(WaitForPairs(5));
  EXPECT_EQ(form().CurrentStamps[0], form().CurrentStamps[1]);
  EXPECT_TRUE(Form2->PbGraf1->Bitmap().Matches(320, 240, 24));
  const IplImage* left = form().Device1->HeldFrame();
  const IplImage* right = form().Device2->HeldFrame();
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  const auto colour = [](const IplImage* image) {
    const auto* pixel = reinterpret_cast<const uint8_t*>(image->imageData + 120 * image->widthStep + 160 * 3);
    return std::vector<int>(pixel, pixel + 3);
  };
  using ::testing::ElementsAre;
  using ::testing::Ge;
  using ::testing::Le;
  EXPECT_THAT(colour(left), ElementsAre(Le(2), Le(2), Ge(253)));
  EXPECT_THAT(colour(right), ElementsAre(Ge(253), Le(2), Le(2)));
  // Both halves lie in the one sample.
  EXPECT_EQ(right->imageData, left->imageData + 320 * 3);
  EXPECT_TRUE(PaneShows(Form2->PbGraf2->Bitmap(), right));
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
