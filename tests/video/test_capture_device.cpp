// The system capture device on GStreamer test sources: the size, colour and
// modes the source states, frames scaled to the device's size, capture
// times, controls, the two eyes of a stereo camera, refused formats, streams
// that end by themselves, pipelines that refuse to start, and what
// destruction frees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Video/vidclass/vidclass_dshow.h"
#include "Video/vidclass/vidclass_sidebyside.h"
#include "video_test_support.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr auto kPatience = 10s;

class CaptureDevice : public ::testing::Test {
 protected:
  void SetUp() override { AnnouncementLog::Instance().Clear(); }

  // The device for this source description, listed alone after the system's own.
  std::unique_ptr<tVideoDeviceDShow> Open(const std::string& description) {
    setenv("STEREO_CAPTURE_SOURCES", description.c_str(), 1);
    const int32_t index = CaptureDeviceIndex(description);
    EXPECT_GE(index, 0) << description;
    return std::make_unique<tVideoDeviceDShow>(index, &window_);
  }
  static bool WaitForFrames(std::size_t count) {
    return AnnouncementLog::Instance().WaitFor(MessageEntry(kFirstSourceMessage), count, kPatience);
  }
  static std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const std::string& entry : AnnouncementLog::Instance().Entries())
      if (entry.rfind("line ", 0) == 0) lines.push_back(entry);
    return lines;
  }

  RecordingWindow window_;
};

struct ScaledCase {
  int32_t channels;
  const char* pattern;
  std::vector<int> pixel;  // expected bytes of every pixel
};

void PrintTo(const ScaledCase& test, std::ostream* out) { *out << test.pattern << " in " << test.channels; }

class ScaledFrames : public CaptureDevice, public ::testing::WithParamInterface<ScaledCase> {};

// A source of another size and format still fills the whole image, in the
// channel order the image promises.
TEST_P(ScaledFrames, FillTheImageExactly) {
  const ScaledCase& test = GetParam();
  auto device = Open(std::string("videotestsrc pattern=") + test.pattern +
                     " ! capsfilter caps=video/x-raw,width=640,height=360");
  device->Width = 200;
  device->Height = 150;
  device->Channels = test.channels;
  device->Init(kFirstSourceMessage);
  device->Start();
  ASSERT_TRUE(WaitForFrames(2));
  device->Stop();

  const IplImage* image = device->HoldNewestFrame();
  ASSERT_NE(image, nullptr) << "no frame was kept";
  for (const auto& [x, y] : {std::pair<std::ptrdiff_t, std::ptrdiff_t>{0, 0}, {199, 149}, {100, 75}}) {
    const auto* pixel = reinterpret_cast<const unsigned char*>(image->imageData + y * image->widthStep +
                                                               x * image->nChannels);
    for (int c = 0; c < test.channels; ++c)
      EXPECT_NEAR(pixel[c], test.pixel[c], 1) << x << "," << y << " " << c;
  }
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, ScaledFrames,
                         ::testing::Values(ScaledCase{3, "red", {0, 0, 255}},
                                           ScaledCase{3, "blue", {255, 0, 0}},
                                           // Held to the first format it lists (full-range
                                           // RGB), the test source paints white and black.
                                           ScaledCase{1, "white", {255}}, ScaledCase{1, "black", {0}}));

const unsigned char* PixelAt(const IplImage* image, int x, int y) {
  return reinterpret_cast<const unsigned char*>(image->imageData +
                                                static_cast<std::ptrdiff_t>(y) * image->widthStep +
                                                static_cast<std::ptrdiff_t>(x) * image->nChannels);
}

::testing::AssertionResult IsColour(const IplImage* image, int x, int y, std::vector<int> bgr) {
  const unsigned char* pixel = PixelAt(image, x, y);
  for (int c = 0; c < 3; ++c) {
    if (std::abs(pixel[c] - bgr[c]) > 2)
      return ::testing::AssertionFailure() << x << "," << y << " channel " << c << " is " << int(pixel[c]);
  }
  return ::testing::AssertionSuccess();
}

double MeanLevel(const IplImage* image) {
  double sum = 0;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width * image->nChannels; ++x) sum += PixelAt(image, 0, y)[x];
  return sum / (image->width * image->nChannels * image->height);
}

struct OwnModeCase {
  const char* description;
  int32_t width;
  int32_t height;
  int32_t channels;
  const char* mode;  // empty: the source states none
};

void PrintTo(const OwnModeCase& test, std::ostream* out) { *out << test.description; }

class OwnMode : public CaptureDevice, public ::testing::WithParamInterface<OwnModeCase> {};

// The device opens at the size and colour the source states, frames come at
// that size unscaled, and a source that states no size opens at 320 x 240
// grey.
TEST_P(OwnMode, OpensAtTheSizeAndColourTheSourceStates) {
  const OwnModeCase& test = GetParam();
  auto device = Open(test.description);
  EXPECT_EQ(device->Width, test.width);
  EXPECT_EQ(device->Height, test.height);
  EXPECT_EQ(device->Channels, test.channels);
  EXPECT_EQ(device->ModeText(), test.mode);
  EXPECT_EQ(device->GetModeList() == nullptr, std::string(test.mode).empty());
  device->Init(kFirstSourceMessage);
  device->Start();
  ASSERT_TRUE(WaitForFrames(2));
  device->Stop();
  const IplImage* frame = device->HoldNewestFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width, test.width);
  EXPECT_EQ(frame->height, test.height);
  EXPECT_EQ(frame->nChannels, test.channels);
  if (test.channels == 3) {
    EXPECT_TRUE(IsColour(frame, test.width / 2, test.height / 2, {0, 0, 255}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    StatedOrNot, OwnMode,
    ::testing::Values(
        OwnModeCase{"videotestsrc pattern=red ! capsfilter caps=video/x-raw,format=BGR,width=640,height=360,"
                    "framerate=25/1",
                    640, 360, 3, "640 x 360 BGR 25 fps"},
        OwnModeCase{
            "videotestsrc pattern=red ! capsfilter caps=video/x-raw,format=YUY2,width=1280,height=720,"
            "framerate=30/1",
            1280, 720, 3, "1280 x 720 YUY2 30 fps"},
        OwnModeCase{
            "videotestsrc pattern=white ! capsfilter caps=video/x-raw,format=GRAY8,width=160,height=120", 160,
            120, 1, "160 x 120 GRAY8"},
        OwnModeCase{"videotestsrc pattern=white", 320, 240, 1, ""}));

const char kFourModes[] =
    "videotestsrc pattern=red ! capsfilter caps=\"video/x-raw,format=BGR,width={640,320},height=240,"
    "framerate={30/1,15/1}\"";

// The source's modes in its own order; one picked before Init holds the
// source to it, one it does not offer changes nothing.
TEST_F(CaptureDevice, PickedModeHoldsTheSourceToIt) {
  auto device = Open(kFourModes);
  ASSERT_NE(device->GetModeList(), nullptr);
  EXPECT_THAT(*device->GetModeList(), ElementsAre("640 x 240 BGR 30 fps", "640 x 240 BGR 15 fps",
                                                  "320 x 240 BGR 30 fps", "320 x 240 BGR 15 fps"));
  EXPECT_FALSE(device->SelectMode("320 x 200 BGR 15 fps"));
  EXPECT_EQ(device->Width, 640);
  ASSERT_TRUE(device->SelectMode("320 x 240 BGR 15 fps"));
  EXPECT_EQ(device->Width, 320);
  device->Init(kFirstSourceMessage);
  EXPECT_FALSE(device->SelectMode("640 x 240 BGR 30 fps"));
  device->Start();
  ASSERT_TRUE(WaitForFrames(4));
  device->Stop();
  const FrameList frames = device->CompleteFrames();
  ASSERT_GE(frames.end() - frames.begin(), 2);
  // 15 frames a second, by the frames' own times.
  EXPECT_NEAR(frames.begin()[0].Stamp.Time_ms - frames.begin()[1].Stamp.Time_ms, 1000.0 / 15, 5.0);
  EXPECT_EQ(device->HoldNewestFrame()->width, 320);
}

// A live source whose frames reach the device ever later: each frame's time
// is when it was captured, a tenth of a second apart, not when it arrived.
TEST_F(CaptureDevice, FrameTimeIsWhenItWasCapturedNotWhenItArrived) {
  auto device = Open(
      "videotestsrc is-live=true ! capsfilter caps=video/x-raw,width=64,height=48,framerate=10/1 ! queue ! "
      "identity sleep-time=150000");
  device->Init(kFirstSourceMessage);
  device->Start();
  ASSERT_TRUE(WaitForFrames(8));
  const double now_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const FrameList frames = device->CompleteFrames();
  device->Stop();
  ASSERT_GE(frames.end() - frames.begin(), 2);
  EXPECT_NEAR(frames.begin()[0].Stamp.Time_ms - frames.begin()[1].Stamp.Time_ms, 100.0, 10.0);
  EXPECT_GT(now_ms - frames.begin()[0].Stamp.Time_ms, 250.0);
  EXPECT_LT(now_ms - frames.begin()[0].Stamp.Time_ms, 5000.0);
}

// Brightness and contrast reach the colour balance of the pipeline and are
// read back from it; the picture follows.
TEST_F(CaptureDevice, BrightnessAndContrastDriveTheColourBalance) {
  auto device = Open(
      "videotestsrc pattern=black ! capsfilter caps=video/x-raw,format=I420,width=64,height=48 ! "
      "videobalance");
  device->Init(kFirstSourceMessage);
  device->Start();
  ASSERT_TRUE(WaitForFrames(2));
  const double dark = MeanLevel(device->HoldNewestFrame());
  device->SetBrightness(0.75);
  device->SetContrast(0.25);
  EXPECT_NEAR(device->Brightness, 0.75, 1e-3);
  EXPECT_NEAR(device->Contrast, 0.25, 1e-3);
  const std::size_t now = AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage));
  ASSERT_TRUE(WaitForFrames(now + 3));
  device->Stop();
  EXPECT_GT(MeanLevel(device->HoldNewestFrame()), dark + 40);
  // Values beyond the slider's range end at the control's.
  device->SetBrightness(1.7);
  device->SetContrast(-0.5);
  EXPECT_NEAR(device->Brightness, 1.0, 1e-3);
  EXPECT_NEAR(device->Contrast, 0.0, 1e-3);
  EXPECT_TRUE(Lines().empty());
}

// A source without controls keeps the values as given and says so once per
// slider; its rate is its mode's.
TEST_F(CaptureDevice, SourceWithoutControlsSaysSoOncePerSlider) {
  auto device = Open("videotestsrc ! capsfilter caps=video/x-raw,width=64,height=48,framerate=25/1");
  device->Init(kFirstSourceMessage);
  for (int i = 0; i < 2; ++i) {
    device->SetBrightness(0.3);
    device->SetExposure(20);
    device->SetFrameRate(7.5);
    device->SetGain(0.4);
  }
  EXPECT_EQ(device->Brightness, 0.3);
  EXPECT_EQ(device->Exposure, 20);
  EXPECT_EQ(device->FrameRate, 25);
  EXPECT_EQ(device->Gain, 0.4);
  EXPECT_THAT(Lines(), ElementsAre("line DShow Brightness: the source has no such control",
                                   "line DShow Exposure: the source has no such control",
                                   "line DShow Framerate: the source has no such control",
                                   "line DShow Gain: the source has no such control"));
}

struct StereoCase {
  platform::StereoLayout layout;
  const char* description;
  int second_eye_offset;  // bytes from the first eye's pixels to the second's
};

void PrintTo(const StereoCase& test, std::ostream* out) { *out << test.description; }

class StereoCamera : public CaptureDevice, public ::testing::WithParamInterface<StereoCase> {};

// Both eyes come from one frame: the same stamp, each its own half, the
// second eye's pixels inside the first eye's sample.
TEST_P(StereoCamera, EachEyeIsItsHalfOfTheSameFrame) {
  const StereoCase& test = GetParam();
  setenv("STEREO_CAPTURE_SOURCES", (std::string("side-by-side: ") + test.description).c_str(), 1);
  const int32_t index = CaptureDeviceIndex(test.description);
  ASSERT_GE(index, 0);
  tVideoDeviceSideBySide left(index, test.layout, 0, &window_);
  tVideoDeviceSideBySide right(index, test.layout, 1, &window_);
  for (tVideoDeviceSideBySide* eye : {&left, &right}) {
    EXPECT_EQ(eye->Width, 320);
    EXPECT_EQ(eye->Height, 240);
    eye->Init(kFirstSourceMessage);
    eye->Start();
  }
  ASSERT_TRUE(WaitForFrames(6));
  right.Stop();
  left.Stop();

  FrameStamp right_stamp;
  const IplImage* right_frame = right.HoldNewestFrame(&right_stamp);
  ASSERT_NE(right_frame, nullptr);
  // The left eye's frame of the same moment is still kept.
  const IplImage* left_frame = nullptr;
  for (const FrameSlot& slot : left.CompleteFrames()) {
    if (slot.Stamp == right_stamp) left_frame = left.HoldFrame(slot);
  }
  ASSERT_NE(left_frame, nullptr);
  EXPECT_TRUE(IsColour(left_frame, 160, 120, {0, 0, 255}));
  EXPECT_TRUE(IsColour(right_frame, 160, 120, {255, 0, 0}));
  EXPECT_EQ(right_frame->imageData, left_frame->imageData + test.second_eye_offset);

  // One eye stopped, the other's frames go on.
  left.Start();
  right.Start();
  left.Stop();
  const std::size_t now = AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage));
  EXPECT_TRUE(WaitForFrames(now + 2));
  right.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, StereoCamera,
    ::testing::Values(
        StereoCase{platform::StereoLayout::kSideBySide,
                   "compositor name=m sink_1::xpos=320 ! capsfilter "
                   "caps=video/x-raw,format=BGR,width=640,height=240 videotestsrc pattern=red ! "
                   "capsfilter caps=video/x-raw,width=320,height=240 ! m. videotestsrc pattern=blue ! "
                   "capsfilter caps=video/x-raw,width=320,height=240 ! m.",
                   320 * 3},
        StereoCase{platform::StereoLayout::kTopBottom,
                   "compositor name=m sink_1::ypos=240 ! capsfilter "
                   "caps=video/x-raw,format=BGR,width=320,height=480 videotestsrc pattern=red ! "
                   "capsfilter caps=video/x-raw,width=320,height=240 ! m. videotestsrc pattern=blue ! "
                   "capsfilter caps=video/x-raw,width=320,height=240 ! m.",
                   240 * 320 * 3}));

class RefusedChannels : public CaptureDevice, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RefusedChannels, InitRaisesAndOpensNothing) {
  auto device = Open("videotestsrc");
  device->Channels = GetParam();
  EXPECT_THROW(device->Init(kFirstSourceMessage), std::invalid_argument);
  EXPECT_EQ(device->State, 0);
  EXPECT_EQ(device->Image, nullptr);
  device->Start();
  EXPECT_FALSE(AnnouncementLog::Instance().WaitFor(MessageEntry(kFirstSourceMessage), 1, 300ms));
}

INSTANTIATE_TEST_SUITE_P(OtherThanGreyOrColour, RefusedChannels, ::testing::Values(0, 2, 4));

struct EndingCase {
  const char* description;
  const char* line;  // the one log line, as a pattern
};

void PrintTo(const EndingCase& test, std::ostream* out) { *out << test.description; }

class EndingStream : public CaptureDevice, public ::testing::WithParamInterface<EndingCase> {};

// Frames stop, one line reaches the window, and the device can be started
// again.
TEST_P(EndingStream, LeavesOneLineAndStopsTheFrames) {
  auto device = Open(GetParam().description);
  device->Init(kFirstSourceMessage);
  device->Start();
  const auto started = std::chrono::steady_clock::now();
  while (Lines().empty() && std::chrono::steady_clock::now() - started < kPatience)
    std::this_thread::sleep_for(20ms);
  const std::size_t frames = AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage));
  std::this_thread::sleep_for(1500ms);
  EXPECT_THAT(Lines(), ElementsAre(MatchesRegex(std::string("line ") + GetParam().line)));
  EXPECT_LE(AnnouncementLog::Instance().Count(MessageEntry(kFirstSourceMessage)), frames + 1);
  EXPECT_GT(frames, 0u);

  // Started again, the stream begins anew.
  device->Start();
  EXPECT_TRUE(WaitForFrames(frames + 2));
  device->Stop();
}

INSTANTIATE_TEST_SUITE_P(
    EndOrError, EndingStream,
    ::testing::Values(EndingCase{"videotestsrc num-buffers=30", "DShow stopped: end of stream"},
                      EndingCase{"videotestsrc ! identity error-after=10", "DShow stopped: .+"}));

TEST_F(CaptureDevice, PipelineThatRefusesToStartRaisesItsErrorText) {
  auto device = Open("filesrc location=/no/such/capture/file");
  device->Init(kFirstSourceMessage);
  try {
    device->Start();
    FAIL() << "Start did not raise";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), MatchesRegex(".+ \\(\\$[0-9A-F]+\\)\\."));
  }
  EXPECT_TRUE(Lines().empty());
  device->Stop();
}

// A sample shorter than the image is not taken; a whole one is held where
// it lies, not copied, and announced.
TEST_F(CaptureDevice, ShortSampleIsNotTakenAndAWholeOneIsHeldInPlace) {
  auto pixels = std::make_shared<std::vector<char>>(320 * 240);
  for (std::size_t i = 0; i < pixels->size(); ++i) (*pixels)[i] = static_cast<char>(i % 251);
  auto device = Open("videotestsrc");
  device->Init(kFirstSourceMessage);
  const long length = static_cast<long>(pixels->size());
  EXPECT_FALSE(device->TakeSample({pixels->data(), length - 1, 320, 1.0, pixels}));
  EXPECT_TRUE(device->CompleteFrames().empty());
  EXPECT_TRUE(device->TakeSample({pixels->data(), length, 320, 2.0, pixels}));
  const IplImage* frame = device->HoldNewestFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->imageData, pixels->data());
  EXPECT_TRUE(WaitForFrames(1));
}

TEST_F(CaptureDevice, IndexBeyondTheListOpensNothingAndSaysSo) {
  setenv("STEREO_CAPTURE_SOURCES", "videotestsrc", 1);
  tVideoDeviceDShow device(CaptureDeviceIndex("videotestsrc") + 1, &window_);
  EXPECT_EQ(device.State, -1);
  EXPECT_THAT(device.Log, ElementsAre(MatchesRegex("DShow CaptureDevice [0-9]+ not found")));
  device.Init(kFirstSourceMessage);
  device.Start();
  EXPECT_EQ(device.Image, nullptr);
}

// Run under AddressSanitizer: destruction puts the header back on the
// device's own buffer, frees that one only, and lets the sample go with the
// pipeline.
TEST_F(CaptureDevice, Regression_DestructionFreesOnlyItsOwnBuffer) {
  auto device = Open("videotestsrc");
  device->Init(kFirstSourceMessage);
  device->Start();
  ASSERT_TRUE(WaitForFrames(2));
  ASSERT_NE(device->HoldNewestFrame(), nullptr);
  device.reset();
}

}  // namespace
