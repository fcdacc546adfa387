// The stamp file beside a recorded pair: what is written reads back, each
// line is on the disk as soon as it is written, damaged lines cost only
// themselves.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "app/pair_stamps.h"

namespace {

std::string PathIn(const QTemporaryDir& dir, const char* name) { return dir.filePath(name).toStdString(); }

TEST(PairStamps, WrittenLinesReadBackWhileTheWriterIsStillOpen) {
  QTemporaryDir dir;
  const std::string path = PathIn(dir, "run.csv");
  TStampWriter writer;
  ASSERT_TRUE(writer.Open(path));
  const TPairStamp first = MakePairStamp(0, {FrameStamp{7, 1000.5, 3}, FrameStamp{9, 1001.25, 3}});
  const TPairStamp second = MakePairStamp(1, {FrameStamp{8, 1040.5, 4}, FrameStamp{10, 1041.0, 4}});
  ASSERT_TRUE(writer.Write(first));
  ASSERT_TRUE(writer.Write(second));
  // Not closed: a crash here keeps both lines.
  const auto read = ReadStampFile(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Pairs, (std::vector<TPairStamp>{first, second}));
  EXPECT_TRUE(read->DamagedLines.empty());
  EXPECT_EQ(writer.Lines(), 2);
}

TEST(PairStamps, DamagedLinesAreCountedTheOthersKept) {
  QTemporaryDir dir;
  const std::string path = PathIn(dir, "run.csv");
  std::ofstream(path) << kStampFileHeader << "\n0,1,0,5000000,1,0,5000000,5000000\n"
                      << "1,2,x,1,2,0,1,1\n2,3,0,6000000\n3,4,0,7000000,4,0,7000000,7000000\r\n";
  const auto read = ReadStampFile(path);
  ASSERT_TRUE(read.has_value());
  ASSERT_EQ(read->Pairs.size(), 2U);
  EXPECT_EQ(read->Pairs[1].Pair, 3);
  EXPECT_EQ(read->DamagedLines, (std::vector<int>{3, 4}));
}

TEST(PairStamps, AFileWithoutTheHeaderIsNoStampFile) {
  QTemporaryDir dir;
  const std::string path = PathIn(dir, "other.csv");
  std::ofstream(path) << "#timestamp [ns],filename\n1,1.png\n";
  EXPECT_FALSE(ReadStampFile(path).has_value());
  EXPECT_FALSE(ReadStampFile(PathIn(dir, "missing.csv")).has_value());
}

}  // namespace
