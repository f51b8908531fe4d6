// libFuzzer target: any bytes handed to the decoder as a whole file (what Load does after
// reading it) must decode without a crash, a hang or an out-of-bounds access.
#include "effects/gif/GifAnimation.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kelo::GifAnimation animation;
    animation.LoadBytes(std::span<const std::uint8_t>(data, size));
    // Touch the first and last byte of every picture, so that a short one is caught.
    unsigned sum = 0;
    for (int i = 0; i < animation.GetFrameCount(); ++i) {
        const std::uint8_t* bits = animation.GetFrameBits(i);
        sum += bits[0] + bits[kelo::kOverlayPictureBytes - 1] +
               static_cast<unsigned>(animation.GetFrameDelay(i));
    }
    if (animation.GetFrameBits(animation.GetFrameCount()) != nullptr)
        __builtin_trap();
    return static_cast<int>(sum & 0);
}
