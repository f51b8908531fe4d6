// Files encoded by giflib from known index arrays decode to exactly those indices.
#include "effects/gif/GifAnimation.h"
#include "gif/GifBytes.h"
#include "gif/GiflibFiles.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace kelo {
namespace {

using test::EncodeWithGiflib;
using test::GiflibImage;
using test::IndexPalette;
using test::PixelAt;

std::vector<std::uint8_t> RandomIndices(int width, int height, int colours, std::uint32_t start) {
    std::mt19937 rng(start);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height);
    for (auto& v : out)
        v = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(colours));
    return out;
}

// Runs and stripes of a few colours: long LZW strings and the code-naming-itself case.
std::vector<std::uint8_t> PatternIndices(int width, int height) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint8_t>(y < height / 3 ? 7 : ((x / 13 + y / 9) % 5) * 40);
    return out;
}

// Every pixel of a 320 x 240 picture, read back as the index of IndexPalette (its red byte),
// compared with the top-row-first index array.
int CountDifferences(const std::uint8_t* picture, const std::vector<std::uint8_t>& indices) {
    int wrong = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            wrong += PixelAt(picture, x, y).red != indices[static_cast<std::size_t>(y) * 320 + x];
    return wrong;
}

TEST(GiflibRoundTripTest, FullSizeImagesDecodeToTheirIndices) {
    struct Case {
        const char* name;
        int colours;
        std::vector<std::uint8_t> indices;
        bool interlaced;
    };
    const std::vector<Case> cases = {
        {"256 colours, noise (table full, clear codes)", 256, RandomIndices(320, 240, 256, 1),
         false},
        {"2 colours (code size 2)", 2, RandomIndices(320, 240, 2, 2), false},
        {"16 colours", 16, RandomIndices(320, 240, 16, 3), false},
        {"runs and stripes", 256, PatternIndices(320, 240), false},
        {"interlaced", 256, RandomIndices(320, 240, 200, 4), true},
        {"interlaced runs", 256, PatternIndices(320, 240), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto palette = IndexPalette(c.colours);
        const auto bytes =
            EncodeWithGiflib(320, 240, palette, {{320, 240, c.indices, {}, c.interlaced, 10}});
        GifAnimation anim;
        anim.LoadBytes(bytes);
        ASSERT_EQ(1, anim.GetFrameCount());
        EXPECT_EQ(10, anim.GetFrameDelay(0));
        EXPECT_EQ(0, CountDifferences(anim.GetFrameBits(0), c.indices));
    }
}

TEST(GiflibRoundTripTest, EveryFrameOfAnAnimationWithLocalTables) {
    std::vector<GiflibImage> images;
    std::vector<std::vector<std::uint8_t>> expected;
    for (int f = 0; f < 6; ++f) {
        GiflibImage image{320, 240, RandomIndices(320, 240, 64, 10 + f), {}, f % 2 == 1, 4 + f * 3};
        if (f >= 3)
            image.localTable = IndexPalette(64);
        expected.push_back(image.indices);
        images.push_back(std::move(image));
    }
    images[4].delay = -1; // takes the delay of frame 3
    GifAnimation anim;
    anim.LoadBytes(EncodeWithGiflib(320, 240, IndexPalette(64), images));
    ASSERT_EQ(6, anim.GetFrameCount());
    const int delays[6] = {4, 7, 10, 13, 13, 19};
    for (int f = 0; f < 6; ++f) {
        EXPECT_EQ(delays[f], anim.GetFrameDelay(f)) << f;
        EXPECT_EQ(0, CountDifferences(anim.GetFrameBits(f), expected[f])) << f;
    }
}

TEST(GiflibRoundTripTest, ScaledImagesFollowTheNearestNeighbourRule) {
    for (auto [width, height] :
         {std::pair{100, 75}, {160, 120}, {33, 200}, {640, 480}, {321, 17}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const auto indices =
            RandomIndices(width, height, 255, static_cast<std::uint32_t>(width * height));
        GifAnimation anim;
        anim.LoadBytes(EncodeWithGiflib(width, height, IndexPalette(256),
                                        {{width, height, indices, {}, false, 5}}));
        ASSERT_EQ(1, anim.GetFrameCount());
        // Output pixel (column j, row i), rows counted bottom row first in both pictures, takes
        // source column floor(j / Sx + 0.5) and row floor(i / Sy + 0.5) with Sx = 320 / width
        // and Sy = 240 / height as floats; past the source it shows entry 255.
        const float sx = 320.0f / static_cast<float>(width);
        const float sy = 240.0f / static_cast<float>(height);
        const std::uint8_t* bits = anim.GetFrameBits(0);
        int wrong = 0;
        for (int i = 0; i < 240; ++i)
            for (int j = 0; j < 320; ++j) {
                const int col = static_cast<int>(std::floor(j / sx + 0.5));
                const int rowUp = static_cast<int>(std::floor(i / sy + 0.5));
                const int expected =
                    col < width && rowUp < height
                        ? indices[static_cast<std::size_t>(height - 1 - rowUp) * width + col]
                        : 255;
                wrong += bits[static_cast<std::size_t>(i) * 960 + j * 3 + 2] != expected;
            }
        EXPECT_EQ(0, wrong);
    }
}

} // namespace
} // namespace kelo
