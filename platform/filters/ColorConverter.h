// The Color Space Converter: any raw video in, RGB24 (BGR) out, rows bottom-up. When its upstream
// is a capture device (top-down rows, as every GStreamer source) it flips the rows; frames that
// are already the graph's bottom-up RGB24 keep their order.
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <memory>

namespace kelo {

class ColorConverter : public BaseFilter, public IRowOrderSink {
public:
    static std::shared_ptr<ColorConverter> Create();

    // Called by the graph when the input is connected (owner thread, graph stopped).
    void SetInputTopDown(bool topDown) override;
    bool flipsRows() const { return flips_; }

private:
    ColorConverter(ElementPtr bin, GstElement* convert);

    GstElement* convert_ = nullptr; // borrowed: inside our bin; it sets the row flip behind it
    bool flips_ = false;
};

} // namespace kelo
