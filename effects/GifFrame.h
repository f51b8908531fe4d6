// One decoded picture of an animated GIF and how long it stays on screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelo {

// Every overlay picture has the layout of a 320 x 240 RGB24 video frame: 3 bytes a pixel
// (blue, green, red), 960 bytes a row, the first row in memory is the bottom row.
inline constexpr int kOverlayWidth = 320;
inline constexpr int kOverlayHeight = 240;
inline constexpr std::size_t kOverlayStride = kOverlayWidth * 3;
inline constexpr std::size_t kOverlayPictureBytes = kOverlayStride * kOverlayHeight; // 230400

// Owned by GifAnimation's frame list; the picture lives exactly as long as the frame.
class GifFrame {
public:
    GifFrame(float delay, std::vector<std::uint8_t> picture)
        : delay_(delay), picture_(std::move(picture)) {}

    // Hundredths of a second.
    float delay() const { return delay_; }
    // kOverlayPictureBytes bytes, bottom row first, BGR.
    const std::uint8_t* bits() const { return picture_.data(); }

private:
    float delay_ = 0.0f;
    std::vector<std::uint8_t> picture_;
};

} // namespace kelo
