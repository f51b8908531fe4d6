#include "tools/kelocam-vcam/probe/PipeWireReader.h"

#include <cstring>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include "platform/system/GstRuntime.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"

namespace kelo::vcam::probe {

namespace {

constexpr std::size_t kMaxQueued = 120; // a reader that stops reading keeps the newest frames

} // namespace

PipeWireReader::~PipeWireReader() {
    Close();
}

bool PipeWireReader::Open(const std::string& target, const std::string& caps) {
    Close();
    EnsureGstInitialized();
    GError* raw = nullptr;
    const std::string description =
        "pipewiresrc name=source client-name=kelo-test-viewer ! " +
        (caps.empty() ? std::string() : caps + " ! ") + "videoconvert ! "
        "video/x-raw,format=I420 ! appsink name=sink sync=false emit-signals=true";
    pipeline_ = ElementPtr::RefSink(gst_parse_launch(description.c_str(), &raw));
    GErrorPtr parseError(raw);
    if (!pipeline_ || parseError) {
        error_ = parseError ? parseError->message : "cannot build the viewer pipeline";
        pipeline_.reset();
        return false;
    }
    ElementPtr source(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "source"));
    appsink_ = ElementPtr(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
    g_object_set(source.get(), "target-object", target.c_str(), nullptr);
    g_signal_connect(appsink_.get(), "new-sample", G_CALLBACK(&PipeWireReader::OnNewSample), this);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error_ = "the viewer pipeline does not start (is pipewiresrc there, and the daemon?)";
        Close();
        return false;
    }
    return true;
}

void PipeWireReader::Close() {
    if (pipeline_)
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    appsink_.reset();
    pipeline_.reset();
    Discard();
}

GstFlowReturn PipeWireReader::OnNewSample(GstElement* sink, gpointer data) noexcept {
    auto* self = static_cast<PipeWireReader*>(data);
    SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    const auto arrived = std::chrono::steady_clock::now();
    if (!sample)
        return GST_FLOW_OK;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstVideoFrame video;
    if (!gst_video_frame_map(&video, &info, buffer, GST_MAP_READ))
        return GST_FLOW_OK;
    PipeWireFrame frame;
    frame.width = info.width;
    frame.height = info.height;
    frame.arrived = arrived;
    // Tightly packed planes, whatever strides the converter chose.
    frame.i420.reserve(static_cast<std::size_t>(info.width) * info.height * 3 / 2);
    for (guint plane = 0; plane < 3; ++plane) {
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&video, plane);
        const int rowBytes = GST_VIDEO_FRAME_COMP_WIDTH(&video, plane);
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&video, plane);
        const auto* data =
            static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, plane));
        for (int y = 0; y < rows; ++y)
            frame.i420.insert(frame.i420.end(), data + static_cast<std::ptrdiff_t>(y) * stride,
                              data + static_cast<std::ptrdiff_t>(y) * stride + rowBytes);
    }
    gst_video_frame_unmap(&video);
    {
        std::lock_guard lock(self->mutex_);
        self->frameRate_ = std::to_string(GST_VIDEO_INFO_FPS_N(&info)) + "/" +
                           std::to_string(GST_VIDEO_INFO_FPS_D(&info));
        self->frames_.push_back(std::move(frame));
        if (self->frames_.size() > kMaxQueued)
            self->frames_.pop_front();
    }
    self->arrived_.notify_all();
    return GST_FLOW_OK;
}

std::optional<PipeWireFrame> PipeWireReader::ReadFrame(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !frames_.empty(); }))
        return std::nullopt;
    PipeWireFrame frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

void PipeWireReader::Discard() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

bool PipeWireReader::WaitForBlackFrame(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto frame = ReadFrame(std::chrono::seconds(2));
        if (frame && IsBlackI420(frame->i420.data(), frame->width, frame->height))
            return true;
    }
    return false;
}

std::string PipeWireReader::FrameRate() const {
    std::lock_guard lock(mutex_);
    return frameRate_;
}

} // namespace kelo::vcam::probe
