// A view of one video frame with the fields the per-frame code reads: the image header that the
// ProxyTrans filter hands to its callback. It owns nothing; the bytes belong to the buffer
// flowing through the pipeline.
#pragma once

#include <cstdint>
#include <optional>

namespace kelo {

inline constexpr int kFrameDepth8U = 8;
inline constexpr int kFrameDepth32F = 32;
inline constexpr int kFrameOriginTopLeft = 0;
inline constexpr int kFrameOriginBottomLeft = 1;

struct FrameRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct FrameImage {
    int width = 0;
    int height = 0;
    int depth = kFrameDepth8U;  // bits per channel: 8 (unsigned) or 32 (float)
    int nChannels = 3;          // 3: blue, green, red
    int origin = kFrameOriginTopLeft; // nonzero: first row in memory is the bottom row
    std::optional<FrameRect> roi; // region of interest; none means the whole frame
    std::uint8_t* imageData = nullptr;
    int widthStep = 0;  // bytes from one row to the next
    int imageSize = 0;  // total bytes: widthStep * height
};

// The callback the ProxyTrans filter calls once per frame on its streaming thread.
using FrameCallbackFn = void (*)(FrameImage* frame);

} // namespace kelo
