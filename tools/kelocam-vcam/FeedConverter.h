// Turns one frame (the 320 x 240 block's bottom-up BGR, or an HD block frame of any size, upright)
// into an upright YUV picture of the size and format the consumer asked for. One converter per output; Convert() is the tight
// per-frame function and allocates nothing after construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/contracts/FeedLayout.h"
#include "platform/system/HdFeedBlock.h"

namespace kelo::vcam {

enum class PixelFormat {
    I420, // planar 4:2:0: Y plane, then U, then V (chroma rounded up for odd heights)
    YUY2, // packed 4:2:2: Y0 U Y1 V
};

struct FrameSize {
    int width = kFeedWidth;
    int height = kFeedHeight;
    bool operator==(const FrameSize&) const = default;
};

inline constexpr int kMaxFrameDimension = 4096;

// Bytes of one picture of this format and size.
std::size_t FrameBytes(PixelFormat format, FrameSize size);

// The format's name as GStreamer writes it in caps ("I420", "YUY2").
const char* GstFormatName(PixelFormat format);

// BT.601 limited range (what browsers and call programs assume for SD video). `rowStride` may be
// negative: pass the last row of a bottom-up picture and -rowBytes to read it upright.
// I420 needs an even width; YUY2 an even width too (a pixel pair shares its chroma).
void BgrToI420(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out);
void BgrToYuy2(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out);

// The 320 x 240 block's frame (kFeedBytes of bottom-up BGR) as an upright picture.
BgrPicture FeedPicture(const std::uint8_t* feed);

class FeedConverter {
public:
    FeedConverter(PixelFormat format, FrameSize size);

    PixelFormat format() const { return format_; }
    FrameSize size() const { return size_; }
    std::size_t outputBytes() const { return FrameBytes(format_, size_); }

    // feed: kFeedBytes of bottom-up BGR; out: outputBytes() bytes, written upright.
    void Convert(const std::uint8_t* feed, std::uint8_t* out);
    // Any BGR picture (1..4096 on each side), scaled to size() when it differs.
    void Convert(const BgrPicture& picture, std::uint8_t* out);

private:
    PixelFormat format_;
    FrameSize size_;
    cv::Mat scaled_; // BGR at the output size, in the row order of the picture scaled
};

} // namespace kelo::vcam
