#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <cstring>
#include <memory>
#include <vector>

#include "Video/vidclass/ipl.h"
#include "app/Unit2.h"

namespace {

void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "display_tests";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
}

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image MakeImage(int width, int height, int channels) {
  return Image(CreateImage(CvSize{width, height}, channels, IPL_DEPTH_8U, true));
}

uint8_t* Row(const IplImage* image, int row) {
  return reinterpret_cast<uint8_t*>(image->imageData) + row * image->widthStep;
}

// Each row filled with its own byte value, so rows can be told apart.
void FillRowsWithTheirIndex(IplImage* image, int offset = 0) {
  for (int row = 0; row < image->height; ++row)
    std::memset(Row(image, row), row + offset, static_cast<std::size_t>(image->width * image->nChannels));
}

void SetBgr(IplImage* image, int row, uint8_t blue, uint8_t green, uint8_t red) {
  for (int x = 0; x < image->width; ++x) {
    Row(image, row)[3 * x] = blue;
    Row(image, row)[3 * x + 1] = green;
    Row(image, row)[3 * x + 2] = red;
  }
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    form_ = std::make_unique<TForm2>();
  }

  QImage Painted(TPane* pane) { return pane->grab().toImage().convertToFormat(QImage::Format_RGB32); }

  std::unique_ptr<TForm2> form_;
};

TEST(BitmapRowPitch, RowsArePaddedTo32Bits) {
  EXPECT_EQ(BitmapRowPitch(24, 641), 1924);
  EXPECT_EQ(BitmapRowPitch(8, 641), 644);
  EXPECT_EQ(BitmapRowPitch(8, 640), 640);
  EXPECT_EQ(BitmapRowPitch(24, 1), 4);
  EXPECT_EQ(BitmapRowPitch(8, 0), 0);
  // The pitch equals the row step of a 4-byte aligned image of that width.
  const Image grey = MakeImage(333, 2, 1), colour = MakeImage(333, 2, 3);
  EXPECT_EQ(BitmapRowPitch(8, 333), grey->widthStep);
  EXPECT_EQ(BitmapRowPitch(24, 333), colour->widthStep);
}

TEST_F(DisplayTest, SizePaneHalvesThePaneAndKeepsTheFullBitmap) {
  SizePane(form_->PbGraf1, 641, 3, 7, 481);
  const TPane* pane = form_->PbGraf1;
  EXPECT_EQ(pane->geometry(), QRect(7, 0, 320, 240));
  EXPECT_EQ(pane->Bitmap().Width(), 641);
  EXPECT_EQ(pane->Bitmap().Height(), 481);
  EXPECT_EQ(pane->Bitmap().BitCount(), 24);
  EXPECT_EQ(pane->Bitmap().ByteSize(), 1924u * 481u);

  SizePane(form_->PbGraf2, 100, 1, 321, 50);
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(321, 0, 50, 25));
  EXPECT_EQ(form_->PbGraf2->Bitmap().BitCount(), 8);
  ASSERT_EQ(form_->PbGraf2->Bitmap().View().colorCount(), 256);
  EXPECT_EQ(form_->PbGraf2->Bitmap().View().color(200), qRgb(200, 200, 200));
}

TEST_F(DisplayTest, SizePaneWithTheSameFormatKeepsTheBitmap) {
  SizePane(form_->PbGraf1, 64, 3, 0, 48);
  const uint8_t* pixels = form_->PbGraf1->Bitmap().Pixels();
  SizePane(form_->PbGraf1, 64, 3, 10, 48);
  EXPECT_EQ(form_->PbGraf1->Bitmap().Pixels(), pixels);
  SizePane(form_->PbGraf1, 64, 1, 10, 48);
  EXPECT_EQ(form_->PbGraf1->Bitmap().BitCount(), 8);
}

TEST_F(DisplayTest, ImageRowZeroShowsAtTheTop) {
  const Image image = MakeImage(8, 6, 3);
  for (int row = 0; row < image->height; ++row) SetBgr(image.get(), row, 255, 0, 0);
  SetBgr(image.get(), 0, 0, 0, 255);
  DrawImage(image.get(), form_->PbGraf1);

  // Bottom-up memory: the last bitmap row holds image row 0.
  const TPaneBitmap& bitmap = form_->PbGraf1->Bitmap();
  const uint8_t* last_row = bitmap.Pixels() + (bitmap.Height() - 1) * bitmap.RowPitch();
  EXPECT_EQ(last_row[2], 255);
  EXPECT_EQ(bitmap.Pixels()[2], 0);

  // One screen pixel per bitmap pixel, so no scaling picks rows.
  form_->PbGraf1->resize(8, 6);
  const QImage painted = Painted(form_->PbGraf1);
  EXPECT_EQ(painted.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(painted.pixel(7, 1), qRgb(0, 0, 255));
  EXPECT_EQ(painted.pixel(7, 5), qRgb(0, 0, 255));
}

TEST_F(DisplayTest, WholeBitmapStretchesOverThePane) {
  // 4 x 2 colour bitmap on a 320 x 240 pane: the aspect ratio is not kept.
  const Image image = MakeImage(4, 2, 3);
  SetBgr(image.get(), 0, 0, 255, 0);
  SetBgr(image.get(), 1, 255, 0, 0);
  SizePane(form_->PbGraf1, 640, 3, 0, 480);
  ASSERT_TRUE(form_->PbGraf1->Bitmap().Matches(640, 480, 24));
  SizePane(form_->PbGraf1, 4, 3, 0, 2);
  form_->PbGraf1->resize(320, 240);
  ASSERT_TRUE(CopyImageToPane(image.get(), form_->PbGraf1));
  const QImage painted = Painted(form_->PbGraf1);
  ASSERT_EQ(painted.size(), QSize(320, 240));
  EXPECT_EQ(painted.pixel(0, 0), qRgb(0, 255, 0));
  EXPECT_EQ(painted.pixel(319, 119), qRgb(0, 255, 0));
  EXPECT_EQ(painted.pixel(0, 120), qRgb(0, 0, 255));
  EXPECT_EQ(painted.pixel(319, 239), qRgb(0, 0, 255));
}

TEST_F(DisplayTest, GreyImagePaintsThroughTheGreyRamp) {
  const Image image = MakeImage(6, 4, 1);
  FillRowsWithTheirIndex(image.get(), 100);
  DrawImage(image.get(), form_->PbGraf2);
  EXPECT_EQ(form_->PbGraf2->Bitmap().BitCount(), 8);
  form_->PbGraf2->resize(6, 4);
  const QImage painted = Painted(form_->PbGraf2);
  EXPECT_EQ(painted.pixel(0, 0), qRgb(100, 100, 100));
  EXPECT_EQ(painted.pixel(5, 3), qRgb(103, 103, 103));
}

TEST_F(DisplayTest, FormatChangeRemakesTheBitmapAtTheCurrentLeft) {
  SizePane(form_->PbGraf2, 640, 3, 321, 480);
  const Image grey = MakeImage(640, 480, 1);
  DrawImage(grey.get(), form_->PbGraf2);
  EXPECT_EQ(form_->PbGraf2->Bitmap().BitCount(), 8);
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(321, 0, 320, 240));

  // Same format again: nothing is re-made and the pane keeps a size set by hand.
  const uint8_t* pixels = form_->PbGraf2->Bitmap().Pixels();
  form_->PbGraf2->resize(640, 480);
  DrawImage(grey.get(), form_->PbGraf2);
  EXPECT_EQ(form_->PbGraf2->Bitmap().Pixels(), pixels);
  EXPECT_EQ(form_->PbGraf2->size(), QSize(640, 480));
}

TEST_F(DisplayTest, SizeChangeRemakesTheBitmapBeforeCopying) {
  SizePane(form_->PbGraf1, 32, 3, 0, 24);
  for (const auto& [width, height] : {std::pair{80, 60}, std::pair{6, 4}, std::pair{81, 3}}) {
    const Image image = MakeImage(width, height, 3);
    FillRowsWithTheirIndex(image.get());
    DrawImage(image.get(), form_->PbGraf1);
    const TPaneBitmap& bitmap = form_->PbGraf1->Bitmap();
    ASSERT_TRUE(bitmap.Matches(width, height, 24));
    EXPECT_EQ(bitmap.Pixels()[0], height - 1);
    EXPECT_EQ(form_->PbGraf1->size(), QSize(width / 2, height / 2));
  }
}

TEST_F(DisplayTest, RowCopyRefusesAnImageThatDoesNotFitTheBitmap) {
  SizePane(form_->PbGraf1, 16, 3, 0, 8);
  const std::vector<uint8_t> before(form_->PbGraf1->Bitmap().Pixels(),
                                    form_->PbGraf1->Bitmap().Pixels() + form_->PbGraf1->Bitmap().ByteSize());
  const Image taller = MakeImage(16, 9, 3), wider = MakeImage(17, 8, 3), grey = MakeImage(16, 8, 1);
  for (const Image* image : {&taller, &wider, &grey}) {
    iplSet(image->get(), 77);
    EXPECT_FALSE(CopyImageToPane(image->get(), form_->PbGraf1));
  }
  EXPECT_FALSE(CopyImageToPane(nullptr, form_->PbGraf1));
  const std::vector<uint8_t> after(form_->PbGraf1->Bitmap().Pixels(),
                                   form_->PbGraf1->Bitmap().Pixels() + form_->PbGraf1->Bitmap().ByteSize());
  EXPECT_EQ(before, after);
  EXPECT_TRUE(form_->PbGraf1->Bitmap().Matches(16, 8, 24));

  // An empty bitmap has nothing to copy into.
  const Image fitting = MakeImage(16, 8, 3);
  EXPECT_FALSE(CopyImageToPane(fitting.get(), form_->PbGraf2));
}

TEST_F(DisplayTest, ImagesOfOtherChannelCountsOrDepthsAreNotDrawn) {
  SizePane(form_->PbGraf1, 16, 3, 0, 8);
  const uint8_t* pixels = form_->PbGraf1->Bitmap().Pixels();
  for (const int channels : {2, 4}) {
    IplImage* image = cvCreateImage(cvSize(16, 8), IPL_DEPTH_8U, channels);
    cvSet(image, cvScalarAll(9));
    DrawImage(image, form_->PbGraf1);
    cvReleaseImage(&image);
  }
  const Image floats(CreateImage(CvSize{16, 8}, 3, IPL_DEPTH_32F, true));
  DrawImage(floats.get(), form_->PbGraf1);
  DrawImage(nullptr, form_->PbGraf1);
  EXPECT_EQ(form_->PbGraf1->Bitmap().Pixels(), pixels);
  EXPECT_TRUE(form_->PbGraf1->Bitmap().Matches(16, 8, 24));
  EXPECT_EQ(form_->PbGraf1->Bitmap().Pixels()[0], 0);
}

// Every image row lands in its bottom-up bitmap row, at sizes copied in one
// band and in bands copied at once.
class RowCopyTest : public DisplayTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(RowCopyTest, EveryRowLandsInItsBitmapRow) {
  const auto [width, height] = GetParam();
  const Image image = MakeImage(width, height, 3);
  FillRowsWithTheirIndex(image.get(), 7);
  DrawImage(image.get(), form_->PbGraf1);
  const TPaneBitmap& bitmap = form_->PbGraf1->Bitmap();
  ASSERT_TRUE(bitmap.Matches(width, height, 24));
  int wrong_rows = 0;
  for (int row = 0; row < height; ++row) {
    const uint8_t* target =
        bitmap.Pixels() + static_cast<std::ptrdiff_t>(height - 1 - row) * bitmap.RowPitch();
    if (std::memcmp(target, Row(image.get(), row), static_cast<std::size_t>(width) * 3) != 0) ++wrong_rows;
  }
  EXPECT_EQ(wrong_rows, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RowCopyTest,
                         ::testing::Values(std::pair{640, 480}, std::pair{1280, 720}, std::pair{1283, 1021}),
                         [](const auto& info) {
                           return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
                         });

TEST_F(DisplayTest, RowsOfAWiderStepAreCopiedPixelsOnly) {
  // A header over foreign pixels whose rows are longer than the bitmap's.
  const int width = 5, height = 3, step = 32;
  std::vector<char> pixels(static_cast<std::size_t>(step * height), 0);
  for (int row = 0; row < height; ++row) std::memset(&pixels[row * step], 10 + row, width * 3);
  Image header(CreateImage(CvSize{width, height}, 3, IPL_DEPTH_8U, false));
  header->imageData = pixels.data();
  header->widthStep = step;
  header->imageSize = step * height;
  DrawImage(header.get(), form_->PbGraf1);
  const TPaneBitmap& bitmap = form_->PbGraf1->Bitmap();
  ASSERT_TRUE(bitmap.Matches(width, height, 24));
  EXPECT_EQ(bitmap.RowPitch(), 16);
  EXPECT_EQ(bitmap.Pixels()[0], 12);
  EXPECT_EQ(bitmap.Pixels()[2 * 16 + 14], 10);
  EXPECT_EQ(bitmap.Pixels()[2 * 16 + 15], 0);
}

TEST_F(DisplayTest, WindowAsCreated) {
  EXPECT_EQ(form_->windowTitle(), "Form2");
  EXPECT_TRUE(form_->windowFlags().testFlag(Qt::Tool));
  EXPECT_EQ(form_->pos(), QPoint(21, 234));
  EXPECT_EQ(form_->PbGraf1->geometry(), QRect(0, 0, 320, 240));
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(320, 0, 320, 240));
  EXPECT_EQ(form_->PbGraf1->Bitmap().Pixels(), nullptr);
  // "Fit to window" stands beside the two fixed sizes.
  ASSERT_EQ(form_->PopupMenu1->actions().size(), 3);
  EXPECT_EQ(form_->PopupMenu1->actions()[0]->text(), "Full Size");
  EXPECT_EQ(form_->PopupMenu1->actions()[1]->text(), "Half Size");
  EXPECT_EQ(form_->PopupMenu1->actions()[2]->text(), "Fit to window");
  EXPECT_EQ(form_->PbGraf2->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(DisplayTest, FullSizeAndHalfSizeSetFixedGeometry) {
  SizePane(form_->PbGraf1, 64, 3, 0, 48);
  SizePane(form_->PbGraf2, 64, 3, 33, 48);
  form_->FullSize1->trigger();
  EXPECT_EQ(form_->PbGraf1->geometry(), QRect(0, 0, 640, 480));
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(640, 0, 640, 480));
  EXPECT_EQ(form_->size(), QSize(1280, 480));
  EXPECT_EQ(form_->pos(), QPoint(0, 0));
  // The bitmaps are not touched by the menu.
  EXPECT_TRUE(form_->PbGraf1->Bitmap().Matches(64, 48, 24));

  // Frames of the same format keep the full-size panes.
  const Image frame = MakeImage(64, 48, 3);
  DrawImage(frame.get(), form_->PbGraf1);
  DrawImage(frame.get(), form_->PbGraf2);
  EXPECT_EQ(form_->PbGraf1->size(), QSize(640, 480));
  EXPECT_EQ(form_->PbGraf2->size(), QSize(640, 480));

  form_->move(50, 60);
  form_->HalfSize1->trigger();
  EXPECT_EQ(form_->PbGraf1->geometry(), QRect(0, 0, 320, 240));
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(320, 0, 320, 240));
  EXPECT_EQ(form_->size(), QSize(640, 240));
  EXPECT_EQ(form_->pos(), QPoint(50, 60));
}

TEST_F(DisplayTest, ResizingTheWindowLeavesThePanes) {
  form_->resize(900, 700);
  QApplication::processEvents();
  EXPECT_EQ(form_->PbGraf1->geometry(), QRect(0, 0, 320, 240));
  EXPECT_EQ(form_->PbGraf2->geometry(), QRect(320, 0, 320, 240));
}

}  // namespace
