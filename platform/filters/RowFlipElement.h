// "kelorowflip": turns a packed RGB (or grey) frame upside down, one row copy at a time. The
// graph keeps its frames bottom-up, so every frame is flipped on its way in and again on its way
// to the preview and to some writers; GStreamer's own videoflip does that byte by byte for packed
// formats (several milliseconds a 1280 x 720 frame), this element costs one memcpy of the frame.
// With "flip" false it is a passthrough.
#pragma once

namespace kelo {

// Registers the element with GStreamer (once; called by EnsureGstInitialized).
void RegisterRowFlipElement();

// The factory name, for descriptions and element chains.
inline constexpr const char* kRowFlipFactory = "kelorowflip";

} // namespace kelo
