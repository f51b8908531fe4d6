#include "platform/filters/SampleGrabber.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<SampleGrabber> SampleGrabber::Create() {
    ElementPtr bin =
        MakeBin("capsfilter name=accept ! identity name=tap signal-handoffs=true silent=true");
    if (!bin)
        return nullptr;
    ElementPtr filter(gst_bin_get_by_name(GST_BIN(bin.get()), "accept"));
    ElementPtr tap(gst_bin_get_by_name(GST_BIN(bin.get()), "tap"));
    if (!filter || !tap)
        return nullptr;
    return std::shared_ptr<SampleGrabber>(
        new SampleGrabber(std::move(bin), filter.get(), tap.get()));
}

SampleGrabber::SampleGrabber(ElementPtr bin, GstElement* filter, GstElement* tap)
    : BaseFilter(std::move(bin)), filter_(filter) {
    // The identity lives inside our bin as long as this filter: no disconnect needed.
    g_signal_connect(tap, "handoff", G_CALLBACK(&SampleGrabber::OnHandoff), this);
    // The frame size travels with the buffers from the format's caps event. The pad lives in
    // our bin as long as this filter: the probe needs no removal.
    PadPtr input(gst_element_get_static_pad(tap, "sink"));
    if (input)
        gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &SampleGrabber::OnCaps,
                          this, nullptr);
}

GstPadProbeReturn SampleGrabber::OnCaps(GstPad*, GstPadProbeInfo* info, gpointer self) noexcept {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    int width = 0;
    int height = 0;
    if (caps && gst_caps_get_size(caps) > 0) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        if (!gst_structure_get_int(s, "width", &width) ||
            !gst_structure_get_int(s, "height", &height))
            width = height = 0;
    }
    auto* grabber = static_cast<SampleGrabber*>(self);
    grabber->frameWidth_.store(width, std::memory_order_relaxed);
    grabber->frameHeight_.store(height, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

HRESULT SampleGrabber::SetMediaType(const MediaType& type) {
    CapsPtr caps = CapsFromMediaType(type);
    if (!caps)
        return VFW_E_INVALIDMEDIATYPE;
    g_object_set(filter_, "caps", caps.get(), nullptr);
    return S_OK;
}

HRESULT SampleGrabber::SetBufferSamples(bool buffer) {
    // Nothing reads a buffered sample back in this program; the flag is kept for the call shape.
    bufferSamples_ = buffer;
    return S_OK;
}

HRESULT SampleGrabber::SetOneShot(bool oneShot) {
    oneShot_ = oneShot;
    shotTaken_ = false;
    return S_OK;
}

HRESULT SampleGrabber::SetCallback(ISampleGrabberCB* callback, int which) {
    if (which != 0 && which != 1)
        return E_INVALIDARG;
    which_ = which;
    callback_ = callback;
    return S_OK;
}

void SampleGrabber::OnHandoff(GstElement*, GstBuffer* buffer, gpointer self) {
    static_cast<SampleGrabber*>(self)->Grab(buffer);
}

void SampleGrabber::Grab(GstBuffer* buffer) {
    ISampleGrabberCB* callback = callback_.load();
    if (!callback)
        return;
    if (oneShot_ && shotTaken_.exchange(true))
        return;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const double time = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
    if (which_ == 0) {
        callback->SampleCB(time, buffer);
        return;
    }
    BufferMap map(buffer, GST_MAP_READ);
    if (!map.ok())
        return;
    // The callback reads the frame; it is handed over as the platform's plain byte pointer.
    callback->FrameCB(time, const_cast<unsigned char*>(map.data()), static_cast<long>(map.size()),
                      frameWidth_.load(std::memory_order_relaxed),
                      frameHeight_.load(std::memory_order_relaxed));
}

} // namespace kelo
