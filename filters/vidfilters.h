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

#include "Video/vidclass/frame_stamp.h"
#include "filters/filter_setup.h"
#include "filters/settings_store.h"

struct TStereoCalibration;

// What the steps before did to the geometry of the pair's images.
enum class TPairGeometry {
  // As the cameras took them, lens distortion and all.
  AsCaptured,
  // Each undistorted with its own camera model ("Calibrate only").
  Undistorted,
  // Undistorted, the right one warped so that far points line up
  // ("Calibrate and Rectify").
  Warped,
  // Undistorted and rectified with a stereo calibration ("Rectify both").
  Rectified,
  // No longer camera images: a map display, a disparity view.
  NotCameraImages,
};

// Eight image references passed by value down the chain: slot 0 left,
// slot 1 right; slots 2 to 7 travel unchanged. Stamps say which frame of each
// source the left and the right image are. Geometry says what was done to the
// images; a rectified pair carries the calibration it was rectified with,
// shared and never changed, so no stage can leave it dangling.
struct ImagePair {
  std::array<IplImage*, 8> Images{};
  std::array<FrameStamp, 2> Stamps{};
  TPairGeometry Geometry = TPairGeometry::AsCaptured;
  std::shared_ptr<const TStereoCalibration> Rectification;

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
  // The same for a filter of a kind chosen at run time.
  template <class Filter>
  static std::unique_ptr<TVidFilter> CreateAs() {
    return Create<Filter>();
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
  // The filter's dialog, or none; a filter's own constructor may set it.
  TFilterSetup* Setup = nullptr;
  // Told of every SetLinkedValue when set.
  std::function<void(int32_t)> LinkedControl;

 protected:
  // Runs once the outputs are made, as the last step of creation.
  virtual void FinishCreate() {}

 private:
  void CompleteCreation();
  // Releases the old buffer and makes a zero-filled one at the frame's size.
  void RemakeOutput(IplImage*& output, const IplImage* current_frame);
};

// Colour frames into grey ones; a grey frame passes as it is.
class TColToGrayFilter : public TVidFilter {
 public:
  using TVidFilter::TVidFilter;
  ~TColToGrayFilter() override;
  ImagePair ProcessPair(const ImagePair& input) override;
  void AllocateOutputs() override;

  IplImage* GreyLeft = nullptr;
  IplImage* GreyRight = nullptr;
};

// Each frame less a stored reference frame, per camera: what changed since
// the reference stands out. A double click on the entry takes a new one.
class TDiffFilter : public TVidFilter {
 public:
  using TVidFilter::TVidFilter;
  ~TDiffFilter() override;
  ImagePair ProcessPair(const ImagePair& input) override;
  void AllocateOutputs() override;
  void ShowSetup() override;

  IplImage* RefLeft = nullptr;
  IplImage* RefRight = nullptr;
  // The next processed pair becomes the reference.
  bool TakeReference = false;

 private:
  void DiffSide(const IplImage* input, IplImage*& output, IplImage*& reference);
};

// True when the left input's channel count disagrees with what the filter
// last saw: exactly one channel while colour, or more than one while grey.
bool ColourNatureChanged(int channels, bool colour_input);

// Releases a filter's buffer (never its mask, which is not ours) and sets
// the reference to null.
void ReleaseBuffer(IplImage*& buffer);
// Releases the buffer and makes a zero-filled one in its place.
void RemakeBuffer(IplImage*& buffer, CvSize size, int channels, int depth = IPL_DEPTH_8U);
// Makes the buffer an 8-bit or float image of that size and channel count,
// zero-filled, unless it already is one; true when it was made anew. A
// frame whose format differs from a buffer's is never written into it.
bool FitBuffer(IplImage*& buffer, CvSize size, int channels, int depth = IPL_DEPTH_8U);
bool SameFormat(const IplImage* a, const IplImage* b);
inline CvSize SizeOf(const IplImage* image) { return CvSize{image->width, image->height}; }
