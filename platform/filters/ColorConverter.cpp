#include "platform/filters/ColorConverter.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<ColorConverter> ColorConverter::Create() {
    // Camera frames in YUY2 or I420 become BGR rows in the graph's order in the first element;
    // anything else passes it for videoconvert, and the row flip behind turns those.
    ElementPtr bin = MakeBin("keloyuvtobgr name=yuv ! videoconvert ! video/x-raw,format=BGR ! "
                             "kelorowflip name=rows flip=false");
    if (!bin)
        return nullptr;
    ElementPtr convert(gst_bin_get_by_name(GST_BIN(bin.get()), "yuv"));
    ElementPtr flip(gst_bin_get_by_name(GST_BIN(bin.get()), "rows"));
    if (!convert || !flip)
        return nullptr;
    // Borrowed: both live in the bin.
    g_object_set(convert.get(), "follower", flip.get(), nullptr);
    return std::shared_ptr<ColorConverter>(new ColorConverter(std::move(bin), convert.get()));
}

ColorConverter::ColorConverter(ElementPtr bin, GstElement* convert)
    : BaseFilter(std::move(bin)), convert_(convert) {}

void ColorConverter::SetInputTopDown(bool topDown) {
    flips_ = topDown;
    g_object_set(convert_, "flip", topDown ? TRUE : FALSE, nullptr);
}

} // namespace kelo
