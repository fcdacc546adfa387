#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "Video/vidclass/ipl.h"
#include "filters/vidfilters.h"
#include "tests/filters/filter_fakes.h"

namespace {

struct ImageDeleter {
  void operator()(IplImage* image) const { ReleaseImage(&image); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image MakeImage(int width, int height, int channels) {
  return Image(CreateImage(CvSize{width, height}, channels, IPL_DEPTH_8U, true));
}

bool HasFormat(const IplImage* image, int width, int height, int channels) {
  return image != nullptr && image->width == width && image->height == height &&
         image->nChannels == channels && image->depth == IPL_DEPTH_8U;
}

std::string ColourModel(const IplImage* image) {
  return std::string(image->colorModel, strnlen(image->colorModel, 4));
}
std::string ChannelSequence(const IplImage* image) {
  return std::string(image->channelSeq, strnlen(image->channelSeq, 4));
}

class PlainFilter : public TVidFilter {
 public:
  using TVidFilter::TVidFilter;
};

// Counts its own AllocateOutputs, to show creation reaches the subclass.
class CountingFilter : public TVidFilter {
 public:
  explicit CountingFilter(CreateKey key, int* calls) : TVidFilter(key), calls_(calls) {}
  void AllocateOutputs() override {
    ++*calls_;
    TVidFilter::AllocateOutputs();
  }

 private:
  int* calls_;
};

class DialogFilter : public TVidFilter {
 public:
  explicit DialogFilter(CreateKey key) : TVidFilter(key) { Setup = &dialog; }
  FakeSetup dialog;
};

class FilterBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { MainWindow = &main_window_; }
  void TearDown() override { MainWindow = nullptr; }

  void SetCurrentFrames(const Image& left, const Image& right) {
    main_window_.current_left = left.get();
    main_window_.current_right = right.get();
  }
  ImagePair PairOf(const Image& left, const Image& right) {
    ImagePair pair;
    pair.Left() = left.get();
    pair.Right() = right.get();
    return pair;
  }

  FakeMainWindow main_window_;
};

TEST_F(FilterBaseTest, CreationRunsTheSubclassAllocateOutputsAndKeepsItsDialog) {
  int calls = 0;
  auto filter = TVidFilter::Create<CountingFilter>(&calls);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(filter->Enabled);
  EXPECT_EQ(filter->Setup, nullptr);
  // A filter's own constructor may bind its dialog; creation keeps it.
  auto with_dialog = TVidFilter::Create<DialogFilter>();
  EXPECT_EQ(with_dialog->Setup, &with_dialog->dialog);
}

TEST_F(FilterBaseTest, CreationMakesGreyOutputsAtTheCurrentFrameSizes) {
  const Image left = MakeImage(64, 48, 3), right = MakeImage(32, 24, 3);
  SetCurrentFrames(left, right);
  auto filter = TVidFilter::Create<PlainFilter>();
  EXPECT_TRUE(HasFormat(filter->OutLeft, 64, 48, 1));
  EXPECT_TRUE(HasFormat(filter->OutRight, 32, 24, 1));
  EXPECT_EQ(ColourModel(filter->OutLeft), "GRAY");
}

TEST_F(FilterBaseTest, CreationWithoutFramesOrMainWindowMakesNoOutputs) {
  auto with_window = TVidFilter::Create<PlainFilter>();
  EXPECT_EQ(with_window->OutLeft, nullptr);
  EXPECT_EQ(with_window->OutRight, nullptr);
  MainWindow = nullptr;
  auto without_window = TVidFilter::Create<PlainFilter>();
  EXPECT_EQ(without_window->OutLeft, nullptr);
  without_window->SetEnabled(false);
  without_window->WriteLog("nobody listens");
  EXPECT_FALSE(without_window->Enabled);
}

TEST_F(FilterBaseTest, DisabledFilterReturnsItsInputInAllEightSlots) {
  Image images[8];
  ImagePair input;
  for (int slot = 0; slot < 8; ++slot) {
    images[slot] = MakeImage(8 + slot, 4, 3);
    input.Images[slot] = images[slot].get();
  }
  auto filter = TVidFilter::Create<PlainFilter>();
  filter->SetEnabled(false);
  EXPECT_EQ(filter->ProcessPair(input), input);
  input.Right() = nullptr;
  EXPECT_EQ(filter->ProcessPair(input), input);
}

TEST_F(FilterBaseTest, ColourAndGreyFlipsRemakeOutputsAtCurrentFrameSizes) {
  const Image current_left = MakeImage(40, 30, 3), current_right = MakeImage(20, 10, 3);
  SetCurrentFrames(current_left, current_right);
  auto filter = TVidFilter::Create<PlainFilter>();

  // The record's own images have another size: outputs follow the current frames.
  const Image colour_left = MakeImage(16, 12, 3), colour_right = MakeImage(16, 12, 3);
  filter->ProcessPair(PairOf(colour_left, colour_right));
  EXPECT_TRUE(filter->ColourInput);
  EXPECT_EQ(filter->OutChannels, 3);
  ASSERT_TRUE(HasFormat(filter->OutLeft, 40, 30, 3));
  ASSERT_TRUE(HasFormat(filter->OutRight, 20, 10, 3));
  EXPECT_EQ(ColourModel(filter->OutLeft), "RGB");
  EXPECT_EQ(ChannelSequence(filter->OutRight), "BGR");

  const Image grey_left = MakeImage(16, 12, 1);
  filter->ProcessPair(PairOf(grey_left, colour_right));
  EXPECT_FALSE(filter->ColourInput);
  EXPECT_TRUE(HasFormat(filter->OutLeft, 40, 30, 1));
  EXPECT_TRUE(HasFormat(filter->OutRight, 20, 10, 1));
  EXPECT_EQ(ChannelSequence(filter->OutLeft), "GRAY");
}

TEST_F(FilterBaseTest, FrameSizeChangeWithoutFlipKeepsTheOutputs) {
  const Image small = MakeImage(40, 30, 3);
  SetCurrentFrames(small, small);
  auto filter = TVidFilter::Create<PlainFilter>();
  filter->ProcessPair(PairOf(small, small));
  IplImage* const kept_left = filter->OutLeft;

  const Image large = MakeImage(80, 60, 3);
  SetCurrentFrames(large, large);
  filter->ProcessPair(PairOf(large, large));
  EXPECT_EQ(filter->OutLeft, kept_left);
  EXPECT_TRUE(HasFormat(filter->OutLeft, 40, 30, 3));
  EXPECT_TRUE(HasFormat(filter->OutRight, 40, 30, 3));
}

TEST_F(FilterBaseTest, RecordWithoutLeftImageKeepsColourInput) {
  const Image colour = MakeImage(40, 30, 3), grey = MakeImage(40, 30, 1);
  SetCurrentFrames(colour, colour);
  auto filter = TVidFilter::Create<PlainFilter>();
  filter->ProcessPair(PairOf(colour, colour));
  IplImage* const kept_right = filter->OutRight;

  ImagePair right_only;
  right_only.Right() = grey.get();
  EXPECT_EQ(filter->ProcessPair(right_only), right_only);
  EXPECT_TRUE(filter->ColourInput);
  EXPECT_EQ(filter->OutRight, kept_right);
}

TEST_F(FilterBaseTest, SideWithoutCurrentFrameKeepsItsOldBuffer) {
  const Image colour = MakeImage(40, 30, 3);
  SetCurrentFrames(colour, colour);
  auto filter = TVidFilter::Create<PlainFilter>();
  IplImage* const grey_right = filter->OutRight;
  main_window_.current_right = nullptr;
  filter->ProcessPair(PairOf(colour, colour));
  EXPECT_TRUE(HasFormat(filter->OutLeft, 40, 30, 3));
  EXPECT_EQ(filter->OutRight, grey_right);
  EXPECT_TRUE(HasFormat(filter->OutRight, 40, 30, 1));
}

TEST(ColourNatureChanged, OnlyGreyWhileColourOrColourWhileGrey) {
  EXPECT_TRUE(ColourNatureChanged(1, true));
  EXPECT_TRUE(ColourNatureChanged(3, false));
  EXPECT_TRUE(ColourNatureChanged(4, false));
  EXPECT_FALSE(ColourNatureChanged(1, false));
  EXPECT_FALSE(ColourNatureChanged(3, true));
  // A header without channels is neither grey nor colour.
  EXPECT_FALSE(ColourNatureChanged(0, true));
  EXPECT_FALSE(ColourNatureChanged(0, false));
}

TEST_F(FilterBaseTest, SetEnabledTicksOnlyThisFiltersEntries) {
  auto filter = TVidFilter::Create<PlainFilter>();
  auto other = TVidFilter::Create<PlainFilter>();
  main_window_.entries = {{filter.get(), true}, {other.get(), true}, {filter.get(), true}};
  filter->SetEnabled(false);
  EXPECT_FALSE(filter->Enabled);
  EXPECT_FALSE(main_window_.entries[0].checked);
  EXPECT_TRUE(main_window_.entries[1].checked);
  EXPECT_FALSE(main_window_.entries[2].checked);
  filter->SetEnabled(true);
  EXPECT_TRUE(main_window_.entries[0].checked);
  EXPECT_TRUE(main_window_.entries[2].checked);
}

TEST_F(FilterBaseTest, LinkedValueReachesTheLinkedControl) {
  auto filter = TVidFilter::Create<PlainFilter>();
  filter->SetLinkedValue(3);
  int told = 0;
  filter->LinkedControl = [&told](int32_t value) { told = value; };
  filter->SetLinkedValue(7);
  EXPECT_EQ(filter->LinkedValue, 7);
  EXPECT_EQ(told, 7);
}

class FilterSettingsTest : public FilterBaseTest {};

TEST_F(FilterSettingsTest, EmptySectionEnablesAndChangesNothingElse) {
  auto filter = TVidFilter::Create<PlainFilter>();
  FakeSetup setup;
  setup.left = 15;
  setup.top = 25;
  filter->Setup = &setup;
  filter->SetName("Distortion");
  filter->SetParameter(1.0L / 3.0L);
  filter->SetEnabled(false);
  main_window_.entries = {{filter.get(), false}};

  FakeSettingsStore store;
  filter->LoadSettings(store, "Filter1");
  EXPECT_TRUE(filter->Enabled);
  EXPECT_TRUE(main_window_.entries[0].checked);
  EXPECT_EQ(filter->Name, "Distortion");
  // Full precision kept, not rounded through the store's doubles.
  EXPECT_EQ(filter->Parameter, 1.0L / 3.0L);
  EXPECT_EQ(setup.left, 15);
  EXPECT_EQ(setup.top, 25);
  ASSERT_EQ(main_window_.log.size(), 1u);
  EXPECT_EQ(main_window_.log[0], "Load: Distortion");
}

TEST_F(FilterSettingsTest, SaveAndLoadRoundTrip) {
  auto saved = TVidFilter::Create<PlainFilter>();
  FakeSetup saved_setup;
  saved_setup.left = 120;
  saved_setup.top = -8;
  saved->Setup = &saved_setup;
  saved->SetName("Blur 3");
  saved->SetParameter(2.75L);
  saved->SetEnabled(false);

  FakeSettingsStore store;
  saved->SaveSettings(store, "Chain");
  EXPECT_EQ((std::vector<std::string>{"ByPass", "Name", "Parameter", "Left", "Top"}), store.written_keys);
  EXPECT_EQ(store.ReadString("Chain", "ByPass", ""), "1");

  auto loaded = TVidFilter::Create<PlainFilter>();
  FakeSetup loaded_setup;
  loaded->Setup = &loaded_setup;
  loaded->LoadSettings(store, "Chain");
  EXPECT_FALSE(loaded->Enabled);
  EXPECT_EQ(loaded->Name, "Blur 3");
  EXPECT_EQ(loaded->Parameter, 2.75L);
  EXPECT_EQ(loaded_setup.left, 120);
  EXPECT_EQ(loaded_setup.top, -8);
  EXPECT_EQ(main_window_.log.back(), "Load: Blur 3");
}

TEST_F(FilterSettingsTest, FilterWithoutDialogStoresNoPosition) {
  auto filter = TVidFilter::Create<PlainFilter>();
  FakeSettingsStore store;
  store.values[{"Chain", "Left"}] = "300";
  filter->SaveSettings(store, "Chain");
  EXPECT_EQ((std::vector<std::string>{"ByPass", "Name", "Parameter"}), store.written_keys);
  filter->LoadSettings(store, "Chain");
  EXPECT_TRUE(filter->Enabled);
}

TEST_F(FilterSettingsTest, OtherSectionsAreNotRead) {
  auto filter = TVidFilter::Create<PlainFilter>();
  filter->SetName("Mine");
  FakeSettingsStore store;
  store.values[{"Other", "Name"}] = "Theirs";
  store.values[{"Other", "ByPass"}] = "1";
  filter->LoadSettings(store, "Mine");
  EXPECT_EQ(filter->Name, "Mine");
  EXPECT_TRUE(filter->Enabled);
}

}  // namespace
