// The simulated rig under load and faults: a filter chain slower than the
// cameras, every driver call the program makes failing once in turn, and a
// camera unplugged while it runs.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app_test_support.h"
#include "filters/vidfilters.h"

namespace {

using namespace std::chrono_literals;

// A chessboard search or a calibration: 100 ms per pair.
class SlowFilter : public TVidFilter {
 public:
  explicit SlowFilter(CreateKey key) : TVidFilter(key) {}
  ImagePair ProcessPair(const ImagePair& input) override {
    std::this_thread::sleep_for(100ms);
    ++pairs;
    return TVidFilter::ProcessPair(input);
  }
  int pairs = 0;
};

TEST(FrameMessages, AtMostOneWaitingPerSourceBehindASlowChain) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder folder;
  Windows windows;
  TForm1& form = windows.form();
  ASSERT_TRUE(SetUpSimulatedPair(form));
  // As a move of the pixel-clock slider opens the range to the camera's.
  SetSliderRange(form.tbFrameRate, 0, 1000);
  form.tbFrameRate->setValue(1000);
  ASSERT_GE(form.Device1->FrameRate, 90.0);
  std::shared_ptr<SlowFilter> filter = TVidFilter::Create<SlowFilter>();
  form.FilterList.push_back({"Slow", filter});

  ASSERT_TRUE(ProcessEventsUntil([&] { return filter->pairs >= 5; }, 10s));

  // What waits in the queue once the cameras stop: at 100 frames per second
  // behind 100 ms per pair, ten messages of each source would come per pair.
  form.BuStop->click();
  form.FilterList.clear();
  DeliveryCounter counter;
  QCoreApplication::sendPostedEvents(&form);
  EXPECT_LE(counter.first, 1);
  EXPECT_LE(counter.second, 1);
}

// Every call from set-up of both cameras to close fails once: the program
// goes on, logs it where the camera kind logs it, and the right camera keeps
// delivering.
constexpr int kInjectedCode = 77;

struct FailingCall {
  // The library that fails it: the left source is its device (camera 1 or the
  // board), the right one camera 2 or, beside the board, a system test source.
  const char* library;
  const char* call;
  // The line the left camera's log holds, when the kind logs this call.
  const char* logged;
};

// Failures counted by the camera library itself, so a call the program no
// longer makes is noticed.
int FaultsInjected(const char* file) {
  void* library = dlopen(file, RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return -1;
  using Query = int32_t (*)(int32_t*);
  auto query = reinterpret_cast<Query>(dlsym(library, "stereo_sim_FaultsInjected"));
  int32_t count = -1;
  if (query != nullptr) query(&count);
  dlclose(library);
  return count;
}

const char kCameraLibrary[] = "libuEye_api.so";
const char kBoardLibrary[] = "libfalcon.so";
const char kTestSource[] = "videotestsrc";

// The board on the left and the system test source on the right, so that
// failures of the board's library reach no other source.
bool SetUpBoardBesideTestSource(TForm1& form) {
  for (int row = 0; row < form.ListBox1->count(); ++row) {
    const int id = form.ListBox1->item(row)->data(Qt::UserRole).toInt();
    if (id == kFalconDeviceId) form.ListBox1->setCurrentRow(row);
    if (form.ListBox2->item(row)->text() == kTestSource) form.ListBox2->setCurrentRow(row);
  }
  form.BuInitBoth->click();
  return form.Device1 && form.Device2;
}

class DriverFault : public ::testing::TestWithParam<FailingCall> {};

TEST_P(DriverFault, ProgramGoesOnAndTheOtherCameraKeepsDelivering) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder folder;
  ScopedEnv fail("STEREO_SIM_FAIL", std::string(GetParam().call) + ":1:" + std::to_string(kInjectedCode));
  const bool board = std::string(GetParam().library) == kBoardLibrary;
  ScopedEnv sources("STEREO_CAPTURE_SOURCES", kTestSource);
  std::vector<uint32_t> handles;
  {
    Windows windows;
    TForm1& form = windows.form();
    DeliveryCounter counter;
    ASSERT_TRUE(board ? SetUpBoardBesideTestSource(form) : SetUpSimulatedPair(form));
    handles = {form.Device1->Handle, form.Device2->Handle};
    const std::string call = GetParam().call;
    // A start that failed stays the left source's last result; a failed
    // trigger shows in the status line beside the other camera's success.
    if (call == "is_CaptureVideo") {
      EXPECT_EQ(form.Device1->LastResult, kInjectedCode);
    }
    if (call == "is_FreezeVideo") {
      form.Trigger->click();
      EXPECT_EQ(form.StatusBar1->currentMessage(), QString("%1%2").arg(kInjectedCode).arg(0));
      EXPECT_EQ(form.Device2->LastResult, 0);
    }
    const std::vector<std::string>& log = form.Device1->Log;
    if (*GetParam().logged != '\0') {
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.starts_with(GetParam().logged);
      })) << GetParam().logged;
    }

    EXPECT_TRUE(ProcessEventsUntil([&] { return counter.second >= 3; }, 5s)) << "live";
    form.ChTrigger->click();
    const int live = counter.second;
    EXPECT_TRUE(ProcessEventsUntil([&] { return counter.second >= live + 2; }, 5s)) << "triggered";
    form.BuStop->click();
  }
  EXPECT_EQ(FaultsInjected(GetParam().library), 1);
  // A device whose closing failed is still open in the driver; later tests
  // need it.
  if (board) falcimp::Api().is_ExitBoard(handles[0]);
  for (uint32_t handle : handles) uEyeimp::Api().is_ExitCamera(handle);
}

const FailingCall kCalls[] = {
    {kCameraLibrary, "is_InitCamera", "uEye Alloc 1 "},
    {kCameraLibrary, "is_AllocImageMem", "uEye Alloc 77 "},
    {kCameraLibrary, "is_SetImageMem", "uEye SetMem 77"},
    {kCameraLibrary, "is_SetImageSize", "uEye SetSize 77"},
    {kCameraLibrary, "is_SetColorMode", "uEye ColorMode 77"},
    {kCameraLibrary, "is_SetDisplayMode", "uEye Display 77"},
    {kCameraLibrary, "is_GetImageMem", "uEye GetMem 77 00000000"},
    {kCameraLibrary, "is_GetImageMemPitch", ""},
    {kCameraLibrary, "is_InitEvent", ""},
    {kCameraLibrary, "is_SetFrameRate", ""},
    {kCameraLibrary, "is_GetExposureRange", ""},
    {kCameraLibrary, "is_CaptureVideo", ""},
    {kCameraLibrary, "is_EnableEvent", ""},
    {kCameraLibrary, "is_SetExternalTrigger", ""},
    {kCameraLibrary, "is_FreezeVideo", ""},
    {kCameraLibrary, "is_StopLiveVideo", ""},
    {kCameraLibrary, "is_DisableEvent", ""},
    {kCameraLibrary, "is_ExitCamera", ""},
    {kBoardLibrary, "is_InitBoard", "Falcon Alloc 1 "},
    {kBoardLibrary, "is_AllocImageMem", "Falcon Alloc 77 "},
    {kBoardLibrary, "is_SetImageMem", "Falcon SetMem 77"},
    {kBoardLibrary, "is_SetImageSize", "Falcom SetSize 77"},
    {kBoardLibrary, "is_SetColorMode", "Falcon ColorMode 77"},
    {kBoardLibrary, "is_SetDisplayMode", "Falcon Display 77"},
    {kBoardLibrary, "is_GetImageMem", "Falcon GetMem 77 00000000"},
    {kBoardLibrary, "is_GetImageMemPitch", ""},
    {kBoardLibrary, "is_SetScaler", ""},
    {kBoardLibrary, "is_SetVideoInput", ""},
    {kBoardLibrary, "is_InitEvent", ""},
    {kBoardLibrary, "is_CaptureVideo", ""},
    {kBoardLibrary, "is_EnableEvent", ""},
    {kBoardLibrary, "is_StopLiveVideo", ""},
    {kBoardLibrary, "is_DisableEvent", ""},
    {kBoardLibrary, "is_ExitBoard", ""},
};

INSTANTIATE_TEST_SUITE_P(EachCallOnce, DriverFault, ::testing::ValuesIn(kCalls), [](const auto& info) {
  return std::string(info.param.library == kBoardLibrary ? "Board_" : "Camera_") + info.param.call;
});

// Camera 1 vanishes half a second after it opened: its triggers answer as a
// camera that is gone, nothing more comes from it, and camera 2 goes on.
TEST(UnpluggedCamera, ShowsInTheTriggerResultsWhileTheOtherGoesOn) {
  REQUIRE_CAMERAS();
  ScopedSettingsFolder folder;
  ScopedEnv unplug("STEREO_SIM_UNPLUG", "1:0.5");
  Windows windows;
  TForm1& form = windows.form();
  DeliveryCounter counter;
  ASSERT_TRUE(SetUpSimulatedPair(form));
  ProcessEventsFor(700ms);
  const int first = counter.first;
  const int second = counter.second;
  EXPECT_TRUE(ProcessEventsUntil([&] { return counter.second >= second + 3; }, 10s));
  EXPECT_LE(counter.first, first + 1);
  form.Trigger->click();
  EXPECT_EQ(form.StatusBar1->currentMessage(), "10");
}

}  // namespace
