#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <cfloat>

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
  int red, green, blue;
};

class ViewTest : public ::testing::TestWithParam<AnaglyphCase> {
 protected:
  TForm1& form() { return windows_.form(); }
  // Both sources with one grey level each; the work images come from the
  // first, as the set-up of both makes them.
  void Open(int left_grey, int right_grey, int right_channels = 3) {
    form().Device1 = std::make_unique<FakeSource>(64, 48, 3);
    form().Device2 = std::make_unique<FakeSource>(64, 48, right_channels);
    iplSet(form().Device1->Image, left_grey);
    iplSet(form().Device2->Image, right_grey);
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
  EXPECT_EQ(Pixel(Form2->PbGraf1), (std::array<int, 3>{c.blue, c.green, c.red}));
}

INSTANTIATE_TEST_SUITE_P(
    Weights, ViewTest,
    ::testing::Values(
        AnaglyphCase{"Defaults", {"1.0", "0", "0", "1.0", "0", "1.0"}, 3, 200, 100, 100},
        AnaglyphCase{"RedSaturates", {"1", "1", "0", "0", "0", "0"}, 3, 255, 0, 0},
        AnaglyphCase{"AllZeroIsBlack", {"0", "0", "0", "0", "0", "0"}, 3, 0, 0, 0},
        AnaglyphCase{"HalvesWithThePoint", {"0.5", "0.5", "0", "0", "0", "0"}, 3, 150, 0, 0},
        AnaglyphCase{"GreyRightSourceTakenAsItIs", {"1.0", "0", "0", "1.0", "0", "1.0"}, 1, 200, 100, 100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewTest, DifferenceOfIdenticalFramesIsBlackAndOfOthersTheirDistance) {
  Open(90, 90);
  // The pane shows something else first, so a view that draws nothing fails.
  DrawImage(form().Device1->Image, Form2->PbGraf2);
  form().BuDiff->click();
  EXPECT_EQ(Pixel(Form2->PbGraf2), (std::array<int, 3>{0, 0, 0}));
  iplSet(form().Device2->Image, 130);
  form().BuDiff->click();
  EXPECT_EQ(Pixel(Form2->PbGraf2), (std::array<int, 3>{40, 40, 40}));
}

TEST_F(ViewTest, CheckedViewsTakeTheirPanesOnEveryPair) {
  Open(200, 100);
  form().ChDiff->setChecked(true);
  form().ChAnal->setChecked(true);
  Announce();
  EXPECT_EQ(Pixel(Form2->PbGraf2), (std::array<int, 3>{100, 100, 100}));
  EXPECT_EQ(Pixel(Form2->PbGraf1), (std::array<int, 3>{100, 100, 200}));
  iplSet(form().Device1->Image, 150);
  Announce();
  EXPECT_EQ(Pixel(Form2->PbGraf2), (std::array<int, 3>{50, 50, 50}));
  EXPECT_EQ(Pixel(Form2->PbGraf1), (std::array<int, 3>{100, 100, 150}));
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
    EXPECT_EQ(Pixel(Form2->PbGraf1), channels == 1 ? (std::array<int, 3>{7, 7, 200}) : anaglyph);
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
