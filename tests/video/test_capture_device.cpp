// The system capture device on GStreamer test sources: frames scaled to the
// device's size, refused formats, streams that end by themselves, pipelines
// that refuse to start, and what destruction frees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Video/vidclass/vidclass_dshow.h"
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
                                           // The test source paints grey in studio levels.
                                           ScaledCase{1, "white", {235}}, ScaledCase{1, "black", {16}}));

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
