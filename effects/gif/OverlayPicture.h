// Layout of an overlay picture: that of a 320 x 240 RGB24 video frame, 3 bytes a pixel (blue,
// green, red), 960 bytes a row, the first row in memory is the bottom row. The GIF decoder makes
// such pictures and the BmpOverlayFiler lays them over the video.
#pragma once

#include <cstddef>

namespace kelo {

inline constexpr int kOverlayWidth = 320;
inline constexpr int kOverlayHeight = 240;
inline constexpr std::size_t kOverlayStride = kOverlayWidth * 3;                     // 960
inline constexpr std::size_t kOverlayPictureBytes = kOverlayStride * kOverlayHeight; // 230400

} // namespace kelo
