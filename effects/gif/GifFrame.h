// One decoded picture of an animated GIF and how long it stays on screen.
#pragma once

#include "effects/gif/OverlayPicture.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kelo {

// Owned by GifAnimation's frame list; the picture lives exactly as long as the frame.
class GifFrame {
public:
    GifFrame(float delay, std::vector<std::uint8_t> picture)
        : delay_(delay), picture_(std::move(picture)) {}

    // Hundredths of a second.
    float delay() const { return delay_; }
    // kOverlayPictureBytes bytes, bottom row first, BGR.
    const std::uint8_t* bits() const { return picture_.data(); }
    // Gives the picture's memory back to the decoder for the next file's frames.
    std::vector<std::uint8_t> TakePicture() { return std::move(picture_); }

private:
    float delay_ = 0.0f;
    std::vector<std::uint8_t> picture_;
};

} // namespace kelo
