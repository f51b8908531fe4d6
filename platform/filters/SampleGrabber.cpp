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
    callback->BufferCB(time, const_cast<unsigned char*>(map.data()), static_cast<long>(map.size()));
}

} // namespace kelo
