#include "TestGraph.h"

#include "platform/system/GstRuntime.h"

#include <chrono>
#include <gst/video/video.h>

namespace kelo::test {

TestGraph::TestGraph(const std::string& sourceProperties, int width, int height,
                     const std::vector<GstElement*>& elements) {
    EnsureGstInitialized();
    std::string description =
        "videotestsrc name=src " + sourceProperties +
        " ! videoconvert ! video/x-raw,format=BGR,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) + ",framerate=30/1 ! identity name=head";
    GError* raw = nullptr;
    GstElement* bin = gst_parse_launch(description.c_str(), &raw);
    GErrorPtr error(raw);
    if (!bin || error)
        return;
    pipeline_ = ElementPtr::RefSink(bin);
    GstElement* previous = gst_bin_get_by_name(GST_BIN(bin), "head");
    ElementPtr head(previous);
    for (GstElement* element : elements) {
        if (!gst_bin_add(GST_BIN(bin), element) || !gst_element_link(previous, element))
            return;
        previous = element;
    }
    sink_ = gst_element_factory_make("appsink", "sink");
    if (!sink_ || !gst_bin_add(GST_BIN(bin), sink_))
        return;
    g_object_set(sink_, "sync", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = OnEos;
    callbacks.new_sample = OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
    ok_ = gst_element_link(previous, sink_);
}

TestGraph::~TestGraph() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (pipeline_)
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

// Streaming thread.
GstFlowReturn TestGraph::OnNewSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<TestGraph*>(data);
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_ERROR;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return GST_FLOW_ERROR;
    BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (!map.ok())
        return GST_FLOW_ERROR;
    TestFrame frame;
    frame.width = GST_VIDEO_INFO_WIDTH(&info);
    frame.height = GST_VIDEO_INFO_HEIGHT(&info);
    frame.stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    frame.bytes.assign(map.data(), map.data() + map.size());
    std::unique_lock lock(self->mutex_);
    // One frame waits at a time: the source does not run ahead of the test.
    self->changed_.wait(lock, [self] { return self->frames_.empty() || self->stopping_; });
    if (self->stopping_)
        return GST_FLOW_FLUSHING;
    self->frames_.push_back(std::move(frame));
    self->changed_.notify_all();
    return GST_FLOW_OK;
}

void TestGraph::OnEos(GstAppSink*, gpointer data) {
    auto* self = static_cast<TestGraph*>(data);
    std::lock_guard lock(self->mutex_);
    self->ended_ = true;
    self->changed_.notify_all();
}

bool TestGraph::Play() {
    return ok_ &&
           gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

std::optional<TestFrame> TestGraph::Pull(GstClockTime timeout) {
    if (!ok_)
        return std::nullopt;
    std::unique_lock lock(mutex_);
    bool ready = changed_.wait_for(lock, std::chrono::nanoseconds(timeout),
                                   [this] { return !frames_.empty() || ended_; });
    if (!ready || frames_.empty())
        return std::nullopt;
    TestFrame frame = std::move(frames_.front());
    frames_.pop_front();
    changed_.notify_all();
    return frame;
}

std::string TestGraph::Error() {
    if (!pipeline_)
        return "pipeline could not be built";
    BusPtr bus(gst_element_get_bus(pipeline_.get()));
    MessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message)
        return {};
    GError* raw = nullptr;
    gst_message_parse_error(message.get(), &raw, nullptr);
    GErrorPtr error(raw);
    return error ? error->message : "error";
}

} // namespace kelo::test
