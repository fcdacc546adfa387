#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <filesystem>

#include "app/Unit1.h"
#include "app_test_support.h"

namespace {

const char kDefaults[] =
    "[Mode]\nCam1=\nCam2=\nFramerate=8\nExposure=10\nFourCC=XVID\n"
    "R1=1.0\nR2=0\nG1=0\nG2=1.0\nB1=0\nB2=1.0\n";

TEST(FrameRatePosition, TenthsRoundHalfToEvenThenClamp) {
  EXPECT_EQ(FrameRatePosition(2.5, 0, 80), 25);
  EXPECT_EQ(FrameRatePosition(12.0, 0, 80), 80);
  EXPECT_EQ(FrameRatePosition(100.0, 0, 80), 80);
  EXPECT_EQ(FrameRatePosition(0.25, 0, 80), 2);
  EXPECT_EQ(FrameRatePosition(0.35, 0, 80), 4);
  EXPECT_EQ(FrameRatePosition(0.45, 0, 80), 4);
  EXPECT_EQ(FrameRatePosition(0.75, 0, 80), 8);
  EXPECT_EQ(FrameRatePosition(-3.0, 0, 80), 0);
  EXPECT_EQ(FrameRatePosition(1e300, 0, 80), 80);
  EXPECT_EQ(FrameRatePosition(-1e300, 5, 300), 5);
}

TEST(TimerInterval, OnePeriodOfTheRateAndNoneAtZero) {
  EXPECT_DOUBLE_EQ(TimerInterval(75), 10000.0 / 75);
  EXPECT_DOUBLE_EQ(TimerInterval(80), 125.0);
  EXPECT_TRUE(std::isinf(TimerInterval(0)));
  EXPECT_GT(TimerInterval(0), 0.0);
}

TEST(PrepareSettingsPath, MakesOnlyTheOneMissingDirectory) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  EXPECT_EQ(PrepareSettingsPath(base + "/new"), base + "/new/Stereo.ini");
  EXPECT_TRUE(std::filesystem::is_directory(base + "/new"));
  try {
    PrepareSettingsPath(base + "/a/b");
    FAIL() << "a missing parent must not be made";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), ("Directory " + base + "/a/b/Stereo.ini can not be made").c_str());
  }
  EXPECT_FALSE(std::filesystem::exists(base + "/a"));
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeShownErrors(); }
  ScopedSettingsFolder folder_;
};

TEST_F(SettingsTest, NoFileGivesInitialControlsAndWritesDefaultsInTableOrder) {
  {
    Windows windows;
    TForm1& form = windows.form();
    EXPECT_EQ(SelectedRow(form.ListBox1), -1);
    EXPECT_EQ(SelectedRow(form.ListBox2), -1);
    EXPECT_EQ(form.tbFrameRate->value(), 80);
    EXPECT_EQ(form.tbExposure->value(), 10);
    EXPECT_EQ(form.EdFourcc->text(), "XVID");
    EXPECT_EQ(form.EdR1->text(), "1.0");
    EXPECT_EQ(form.EdB2->text(), "1.0");
  }
  EXPECT_EQ(folder_.ReadSettings(), kDefaults);
  EXPECT_EQ(TakeShownErrors(), "");
}

TEST_F(SettingsTest, StoredValuesRoundTrip) {
  folder_.WriteSettings(
      "[Mode]\nCam1=\nCam2=\nFramerate=7.5\nExposure=150\nFourCC=MJPG\n"
      "R1=0.5\nR2=0.25\nG1=0\nG2=1\nB1=0.1\nB2=0.9\n");
  {
    Windows windows;
    EXPECT_EQ(windows.form().tbFrameRate->value(), 75);
    EXPECT_EQ(windows.form().tbExposure->value(), 150);
    EXPECT_EQ(windows.form().EdFourcc->text(), "MJPG");
    EXPECT_EQ(windows.form().EdR2->text(), "0.25");
  }
  EXPECT_EQ(folder_.ReadSettings(),
            "[Mode]\nCam1=\nCam2=\nFramerate=7.5\nExposure=150\nFourCC=MJPG\n"
            "R1=0.5\nR2=0.25\nG1=0\nG2=1\nB1=0.1\nB2=0.9\n");
}

TEST_F(SettingsTest, FrameRateTenthsAndClampingOnLoad) {
  folder_.WriteSettings("[Mode]\nFramerate=2.5\nExposure=500\n");
  {
    Windows windows;
    EXPECT_EQ(windows.form().tbFrameRate->value(), 25);
    EXPECT_EQ(windows.form().tbExposure->value(), 200);
  }
  folder_.WriteSettings("[Mode]\nFramerate=12\nExposure=-4\n");
  Windows windows;
  EXPECT_EQ(windows.form().tbFrameRate->value(), 80);
  EXPECT_EQ(windows.form().tbExposure->value(), 0);
}

TEST_F(SettingsTest, StoredSourceSelectsItsEntryInAnyLetterCase) {
  std::string first;
  std::string second;
  {
    Windows windows;
    if (windows.form().ListBox1->count() < 2) GTEST_SKIP() << "needs two sources in the lists";
    first = windows.form().ListBox1->item(0)->text().toStdString();
    second = windows.form().ListBox2->item(1)->text().toStdString();
  }
  QString upper = QString::fromStdString(second).toUpper();
  folder_.WriteSettings("[Mode]\nCam1=" + first + "\nCam2=" + upper.toStdString() + "\nFramerate=2.5\n");
  {
    Windows windows;
    EXPECT_EQ(SelectedRow(windows.form().ListBox1), 0);
    EXPECT_EQ(SelectedRow(windows.form().ListBox2), 1);
  }
  // Written back with the entry's own text.
  const std::string written = folder_.ReadSettings();
  EXPECT_NE(written.find("Cam1=" + first + "\nCam2=" + second + "\nFramerate=2.5\n"), std::string::npos)
      << written;
}

// Damaged or foreign settings files never stop the window from starting.
TEST_F(SettingsTest, Malformed_UnknownSourceAndUnreadableNumbersGiveDefaults) {
  folder_.WriteSettings("[Mode]\nCam1=no such camera\nFramerate=fast\nExposure=ten\n[Other]\nkept=1\n");
  {
    Windows windows;
    EXPECT_EQ(SelectedRow(windows.form().ListBox1), -1);
    EXPECT_EQ(windows.form().tbFrameRate->value(), 80);
    EXPECT_EQ(windows.form().tbExposure->value(), 10);
  }
  const std::string written = folder_.ReadSettings();
  EXPECT_NE(written.find("Cam1=\n"), std::string::npos) << written;
  EXPECT_NE(written.find("[Other]\nkept=1\n"), std::string::npos) << written;
}

TEST_F(SettingsTest, Malformed_OverlongCodecCodeIsCutToTheMask) {
  folder_.WriteSettings("[Mode]\nFourCC=TOOLONG\n");
  Windows windows;
  EXPECT_EQ(windows.form().EdFourcc->text(), "TOOL");
}

// Codec codes are case-sensitive and may hold blanks ("Y8  "); four blanks
// leave the codec to the video library, so they must survive the mask.
TEST_F(SettingsTest, Regression_CodecEditTakesAnyFourCharactersInUpperCase) {
  Windows windows;
  QLineEdit* edit = windows.form().EdFourcc;
  edit->clear();
  EXPECT_EQ(edit->displayText(), "____");
  edit->home(false);
  QTest::keyClicks(edit, "y8  ");
  EXPECT_EQ(edit->text(), "Y8  ");
  edit->setText("mjpg");
  EXPECT_EQ(edit->text(), "MJPG");
  edit->setText("    ");
  EXPECT_EQ(edit->text(), "    ");
}

TEST_F(SettingsTest, Regression_CodecCodeOfBlanksSurvivesARestart) {
  {
    Windows windows;
    windows.form().EdFourcc->setText("    ");
  }
  Windows windows;
  EXPECT_EQ(windows.form().EdFourcc->text(), "    ");
}

TEST_F(SettingsTest, DirectoryThatCannotBeMadeIsShownAndLeavesInitialValues) {
  ScopedEnv missing_parent("XDG_CONFIG_HOME", folder_.Path() + "/no/parent");
  const std::string path = folder_.Path() + "/no/parent/Stereo.ini";
  {
    Windows windows;
    EXPECT_EQ(TakeShownErrors().toStdString(), "Directory " + path + " can not be made\n");
    EXPECT_EQ(windows.form().tbFrameRate->value(), 0);
    EXPECT_EQ(windows.form().tbExposure->value(), 0);
    EXPECT_FALSE(windows.form().StatusBar1->currentMessage().isEmpty());
  }
  // Saving meets the same error and writes nothing.
  EXPECT_EQ(TakeShownErrors().toStdString(), "Directory " + path + " can not be made\n");
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/no"));
}

TEST_F(SettingsTest, SettingsAreWrittenAtDestroyOnly) {
  Windows windows;
  windows.form().close();
  EXPECT_FALSE(std::filesystem::exists(folder_.SettingsFile()));
  windows.form().tbExposure->setValue(33);
  windows.form1.reset();
  EXPECT_NE(folder_.ReadSettings().find("Exposure=33\n"), std::string::npos);
}

}  // namespace
