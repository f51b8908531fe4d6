#include "platform/graph/ElementFactory.h"

#include "platform/system/GstRuntime.h"

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

ElementPtr MakeElement(const char* factory, const char* name) {
    EnsureGstInitialized();
    ElementPtr element = ElementPtr::RefSink(gst_element_factory_make(factory, name));
    if (!element)
        GST_WARNING("no element \"%s\": its plugin is not installed", factory);
    return element;
}

ElementPtr MakeBin(const char* description) {
    EnsureGstInitialized();
    GError* raw = nullptr;
    GstElement* bin = gst_parse_bin_from_description_full(description, TRUE, nullptr,
                                                          GST_PARSE_FLAG_FATAL_ERRORS, &raw);
    GErrorPtr error(raw);
    if (error) {
        GST_WARNING("cannot make \"%s\": %s", description, error->message);
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
