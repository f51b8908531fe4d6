#include "engine/EffectState.h"

namespace kelo {

void EffectState::ToggleFaceDetection() {
    // Only the window thread writes, so a load and a store are enough; the result is 1 when the
    // field was 0, else 0, as the face cover page expects.
    std::int32_t was = faceDetectionOn.load(std::memory_order_relaxed);
    faceDetectionOn.store(was == 0 ? 1 : 0, std::memory_order_relaxed);
}

EffectState::Values EffectState::Load() const {
    constexpr auto relaxed = std::memory_order_relaxed;
    Values v;
    v.faceDetectionOn = faceDetectionOn.load(relaxed);
    v.colorAdjustOn = colorAdjustOn.load(relaxed);
    v.lightnessShift = lightnessShift.load(relaxed);
    v.saturationShift = saturationShift.load(relaxed);
    v.blueOffset = blueOffset.load(relaxed);
    v.greenOffset = greenOffset.load(relaxed);
    v.redOffset = redOffset.load(relaxed);
    return v;
}

EffectState& ProcessEffectState() {
    static EffectState state;
    return state;
}

} // namespace kelo
