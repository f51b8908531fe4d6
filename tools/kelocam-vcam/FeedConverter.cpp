#include "tools/kelocam-vcam/FeedConverter.h"

#include <opencv2/imgproc.hpp>

namespace kelo::vcam {

namespace {

// Integer BT.601 limited-range coefficients (8-bit fixed point).
inline std::uint8_t LumaOf(int b, int g, int r) {
    return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline std::uint8_t BlueDiffOf(int b, int g, int r) {
    return static_cast<std::uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline std::uint8_t RedDiffOf(int b, int g, int r) {
    return static_cast<std::uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

} // namespace

std::size_t FrameBytes(PixelFormat format, FrameSize size) {
    const auto w = static_cast<std::size_t>(size.width);
    const auto h = static_cast<std::size_t>(size.height);
    if (format == PixelFormat::YUY2)
        return w * h * 2;
    const std::size_t chroma = ((w + 1) / 2) * ((h + 1) / 2);
    return w * h + 2 * chroma;
}

const char* GstFormatName(PixelFormat format) {
    return format == PixelFormat::YUY2 ? "YUY2" : "I420";
}

void BgrToI420(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out) {
    const int chromaWidth = width / 2;
    const int chromaHeight = (height + 1) / 2;
    std::uint8_t* yPlane = out;
    std::uint8_t* uPlane = yPlane + static_cast<std::size_t>(width) * height;
    std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(chromaWidth) * chromaHeight;

    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = firstRow + rowStride * y;
        std::uint8_t* dst = yPlane + static_cast<std::size_t>(width) * y;
        for (int x = 0; x < width; ++x, src += 3)
            dst[x] = LumaOf(src[0], src[1], src[2]);
    }
    // Chroma of each 2 x 2 block from its average colour (centred siting, as JPEG and Y4M's
    // C420jpeg). A last odd row pairs with itself.
    for (int cy = 0; cy < chromaHeight; ++cy) {
        const std::uint8_t* row0 = firstRow + rowStride * (2 * cy);
        const std::uint8_t* row1 = (2 * cy + 1 < height) ? row0 + rowStride : row0;
        std::uint8_t* u = uPlane + static_cast<std::size_t>(chromaWidth) * cy;
        std::uint8_t* v = vPlane + static_cast<std::size_t>(chromaWidth) * cy;
        for (int cx = 0; cx < chromaWidth; ++cx) {
            const std::uint8_t* a = row0 + 6 * cx;
            const std::uint8_t* b = row1 + 6 * cx;
            const int blue = (a[0] + a[3] + b[0] + b[3] + 2) >> 2;
            const int green = (a[1] + a[4] + b[1] + b[4] + 2) >> 2;
            const int red = (a[2] + a[5] + b[2] + b[5] + 2) >> 2;
            u[cx] = BlueDiffOf(blue, green, red);
            v[cx] = RedDiffOf(blue, green, red);
        }
    }
}

void BgrToYuy2(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out) {
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = firstRow + rowStride * y;
        std::uint8_t* dst = out + static_cast<std::size_t>(width) * 2 * y;
        for (int x = 0; x + 1 < width; x += 2, src += 6, dst += 4) {
            const int blue = (src[0] + src[3] + 1) >> 1;
            const int green = (src[1] + src[4] + 1) >> 1;
            const int red = (src[2] + src[5] + 1) >> 1;
            dst[0] = LumaOf(src[0], src[1], src[2]);
            dst[1] = BlueDiffOf(blue, green, red);
            dst[2] = LumaOf(src[3], src[4], src[5]);
            dst[3] = RedDiffOf(blue, green, red);
        }
    }
}

FeedConverter::FeedConverter(PixelFormat format, FrameSize size) : format_(format), size_(size) {}

// The 320 x 240 block: bottom-up, so its picture starts at the last row and goes backwards.
BgrPicture FeedPicture(const std::uint8_t* feed) {
    return {feed + kFeedRowBytes * (kFeedHeight - 1), -static_cast<std::ptrdiff_t>(kFeedRowBytes),
            kFeedWidth, kFeedHeight};
}

void FeedConverter::Convert(const std::uint8_t* feed, std::uint8_t* out) {
    Convert(FeedPicture(feed), out);
}

void FeedConverter::Convert(const BgrPicture& picture, std::uint8_t* out) {
    const std::uint8_t* topRow = picture.topRow;
    std::ptrdiff_t rowStride = picture.rowStride;
    if (picture.width != size_.width || picture.height != size_.height) {
        // Scaling is symmetric in the row order, so the rows are scaled in the order they lie in
        // memory and turned upright by the conversion below. Area averaging when shrinking
        // avoids aliasing; bilinear when growing.
        const bool bottomUp = rowStride < 0;
        const std::uint8_t* first =
            bottomUp ? picture.topRow + rowStride * (picture.height - 1) : picture.topRow;
        const cv::Mat source(picture.height, picture.width, CV_8UC3,
                             const_cast<std::uint8_t*>(first),
                             static_cast<std::size_t>(bottomUp ? -rowStride : rowStride));
        const bool shrinking = size_.width < picture.width || size_.height < picture.height;
        cv::resize(source, scaled_, cv::Size(size_.width, size_.height), 0, 0,
                   shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
        const auto step = static_cast<std::ptrdiff_t>(scaled_.step[0]);
        topRow = bottomUp ? scaled_.data + step * (size_.height - 1) : scaled_.data;
        rowStride = bottomUp ? -step : step;
    }
    if (format_ == PixelFormat::YUY2)
        BgrToYuy2(topRow, rowStride, size_.width, size_.height, out);
    else
        BgrToI420(topRow, rowStride, size_.width, size_.height, out);
}

} // namespace kelo::vcam
