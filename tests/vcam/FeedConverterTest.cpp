#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/contracts/FeedLayout.h"
#include "tools/kelocam-vcam/FeedConverter.h"
#include "tools/kelocam-vcam/Y4mWriter.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"

namespace kelo::vcam {
namespace {

std::vector<std::uint8_t> TestFeed(std::uint32_t counter) {
    std::vector<std::uint8_t> feed(kFeedBytes);
    probe::PaintTestPicture(feed.data(), counter);
    return feed;
}

std::vector<std::uint8_t> Convert(PixelFormat format, FrameSize size,
                                  const std::vector<std::uint8_t>& feed) {
    FeedConverter converter(format, size);
    // A guard byte past the end catches a converter that writes too far.
    std::vector<std::uint8_t> out(converter.outputBytes() + 1, 0xA5);
    converter.Convert(feed.data(), out.data());
    EXPECT_EQ(out.back(), 0xA5) << "wrote past the end of the picture";
    out.pop_back();
    return out;
}

// The luma plane of a YUY2 picture.
std::vector<std::uint8_t> LumaOfYuy2(const std::vector<std::uint8_t>& yuy2) {
    std::vector<std::uint8_t> luma(yuy2.size() / 2);
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i] = yuy2[2 * i];
    return luma;
}

TEST(FeedConverter, TurnsTheBottomUpBlockUprightWithoutMirroringInBothFormats) {
    const auto feed = TestFeed(0xBEEF);

    const auto i420 = Convert(PixelFormat::I420, {}, feed);
    ASSERT_EQ(i420.size(), 320u * 240u * 3 / 2);
    EXPECT_TRUE(probe::LooksUpright(i420.data(), 320, 240, 320));
    EXPECT_EQ(probe::ReadStamp(i420.data(), 320, 240, 320), 0xBEEFu);

    const auto yuy2 = Convert(PixelFormat::YUY2, {}, feed);
    ASSERT_EQ(yuy2.size(), 320u * 240u * 2);
    const auto luma = LumaOfYuy2(yuy2);
    EXPECT_TRUE(probe::LooksUpright(luma.data(), 320, 240, 320));
    EXPECT_EQ(probe::ReadStamp(luma.data(), 320, 240, 320), 0xBEEFu);
}

TEST(FeedConverter, GivesBt601LimitedRangeValuesWithChromaInTheRightPlaces) {
    // Upright picture: red quadrant at the upper left (x 80, y 90), white at the lower right.
    const auto feed = TestFeed(0);
    const auto i420 = Convert(PixelFormat::I420, {}, feed);
    const std::uint8_t* u = i420.data() + 320 * 240;
    const std::uint8_t* v = u + 160 * 120;
    EXPECT_EQ(i420[90 * 320 + 80], 82);
    EXPECT_EQ(u[45 * 160 + 40], 90);
    EXPECT_EQ(v[45 * 160 + 40], 240);
    EXPECT_EQ(i420[190 * 320 + 240], 235);
    EXPECT_EQ(u[95 * 160 + 120], 128);
    EXPECT_EQ(v[95 * 160 + 120], 128);

    // YUY2: Y0 U Y1 V for each pixel pair.
    const auto yuy2 = Convert(PixelFormat::YUY2, {}, feed);
    const std::uint8_t* pair = yuy2.data() + (90 * 320 + 80) * 2;
    EXPECT_EQ(pair[0], 82);
    EXPECT_EQ(pair[1], 90);
    EXPECT_EQ(pair[2], 82);
    EXPECT_EQ(pair[3], 240);
}

TEST(FeedConverter, AZeroBlockIsABlackPicture) {
    const std::vector<std::uint8_t> zeros(kFeedBytes, 0);
    for (FrameSize size : {FrameSize{}, FrameSize{640, 480}, FrameSize{160, 120}}) {
        const auto i420 = Convert(PixelFormat::I420, size, zeros);
        EXPECT_TRUE(probe::IsBlackI420(i420.data(), size.width, size.height))
            << size.width << "x" << size.height;
        const auto yuy2 = Convert(PixelFormat::YUY2, size, zeros);
        for (std::size_t i = 0; i < yuy2.size(); ++i) {
            ASSERT_EQ(yuy2[i], i % 2 == 0 ? 16 : 128) << "byte " << i;
        }
    }
}

TEST(FeedConverter, ScalesToOtherSizesKeepingThePictureUpright) {
    const auto feed = TestFeed(1234);
    // Larger, smaller, another aspect ratio, and an odd height (chroma rows rounded up).
    for (FrameSize size :
         {FrameSize{640, 480}, FrameSize{160, 120}, FrameSize{1280, 720}, FrameSize{320, 239}}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const auto i420 = Convert(PixelFormat::I420, size, feed);
        ASSERT_EQ(i420.size(), FrameBytes(PixelFormat::I420, size));
        EXPECT_TRUE(probe::LooksUpright(i420.data(), size.width, size.height, size.width));
        EXPECT_EQ(probe::ReadStamp(i420.data(), size.width, size.height, size.width), 1234u);

        const auto yuy2 = Convert(PixelFormat::YUY2, size, feed);
        const auto luma = LumaOfYuy2(yuy2);
        EXPECT_TRUE(probe::LooksUpright(luma.data(), size.width, size.height, size.width));
    }
}

TEST(FeedConverter, FrameBytesAndY4mHeader) {
    EXPECT_EQ(FrameBytes(PixelFormat::I420, {320, 240}), 115200u);
    EXPECT_EQ(FrameBytes(PixelFormat::YUY2, {320, 240}), 153600u);
    EXPECT_EQ(FrameBytes(PixelFormat::I420, {320, 239}), 320u * 239 + 2 * 160 * 120);
    EXPECT_EQ(Y4mWriter::Header({640, 480}, 15), "YUV4MPEG2 W640 H480 F15:1 Ip A1:1 C420jpeg\n");
}

TEST(FrameStamp, BlackAndTornPicturesNeverReadAsACounter) {
    const std::vector<std::uint8_t> black(320 * 240, 16);
    EXPECT_FALSE(probe::ReadStamp(black.data(), 320, 240, 320));

    // The studio zeroes the block before it copies: a read in between sees the top rows of
    // the picture (stored last) still black.
    auto feed = TestFeed(77);
    std::memset(feed.data() + kFeedBytes - 30 * kFeedRowBytes, 0, 30 * kFeedRowBytes);
    const auto i420 = Convert(PixelFormat::I420, {}, feed);
    EXPECT_FALSE(probe::ReadStamp(i420.data(), 320, 240, 320));
}

} // namespace
} // namespace kelo::vcam

namespace kelo::vcam {
namespace {

// The YUY2 conversion works 32 and 16 pixels at a time where the processor allows: on noise,
// full-range extremes included, and widths with and without a remainder (50: one of each and
// a pair), it gives the same
// bytes as the I420 conversion's luma and the pair formula of the contract (BT.601 limited range,
// chroma from the pair's rounded average).
TEST(FeedConverter, Yuy2MatchesThePairFormulaOnEveryWidth) {
    auto luma = [](int b, int g, int r) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; };
    for (const int width : {2, 16, 18, 50, 322, 1280}) {
        const int height = 3;
        std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
        std::uint32_t noise = 12345; // a fixed pseudo-random sequence
        for (auto& byte : bgr) {
            noise = noise * 1664525u + 1013904223u;
            const std::uint32_t pick = noise >> 24;
            byte = static_cast<std::uint8_t>(pick < 16 ? 0 : pick > 240 ? 255 : noise >> 16);
        }
        std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 2);
        BgrToYuy2(bgr.data(), width * 3, width, height, out.data());
        int wrong = 0;
        for (int i = 0; i < width * height / 2; ++i) {
            const std::uint8_t* p = bgr.data() + 6 * i;
            const int b = (p[0] + p[3] + 1) >> 1, g = (p[1] + p[4] + 1) >> 1,
                      r = (p[2] + p[5] + 1) >> 1;
            const int expected[4] = {luma(p[0], p[1], p[2]),
                                     ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
                                     luma(p[3], p[4], p[5]),
                                     ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
            for (int k = 0; k < 4; ++k)
                wrong += out[4 * i + k] != expected[k];
        }
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

TEST(FeedConverter, I420MatchesTheBlockFormulaOnEveryWidthAndHeight) {
    auto luma = [](int b, int g, int r) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; };
    for (const int width : {2, 16, 18, 34, 50, 322, 1280})
        for (const int height : {1, 3, 4}) {
            std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
            std::uint32_t noise = 777; // a fixed pseudo-random sequence, with 0 and 255 often
            for (auto& byte : bgr) {
                noise = noise * 1664525u + 1013904223u;
                const std::uint32_t pick = noise >> 24;
                byte = static_cast<std::uint8_t>(pick < 16 ? 0 : pick > 240 ? 255 : noise >> 16);
            }
            const int chromaWidth = width / 2, chromaHeight = (height + 1) / 2;
            std::vector<std::uint8_t> out(FrameBytes(PixelFormat::I420, {width, height}));
            BgrToI420(bgr.data(), width * 3, width, height, out.data());
            int wrong = 0;
            for (int i = 0; i < width * height; ++i)
                wrong += out[i] != luma(bgr[3 * i], bgr[3 * i + 1], bgr[3 * i + 2]);
            const std::uint8_t* u = out.data() + width * height;
            const std::uint8_t* v = u + chromaWidth * chromaHeight;
            for (int cy = 0; cy < chromaHeight; ++cy)
                for (int cx = 0; cx < chromaWidth; ++cx) {
                    const std::uint8_t* a = bgr.data() + (2 * cy * width + 2 * cx) * 3;
                    const std::uint8_t* b = 2 * cy + 1 < height ? a + width * 3 : a;
                    const int blue = (a[0] + a[3] + b[0] + b[3] + 2) >> 2;
                    const int green = (a[1] + a[4] + b[1] + b[4] + 2) >> 2;
                    const int red = (a[2] + a[5] + b[2] + b[5] + 2) >> 2;
                    wrong += u[cy * chromaWidth + cx] !=
                             ((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128;
                    wrong += v[cy * chromaWidth + cx] !=
                             ((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128;
                }
            EXPECT_EQ(wrong, 0) << width << "x" << height;
        }
}

} // namespace
} // namespace kelo::vcam
