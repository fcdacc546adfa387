#include "capture_pipeline.h"

#include <gst/app/gstappsink.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "capture_source.h"

namespace platform {
namespace {

constexpr double kNanosecondsPerSecond = 1e9;

// A sample with its buffer mapped for reading; both go when it does.
class HeldSample {
 public:
  HeldSample() = default;
  explicit HeldSample(GstSample* sample) : sample_(sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    mapped_ = buffer != nullptr && gst_buffer_map(buffer, &map_, GST_MAP_READ) != FALSE;
  }
  ~HeldSample() { Release(); }
  HeldSample(const HeldSample&) = delete;
  HeldSample& operator=(const HeldSample&) = delete;
  HeldSample& operator=(HeldSample&& other) noexcept {
    Release();
    sample_ = std::exchange(other.sample_, nullptr);
    map_ = other.map_;
    mapped_ = std::exchange(other.mapped_, false);
    return *this;
  }

  bool Mapped() const { return mapped_; }
  char* Data() const { return reinterpret_cast<char*>(map_.data); }
  long Length() const { return static_cast<long>(map_.size); }
  double Time() const {
    const GstBuffer* buffer = gst_sample_get_buffer(sample_);
    return GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) / kNanosecondsPerSecond : 0.0;
  }

 private:
  void Release() {
    if (mapped_) gst_buffer_unmap(gst_sample_get_buffer(sample_), &map_);
    if (sample_ != nullptr) gst_sample_unref(sample_);
    sample_ = nullptr;
    mapped_ = false;
  }

  GstSample* sample_ = nullptr;
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

}  // namespace

struct CapturePipeline::Graph {
  explicit Graph(CaptureSampleSink* owner) : sink(owner) {}

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

  void Deliver(GstSample* sample) {
    HeldSample next(sample);
    if (!next.Mapped()) return;
    // The owner points at the new sample now; only then may the last one go.
    if (sink->SampleArrived(next.Time(), next.Data(), next.Length())) held = std::move(next);
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

  CaptureSampleSink* const sink;
  GstElement* pipeline = nullptr;
  GstElement* source = nullptr;
  GstElement* convert = nullptr;
  GstElement* scale = nullptr;
  GstElement* grabber = nullptr;
  // Only the streaming thread touches it while the pipeline plays.
  HeldSample held;

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
  graph.convert = gst_element_factory_make("videoconvert", nullptr);
  graph.scale = gst_element_factory_make("videoscale", nullptr);
  graph.grabber = gst_element_factory_make("appsink", "SampleGrabber");
  for (GstElement** element : {&graph.source, &graph.convert, &graph.scale, &graph.grabber}) {
    if (*element != nullptr && gst_bin_add(GST_BIN(graph.pipeline), *element) == FALSE) *element = nullptr;
  }
  if (!Bound()) return;

  // One sample is taken at a time and handed over at once; the grabber keeps
  // no copy of its own.
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
  graph.held = HeldSample();
  gst_object_unref(graph.pipeline);
}

bool CapturePipeline::Bound() const {
  const Graph& graph = *graph_;
  return graph.source != nullptr && graph.convert != nullptr && graph.scale != nullptr &&
         graph.grabber != nullptr;
}

bool CapturePipeline::Link(bool grey, int width, int height) {
  if (!Bound()) return false;
  Graph& graph = *graph_;
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, grey ? "GRAY8" : "BGR", "width",
                                      G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
  gst_app_sink_set_caps(GST_APP_SINK(graph.grabber), caps);
  gst_caps_unref(caps);
  return gst_element_link_many(graph.source, graph.convert, graph.scale, graph.grabber, nullptr) != FALSE;
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
  graph.ChangeState(GST_STATE_NULL, "The capture pipeline refused to stop");
}

}  // namespace platform
