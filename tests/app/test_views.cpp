#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app_test_support.h"
#include "fake_source.h"

namespace {

// Weights in the edits' order R1, R2, G1, G2, B1, B2.
struct AnaglyphCase {
  const char* name;
  const char* weights[6];
  int right_channels;
};

// Structure across the image, different along x and y, so that a view that
// handles one row, a wrong stride, a flip or a crop shows.
int Ramp(int x, int y) { return (x + 3 * y) % 31 - 15; }

// Every pixel of a colour image set to a grey level: base + slope x ramp.
void FillRamp(IplImage* image, int base, int slope = 1) {
  cv::Mat view = cv::cvarrToMat(image);
  for (int y = 0; y < view.rows; ++y) {
    for (int x = 0; x < view.cols; ++x) {
      const auto grey = static_cast<uint8_t>(base + slope * Ramp(x, y));
      for (int c = 0; c < view.channels(); ++c) view.ptr<uint8_t>(y)[x * view.channels() + c] = grey;
    }
  }
}

using Colour = std::array<int, 3>;  // red, green, blue

class ViewTest : public ::testing::TestWithParam<AnaglyphCase> {
 protected:
  TForm1& form() { return windows_.form(); }
  // Both sources with one grey level each; the work images come from the
  // first, as the set-up of both makes them.
  void Open(int left_grey, int right_grey, int right_channels = 3) {
    form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
    form().Device2 = std::make_unique<FakeSource>(64, 48, right_channels);
    FillRamp(form().Device1->Image, left_grey);
    FillRamp(form().Device2->Image, right_grey);
    form().PrepareViewBuffers(form().Device1->Image);
    SizePane(Form2->PbGraf1, 64, 3, 0, 48);
    SizePane(Form2->PbGraf2, 64, 3, 33, 48);
  }
  void SetWeights(const char* const (&weights)[6]) {
    QLineEdit* edits[] = {form().EdR1, form().EdR2, form().EdG1, form().EdG2, form().EdB1, form().EdB2};
    for (int i = 0; i < 6; ++i) edits[i]->setText(weights[i]);
  }
  // Blue, green, red of the pane's bottom-left pixel.
  static std::array<int, 3> Pixel(const TPane* pane) {
    const uint8_t* pixels = pane->Bitmap().Pixels();
    return {pixels[0], pixels[1], pixels[2]};
  }
  // Every pixel of the pane (image row 0 at the top) against the colour
  // expected at it.
  static void ExpectPane(const TPane* pane, const std::function<Colour(int x, int y)>& expected) {
    const TPaneBitmap& bitmap = pane->Bitmap();
    ASSERT_EQ(bitmap.Width(), 64);
    ASSERT_EQ(bitmap.Height(), 48);
    for (int y = 0; y < 48; ++y) {
      const uint8_t* row = bitmap.Pixels() + static_cast<ptrdiff_t>(47 - y) * bitmap.RowPitch();
      for (int x = 0; x < 64; ++x) {
        const Colour want = expected(x, y);
        const Colour got{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
        ASSERT_EQ(got, want) << "at " << x << ", " << y;
      }
    }
  }
  // The anaglyph of grey levels: each image scaled by its weight (rounded
  // to the nearest level), then the two added, saturating.
  static Colour Mix(const char* const (&weights)[6], int left, int right) {
    Colour mixed{};
    for (int c = 0; c < 3; ++c) {
      mixed[c] = std::min(255, cv::saturate_cast<uint8_t>(std::stod(weights[2 * c]) * left) +
                                   cv::saturate_cast<uint8_t>(std::stod(weights[2 * c + 1]) * right));
    }
    return mixed;
  }
  void Announce() {
    for (uint32_t message : {2024u, 2025u}) {
      form().Post(message);
      QCoreApplication::sendPostedEvents(&form());
    }
  }

  ScopedSettingsFolder folder_;
  Windows windows_;
};

TEST_P(ViewTest, AnaglyphMixesTheGreyValuesByTheWeights) {
  const AnaglyphCase& c = GetParam();
  Open(200, 100, c.right_channels);
  SetWeights(c.weights);
  form().BuAnal->click();
  ExpectPane(Form2->PbGraf1,
             [&](int x, int y) { return Mix(c.weights, 200 + Ramp(x, y), 100 + Ramp(x, y)); });
}

INSTANTIATE_TEST_SUITE_P(
    Weights, ViewTest,
    ::testing::Values(AnaglyphCase{"Defaults", {"1.0", "0", "0", "1.0", "0", "1.0"}, 3},
                      AnaglyphCase{"RedSaturates", {"1", "1", "0", "0", "0", "0"}, 3},
                      AnaglyphCase{"AllZeroIsBlack", {"0", "0", "0", "0", "0", "0"}, 3},
                      AnaglyphCase{"HalvesWithThePoint", {"0.5", "0.5", "0", "0", "0", "0"}, 3},
                      AnaglyphCase{"GreyRightSourceTakenAsItIs", {"1.0", "0", "0", "1.0", "0", "1.0"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewTest, DifferenceOfIdenticalFramesIsBlackAndOfOthersTheirDistance) {
  Open(90, 90);
  // The pane shows something else first, so a view that draws nothing fails.
  DrawImage(form().Device1->Image, Form2->PbGraf2);
  form().BuDiff->click();
  ExpectPane(Form2->PbGraf2, [](int, int) { return Colour{0, 0, 0}; });
  FillRamp(form().Device2->Image, 130, 2);
  form().BuDiff->click();
  ExpectPane(Form2->PbGraf2, [](int x, int y) {
    const int distance = 40 + Ramp(x, y);
    return Colour{distance, distance, distance};
  });
}

TEST_F(ViewTest, CheckedViewsTakeTheirPanesOnEveryPair) {
  Open(200, 100);
  form().ChDiff->setChecked(true);
  form().ChAnal->setChecked(true);
  Announce();
  ExpectPane(Form2->PbGraf2, [](int, int) { return Colour{100, 100, 100}; });
  ExpectPane(Form2->PbGraf1, [](int x, int y) {
    return Colour{200 + Ramp(x, y), 100 + Ramp(x, y), 100 + Ramp(x, y)};
  });
  FillRamp(form().Device1->Image, 150, 2);
  Announce();
  ExpectPane(Form2->PbGraf2, [](int x, int y) {
    return Colour{50 + Ramp(x, y), 50 + Ramp(x, y), 50 + Ramp(x, y)};
  });
  ExpectPane(Form2->PbGraf1, [](int x, int y) {
    return Colour{150 + 2 * Ramp(x, y), 100 + Ramp(x, y), 100 + Ramp(x, y)};
  });
}

// Frames that do not fit the work images skip the view: the pane keeps what
// it showed, and nothing is read or written outside any image.
TEST_F(ViewTest, FramesOfAnotherFormatSkipTheViews) {
  Open(200, 100);
  form().BuAnal->click();
  form().BuDiff->click();
  const auto anaglyph = Pixel(Form2->PbGraf1);
  const auto difference = Pixel(Form2->PbGraf2);
  for (auto [width, channels] : {std::pair{32, 3}, std::pair{64, 1}}) {
    form().Device2 = std::make_unique<FakeSource>(width, 48, channels);
    iplSet(form().Device2->Image, 7);
    form().BuAnal->click();
    form().BuDiff->click();
    EXPECT_EQ(Pixel(Form2->PbGraf1),
              channels == 1 ? (std::array<int, 3>{7, 7, 200 + Ramp(0, 47)}) : anaglyph);
    EXPECT_EQ(Pixel(Form2->PbGraf2), difference);
  }
}

TEST(Factors, TextsGiveTheNumberOfTheirValidBeginning) {
  const std::pair<const char*, float> cases[] = {
      {"0.5", 0.5F},
      {"  -1.5e1", -15.0F},
      {"+2", 2.0F},
      {".25", 0.25F},
      {"5.", 5.0F},
      {"1E2", 100.0F},
      // Malformed: the valid beginning counts, 0 when there is none.
      {"", 0.0F},
      {"0,5", 0.0F},
      {"1.5abc", 1.5F},
      {"abc", 0.0F},
      {"-", 0.0F},
      {".", 0.0F},
      {"2e+", 2.0F},
      {"1e-500", 0.0F},
      {"1e500", FLT_MAX},
      {"inf", 0.0F},
      {"0x10", 0.0F}};
  for (const auto& [text, value] : cases) EXPECT_FLOAT_EQ(ParseFactor(text), value) << '"' << text << '"';
}

TEST(Factors, ThePointIsTheSeparatorWhateverTheLocale) {
  ScopedSettingsFolder folder;
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German));
  Windows windows;
  windows.form().EdG1->setText("0.5");
  windows.form().EdB2->setText("");
  QLocale::setDefault(previous);
  EXPECT_FLOAT_EQ(windows.form().G1, 0.5F);
  EXPECT_FLOAT_EQ(windows.form().B2, 0.0F);
  // The defaults of the form count from the start.
  EXPECT_FLOAT_EQ(windows.form().R1, 1.0F);
  EXPECT_FLOAT_EQ(windows.form().G2, 1.0F);
}

}  // namespace
