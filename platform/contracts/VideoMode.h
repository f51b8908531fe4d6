// The capture mode an engine is made for: frame size and rate. The studio's first-start default
// is the webcam mode it was designed around; the user may choose larger ones (settings dialog,
// the headless studio's --video-size and --fps). Engines, the window and the headless studio
// pass it around whole.
#pragma once

#include <cstdint>

namespace kelo {

struct VideoMode {
    int width = 320;
    int height = 240;
    int framesPerSecond = 15;
    bool operator==(const VideoMode&) const = default;
};

// 320 x 240 at 15 frames per second: what a first start uses, and what a stored mode that
// cannot be used falls back to.
inline constexpr VideoMode kDefaultVideoMode{};

// A video bit rate set for the default mode, scaled with the pixel rate (width x height x
// frames per second) of `mode`; never below the default mode's rate, so a smaller mode keeps
// its quality. Every video encoder of the recording graphs sets its rate through this.
constexpr std::uint32_t ScaleBitrateToMode(std::uint32_t bitsPerSecondAtDefault, VideoMode mode) {
    const auto pixelRate = [](VideoMode m) {
        return static_cast<std::uint64_t>(m.width > 0 ? m.width : 0) *
               static_cast<std::uint64_t>(m.height > 0 ? m.height : 0) *
               static_cast<std::uint64_t>(m.framesPerSecond > 0 ? m.framesPerSecond : 0);
    };
    const std::uint64_t base = pixelRate(kDefaultVideoMode);
    const std::uint64_t rate = pixelRate(mode);
    if (rate <= base)
        return bitsPerSecondAtDefault;
    const std::uint64_t scaled = bitsPerSecondAtDefault * rate / base;
    return scaled > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(scaled);
}

} // namespace kelo
