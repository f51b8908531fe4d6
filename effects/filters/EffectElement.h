// The GStreamer side of the three effect filters. Each filter is one in-process element type,
// a GstVideoFilter (GstBaseTransform) that works in place:
//   - pads: one always "sink" and one always "src" pad, caps video/x-raw, format=BGR, any size
//     and rate (the same caps on both sides);
//   - frames inside the graph are bottom-up BGR (first row in memory = bottom row of the
//     picture); the caps do not say so, it is the graph's convention, and the elements never
//     flip rows;
//   - the per-frame work is an EffectProcessor owned by the element instance (made with the
//     element, destroyed when its last reference goes), so a component that holds the element
//     can reach its processor for as long as it holds it.
// The graph layer adds a filter to a pipeline with BaseFilter::element() and links the "sink"
// and "src" pads like any other element's.
#pragma once

#include "platform/system/Handles.h"

#include <cstdint>
#include <gst/gst.h>

// The effect elements' diagnostics ("kelo-effects"): caps an element did not accept, what it
// negotiated, a picture or a setting it refused. Off by default; on with KELOCAM_DEBUG=1 or
// GST_DEBUG=kelo-effects:5. Registered by RegisterEffectElements.
GST_DEBUG_CATEGORY_EXTERN(kelo_effects_debug);

namespace kelo {

// The frame work of one effect element.
class EffectProcessor {
public:
    virtual ~EffectProcessor() = default;
    // Streaming thread, once per frame. data: the frame's bytes (BGR, rows bottom-up, stride
    // bytes from one row to the next); changes reach the output. Must not throw.
    virtual void ProcessFrame(std::uint8_t* data, int width, int height, int stride) = 0;
    // Streaming thread, once per frame before ProcessFrame, for switchable kinds only: false
    // puts the element in passthrough for this frame (ProcessFrame is not called and the buffer
    // is not even made writable). Must not throw.
    virtual bool WantsFrames() { return true; }
};

// What makes one element type. Instances must have static storage duration.
struct EffectElementKind {
    const char* factoryName; // GStreamer factory name, e.g. "kelobmpoverlay"
    const char* typeName;    // GType name, e.g. "KeloBmpOverlayFilter"
    const char* longName;    // element metadata
    const char* description;
    bool passthrough; // true: frames pass untouched and ProcessFrame is never called
    EffectProcessor* (*createProcessor)();
    // true: in passthrough until, and whenever, the processor's WantsFrames says otherwise.
    bool switchable = false;
};

// Element factory names of the three filters and the background blur.
inline constexpr const char* kOverlayFactoryName = "kelooverlay";
inline constexpr const char* kProxyTransFactoryName = "keloproxytrans";
inline constexpr const char* kBmpOverlayFactoryName = "kelobmpoverlay";
inline constexpr const char* kBackgroundBlurFactoryName = "kelobackgroundblur";

// Initialises GStreamer and registers the four element types with the process (no plugin), once;
// later calls return at once. Thread-safe.
void RegisterEffectElements();

// A new element of one of the four factories (floating reference sunk), or null.
ElementPtr MakeEffectElement(const char* factoryName);

// The processor of an effect element (borrowed: valid while the element lives), or null when the
// element is not one of ours.
EffectProcessor* EffectElementProcessor(GstElement* element);

} // namespace kelo
