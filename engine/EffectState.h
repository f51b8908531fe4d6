// The process-wide effect switches and values that FrameCallback reads on every frame. One
// instance for the whole process: it outlives every CaptureEngine and keeps its values when the
// engine is destroyed and built again.
//
// Threads: the window thread writes through the setters while frames flow; the streaming thread
// reads. The fields are independent 32-bit integers, so each is an atomic with relaxed order: a
// frame may see a mix of old and new values, which is accepted, but never a torn value.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelo {

class EffectState {
public:
    // The values one frame works with, read once at its start.
    struct Values {
        std::int32_t faceDetectionOn = 0;
        std::int32_t colorAdjustOn = 0;
        std::int32_t lightnessShift = 0;
        std::int32_t saturationShift = 0;
        std::int32_t blueOffset = 0;
        std::int32_t greenOffset = 0;
        std::int32_t redOffset = 0;
    };

    EffectState() = default;
    EffectState(const EffectState&) = delete;
    EffectState& operator=(const EffectState&) = delete;

    // The setters CaptureEngine forwards to (window thread).
    void ToggleFaceDetection();
    void SetColorAdjustOn(std::int32_t value) { Store(colorAdjustOn, value); }
    void SetLightnessShift(std::int32_t value) { Store(lightnessShift, value); }
    void SetSaturationShift(std::int32_t value) { Store(saturationShift, value); }
    void SetBlueOffset(std::int32_t value) { Store(blueOffset, value); }
    void SetGreenOffset(std::int32_t value) { Store(greenOffset, value); }
    void SetRedOffset(std::int32_t value) { Store(redOffset, value); }
    void SetBackgroundBlurOn(std::int32_t value) { Store(backgroundBlurOn, value); }

    Values Load() const;

    // All 0 at process start.
    std::atomic<std::int32_t> faceDetectionOn{0}; // 0 or 1
    std::atomic<std::int32_t> colorAdjustOn{0};   // nonzero: on
    std::atomic<std::int32_t> lightnessShift{0};
    std::atomic<std::int32_t> saturationShift{0};
    std::atomic<std::int32_t> blueOffset{0};
    std::atomic<std::int32_t> greenOffset{0};
    std::atomic<std::int32_t> redOffset{0};
    // Read by the Background Blur filter (not by FrameCallback), once per frame.
    std::atomic<std::int32_t> backgroundBlurOn{0}; // nonzero: on

private:
    static void Store(std::atomic<std::int32_t>& field, std::int32_t value) {
        field.store(value, std::memory_order_relaxed);
    }
};

// The one instance of the process (created on first use, never destroyed before exit).
EffectState& ProcessEffectState();

} // namespace kelo
