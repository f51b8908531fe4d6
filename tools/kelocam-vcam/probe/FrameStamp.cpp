#include "tools/kelocam-vcam/probe/FrameStamp.h"

#include <cstring>

#include "platform/contracts/FeedLayout.h"

namespace kelo::vcam::probe {

namespace {

constexpr int kBlock = 20;
constexpr int kBits = 16;
constexpr int kStampRows = 2 * kBlock;
constexpr int kSplitRow = 140; // between the upper and lower quadrants

struct Bgr {
    std::uint8_t b, g, r;
};
constexpr Bgr kBlack{0, 0, 0};
constexpr Bgr kWhite{255, 255, 255};
constexpr Bgr kRed{0, 0, 255};
constexpr Bgr kGreen{0, 255, 0};
constexpr Bgr kBlue{255, 0, 0};

int Luma(Bgr c) {
    return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16;
}

Bgr ColourAt(int x, int y, std::uint32_t counter) {
    if (y < kStampRows) {
        const int bit = kBits - 1 - x / kBlock;
        const std::uint32_t word = (y < kBlock) ? counter : ~counter;
        return ((word >> bit) & 1u) ? kWhite : kBlack;
    }
    const bool left = x < kFeedWidth / 2;
    if (y < kSplitRow)
        return left ? kRed : kGreen;
    return left ? kBlue : kWhite;
}

int MeanAround(const std::uint8_t* luma, int width, int height, std::ptrdiff_t stride, int cx,
               int cy) {
    int sum = 0;
    int count = 0;
    for (int y = cy - 1; y <= cy + 1; ++y) {
        for (int x = cx - 1; x <= cx + 1; ++x) {
            if (x < 0 || y < 0 || x >= width || y >= height)
                continue;
            sum += luma[stride * y + x];
            ++count;
        }
    }
    return count ? sum / count : 0;
}

// Maps a point of the 320 x 240 picture onto a picture of another size.
int ScaleX(int x, int width) {
    return (2 * x + 1) * width / (2 * kFeedWidth);
}
int ScaleY(int y, int height) {
    return (2 * y + 1) * height / (2 * kFeedHeight);
}

} // namespace

void PaintTestPicture(std::uint8_t* feed, std::uint32_t counter) {
    counter %= kStampModulo;
    for (int y = 0; y < kFeedHeight; ++y) {
        // Bottom-up: picture row y is memory row (height - 1 - y).
        std::uint8_t* row = feed + kFeedRowBytes * static_cast<std::size_t>(kFeedHeight - 1 - y);
        for (int x = 0; x < kFeedWidth; ++x) {
            const Bgr c = ColourAt(x, y, counter);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
}

std::optional<std::uint32_t> ReadStamp(const std::uint8_t* luma, int width, int height,
                                       std::ptrdiff_t stride) {
    std::uint32_t value = 0;
    std::uint32_t complement = 0;
    for (int i = 0; i < kBits; ++i) {
        const int cx = ScaleX(i * kBlock + kBlock / 2, width);
        const int top = MeanAround(luma, width, height, stride, cx, ScaleY(kBlock / 2, height));
        const int bottom =
            MeanAround(luma, width, height, stride, cx, ScaleY(kBlock + kBlock / 2, height));
        value = (value << 1) | (top > 128 ? 1u : 0u);
        complement = (complement << 1) | (bottom > 128 ? 1u : 0u);
    }
    if ((value ^ complement) != kStampModulo - 1)
        return std::nullopt;
    return value;
}

QuadrantLuma ExpectedQuadrantLuma() {
    return {Luma(kRed), Luma(kGreen), Luma(kBlue), Luma(kWhite)};
}

QuadrantLuma MeasureQuadrantLuma(const std::uint8_t* luma, int width, int height,
                                 std::ptrdiff_t stride) {
    const int left = ScaleX(kFeedWidth / 4, width);
    const int right = ScaleX(3 * kFeedWidth / 4, width);
    const int upper = ScaleY((kStampRows + kSplitRow) / 2, height);
    const int lower = ScaleY((kSplitRow + kFeedHeight) / 2, height);
    return {MeanAround(luma, width, height, stride, left, upper),
            MeanAround(luma, width, height, stride, right, upper),
            MeanAround(luma, width, height, stride, left, lower),
            MeanAround(luma, width, height, stride, right, lower)};
}

bool LooksUpright(const std::uint8_t* luma, int width, int height, std::ptrdiff_t stride,
                  int tolerance) {
    const QuadrantLuma want = ExpectedQuadrantLuma();
    const QuadrantLuma got = MeasureQuadrantLuma(luma, width, height, stride);
    auto near = [tolerance](int a, int b) { return a - b <= tolerance && b - a <= tolerance; };
    return near(got.topLeft, want.topLeft) && near(got.topRight, want.topRight) &&
           near(got.bottomLeft, want.bottomLeft) && near(got.bottomRight, want.bottomRight);
}

bool CaptionStandsAtTheBottomLeft(const std::uint8_t* i420) {
    // The caption is drawn pure red (blue 0, green 0, red 255) from (60, 20) of the bottom-up
    // frame: upright, a line of text about 12 pixels high just above the bottom edge.
    constexpr int w = kFeedWidth;
    constexpr int h = kFeedHeight;
    const std::uint8_t* u = i420 + w * h;
    const std::uint8_t* v = u + (w / 2) * (h / 2);
    auto isRed = [&](int x, int y) {
        const int luma = i420[y * w + x];
        const int chroma = (y / 2) * (w / 2) + x / 2;
        return luma >= 50 && luma <= 130 && v[chroma] >= 180 && u[chroma] <= 110;
    };
    int redPixels = 0;
    int redRows = 0;
    for (int y = h * 3 / 4; y < h; ++y) {
        int inRow = 0;
        for (int x = 50; x < 200; ++x)
            inRow += isRed(x, y) ? 1 : 0;
        redPixels += inRow;
        redRows += inRow >= 3 ? 1 : 0;
    }
    return redPixels >= 40 && redRows >= 5 && redRows <= 25;
}

bool IsBlackI420(const std::uint8_t* i420, int width, int height) {
    const std::size_t lumaBytes = static_cast<std::size_t>(width) * height;
    const std::size_t chromaBytes =
        2 * static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
    for (std::size_t i = 0; i < lumaBytes; ++i)
        if (i420[i] != 16)
            return false;
    for (std::size_t i = 0; i < chromaBytes; ++i)
        if (i420[lumaBytes + i] != 128)
            return false;
    return true;
}

} // namespace kelo::vcam::probe
