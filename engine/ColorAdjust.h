// Colour adjustment of a frame in place: lightness and saturation in HLS, then an offset per
// colour channel. Runs on the streaming thread from FrameCallback when colorAdjustOn is set.
#pragma once

#include "engine/EffectState.h"
#include "platform/contracts/FrameImage.h"
#include "platform/system/HResult.h"

namespace kelo {

// On a frame already converted to HLS (channels hue, lightness, saturation): adds the shifts to
// lightness and saturation of every pixel of the region of interest (the whole frame when none
// is set), clamped to 0..255 for 8-bit frames and to 0..1 for 32-bit float frames. Any other
// depth is left unchanged and gives E_FAIL.
[[nodiscard]] HRESULT AdjustHls(FrameImage* frame, int lightnessShift, int saturationShift);

// Adds the offsets to the first (blue), second (green) and third (red) value of every pixel of
// the whole frame; 8-bit values saturate to 0..255. Frames with fewer than 3 channels or another
// depth are left unchanged (E_FAIL).
[[nodiscard]] HRESULT ApplyChannelOffsets(FrameImage* frame, int blueOffset, int greenOffset, int redOffset);

// The whole adjustment: BGR frame to HLS, AdjustHls, back to BGR, then the channel offsets (run
// even when all three are 0). Only 3-channel frames of 8 bits or 32-bit float are changed.
// 8-bit frames without a narrower region of interest take one pass over the frame that gives
// the bytes of the steps above (see ColorAdjustVectorised).
void AdjustColors(FrameImage* frame, const EffectState::Values& values);

// Whether AdjustColors runs its one-pass vector route on this machine: the CPU has AVX2 and FMA
// and the route gave the conversion pair's bytes on a probe (checked once per process).
[[nodiscard]] bool ColorAdjustVectorised();

} // namespace kelo
