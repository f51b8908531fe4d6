#include "platform/filters/ColorConverter.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<ColorConverter> ColorConverter::Create() {
    ElementPtr bin = MakeBin(
        "videoconvert ! video/x-raw,format=BGR ! videoflip name=rows video-direction=identity");
    if (!bin)
        return nullptr;
    ElementPtr flip(gst_bin_get_by_name(GST_BIN(bin.get()), "rows"));
    if (!flip)
        return nullptr;
    return std::shared_ptr<ColorConverter>(new ColorConverter(std::move(bin), flip.get()));
}

ColorConverter::ColorConverter(ElementPtr bin, GstElement* flip)
    : BaseFilter(std::move(bin)), flip_(flip) {}

void ColorConverter::SetInputTopDown(bool topDown) {
    flips_ = topDown;
    gst_util_set_object_arg(G_OBJECT(flip_), "video-direction", topDown ? "vert" : "identity");
}

} // namespace kelo
