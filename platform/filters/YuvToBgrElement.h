// "keloyuvtobgr": the Color Space Converter's first stage. Camera frames in YUY2 or I420 with a
// colour matrix it computes exactly as videoconvert does (see YuvToBgrRows.h) are converted
// straight into BGR rows, in the graph's row order when "flip" is set: one pass over the
// frame, where videoconvert's generic path and a separate row flip took two or three. Its
// output caps are the ones videoconvert would give, so everything downstream negotiates as
// before. Every other input passes through untouched for the videoconvert behind it; the row
// flip behind that ("follower", a kelorowflip) is then the one that turns the rows. Which of
// the two flips is decided here when the caps are set.
#pragma once

#include <gst/gst.h>

namespace kelo {

// Registers the element with GStreamer (once; called by EnsureGstInitialized).
void RegisterYuvToBgrElement();

// The factory name, for descriptions and element chains.
inline constexpr const char* kYuvToBgrFactory = "keloyuvtobgr";

// Whether frames of these caps are converted by the element (true) or passed through for
// videoconvert (false). For tests and diagnostics.
[[nodiscard]] bool YuvToBgrTakesCaps(const GstCaps* caps);

} // namespace kelo
