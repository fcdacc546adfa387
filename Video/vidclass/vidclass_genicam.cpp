#include "Video/vidclass/vidclass_genicam.h"

#include <arv.h>
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "Video/vidclass/arvimp.h"

namespace {

// Frames the window may hold, pin and record while the camera fills one.
constexpr int kCopiedFrames = 5;
// Buffers in the camera's stream: it goes on filling while one is converted.
constexpr int kStreamBuffers = 4;
constexpr const char* kSoftwareTrigger = "Software";

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A call that failed with an error of its own leaves it; the message is
// the library's.
class CallError {
 public:
  CallError() = default;
  ~CallError() { g_clear_error(&error_); }
  CallError(const CallError&) = delete;
  CallError& operator=(const CallError&) = delete;
  GError** operator&() { return &error_; }
  GError* get() const { return error_; }
  explicit operator bool() const { return error_ != nullptr; }

 private:
  GError* error_ = nullptr;
};

}  // namespace

GenICamPixels GenICamPixelsOf(uint32_t pixel_format) {
  // OpenCV names a Bayer pattern by the second row's first two pixels, the
  // standard by the first row's.
  switch (pixel_format) {
    case ARV_PIXEL_FORMAT_MONO_8:
      return {1, 1, -1};
    case ARV_PIXEL_FORMAT_BAYER_RG_8:
      return {3, 1, cv::COLOR_BayerBG2BGR};
    case ARV_PIXEL_FORMAT_BAYER_BG_8:
      return {3, 1, cv::COLOR_BayerRG2BGR};
    case ARV_PIXEL_FORMAT_BAYER_GR_8:
      return {3, 1, cv::COLOR_BayerGB2BGR};
    case ARV_PIXEL_FORMAT_BAYER_GB_8:
      return {3, 1, cv::COLOR_BayerGR2BGR};
    case ARV_PIXEL_FORMAT_RGB_8_PACKED:
      return {3, 3, cv::COLOR_RGB2BGR};
    case ARV_PIXEL_FORMAT_BGR_8_PACKED:
      return {3, 3, -1};
    default:
      return {};
  }
}

tVideoDeviceGenICam::tVideoDeviceGenICam(int32_t index, platform::WindowHandle window) {
  WindowHandle = window;
  CreateThread(TVideoThread::Start::Running);
  CallError error;
  camera_ = arvimp::OpenCamera(index, &error);
  LastResult = arvimp::ResultOf(error.get());
  if (camera_ == nullptr) {
    if (LastResult == 0) LastResult = -1;
    Log.push_back(arvimp::ResultLine("GenICam Open", error.get()));
    return;
  }
  gint x = 0, y = 0, width = 0, height = 0;
  arv_camera_get_region(camera_, &x, &y, &width, &height, nullptr);
  Width = width;
  Height = height;
  const GenICamPixels pixels = GenICamPixelsOf(arv_camera_get_pixel_format(camera_, nullptr));
  Channels = pixels.Channels;
  FrameRate = arv_camera_get_frame_rate(camera_, nullptr);
  Exposure = arv_camera_get_exposure_time(camera_, nullptr) / 1000.0;
  State = 0;
  Inputs = {"GenICam camera"};
}

tVideoDeviceGenICam::~tVideoDeviceGenICam() { Close(); }

void tVideoDeviceGenICam::Close() {
  if (State == 1) Stop();
  running_ = false;
  // The thread goes before the frames: its frame callback may still read them.
  EndThread();
  if (stream_ != nullptr) {
    // Ends the stream's thread, and frees the buffers queued in it.
    g_object_unref(stream_);
    stream_ = nullptr;
  }
  for (ArvBuffer* buffer : aside_) g_object_unref(buffer);
  aside_.clear();
  copies_ = nullptr;
  Frames.reset();
  if (camera_ != nullptr) g_object_unref(camera_);
  camera_ = nullptr;
  ReleaseImage(&Image);
  if (State == 1) State = 0;
}

void tVideoDeviceGenICam::Init(uint32_t messageNumber) {
  tVideoDevice::Init(messageNumber);
  if (State != 0) return;
  const std::lock_guard lock(camera_mutex_);
  {
    CallError error;
    gint x = 0, y = 0, width = 0, height = 0;
    arv_camera_get_region(camera_, &x, &y, &width, &height, &error);
    Log.push_back(arvimp::ResultLine("GenICam Region", error.get()) + " " + std::to_string(x) + " " +
                  std::to_string(y) + " " + std::to_string(width) + "x" + std::to_string(height));
    LastResult = arvimp::ResultOf(error.get());
    if (error || width <= 0 || height <= 0) return;
    Width = width;
    Height = height;
  }
  {
    CallError error;
    const ArvPixelFormat format = arv_camera_get_pixel_format(camera_, &error);
    const char* name = arv_camera_get_pixel_format_as_string(camera_, nullptr);
    pixels_ = GenICamPixelsOf(format);
    LastResult = error ? arvimp::ResultOf(error.get()) : pixels_.Channels == 0 ? -1 : 0;
    Log.push_back("GenICam PixelFormat " + std::to_string(LastResult) + " " + (name ? name : "?") +
                  (pixels_.Channels == 0 ? " not supported" : ""));
    if (LastResult != 0) return;
    Channels = pixels_.Channels;
  }
  {
    CallError error;
    arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
    Log.push_back(arvimp::ResultLine("GenICam AcquisitionMode", error.get()));
  }
  {
    CallError error;
    // The stream's thread calls StreamEvent for every buffer, and ends
    // when the stream goes.
    stream_ = arv_camera_create_stream(
        camera_, reinterpret_cast<ArvStreamCallback>(&tVideoDeviceGenICam::StreamEvent), this, &error);
    LastResult = stream_ == nullptr && !error ? -1 : arvimp::ResultOf(error.get());
    Log.push_back(arvimp::ResultLine("GenICam Stream", error.get()));
    if (stream_ == nullptr) return;
  }
  {
    CallError error;
    payload_ = arv_camera_get_payload(camera_, &error);
    Log.push_back(arvimp::ResultLine("GenICam Payload", error.get()) + " " + std::to_string(payload_));
    const uint32_t needed = static_cast<uint32_t>(Width) * static_cast<uint32_t>(Height) *
                            static_cast<uint32_t>(pixels_.BytesPerPixel);
    if (error || payload_ < needed) {
      LastResult = error ? arvimp::ResultOf(error.get()) : -1;
      return;
    }
  }
  Image = CreateImage(CvSize{Width, Height}, Channels, IPL_DEPTH_8U, true);
  auto copies = std::make_unique<CopiedFrames>(*Image, kCopiedFrames);
  copies_ = copies.get();
  Frames = std::move(copies);
  // Kept aside until Start gives them to the stream.
  for (int i = 0; i < kStreamBuffers; ++i) aside_.push_back(arv_buffer_new(payload_, nullptr));

  for (const auto& [feature, calls] :
       {std::pair{&gain_, &kGain}, {&black_level_, &kBlackLevel}, {&gamma_, &kGamma}}) {
    *feature = Look(*calls);
    if (feature->Calls == nullptr) Log.push_back(std::string("GenICam ") + calls->Name + " none");
  }
  LastResult = 0;
  State = 1;
}

// Gain and black level as the library finds them (GainRaw, GainAbs,
// BlackLevelRaw where a camera names them so); Gamma by its one name.
const tVideoDeviceGenICam::FeatureCalls tVideoDeviceGenICam::kGain{
    "Gain", &arv_camera_is_gain_available, &arv_camera_get_gain_bounds, &arv_camera_set_gain};
const tVideoDeviceGenICam::FeatureCalls tVideoDeviceGenICam::kBlackLevel{
    "BlackLevel", &arv_camera_is_black_level_available, &arv_camera_get_black_level_bounds,
    &arv_camera_set_black_level};
const tVideoDeviceGenICam::FeatureCalls tVideoDeviceGenICam::kGamma{
    "Gamma",
    [](ArvCamera* camera, GError** error) { return arv_camera_is_feature_available(camera, "Gamma", error); },
    [](ArvCamera* camera, double* minimum, double* maximum, GError** error) {
      arv_camera_get_float_bounds(camera, "Gamma", minimum, maximum, error);
    },
    [](ArvCamera* camera, double value, GError** error) {
      arv_camera_set_float(camera, "Gamma", value, error);
    }};

tVideoDeviceGenICam::Feature tVideoDeviceGenICam::Look(const FeatureCalls& calls) {
  if (!calls.Available(camera_, nullptr)) return {};
  Feature feature{&calls};
  CallError error;
  calls.Bounds(camera_, &feature.Minimum, &feature.Maximum, &error);
  return error ? Feature{} : feature;
}

void tVideoDeviceGenICam::StreamEvent(void* device, int type, ArvBuffer* buffer) {
  auto& camera = *static_cast<tVideoDeviceGenICam*>(device);
  if (type == ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE) camera.TakeBuffer(buffer);
  if (type == ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE || type == ARV_STREAM_CALLBACK_TYPE_START_BUFFER)
    camera.Recycle();
}

void tVideoDeviceGenICam::TakeBuffer(ArvBuffer* buffer) {
  // The moment of arrival, on the host's clock that every source shares.
  const double arrival_ms = SteadyNow_ms();
  if (!running_) return;
  // In software-trigger mode each frame answers the oldest trigger waiting,
  // also one that arrives broken: its trigger was used up.
  const uint64_t trigger = software_triggered_ ? Triggers.Answer(1) : 0;
  if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
    ++incomplete_;
    return;
  }
  if (!FitsFrame(buffer)) return;
  const FrameStamp stamp{NumberOf(arv_buffer_get_frame_id(buffer)), arrival_ms, trigger};
  const auto* data = static_cast<const uint8_t*>(arv_buffer_get_data(buffer, nullptr));
  const bool kept = copies_->Put(
      [this, data](IplImage& image) {
        const cv::Mat source(Height, Width, pixels_.BytesPerPixel == 3 ? CV_8UC3 : CV_8UC1,
                             const_cast<uint8_t*>(data));
        cv::Mat target = cv::cvarrToMat(&image);
        if (pixels_.Conversion >= 0) {
          cv::cvtColor(source, target, pixels_.Conversion);
        } else {
          source.copyTo(target);
        }
      },
      stamp);
  if (kept) {
    Thread->FrameEvent.Signal();
  } else {
    ++dropped_;
  }
}

void tVideoDeviceGenICam::Recycle() {
  const std::lock_guard lock(aside_mutex_);
  while (ArvBuffer* done = arv_stream_try_pop_buffer(stream_)) {
    if (running_) {
      arv_stream_push_buffer(stream_, done);
    } else {
      aside_.push_back(done);
    }
  }
}

bool tVideoDeviceGenICam::FitsFrame(ArvBuffer* buffer) const {
  // The buffer need not tell its size (the fake cameras report 0): it is
  // read by the frame's format, which must fit the memory made for it.
  return arv_buffer_get_image_width(buffer) == Width && arv_buffer_get_image_height(buffer) == Height &&
         GenICamPixelsOf(arv_buffer_get_image_pixel_format(buffer)).Conversion == pixels_.Conversion &&
         static_cast<uint64_t>(Width) * Height * pixels_.BytesPerPixel <= payload_;
}

uint64_t tVideoDeviceGenICam::NumberOf(uint64_t frame_id) {
  // GigE Vision frame ids wrap at 16 bits; the number keeps rising, so the
  // newest frame stays the one with the highest number.
  uint64_t number = frame_id + id_offset_;
  if (number <= last_number_) {
    id_offset_ += last_number_ + 1 - number;
    number = last_number_ + 1;
  }
  last_number_ = number;
  return number;
}

void tVideoDeviceGenICam::Report(const char* what, GError* error) {
  LastResult = arvimp::ResultOf(error);
  if (error != nullptr)
    platform::PostLogLine(WindowHandle, arvimp::ResultLine(std::string("GenICam ") + what, error));
}

void tVideoDeviceGenICam::StartAcquisition() {
  CallError error;
  arv_camera_start_acquisition(camera_, &error);
  Report("AcquisitionStart", error.get());
}

void tVideoDeviceGenICam::StopAcquisition() {
  CallError error;
  arv_camera_stop_acquisition(camera_, &error);
  Report("AcquisitionStop", error.get());
}

void tVideoDeviceGenICam::Start() {
  if (State != 1) {
    LastResult = -1;
    return;
  }
  const std::lock_guard lock(camera_mutex_);
  if (running_) return;
  running_ = true;
  {
    const std::lock_guard aside(aside_mutex_);
    for (ArvBuffer* buffer : aside_) arv_stream_push_buffer(stream_, buffer);
    aside_.clear();
  }
  Recycle();
  StartAcquisition();
}

void tVideoDeviceGenICam::Stop() {
  if (State != 1) {
    LastResult = -1;
    return;
  }
  const std::lock_guard lock(camera_mutex_);
  // Frames still under way are set aside, not announced.
  running_ = false;
  StopAcquisition();
}

void tVideoDeviceGenICam::Trigger() {
  if (State != 1) {
    LastResult = -1;
    return;
  }
  if (TriggerSource != kSoftwareTrigger) {
    LastResult = 0;
    return;
  }
  const std::lock_guard lock(camera_mutex_);
  CallError error;
  arv_camera_software_trigger(camera_, &error);
  Report("TriggerSoftware", error.get());
}

void tVideoDeviceGenICam::SetTriggerMode(bool on) {
  if (camera_ == nullptr) {
    LastResult = -1;
    return;
  }
  const std::lock_guard lock(camera_mutex_);
  // Most cameras lock their trigger features while they acquire; what comes
  // while acquisition is stopped is no frame of either mode.
  const bool restart = running_;
  if (restart) {
    running_ = false;
    StopAcquisition();
  }
  CallError error;
  if (on) {
    arv_camera_set_trigger(camera_, TriggerSource.c_str(), &error);
  } else {
    arv_camera_clear_triggers(camera_, &error);
  }
  const int32_t result = arvimp::ResultOf(error.get());
  software_triggered_ = on && result == 0 && TriggerSource == kSoftwareTrigger;
  numbers_triggers_ = TriggerSource == kSoftwareTrigger;
  Report(on ? "TriggerMode On" : "TriggerMode Off", error.get());
  if (restart) {
    running_ = true;
    Recycle();
    StartAcquisition();
  }
  LastResult = FirstFailure({result, LastResult});
}

void tVideoDeviceGenICam::SetFrameRate(double fps) {
  if (camera_ == nullptr) return;
  const std::lock_guard lock(camera_mutex_);
  double minimum = 0.0, maximum = 0.0;
  CallError bounds;
  arv_camera_get_frame_rate_bounds(camera_, &minimum, &maximum, &bounds);
  CallError error;
  arv_camera_set_frame_rate(camera_, bounds ? fps : std::clamp(fps, minimum, maximum), &error);
  Report("AcquisitionFrameRate", error.get());
  FrameRate = arv_camera_get_frame_rate(camera_, nullptr);
}

void tVideoDeviceGenICam::SetExposure(double ms) {
  if (camera_ == nullptr) return;
  const std::lock_guard lock(camera_mutex_);
  double minimum_us = 0.0, maximum_us = 0.0;
  CallError bounds;
  arv_camera_get_exposure_time_bounds(camera_, &minimum_us, &maximum_us, &bounds);
  const double us = ms * 1000.0;
  CallError error;
  arv_camera_set_exposure_time(camera_, bounds ? us : std::clamp(us, minimum_us, maximum_us), &error);
  Report("ExposureTime", error.get());
  Exposure = arv_camera_get_exposure_time(camera_, nullptr) / 1000.0;
}

void tVideoDeviceGenICam::GetExposureRange(ValueRange& range) {
  range = ValueRange{};
  if (camera_ == nullptr) return;
  const std::lock_guard lock(camera_mutex_);
  double minimum_us = 0.0, maximum_us = 0.0;
  CallError error;
  arv_camera_get_exposure_time_bounds(camera_, &minimum_us, &maximum_us, &error);
  if (error) return;
  range = ValueRange{minimum_us / 1000.0, maximum_us / 1000.0, 0.0};
}

void tVideoDeviceGenICam::GetFrameRateRange(ValueRange& range) {
  range = ValueRange{};
  if (camera_ == nullptr) return;
  const std::lock_guard lock(camera_mutex_);
  CallError error;
  arv_camera_get_frame_rate_bounds(camera_, &range.Minimum, &range.Maximum, &error);
  if (error) range = ValueRange{};
}

void tVideoDeviceGenICam::SetShare(const Feature& feature, double share) {
  if (camera_ == nullptr || feature.Calls == nullptr) return;
  const std::lock_guard lock(camera_mutex_);
  CallError error;
  feature.Calls->Set(
      camera_, feature.Minimum + std::clamp(share, 0.0, 1.0) * (feature.Maximum - feature.Minimum), &error);
  Report(feature.Calls->Name, error.get());
}

void tVideoDeviceGenICam::SetBrightness(double value) {
  Brightness = value;
  SetShare(black_level_, value);
}

void tVideoDeviceGenICam::SetContrast(double value) {
  Contrast = value;
  SetShare(gamma_, value);
}

void tVideoDeviceGenICam::SetGain(double share) {
  Gain = share;
  SetShare(gain_, share);
}
