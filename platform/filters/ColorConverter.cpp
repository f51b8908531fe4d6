#include "platform/filters/ColorConverter.h"

#include "platform/graph/ElementFactory.h"

namespace kelo {

std::shared_ptr<ColorConverter> ColorConverter::Create() {
    ElementPtr bin =
        MakeBin("videoconvert ! video/x-raw,format=BGR ! kelorowflip name=rows flip=false");
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
    g_object_set(flip_, "flip", topDown ? TRUE : FALSE, nullptr);
}

} // namespace kelo
