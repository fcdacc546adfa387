#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/inifile.h"

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(PathOf(name), std::ios::binary) << text;
    return PathOf(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  QTemporaryDir dir_;
};

TEST(NumberText, FloatsAreShortestWithPointWhateverTheLocale) {
  EXPECT_EQ(FormatFloat(8.0), "8");
  EXPECT_EQ(FormatFloat(7.5), "7.5");
  EXPECT_EQ(FormatFloat(0.3), "0.3");
  EXPECT_EQ(FormatFloat(-12.25), "-12.25");
  for (int position = 0; position <= 300; ++position) {
    EXPECT_EQ(ParseFloat(FormatFloat(position / 10.0)), position / 10.0) << position;
  }
}

TEST(NumberText, ParseTakesOnlyWholeFiniteNumbers) {
  EXPECT_EQ(ParseFloat(" 2.5 "), 2.5);
  EXPECT_EQ(ParseFloat("+12"), 12.0);
  EXPECT_EQ(ParseFloat("1e1"), 10.0);
  EXPECT_FALSE(ParseFloat(""));
  EXPECT_FALSE(ParseFloat("2,5"));
  EXPECT_FALSE(ParseFloat("2.5fps"));
  EXPECT_FALSE(ParseFloat("nan"));
  EXPECT_FALSE(ParseFloat("inf"));
  EXPECT_FALSE(ParseFloat("1e999"));
  EXPECT_EQ(ParseInteger("-7"), -7);
  EXPECT_FALSE(ParseInteger("7.0"));
  EXPECT_FALSE(ParseInteger("99999999999"));
  EXPECT_FALSE(ParseInteger("0x10"));
}

TEST_F(IniFileTest, MissingFileReadsDefaults) {
  TIniFile ini(PathOf("absent.ini"));
  EXPECT_EQ(ini.ReadString("Mode", "Cam1", "none"), "none");
  EXPECT_EQ(ini.ReadInteger("Mode", "Exposure", 10), 10);
  EXPECT_EQ(ini.ReadFloat("Mode", "Framerate", 100.0), 100.0);
  EXPECT_TRUE(ini.ReadBool("Mode", "ByPass", true));
  EXPECT_FALSE(ini.SectionExists("Mode"));
}

TEST_F(IniFileTest, WrittenValuesComeBackTypedAndInOrder) {
  const std::string path = PathOf("round.ini");
  {
    TIniFile ini(path);
    ini.WriteString("Mode", "Cam1", "Cam - #1");
    ini.WriteFloat("Mode", "Framerate", 7.5);
    ini.WriteInteger("Mode", "Exposure", -3);
    ini.WriteBool("Filter", "ByPass", true);
    ini.WriteString("Mode", "FourCC", "MJPG");
    ini.UpdateFile();
  }
  EXPECT_EQ(Read(path),
            "[Mode]\nCam1=Cam - #1\nFramerate=7.5\nExposure=-3\nFourCC=MJPG\n[Filter]\nByPass=1\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Mode", "Cam1", ""), "Cam - #1");
  EXPECT_EQ(ini.ReadFloat("Mode", "Framerate", 0), 7.5);
  EXPECT_EQ(ini.ReadInteger("Mode", "Exposure", 0), -3);
  EXPECT_TRUE(ini.ReadBool("Filter", "ByPass", false));
  EXPECT_EQ(ini.ReadSection("Mode"), (std::vector<std::string>{"Cam1", "Framerate", "Exposure", "FourCC"}));
}

TEST_F(IniFileTest, SectionsAndKeysMatchInAnyCaseAndRewriteInPlace) {
  const std::string path = Write("case.ini", "; kept\n[MODE]\nCAM1=a\nother=b\n\n[Next]\nx=1\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Mode", "cam1", ""), "a");
  ini.WriteString("mode", "Cam1", "c");
  ini.WriteString("Mode", "Added", "d");
  EXPECT_EQ(ini.Text(), "; kept\n[MODE]\nCAM1=c\nother=b\nAdded=d\n\n[Next]\nx=1\n");
}

TEST_F(IniFileTest, Regression_BlanksAroundAValueSurviveTheFile) {
  const std::string path = PathOf("blanks.ini");
  {
    TIniFile ini(path);
    ini.WriteString("Mode", "FourCC", "Y8  ");
    ini.WriteString("Mode", "Blanks", "    ");
    ini.WriteString("Mode", "Quotes", "\"as typed\"");
    ini.WriteString("Mode", "Inner", "a b");
    ini.UpdateFile();
  }
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Mode", "FourCC", ""), "Y8  ");
  EXPECT_EQ(ini.ReadString("Mode", "Blanks", ""), "    ");
  EXPECT_EQ(ini.ReadString("Mode", "Quotes", ""), "\"as typed\"");
  EXPECT_EQ(ini.ReadString("Mode", "Inner", ""), "a b");
  EXPECT_NE(Read(path).find("\nInner=a b\n"), std::string::npos) << Read(path);
}

TEST_F(IniFileTest, Regression_LinkedFileIsWrittenWhereTheLinkPoints) {
  std::filesystem::create_directory(PathOf("kept"));
  const std::string target = Write("kept/Stereo.ini", "[Mode]\nCam1=a\n");
  std::filesystem::create_symlink("kept/Stereo.ini", PathOf("Stereo.ini"));
  TIniFile ini(PathOf("Stereo.ini"));
  ini.WriteString("Mode", "Cam1", "b");
  ini.UpdateFile();
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("Stereo.ini")));
  EXPECT_EQ(Read(target), "[Mode]\nCam1=b\n");
}

TEST_F(IniFileTest, Regression_AnotherWritersTemporaryIsLeftAlone) {
  const std::string path = PathOf("Stereo.ini");
  const std::string other = Write("Stereo.ini.tmp", "[Mode]\nCam1=half");
  TIniFile ini(path);
  ini.WriteString("Mode", "Cam1", "mine");
  ini.UpdateFile();
  EXPECT_EQ(Read(path), "[Mode]\nCam1=mine\n");
  EXPECT_EQ(Read(other), "[Mode]\nCam1=half");
}

TEST_F(IniFileTest, UnwritableFileThrowsAndLeavesNothingBehind) {
  TIniFile ini(PathOf("missing/dir/file.ini"));
  ini.WriteString("Mode", "Cam1", "a");
  EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
}

// Files that were edited by hand or damaged: reading never fails, unreadable
// values fall back to their defaults, and rewriting keeps what is not a key.
TEST_F(IniFileTest, Malformed_LinesWithoutKeysAreKeptAndIgnored) {
  const std::string path = Write("junk.ini", "garbage line\n=novalue\n[Mode\n[Mode]\njunk\nCam1=x\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Mode", "Cam1", ""), "x");
  EXPECT_EQ(ini.ReadString("Mode", "junk", "def"), "def");
  // Keys before any section belong to none.
  EXPECT_EQ(ini.ReadString("", "", "def"), "def");
  EXPECT_EQ(ini.Text(), "garbage line\n=novalue\n[Mode\n[Mode]\njunk\nCam1=x\n");
}

TEST_F(IniFileTest, Malformed_UnreadableNumbersGiveDefaults) {
  TIniFile ini(Write("numbers.ini", "[Mode]\nFramerate=fast\nExposure=1.5\nR1=\nB=nan\n"));
  EXPECT_EQ(ini.ReadFloat("Mode", "Framerate", 100.0), 100.0);
  EXPECT_EQ(ini.ReadInteger("Mode", "Exposure", 10), 10);
  EXPECT_EQ(ini.ReadFloat("Mode", "R1", 1.0), 1.0);
  EXPECT_EQ(ini.ReadFloat("Mode", "B", 2.0), 2.0);
  EXPECT_EQ(ini.ReadString("Mode", "R1", "def"), "");
}

TEST_F(IniFileTest, Malformed_WindowsLineEndsByteOrderMarkAndBlanks) {
  TIniFile ini(
      Write("crlf.ini", "\xEF\xBB\xBF[Mode]\r\n  Cam1 =  left cam  \r\nFourCC=a=b\r\nCam1=second\r\n"));
  EXPECT_EQ(ini.ReadString("Mode", "Cam1", ""), "left cam");
  EXPECT_EQ(ini.ReadString("Mode", "FourCC", ""), "a=b");
}

TEST_F(IniFileTest, Malformed_HandQuotedValuesLoseOnePairOfQuotes) {
  TIniFile ini(Write("quoted.ini", "[Mode]\nCam1=\"Cam - #1\"\nR1='1.0'\nG1=\"0'\nB1=\"\n"));
  EXPECT_EQ(ini.ReadString("Mode", "Cam1", ""), "Cam - #1");
  EXPECT_EQ(ini.ReadString("Mode", "R1", ""), "1.0");
  EXPECT_EQ(ini.ReadString("Mode", "G1", ""), "\"0'");
  EXPECT_EQ(ini.ReadString("Mode", "B1", ""), "\"");
}

TEST_F(IniFileTest, Malformed_LineBreakInAValueCannotInjectKeys) {
  TIniFile ini(PathOf("inject.ini"));
  ini.WriteString("Mode", "Cam1", "name\n[Evil]\nCam2=x");
  ini.UpdateFile();
  TIniFile back(PathOf("inject.ini"));
  EXPECT_FALSE(back.SectionExists("Evil"));
  EXPECT_EQ(back.ReadString("Mode", "Cam1", ""), "name [Evil] Cam2=x");
}

}  // namespace
