// A filter: a component that lives in a graph as one GStreamer element (or bin). Components with
// a custom control interface derive from BaseFilter and from that interface; QueryInterface
// finds it. The graph layer reads the filter's pins from the element's pads.
#pragma once

#include <utility>

#include "platform/graph/ClassRegistry.h"
#include "platform/system/Handles.h"

namespace kelo {

class BaseFilter : public ComObject {
public:
    // Takes the (sunk) element; the filter holds one reference for its lifetime.
    explicit BaseFilter(ElementPtr element) : element_(std::move(element)) {}

    // Borrowed: valid while the filter lives.
    GstElement* element() const { return element_.get(); }

private:
    ElementPtr element_;
};

} // namespace kelo
