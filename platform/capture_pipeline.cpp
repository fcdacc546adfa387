#include "capture_pipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "capture_controls.h"
#include "capture_source.h"

namespace platform {
namespace {

constexpr double kNanosecondsPerMillisecond = 1e6;
// More modes than anyone picks from, for a source that lists every size.
constexpr std::size_t kMostModes = 64;

double SteadyNow_ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A sample with its buffer mapped for reading; both go when it does.
class MappedSample {
 public:
  explicit MappedSample(GstSample* sample) : sample_(sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    mapped_ = buffer != nullptr && gst_buffer_map(buffer, &map_, GST_MAP_READ) != FALSE;
  }
  ~MappedSample() {
    if (mapped_) gst_buffer_unmap(gst_sample_get_buffer(sample_), &map_);
    gst_sample_unref(sample_);
  }
  MappedSample(const MappedSample&) = delete;
  MappedSample& operator=(const MappedSample&) = delete;

  bool Mapped() const { return mapped_; }
  const char* Data() const { return reinterpret_cast<const char*>(map_.data); }
  long Length() const { return static_cast<long>(map_.size); }

 private:
  GstSample* sample_;
  GstMapInfo map_{};
  bool mapped_ = false;
};

struct Failure {
  std::string text;
  int code = 0;
};

std::string FailureMessage(const Failure& failure) {
  char code[32];
  std::snprintf(code, sizeof code, " ($%X).", static_cast<unsigned>(failure.code));
  return failure.text + code;
}

// The integers a caps field holds as a number or a list; none for a range.
std::vector<int> IntsOf(const GValue* value) {
  std::vector<int> ints;
  if (value == nullptr) return ints;
  if (G_VALUE_HOLDS_INT(value)) ints.push_back(g_value_get_int(value));
  if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      const GValue* item = gst_value_list_get_value(value, i);
      if (G_VALUE_HOLDS_INT(item)) ints.push_back(g_value_get_int(item));
    }
  }
  return ints;
}

struct Rate {
  int numerator = 0;
  int denominator = 1;
};

// The rates of a caps field; a range gives its fastest. {0/1} when none.
std::vector<Rate> RatesOf(const GValue* value) {
  std::vector<Rate> rates;
  const auto add = [&rates](const GValue* rate) {
    if (GST_VALUE_HOLDS_FRACTION(rate))
      rates.push_back({gst_value_get_fraction_numerator(rate), gst_value_get_fraction_denominator(rate)});
  };
  if (value != nullptr) {
    add(value);
    // An open range ([0/1, max]) states no rate at all.
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value) &&
        gst_value_get_fraction_numerator(gst_value_get_fraction_range_min(value)) > 0)
      add(gst_value_get_fraction_range_max(value));
    if (GST_VALUE_HOLDS_LIST(value)) {
      for (guint i = 0; i < gst_value_list_get_size(value); ++i) add(gst_value_list_get_value(value, i));
    }
  }
  if (rates.empty()) rates.push_back({});
  return rates;
}

// The first pixel format a caps field names.
std::string FirstFormat(const GValue* value) {
  if (value == nullptr) return {};
  if (G_VALUE_HOLDS_STRING(value)) return g_value_get_string(value);
  if (GST_VALUE_HOLDS_LIST(value) && gst_value_list_get_size(value) > 0) {
    const GValue* first = gst_value_list_get_value(value, 0);
    if (G_VALUE_HOLDS_STRING(first)) return g_value_get_string(first);
  }
  return {};
}

bool IsGreyFormat(const std::string& format) { return format.rfind("GRAY", 0) == 0; }

// The decoder a compressed mode needs before the converters; null for raw.
const char* DecoderFor(const std::string& media) { return media == "image/jpeg" ? "jpegdec" : nullptr; }

void AddModes(const GstStructure* structure, std::vector<CaptureMode>& modes) {
  const std::string media = gst_structure_get_name(structure);
  if (media != "video/x-raw" && DecoderFor(media) == nullptr) return;
  const std::string format = FirstFormat(gst_structure_get_value(structure, "format"));
  for (const int width : IntsOf(gst_structure_get_value(structure, "width"))) {
    for (const int height : IntsOf(gst_structure_get_value(structure, "height"))) {
      for (const Rate rate : RatesOf(gst_structure_get_value(structure, "framerate"))) {
        CaptureMode mode{width,
                         height,
                         rate.denominator > 0 ? double(rate.numerator) / rate.denominator : 0.0,
                         media,
                         format,
                         IsGreyFormat(format),
                         rate.numerator,
                         rate.denominator};
        if (modes.size() < kMostModes && std::find(modes.begin(), modes.end(), mode) == modes.end())
          modes.push_back(std::move(mode));
      }
    }
  }
}

GstCaps* CapsOf(const CaptureMode& mode) {
  GstCaps* caps = gst_caps_new_simple(mode.media.c_str(), "width", G_TYPE_INT, mode.width, "height",
                                      G_TYPE_INT, mode.height, nullptr);
  GstStructure* structure = gst_caps_get_structure(caps, 0);
  if (mode.rate_numerator > 0)
    gst_structure_set(structure, "framerate", GST_TYPE_FRACTION, mode.rate_numerator, mode.rate_denominator,
                      nullptr);
  if (!mode.format.empty())
    gst_structure_set(structure, "format", G_TYPE_STRING, mode.format.c_str(), nullptr);
  return caps;
}

}  // namespace

std::string CaptureMode::Text() const {
  std::string text = std::to_string(width) + " x " + std::to_string(height);
  text += " " + (format.empty() ? media.substr(media.find('/') + 1) : format);
  if (frames_per_second > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, " %.4g fps", frames_per_second);
    text += rate;
  }
  return text;
}

struct CapturePipeline::Graph {
  explicit Graph(CaptureSampleSink* owner) : sink(owner) {}
  ~Graph() {
    if (stride_caps != nullptr) gst_caps_unref(stride_caps);
  }
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Runs on the thread that posts the message; nothing is left queued on the
  // bus, since no main loop drains it.
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    static_cast<Graph*>(data)->Watch(message);
    return GST_BUS_DROP;
  }

  static GstFlowReturn OnNewSample(GstAppSink* appsink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_sample(appsink);
    if (sample == nullptr) return GST_FLOW_EOS;
    static_cast<Graph*>(data)->Deliver(sample);
    return GST_FLOW_OK;
  }

  void Watch(GstMessage* message) {
    Failure failure;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      failure = {error != nullptr ? error->message : "Unknown error", error != nullptr ? error->code : 0};
      if (error != nullptr) g_error_free(error);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
      failure.text = "end of stream";
    } else {
      return;
    }
    {
      const std::lock_guard lock(mutex);
      if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && last_error.text.empty()) last_error = failure;
      if (!running || ended) return;
      ended = true;
    }
    sink->StreamEnded(failure.text);
  }

  // Bytes per row: the buffer's own layout where it tells one, else the
  // default layout of its format. Streaming thread only.
  int StrideOf(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (const GstVideoMeta* meta = gst_buffer_get_video_meta(buffer)) return meta->stride[0];
    GstCaps* caps = gst_sample_get_caps(sample);
    if (caps != nullptr && caps != stride_caps) {
      GstVideoInfo info;
      if (gst_video_info_from_caps(&info, caps) == FALSE) return 0;
      gst_caps_replace(&stride_caps, caps);
      stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    }
    return stride;
  }

  // The buffer's capture time moved from the pipeline's clock onto the host's
  // steady clock, so frames of different sources compare; its arrival when
  // the buffer has no time.
  double CaptureTime_ms(GstSample* sample) const {
    const double now_ms = SteadyNow_ms();
    const GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || segment == nullptr) return now_ms;
    const GstClockTime running =
        gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    GstClock* clock = gst_element_get_clock(pipeline);
    if (running == GST_CLOCK_TIME_NONE || clock == nullptr) {
      if (clock != nullptr) gst_object_unref(clock);
      return now_ms;
    }
    const GstClockTime clock_now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const double captured = static_cast<double>(gst_element_get_base_time(pipeline) + running);
    return now_ms - (static_cast<double>(clock_now) - captured) / kNanosecondsPerMillisecond;
  }

  void Deliver(GstSample* sample) {
    auto mapped = std::make_shared<MappedSample>(sample);
    if (!mapped->Mapped()) return;
    sink->SampleArrived({mapped->Data(), mapped->Length(), StrideOf(sample), CaptureTime_ms(sample), mapped});
  }

  void ChangeState(GstState state, const char* refusal) {
    if (gst_element_set_state(pipeline, state) != GST_STATE_CHANGE_FAILURE) return;
    Failure failure;
    {
      const std::lock_guard lock(mutex);
      failure = std::exchange(last_error, {});
    }
    if (failure.text.empty()) failure = {refusal, GST_STATE_CHANGE_FAILURE};
    if (state != GST_STATE_NULL) gst_element_set_state(pipeline, GST_STATE_NULL);
    throw std::runtime_error(FailureMessage(failure));
  }

  // The source's caps as it states them while open.
  void ProbeModes() {
    probed = true;
    if (gst_element_set_state(source, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
      gst_element_set_state(source, GST_STATE_NULL);
      return;
    }
    GstPad* pad = gst_element_get_static_pad(source, "src");
    if (pad != nullptr) {
      GstCaps* caps = gst_pad_query_caps(pad, nullptr);
      for (guint i = 0; caps != nullptr && i < gst_caps_get_size(caps); ++i)
        AddModes(gst_caps_get_structure(caps, i), modes);
      if (caps != nullptr) gst_caps_unref(caps);
      gst_object_unref(pad);
    }
    gst_element_set_state(source, GST_STATE_NULL);
  }

  CaptureSampleSink* const sink;
  GstElement* pipeline = nullptr;
  GstElement* source = nullptr;
  GstElement* mode_filter = nullptr;
  GstElement* convert = nullptr;
  GstElement* scale = nullptr;
  GstElement* grabber = nullptr;
  bool probed = false;
  std::vector<CaptureMode> modes;
  // The caps the stride was read from; streaming thread only.
  GstCaps* stride_caps = nullptr;
  int stride = 0;

  std::mutex mutex;
  Failure last_error;
  bool running = false;
  bool ended = false;
};

CapturePipeline::CapturePipeline(std::size_t index, CaptureSampleSink* sink)
    : graph_(std::make_unique<Graph>(sink)) {
  if (!InitGStreamer()) return;
  Graph& graph = *graph_;
  graph.pipeline = gst_pipeline_new(nullptr);
  GstBus* bus = gst_element_get_bus(graph.pipeline);
  gst_bus_set_sync_handler(bus, &Graph::OnBusMessage, &graph, nullptr);
  gst_object_unref(bus);

  graph.source = MakeCaptureSource(index);
  if (graph.source != nullptr) gst_object_set_name(GST_OBJECT(graph.source), "CaptureDevice");
  graph.mode_filter = gst_element_factory_make("capsfilter", "CaptureMode");
  graph.convert = gst_element_factory_make("videoconvert", nullptr);
  graph.scale = gst_element_factory_make("videoscale", nullptr);
  graph.grabber = gst_element_factory_make("appsink", "SampleGrabber");
  for (GstElement** element :
       {&graph.source, &graph.mode_filter, &graph.convert, &graph.scale, &graph.grabber}) {
    if (*element != nullptr && gst_bin_add(GST_BIN(graph.pipeline), *element) == FALSE) *element = nullptr;
  }
  if (!Bound()) return;

  // Samples are handed over as they come; the owner holds the few it keeps
  // and the grabber keeps none of its own.
  g_object_set(graph.grabber, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &Graph::OnNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(graph.grabber), &callbacks, &graph, nullptr);
}

CapturePipeline::~CapturePipeline() {
  Graph& graph = *graph_;
  if (graph.pipeline == nullptr) return;
  // Joins the streaming threads: no callback runs after this.
  gst_element_set_state(graph.pipeline, GST_STATE_NULL);
  GstBus* bus = gst_element_get_bus(graph.pipeline);
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  gst_object_unref(graph.pipeline);
}

bool CapturePipeline::Bound() const {
  const Graph& graph = *graph_;
  return graph.source != nullptr && graph.mode_filter != nullptr && graph.convert != nullptr &&
         graph.scale != nullptr && graph.grabber != nullptr;
}

const std::vector<CaptureMode>& CapturePipeline::Modes() {
  Graph& graph = *graph_;
  if (!graph.probed && Bound()) graph.ProbeModes();
  return graph.modes;
}

bool CapturePipeline::Link(const std::optional<CaptureMode>& mode, bool grey, int width, int height) {
  if (!Bound()) return false;
  Graph& graph = *graph_;
  GstElement* decoder = nullptr;
  if (mode) {
    GstCaps* held = CapsOf(*mode);
    g_object_set(graph.mode_filter, "caps", held, nullptr);
    gst_caps_unref(held);
    if (const char* name = DecoderFor(mode->media)) {
      decoder = gst_element_factory_make(name, nullptr);
      if (decoder == nullptr || gst_bin_add(GST_BIN(graph.pipeline), decoder) == FALSE) return false;
    }
  }
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, grey ? "GRAY8" : "BGR", "width",
                                      G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
  gst_app_sink_set_caps(GST_APP_SINK(graph.grabber), caps);
  gst_caps_unref(caps);
  const bool linked = decoder != nullptr
                          ? gst_element_link_many(graph.source, graph.mode_filter, decoder, graph.convert,
                                                  graph.scale, graph.grabber, nullptr) != FALSE
                          : gst_element_link_many(graph.source, graph.mode_filter, graph.convert, graph.scale,
                                                  graph.grabber, nullptr) != FALSE;
  // Open from here on, so the camera's controls answer before it runs.
  if (linked) gst_element_set_state(graph.pipeline, GST_STATE_READY);
  return linked;
}

void CapturePipeline::Run() {
  Graph& graph = *graph_;
  if (graph.pipeline == nullptr) throw std::runtime_error(FailureMessage({"GStreamer is not available", 0}));
  bool ended = false;
  {
    const std::lock_guard lock(graph.mutex);
    ended = graph.ended;
    graph.last_error = {};
    graph.running = false;
    graph.ended = false;
  }
  // A stream that stopped by itself is still playing, at its end: it starts
  // over from the beginning.
  if (ended) gst_element_set_state(graph.pipeline, GST_STATE_NULL);
  graph.ChangeState(GST_STATE_PLAYING, "The capture pipeline refused to start");
  std::string ended_early;
  {
    const std::lock_guard lock(graph.mutex);
    graph.running = true;
    // An error posted while the state changed, after the change was accepted.
    if (!graph.last_error.text.empty()) {
      graph.ended = true;
      ended_early = graph.last_error.text;
    }
  }
  if (!ended_early.empty()) graph.sink->StreamEnded(ended_early);
}

void CapturePipeline::Halt() {
  Graph& graph = *graph_;
  if (graph.pipeline == nullptr) return;
  {
    const std::lock_guard lock(graph.mutex);
    graph.running = false;
  }
  // Stopped, the source stays open: a camera's controls still answer.
  graph.ChangeState(GST_STATE_READY, "The capture pipeline refused to stop");
}

std::optional<ControlRange> CapturePipeline::RangeOf(CaptureControl control) {
  if (!Bound()) return std::nullopt;
  return SourceControls(graph_->pipeline).RangeOf(control);
}

std::optional<double> CapturePipeline::ValueOf(CaptureControl control) {
  if (!Bound()) return std::nullopt;
  return SourceControls(graph_->pipeline).ValueOf(control);
}

std::optional<double> CapturePipeline::Set(CaptureControl control, double value) {
  if (!Bound()) return std::nullopt;
  return SourceControls(graph_->pipeline).Set(control, value);
}

}  // namespace platform
