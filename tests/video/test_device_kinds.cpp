// The uEye and Falcon devices against a recording driver: the exact calls,
// arguments and log lines of opening, initialisation, settings and closing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <span>

#include "Video/vidclass/capture_sequence.h"
#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass_falcon.h"
#include "Video/vidclass/vidclass_ueye.h"
#include "Video/vidclass/vidclass_values.h"
#include "video_test_support.h"

namespace {

// The ring Init adds after the bound memory (id 1): the further memories,
// every memory registered as the sequence, then one look at the driver's
// image information record.
void AppendSequenceCalls(std::vector<std::string>& calls, const std::string& allocation) {
  for (int i = 1; i < CaptureSequence::kMemories; ++i) calls.push_back(allocation);
  for (int id = 1; id <= CaptureSequence::kMemories; ++id)
    calls.push_back("is_AddToSequence 7 " + std::to_string(id));
  calls.emplace_back("is_GetImageInfo 7 1");
}

// Closing clears the sequence and frees the memories it made.
void AppendSequenceRelease(std::vector<std::string>& calls) {
  calls.emplace_back("is_ClearSequence 7");
  for (int id = 2; id <= CaptureSequence::kMemories; ++id)
    calls.push_back("is_FreeImageMem 7 " + std::to_string(id));
}

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr uint32_t kFakeHandle = 7;

bool EveryByteIs(const IplImage* image, int value) {
  for (int y = 0; y < image->height; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(image->imageData + y * image->widthStep);
    for (int x = 0; x < image->width * image->nChannels; ++x)
      if (row[x] != value) return false;
  }
  return true;
}

class UEyeDevice : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(uEyeimp::LoadFrom(FakeDriver::kFile)); }
  void TearDown() override { uEyeimp::Release(); }

  // Opened and sized as the main window does before Init.
  std::unique_ptr<tVideoDeviceuEye> OpenCamera(int32_t channels = 3) {
    auto camera = std::make_unique<tVideoDeviceuEye>(2, &window_);
    camera->Width = 640;
    camera->Height = 480;
    camera->Channels = channels;
    return camera;
  }

  FakeDriver driver_;
  RecordingWindow window_;
};

TEST_F(UEyeDevice, OpensTheCameraWithItsIdAndSetsTheDefaults) {
  tVideoDeviceuEye camera(2, &window_);
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_InitCamera 2"));
  EXPECT_EQ(camera.Handle, kFakeHandle);
  EXPECT_EQ(camera.State, 0);
  EXPECT_EQ(camera.Width, 1280);
  EXPECT_EQ(camera.Height, 1024);
  EXPECT_EQ(camera.Channels, 3);
  EXPECT_THAT(camera.Inputs, ElementsAre("uEye camera"));
  EXPECT_THAT(camera.Log, IsEmpty());
}

TEST_F(UEyeDevice, InitBindsTheDriverMemoryAndLogsEachCall) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);

  std::vector<std::string> calls{"is_InitCamera 2",     "is_AllocImageMem 7 640 480 24",
                                 "is_SetImageMem 7 1",  "is_SetImageSize 7 640 480",
                                 "is_SetColorMode 7 1", "is_SetDisplayMode 7 1",
                                 "is_GetImageMem 7",    "is_GetImageMemPitch 7"};
  AppendSequenceCalls(calls, "is_AllocImageMem 7 640 480 24");
  calls.emplace_back("is_InitEvent 7 1 2");
  EXPECT_THAT(driver_.Calls(), ElementsAreArray(calls));
  const std::string memory = HexAddress(camera->ImageMemory);
  EXPECT_THAT(camera->Log, ElementsAre("uEye Alloc 0 " + memory + " 0", "uEye SetMem 0", "uEye SetSize 0",
                                       "uEye ColorMode 0", "uEye Display 0", "uEye GetMem 0 " + memory));
  EXPECT_EQ(camera->State, 1);
  EXPECT_EQ(camera->MessageNumber, kFirstSourceMessage);
}

TEST_F(UEyeDevice, ImageIsAZeroedColourHeaderOverTheDriverMemory) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  const IplImage* image = camera->Image;
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->imageData, camera->ImageMemory);
  EXPECT_EQ(image->nChannels, 3);
  EXPECT_EQ(std::string(image->channelSeq, 3), "BGR");
  EXPECT_EQ(image->width, 640);
  EXPECT_EQ(image->widthStep, 1920);
  EXPECT_EQ(image->imageId, nullptr);
  EXPECT_TRUE(EveryByteIs(image, 0));  // the driver handed it out filled
}

TEST_F(UEyeDevice, OneChannelCapturesGrey) {
  auto camera = OpenCamera(1);
  camera->Init(kFirstSourceMessage);
  EXPECT_EQ(camera->ColorMode, 6);
  EXPECT_EQ(camera->BitsPerPixel, 8);
  EXPECT_EQ(driver_.CallsOf("is_SetColorMode"), std::vector<std::string>{"is_SetColorMode 7 6"});
  ASSERT_NE(camera->Image, nullptr);
  EXPECT_EQ(std::string(camera->Image->colorModel, 4), "GRAY");
  EXPECT_EQ(camera->Image->widthStep, 640);
}

TEST_F(UEyeDevice, FourChannelsGiveAFourChannelImageOverThirtyTwoBitMemory) {
  auto camera = OpenCamera(4);
  camera->Init(kFirstSourceMessage);
  EXPECT_EQ(driver_.CallsOf("is_AllocImageMem"),
            std::vector<std::string>(CaptureSequence::kMemories, "is_AllocImageMem 7 640 480 32"));
  EXPECT_EQ(driver_.CallsOf("is_SetColorMode"), std::vector<std::string>{"is_SetColorMode 7 0"});
  ASSERT_NE(camera->Image, nullptr);
  EXPECT_EQ(camera->Image->nChannels, 4);
  EXPECT_EQ(camera->Image->widthStep, 2560);
  EXPECT_EQ(camera->State, 1);
  EXPECT_TRUE(EveryByteIs(camera->Image, 0));
}

TEST_F(UEyeDevice, GetModeListKeepsOneEmptyList) {
  tVideoDeviceuEye camera(2, &window_);
  std::vector<std::string>* modes = camera.GetModeList();
  ASSERT_NE(modes, nullptr);
  EXPECT_TRUE(modes->empty());
  EXPECT_EQ(camera.GetModeList(), modes);
}

TEST_F(UEyeDevice, BrightnessAndContrastAreScaledAndRoundedHalfToEven) {
  tVideoDeviceuEye camera(2, &window_);
  camera.SetBrightness(0.5);
  camera.SetContrast(1.0);
  camera.SetContrast(0.5);
  EXPECT_EQ(driver_.CallsOf("is_SetBrightness"), std::vector<std::string>{"is_SetBrightness 7 128"});
  EXPECT_THAT(driver_.CallsOf("is_SetContrast"), ElementsAre("is_SetContrast 7 511", "is_SetContrast 7 256"));
  EXPECT_EQ(camera.Brightness, 0.5);
  EXPECT_EQ(camera.Contrast, 0.5);
}

TEST_F(UEyeDevice, FrameRateAndExposureKeepTheValuesInEffect) {
  tVideoDeviceuEye camera(2, &window_);
  camera.SetFrameRate(30.0);
  camera.SetExposure(10.0);
  EXPECT_EQ(camera.FrameRate, 15.0);  // the fake driver halves what it is asked
  EXPECT_EQ(camera.Exposure, 5.0);
}

TEST_F(UEyeDevice, RangesComeFromTheDriver) {
  tVideoDeviceuEye camera(2, &window_);
  driver_.SetFrameTimes(0.01, 0.5, 0.001);
  ValueRange rates;
  camera.GetFrameRateRange(rates);
  EXPECT_DOUBLE_EQ(rates.Minimum, 2.0);
  EXPECT_DOUBLE_EQ(rates.Maximum, 100.0);
  EXPECT_DOUBLE_EQ(rates.Increment, 0.001);

  ValueRange exposure;
  camera.GetExposureRange(exposure);
  EXPECT_EQ(exposure.Minimum, 0.5);
  EXPECT_EQ(exposure.Maximum, 30.0);
  EXPECT_EQ(exposure.Increment, 0.25);

  ValueRange clock;
  camera.GetPixelClockRange(clock);
  EXPECT_EQ(clock.Minimum, 5.0);
  EXPECT_EQ(clock.Maximum, 40.0);
  EXPECT_EQ(clock.Increment, 0.0);
}

TEST_F(UEyeDevice, TriggerModeSwitchesTheDriverTriggerOnly) {
  tVideoDeviceuEye camera(2, &window_);
  camera.SetTriggerMode(true);
  camera.SetTriggerMode(false);
  camera.Trigger();
  EXPECT_THAT(driver_.CallsOf("is_SetExternalTrigger"),
              ElementsAre("is_SetExternalTrigger 7 8", "is_SetExternalTrigger 7 0"));
  EXPECT_FALSE(camera.TriggerMode);
  // Trigger asks for a frame whether or not trigger mode is on.
  EXPECT_EQ(driver_.CallsOf("is_FreezeVideo"), std::vector<std::string>{"is_FreezeVideo 7 0"});
}

TEST_F(UEyeDevice, StartAndStopSwitchCaptureAndTheFrameEvent) {
  tVideoDeviceuEye camera(2, &window_);
  driver_.Reset();
  camera.Start();
  camera.Stop();
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_CaptureVideo 7 0", "is_EnableEvent 7 2",
                                           "is_StopLiveVideo 7 0", "is_DisableEvent 7 2"));
}

TEST_F(UEyeDevice, PixelClockIsSetAndKept) {
  tVideoDeviceuEye camera(2, &window_);
  camera.SetPixelClock(24);
  camera.SetImagePos(3, 4);
  EXPECT_EQ(camera.PixelClock, 24);
  EXPECT_EQ(driver_.CallsOf("is_SetPixelClock"), std::vector<std::string>{"is_SetPixelClock 7 24"});
  EXPECT_EQ(driver_.CallsOf("is_SetImagePos"), std::vector<std::string>{"is_SetImagePos 7 3 4"});
}

TEST_F(UEyeDevice, DestroyingAnInitialisedCameraStopsThenCloses) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  driver_.Reset();
  camera.reset();
  std::vector<std::string> calls{"is_StopLiveVideo 7 0", "is_DisableEvent 7 2"};
  AppendSequenceRelease(calls);
  calls.emplace_back("is_ExitCamera 7");
  EXPECT_THAT(driver_.Calls(), ElementsAreArray(calls));
}

TEST_F(UEyeDevice, OpenedCameraIsClosedEvenWithoutInit) {
  auto camera = OpenCamera();
  driver_.Reset();
  camera.reset();
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_ExitCamera 7"));
}

// Failures.

TEST_F(UEyeDevice, CameraThatDoesNotOpenKeepsNoHandle) {
  driver_.SetResult("is_InitCamera", 3);
  auto camera = OpenCamera();
  EXPECT_EQ(camera->State, -1);
  EXPECT_EQ(camera->LastResult, 3);
  EXPECT_EQ(camera->Handle, 0u);
  EXPECT_TRUE(camera->Inputs.empty());

  camera->SetFrameRate(30.0);
  camera->SetBrightness(0.25);
  camera->SetPixelClock(30);
  EXPECT_THAT(driver_.CallsOf("is_SetFrameRate"), IsEmpty());
  EXPECT_THAT(driver_.CallsOf("is_SetBrightness"), IsEmpty());
  EXPECT_EQ(camera->FrameRate, 0.0);
  EXPECT_EQ(camera->Brightness, 0.25);
  EXPECT_EQ(camera->PixelClock, 0);
  EXPECT_EQ(camera->GetModeList(), nullptr);

  camera->Start();
  EXPECT_EQ(driver_.CallsOf("is_CaptureVideo"), std::vector<std::string>{"is_CaptureVideo 0 0"});
  driver_.Reset();
  camera.reset();
  EXPECT_THAT(driver_.CallsOf("is_ExitCamera"), IsEmpty());
}

class UEyeInitFailure : public UEyeDevice, public ::testing::WithParamInterface<const char*> {};

TEST_P(UEyeInitFailure, FailingStepEndsInitWithItsLogLine) {
  driver_.SetResult(GetParam(), 125);
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  ASSERT_FALSE(camera->Log.empty());
  EXPECT_THAT(camera->Log.back(), ::testing::MatchesRegex("uEye [A-Za-z]+ 125( [0-9A-F]{8} 0)?"));
  EXPECT_EQ(camera->LastResult, 125);
  EXPECT_EQ(camera->State, 0);
  EXPECT_THAT(driver_.CallsOf("is_InitEvent"), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(StoppingSteps, UEyeInitFailure,
                         ::testing::Values("is_AllocImageMem", "is_SetImageMem", "is_SetImageSize",
                                           "is_SetDisplayMode"));

TEST_F(UEyeDevice, FailingColourModeIsLoggedButInitGoesOn) {
  driver_.SetResult("is_SetColorMode", 125);
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  EXPECT_EQ(camera->Log.at(3), "uEye ColorMode 125");
  EXPECT_EQ(camera->State, 1);
}

TEST_F(UEyeDevice, UndeliverableChannelCountIsRefusedWithALogLine) {
  auto camera = OpenCamera(2);
  camera->Init(kFirstSourceMessage);
  // The fake driver takes even 0 bits per pixel; the device still refuses.
  EXPECT_EQ(camera->Log.back(), "uEye Channels 2 not supported");
  EXPECT_EQ(camera->LastResult, 125);
  EXPECT_EQ(camera->State, 0);
  EXPECT_EQ(camera->Image, nullptr);
  EXPECT_THAT(driver_.CallsOf("is_SetImageMem"), IsEmpty());
}

TEST_F(UEyeDevice, SecondInitMakesANewHeaderWithoutLeakingTheFirst) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  camera->Channels = 1;
  camera->Init(kFirstSourceMessage);
  ASSERT_NE(camera->Image, nullptr);
  EXPECT_EQ(camera->Image->nChannels, 1);
}

// Frames are stamped when the capture thread hears of them.

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The camera's clock says 12.3 microseconds: a stamp from it would pair with
// no other camera's frames.
TEST_F(UEyeDevice, Regression_FrameTimeIsTheHostsTimeOfArrivalNotTheCameraClock) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  driver_.Fill(3, 7, 123);
  const double before = SteadyNow_ms();
  camera->FrameReady();
  const double after = SteadyNow_ms();
  const FrameList frames = camera->CompleteFrames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front().Memory, 3);
  EXPECT_EQ(frames.front().Stamp.Number, 7u);
  EXPECT_GE(frames.front().Stamp.Time_ms, before);
  EXPECT_LE(frames.front().Stamp.Time_ms, after);
}

TEST_F(UEyeDevice, FramesAnswerTheNumberedTriggersInTurn) {
  auto camera = OpenCamera();
  camera->Init(kFirstSourceMessage);
  const auto arrive = [&](int32_t memory, uint64_t number) {
    driver_.Fill(memory, number, 0);
    camera->FrameReady();
  };
  // A live frame finished before trigger mode but heard of after it.
  driver_.Fill(3, 9, 0);
  camera->SetTriggerMode(true);
  for (uint64_t number : {4u, 5u, 6u}) camera->TriggerNumbered(number);
  camera->FrameReady();
  arrive(2, 10);
  arrive(4, 12);  // frame 11 was never announced: it answered trigger 5
  arrive(5, 13);  // no trigger waits
  driver_.SetResult("is_FreezeVideo", -1);
  camera->TriggerNumbered(7);  // refused: exposes nothing
  arrive(1, 14);
  std::map<int32_t, uint64_t> triggers;
  for (const FrameSlot& slot : camera->CompleteFrames()) triggers[slot.Memory] = slot.Stamp.Trigger;
  EXPECT_EQ(triggers, (std::map<int32_t, uint64_t>{{1, 0}, {2, 4}, {3, 0}, {4, 6}, {5, 0}}));
}

// A driver whose record is larger than the one known here writes all of it:
// given only the room of the known record it would write past it.
TEST(OwnRecordDriver, Regression_LargerRecordIsNeverWrittenPastAndFramesAreNumberedAsTheyArrive) {
  constexpr const char* kLibrary = "libvideo_fake_own_record.so";
  FakeDriver driver(kLibrary);
  RecordingWindow window;
  ASSERT_TRUE(uEyeimp::LoadFrom(kLibrary));
  {
    tVideoDeviceuEye camera(2, &window);
    camera.Width = 640;
    camera.Height = 480;
    camera.Channels = 3;
    camera.Init(kFirstSourceMessage);
    EXPECT_THAT(camera.Log, ::testing::Contains("uEye Sequence frames numbered as they arrive"));
    const double before = SteadyNow_ms();
    for (const auto& [memory, number] : {std::pair{2, 99u}, std::pair{3, 100u}}) {
      driver.Fill(memory, number, 5);
      camera.FrameReady();
    }
    const FrameList frames = camera.CompleteFrames();
    // Without the driver's numbers only the newest memory is known to hold
    // what it was heard to.
    ASSERT_EQ(std::span<const FrameSlot>(frames).size(), 1u);
    EXPECT_EQ(frames.front().Memory, 3);
    EXPECT_EQ(frames.front().Stamp.Number, 2u);
    EXPECT_GE(frames.front().Stamp.Time_ms, before);
    EXPECT_NE(camera.HoldFrame(frames.front()), nullptr);
  }
  uEyeimp::Release();
}

// A driver with only the names every driver has: one image memory.
TEST(ListedNamesOnly, Regression_CameraAndBoardKeepOneMemoryAndSaySoOnce) {
  constexpr const char* kLibrary = "libvideo_fake_listed_only.so";
  FakeDriver driver(kLibrary);
  RecordingWindow window;
  ASSERT_TRUE(uEyeimp::LoadFrom(kLibrary));
  ASSERT_TRUE(falcimp::LoadFrom(kLibrary));
  {
    tVideoDeviceuEye camera(2, &window);
    camera.Width = 640;
    camera.Height = 480;
    camera.Init(kFirstSourceMessage);
    tVideoDeviceFalcon board(0, &window);
    board.Init(kSecondSourceMessage);
    for (tVideoDevice* device : std::initializer_list<tVideoDevice*>{&camera, &board}) {
      EXPECT_EQ(device->State, 1);
      EXPECT_EQ(device->Frames, nullptr);
      EXPECT_EQ(std::count_if(device->Log.begin(), device->Log.end(),
                              [](const std::string& line) {
                                return line.find("Sequence not offered by the driver: one image memory") !=
                                       std::string::npos;
                              }),
                1);
      EXPECT_EQ(device->HoldNewestFrame(), device->Image);
    }
  }
  uEyeimp::Release();
  falcimp::Release();
}

// The frame grabber.

class FalconDevice : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(falcimp::LoadFrom(FakeDriver::kFile)); }
  void TearDown() override { falcimp::Release(); }

  FakeDriver driver_;
  RecordingWindow window_;
};

TEST_F(FalconDevice, OpensTheBoardWithAZeroHandleWhateverTheId) {
  tVideoDeviceFalcon board(5, &window_);
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_InitBoard 0"));
  EXPECT_EQ(board.State, 0);
  EXPECT_EQ(board.Width, 768);
  EXPECT_EQ(board.Height, 576);
  EXPECT_EQ(board.Channels, 1);
  EXPECT_THAT(board.Inputs, ElementsAre("Falcon#1", "Falcon#2"));
}

TEST_F(FalconDevice, InitBindsMemoryScalesSelectsInputOneAndRegistersTheEvent) {
  tVideoDeviceFalcon board(0, &window_);
  board.Init(kSecondSourceMessage);

  std::vector<std::string> calls{"is_InitBoard 0",      "is_AllocImageMem 7 768 576 8",
                                 "is_SetImageMem 7 1",  "is_SetImageSize 7 768 576",
                                 "is_SetColorMode 7 6", "is_SetDisplayMode 7 1",
                                 "is_GetImageMem 7",    "is_GetImageMemPitch 7"};
  AppendSequenceCalls(calls, "is_AllocImageMem 7 768 576 8");
  calls.insert(calls.end(),
               {"is_SetScaler 7 1 1", "is_SetScaler 7 1 0", "is_SetVideoInput 7 1", "is_InitEvent 7 1 4"});
  EXPECT_THAT(driver_.Calls(), ElementsAreArray(calls));
  const std::string memory = HexAddress(board.ImageMemory);
  EXPECT_THAT(board.Log, ElementsAre("Falcon Alloc 0 " + memory + " 0", "Falcon SetMem 0", "Falcom SetSize 0",
                                     "Falcon ColorMode 0", "Falcon Display 0", "Falcon GetMem 0 " + memory));
  EXPECT_EQ(board.State, 1);
}

TEST_F(FalconDevice, ImageReads159UntilTheFirstFrame) {
  tVideoDeviceFalcon board(0, &window_);
  board.Init(kSecondSourceMessage);
  ASSERT_NE(board.Image, nullptr);
  EXPECT_EQ(board.Image->imageData, board.ImageMemory);
  EXPECT_EQ(board.Image->imageDataOrigin, board.ImageMemory);
  EXPECT_TRUE(EveryByteIs(board.Image, 159));
}

TEST_F(FalconDevice, HalfSizeScalesByOneHalf) {
  tVideoDeviceFalcon board(0, &window_);
  board.Width = 384;
  board.Height = 288;
  board.Init(kSecondSourceMessage);
  EXPECT_THAT(driver_.CallsOf("is_SetScaler"), ElementsAre("is_SetScaler 7 0.5 0.5", "is_SetScaler 7 1 0"));
}

TEST_F(FalconDevice, TriggerModeReRegistersTheEventEitherWay) {
  tVideoDeviceFalcon board(0, &window_);
  driver_.Reset();
  board.SetTriggerMode(true);
  board.SetTriggerMode(false);
  board.Trigger();
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_InitEvent 7 1 4", "is_EnableEvent 7 4", "is_InitEvent 7 1 4",
                                           "is_EnableEvent 7 4"));
}

TEST_F(FalconDevice, OnlyBrightnessReachesTheBoard) {
  tVideoDeviceFalcon board(0, &window_);
  driver_.Reset();
  board.SetBrightness(0.5);
  board.SetContrast(0.7);
  board.SetFrameRate(12.0);
  board.SetExposure(3.0);
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_SetBrightness 7 128"));
  EXPECT_EQ(board.Contrast, 0.7);
  EXPECT_EQ(board.FrameRate, 12.0);
  ValueRange rates;
  board.GetFrameRateRange(rates);
  EXPECT_EQ(rates.Maximum, 25.0);
}

TEST_F(FalconDevice, StartAndStopUseBoardEventFour) {
  tVideoDeviceFalcon board(0, &window_);
  driver_.Reset();
  board.Start();
  board.Stop();
  EXPECT_THAT(driver_.Calls(), ElementsAre("is_CaptureVideo 7 0", "is_EnableEvent 7 4",
                                           "is_StopLiveVideo 7 0", "is_DisableEvent 7 4"));
}

TEST_F(FalconDevice, DestroyingTheBoardClosesIt) {
  auto board = std::make_unique<tVideoDeviceFalcon>(0, &window_);
  board->Init(kSecondSourceMessage);
  driver_.Reset();
  board.reset();
  std::vector<std::string> calls;
  AppendSequenceRelease(calls);
  calls.emplace_back("is_ExitBoard 7");
  EXPECT_THAT(driver_.Calls(), ElementsAreArray(calls));
}

TEST_F(FalconDevice, SizeFailureEndsInitWithTheBoardsOwnLogText) {
  driver_.SetResult("is_SetImageSize", 125);
  tVideoDeviceFalcon board(0, &window_);
  board.Init(kSecondSourceMessage);
  EXPECT_EQ(board.Log.back(), "Falcom SetSize 125");
  EXPECT_EQ(board.State, 0);
}

}  // namespace
