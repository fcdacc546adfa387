#pragma once

// The filter base of the stereo chain: each stage takes a left and a right
// image and hands a left and a right image to the next, writing into output
// buffers of its own that it reuses from frame to frame.

#include <opencv2/core/types_c.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "filters/filter_setup.h"
#include "filters/settings_store.h"

// Eight image references passed by value down the chain: slot 0 left,
// slot 1 right; slots 2 to 7 travel unchanged.
struct ImagePair {
  std::array<IplImage*, 8> Images{};

  IplImage*& Left() { return Images[0]; }
  IplImage* Left() const { return Images[0]; }
  IplImage*& Right() { return Images[1]; }
  IplImage* Right() const { return Images[1]; }
  bool operator==(const ImagePair&) const = default;
};

class TVidFilter {
 protected:
  // Only Create hands one out, so no filter misses its second step.
  class CreateKey {
    friend class TVidFilter;
    CreateKey() = default;
  };

 public:
  // A constructor cannot reach a subclass's AllocateOutputs; Create runs it
  // (and the rest of a filter's set-up) once the whole object exists.
  // Subclass constructors take the key and pass it on:
  //   auto filter = TVidFilter::Create<TColToGrayFilter>();
  template <class Filter, class... Args>
  static std::unique_ptr<Filter> Create(Args&&... args) {
    auto filter = std::make_unique<Filter>(CreateKey{}, std::forward<Args>(args)...);
    filter->CompleteCreation();
    return filter;
  }

  explicit TVidFilter(CreateKey) {}
  virtual ~TVidFilter();
  TVidFilter(const TVidFilter&) = delete;
  TVidFilter& operator=(const TVidFilter&) = delete;

  virtual void SetName(const std::string& name);
  // Also ticks or unticks this filter's entries in the main window's list.
  virtual void SetEnabled(bool flag);
  virtual void SetOptionValue(int32_t value);
  virtual void SetLinkedValue(int32_t value);
  virtual void SetParameter(long double value);
  // One line into the main window's log.
  virtual void WriteLog(const std::string& line);
  // Every subclass begins with this: it follows the grey/colour nature of the
  // left input and returns the input unchanged.
  virtual ImagePair ProcessPair(const ImagePair& input);
  virtual void LoadSettings(TSettingsStore& store, const std::string& section);
  // Re-makes both outputs at the main window's current frame sizes with the
  // output channel count; a side without a current frame keeps its buffer.
  virtual void AllocateOutputs();
  virtual void ShowSetup() {}
  virtual void SaveSettings(TSettingsStore& store, const std::string& section);

  std::string Name;
  // When false the filter passes its input on unchanged.
  bool Enabled = true;
  int32_t OptionValue = 0;
  int32_t LinkedValue = 0;
  long double Parameter = 0;
  // True when the last left input seen had more than one channel.
  bool ColourInput = false;
  int OutChannels = 1;
  IplImage* OutLeft = nullptr;
  IplImage* OutRight = nullptr;
  // The filter's dialog, or none; not owned.
  TFilterSetup* Setup = nullptr;
  // Told of every SetLinkedValue when set.
  std::function<void(int32_t)> LinkedControl;

 private:
  void CompleteCreation();
  // Releases the old buffer and makes a zero-filled one at the frame's size.
  void RemakeOutput(IplImage*& output, const IplImage* current_frame);
};

// True when the left input's channel count disagrees with what the filter
// last saw: exactly one channel while colour, or more than one while grey.
bool ColourNatureChanged(int channels, bool colour_input);
