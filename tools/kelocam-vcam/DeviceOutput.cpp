#include "tools/kelocam-vcam/DeviceOutput.h"

#include <gst/app/gstappsrc.h>

#include "platform/system/GstRuntime.h"

namespace kelo::vcam {

DeviceOutput::DeviceOutput(PixelFormat format, FrameSize size, int framesPerSecond)
    : converter_(format, size), framesPerSecond_(framesPerSecond) {}

DeviceOutput::~DeviceOutput() {
    Close();
}

CapsPtr DeviceOutput::SourceCaps() const {
    const FrameSize size = converter_.size();
    return CapsPtr(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, GstFormatName(converter_.format()), "width",
        G_TYPE_INT, size.width, "height", G_TYPE_INT, size.height, "framerate", GST_TYPE_FRACTION,
        framesPerSecond_, 1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, "colorimetry",
        G_TYPE_STRING, "bt601", "interlace-mode", G_TYPE_STRING, "progressive", nullptr));
}

HRESULT DeviceOutput::Open(const std::string& devicePath) {
    EnsureGstInitialized();
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("v4l2sink", "device"));
    if (!sink) {
        error_ = "GStreamer's v4l2sink is missing (Debian package gstreamer1.0-plugins-good)";
        return E_FAIL;
    }
    // We pace the frames ourselves; waiting on the clock would only add latency.
    g_object_set(sink.get(), "device", devicePath.c_str(), "sync", FALSE, nullptr);
    const HRESULT hr = OpenWithSink(std::move(sink));
    if (FAILED(hr))
        error_ = devicePath + ": " + error_;
    return hr;
}

HRESULT DeviceOutput::OpenWithSink(ElementPtr sink) {
    EnsureGstInitialized();
    Close();
    error_.clear();
    pipeline_ = ElementPtr::RefSink(gst_pipeline_new("kelocam-vcam"));
    appsrc_ = ElementPtr::RefSink(gst_element_factory_make("appsrc", "feed"));
    ElementPtr convert = ElementPtr::RefSink(gst_element_factory_make("videoconvert", nullptr));
    ElementPtr scale = ElementPtr::RefSink(gst_element_factory_make("videoscale", nullptr));
    if (!pipeline_ || !appsrc_ || !convert || !scale || !sink) {
        error_ = "GStreamer's appsrc, videoconvert or videoscale is missing "
                 "(Debian package gstreamer1.0-plugins-base)";
        Close();
        return E_FAIL;
    }

    CapsPtr caps = SourceCaps();
    // Live source, newest frame wins: if the device falls behind, old frames are dropped rather
    // than queued (a camera shows now, not a backlog).
    g_object_set(appsrc_.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "is-live", TRUE,
                 "max-buffers", guint64{2}, "leaky-type", 2 /* downstream */, nullptr);

    gst_bin_add_many(GST_BIN(pipeline_.get()), appsrc_.get(), convert.get(), scale.get(),
                     sink.get(), nullptr);
    if (!gst_element_link_many(appsrc_.get(), convert.get(), scale.get(), sink.get(), nullptr)) {
        error_ = "cannot link the output pipeline";
        Close();
        return E_FAIL;
    }
    bus_ = BusPtr(gst_element_get_bus(pipeline_.get()));
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        if (!TakeBusError())
            error_ = "the output pipeline does not start";
        Close();
        return E_FAIL;
    }
    frameIndex_ = 0;
    return S_OK;
}

bool DeviceOutput::TakeBusError() {
    if (!bus_)
        return false;
    MessagePtr message(gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR));
    if (!message)
        return false;
    GError* raw = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message.get(), &raw, &debug);
    GErrorPtr err(raw);
    GCharPtr debugText(debug);
    error_ = err ? err->message : "unknown GStreamer error";
    return true;
}

HRESULT DeviceOutput::Deliver(const std::uint8_t* feed) {
    return Deliver(FeedPicture(feed));
}

HRESULT DeviceOutput::Deliver(const BgrPicture& picture) {
    if (!appsrc_) {
        error_ = "the device output is not open";
        return E_FAIL;
    }
    if (TakeBusError())
        return E_FAIL;

    const std::size_t bytes = converter_.outputBytes();
    BufferPtr buffer(gst_buffer_new_allocate(nullptr, bytes, nullptr));
    if (!buffer) {
        error_ = "out of memory";
        return E_OUTOFMEMORY;
    }
    {
        BufferMap map(buffer.get(), GST_MAP_WRITE);
        if (!map.ok()) {
            error_ = "cannot map a buffer";
            return E_FAIL;
        }
        converter_.Convert(picture, map.data());
    }
    const GstClockTime period = gst_util_uint64_scale_int(GST_SECOND, 1, framesPerSecond_);
    GST_BUFFER_PTS(buffer.get()) = frameIndex_ * period;
    GST_BUFFER_DURATION(buffer.get()) = period;
    ++frameIndex_;
    // push_buffer takes the buffer whatever it returns.
    const GstFlowReturn flow =
        gst_app_src_push_buffer(GST_APP_SRC(appsrc_.get()), buffer.release());
    if (flow != GST_FLOW_OK) {
        if (!TakeBusError())
            error_ = std::string("the output pipeline stopped (") + gst_flow_get_name(flow) + ")";
        return E_FAIL;
    }
    return S_OK;
}

void DeviceOutput::Close() {
    if (pipeline_)
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    bus_.reset();
    appsrc_.reset();
    pipeline_.reset();
}

} // namespace kelo::vcam
