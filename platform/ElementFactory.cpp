#include "platform/ElementFactory.h"

#include "platform/GstRuntime.h"

namespace kelo {

ElementPtr MakeElement(const char* factory, const char* name) {
    EnsureGstInitialized();
    return ElementPtr::RefSink(gst_element_factory_make(factory, name));
}

ElementPtr MakeBin(const char* description) {
    EnsureGstInitialized();
    GError* raw = nullptr;
    GstElement* bin = gst_parse_bin_from_description_full(description, TRUE, nullptr,
                                                          GST_PARSE_FLAG_FATAL_ERRORS, &raw);
    GErrorPtr error(raw);
    if (error) {
        ElementPtr discard = ElementPtr::RefSink(bin);
        return {};
    }
    return ElementPtr::RefSink(bin);
}

bool HasElementFactory(const char* factory) {
    EnsureGstInitialized();
    GstPtr<GstElementFactory> found(gst_element_factory_find(factory));
    return static_cast<bool>(found);
}

} // namespace kelo
