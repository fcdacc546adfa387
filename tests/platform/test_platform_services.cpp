#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/capture_devices.h"
#include "platform/dynamic_library.h"
#include "platform/settings_folder.h"
#include "platform/window_handle.h"

namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

struct RecordingTarget : platform::MessageTarget {
  std::vector<uint32_t> posted;
  void Post(uint32_t message) override { posted.push_back(message); }
};

}  // namespace

TEST(SettingsFolder, FollowsXdgConfigHomeElseHomeConfig) {
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/tmp/stereo-config");
    EXPECT_EQ(platform::UserSettingsFolder(), "/tmp/stereo-config");
  }
  ScopedEnv no_config("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", "/home/operator");
  EXPECT_EQ(platform::UserSettingsFolder(), "/home/operator/.config");
  // A relative XDG_CONFIG_HOME is invalid and ignored.
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");
  EXPECT_EQ(platform::UserSettingsFolder(), "/home/operator/.config");
}

TEST(PostMessage, ReachesTheWindowAndFailsWithoutOne) {
  RecordingTarget window;
  EXPECT_TRUE(platform::PostMessage(&window, 2024));
  EXPECT_TRUE(platform::PostMessage(&window, 2025));
  EXPECT_EQ(window.posted, (std::vector<uint32_t>{2024, 2025}));
  EXPECT_FALSE(platform::PostMessage(nullptr, 2024));
}

TEST(DynamicLibrary, MissingLibraryAndNameGiveNull) {
  EXPECT_EQ(platform::LoadLibrary("libno_such_stereo_driver.so"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(nullptr, "is_InitCamera"), nullptr);
  void* libc = platform::LoadLibrary("libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(platform::GetProcAddress(libc, "strlen"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(libc, "is_InitCamera"), nullptr);
  platform::FreeLibrary(libc);
}

TEST(CaptureDevices, SourceListSkipsBlankLinesAndTrims) {
  EXPECT_EQ(platform::SplitSourceList("videotestsrc pattern=ball\n\n  \t\nvideotestsrc \r\n"),
            (std::vector<std::string>{"videotestsrc pattern=ball", "videotestsrc"}));
  EXPECT_TRUE(platform::SplitSourceList("").empty());
}

TEST(CaptureDevices, ListedSourcesFollowInOrderAndUnmakeableOnesAreMarked) {
  ScopedEnv sources("STEREO_CAPTURE_SOURCES",
                    "videotestsrc pattern=ball\nno_such_element_here\nvideotestsrc\n"
                    "videotestsrc ! no_such_element_here");
  const auto devices = platform::SystemCaptureDevices()->Devices();
  ASSERT_GE(devices.size(), 4u);
  const auto listed = devices.end() - 4;
  EXPECT_EQ(listed[0].friendly_name, "videotestsrc pattern=ball");
  EXPECT_TRUE(listed[0].openable);
  EXPECT_EQ(listed[1].friendly_name, "no_such_element_here");
  EXPECT_FALSE(listed[1].openable);
  EXPECT_EQ(listed[2].source_description, "videotestsrc");
  EXPECT_TRUE(listed[2].openable);
  // Parsed with a recoverable error: only part of the line would run.
  EXPECT_FALSE(listed[3].openable);
}

TEST(DynamicLibrary, StandInDriversNextToTheProgramAreFound) {
  // The build puts them beside every program; sanitizer builds lose the run
  // path, so this also checks the loader's own search of that folder.
  void* camera_driver = platform::LoadLibrary("libuEye_api.so");
  ASSERT_NE(camera_driver, nullptr);
  EXPECT_NE(platform::GetProcAddress(camera_driver, "is_InitCamera"), nullptr);
  platform::FreeLibrary(camera_driver);
}
