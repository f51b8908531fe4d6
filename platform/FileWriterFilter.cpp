#include "platform/FileWriterFilter.h"

#include "platform/GstRuntime.h"

namespace kelo {

bool IsStopped(GstElement* element) {
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(element, &current, &pending, 0);
    return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

std::shared_ptr<FileWriterFilter> FileWriterFilter::Create() {
    EnsureGstInitialized();
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("filesink", nullptr));
    if (!sink)
        return nullptr;
    // A recording is written as fast as it comes; no clock synchronisation, no preroll wait.
    g_object_set(sink.get(), "sync", FALSE, "async", FALSE, nullptr);
    return std::shared_ptr<FileWriterFilter>(new FileWriterFilter(std::move(sink)));
}

HRESULT FileWriterFilter::SetFileName(const std::string& path) {
    if (path.empty())
        return E_INVALIDARG;
    if (!IsStopped(element()))
        return E_UNEXPECTED;
    g_object_set(element(), "location", path.c_str(), nullptr);
    fileName_ = path;
    return S_OK;
}

PadPtr FileWriterFilter::FileSinkPad() const {
    return PadPtr(gst_element_get_static_pad(element(), "sink"));
}

} // namespace kelo
