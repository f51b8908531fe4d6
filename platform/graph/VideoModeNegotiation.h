// Which of a camera's modes a requested capture mode becomes. A camera describes what it offers
// as caps (fixed modes, lists, or ranges of sizes and rates); the modes are listed once, then
// chosen from:
//   1. the requested size and rate exactly (a raw mode before a compressed one);
//   2. else the mode of the same aspect closest in area not above the request, at the requested
//      rate or the nearest below (a compressed mode only when it reaches a higher rate than the
//      raw ones of that size);
//   3. else nothing: the camera keeps its own format.
// Pure functions: no graph, no device.
#pragma once

#include "platform/contracts/VideoMode.h"

#include <gst/gst.h>
#include <vector>

namespace kelo {

struct OfferedMode {
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;
    bool compressed = false; // JPEG pictures rather than raw frames
    bool operator==(const OfferedMode&) const = default;
};

struct ModeChoice {
    bool found = false; // false: keep the camera's own format
    bool exact = false;
    OfferedMode mode;
};

// The modes `caps` offer (video/x-raw and image/jpeg structures; others are left out). Ranges
// and lists are read at the common camera sizes and rates and at the requested ones. Null caps
// offer nothing.
std::vector<OfferedMode> ListOfferedModes(const GstCaps* caps, VideoMode requested);

ModeChoice ChooseVideoMode(const std::vector<OfferedMode>& offered, VideoMode requested);

} // namespace kelo
