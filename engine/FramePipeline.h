// The per-frame work of the studio: FrameCallback is registered with the ProxyTrans filter and
// called once per frame on its streaming thread, with a header over the frame's own bytes
// (bottom-up BGR inside the graph). It changes the frame in place, in this order:
//   1. face cover (faceDetectionOn),
//   2. colour adjustment (colorAdjustOn),
//   3. the caption, on every frame,
//   4. the copy into the virtual camera feed.
// What it leaves in the frame flows on downstream (preview, snapshots, recordings).
#pragma once

#include "engine/EffectState.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/FrameImage.h"

namespace kelo {

// The fixed one-line caption stamped on every frame.
inline constexpr const char* kCaptionText = "Kelo Studio";
inline constexpr int kCaptionX = 60;
inline constexpr int kCaptionY = 20;
// The frame height the caption's position, font scale and thickness are given for; on other
// frames all three scale with the height.
inline constexpr int kCaptionFrameHeight = 240;

// Draws the caption in pure red with the Hershey duplex font (scale 0.5, thickness 2, line type
// 12) at (60, 20) of a 240-row frame as it lies in memory (scaled with the height on others). On a
// bottom-left frame the text is drawn mirrored in memory, so it reads upright on screen near the
// bottom left of the picture.
void StampCaption(FrameImage* frame);

// The four steps with the given values and feed (what FrameCallback does with the process-wide
// ones). Never throws.
void ProcessFrame(FrameImage* frame, const EffectState::Values& values, VirtualCameraFeed& feed);

// The ProxyTrans callback: ProcessFrame with ProcessEffectState() and ProcessVirtualCameraFeed(),
// then the finished frame into ProcessHdCameraFeed() at its own size.
void FrameCallback(FrameImage* frame);

} // namespace kelo
