// The decoding rules of GifAnimation on GIF files written byte by byte.
#include "effects/gif/GifAnimation.h"

#include "gif/GifBytes.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <numeric>
#include <set>
#include <unistd.h>

namespace kelo {
namespace {

using test::GifBytes;
using test::IndexPalette;
using test::LiteralCodeStream;
using test::PackCodes;
using test::PixelAt;
using test::Rgb;

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};

class GifAnimationTest : public ::testing::Test {
protected:
    // Writes the bytes to a file of the test's own folder and loads it.
    void LoadFile(const GifBytes& gif, const char* name = "test.gif") {
        gif.WriteTo(dir.path() / name);
        ASSERT_EQ(1, anim.Load((dir.path() / name).string()));
    }
    // The index shown at source pixel (col, row) of an image scaled up from width x height,
    // read through IndexPalette's red byte.
    int IndexAt(int frame, int col, int row, int width, int height) {
        const int x = static_cast<int>(std::lround(col * 320.0 / width));
        const int bottomUp = static_cast<int>(std::lround((height - 1 - row) * 240.0 / height));
        return PixelAt(anim.GetFrameBits(frame), x, 239 - bottomUp).red;
    }

    test::IsolatedDirectory dir;
    GifAnimation anim;
};

std::vector<std::uint8_t> Fill(std::size_t count, std::uint8_t value) {
    return std::vector<std::uint8_t>(count, value);
}

// Codes as an encoder writes them after one clear code: the width grows once the next free
// code reaches 2^width (12 bits at most).
std::vector<std::uint8_t> WidthScheduledStream(const std::vector<unsigned>& values,
                                               unsigned minCodeSize, bool withEnd = true) {
    const unsigned clear = 1u << minCodeSize;
    unsigned width = minCodeSize + 1;
    std::vector<std::pair<unsigned, unsigned>> codes{{clear, width}};
    unsigned nextFree = clear + 2;
    for (std::size_t i = 0; i < values.size(); ++i) {
        codes.push_back({values[i], width});
        if (i > 0) {
            ++nextFree; // the code before this one now has its entry
            if (nextFree == (1u << width) && width < 12)
                ++width;
        }
    }
    if (withEnd)
        codes.push_back({clear + 1, width});
    return PackCodes(codes);
}

std::vector<std::uint8_t> GrowingLiteralStream(const std::vector<std::uint8_t>& indices,
                                               unsigned minCodeSize, bool withEnd = true) {
    return WidthScheduledStream(std::vector<unsigned>(indices.begin(), indices.end()), minCodeSize,
                                withEnd);
}

// At least `pixels` pixels of one index in few codes: each table code names the entry it
// completes, so the strings grow by one pixel a code.
std::vector<std::uint8_t> RunStream(std::uint8_t index, std::size_t pixels, unsigned minCodeSize) {
    const unsigned first = (1u << minCodeSize) + 2;
    std::vector<unsigned> values{index};
    std::size_t total = 1;
    for (unsigned length = 2; total < pixels; ++length) {
        values.push_back(first + static_cast<unsigned>(values.size()) - 1);
        total += length;
    }
    return WidthScheduledStream(values, minCodeSize);
}

TEST_F(GifAnimationTest, ExactSizeImageIsCopiedPixelForPixel) {
    std::vector<std::uint8_t> indices(320 * 240);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            indices[y * 320 + x] = static_cast<std::uint8_t>((x * 3 + y * 5) % 251);
    LoadFile(GifBytes()
                 .Header(320, 240, IndexPalette())
                 .Gce(9)
                 .Image(320, 240, 8, LiteralCodeStream(indices, 8))
                 .Trailer());
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(9, anim.GetFrameDelay(0));
    const std::uint8_t* bits = anim.GetFrameBits(0);
    int wrong = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const Rgb expected = IndexPalette()[indices[y * 320 + x]];
            wrong += !(PixelAt(bits, x, y) == expected);
        }
    EXPECT_EQ(0, wrong);
    // Bottom row first in memory, blue-green-red.
    const Rgb topLeft = IndexPalette()[indices[0]];
    const std::uint8_t* lastRow = bits + 239 * 960;
    EXPECT_EQ(topLeft.blue, lastRow[0]);
    EXPECT_EQ(topLeft.green, lastRow[1]);
    EXPECT_EQ(topLeft.red, lastRow[2]);
}

TEST_F(GifAnimationTest, HalfSizeImageDoublesAndShowsEntry255PastTheSource) {
    std::vector<std::uint8_t> indices(160 * 120);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
            indices[y * 160 + x] = static_cast<std::uint8_t>((x + 2 * y) % 255);
    LoadFile(GifBytes()
                 .Header(160, 120, IndexPalette())
                 .Image(160, 120, 8, LiteralCodeStream(indices, 8)));
    ASSERT_EQ(1, anim.GetFrameCount());
    const std::uint8_t* bits = anim.GetFrameBits(0);
    auto red = [&](int x, int y) { return PixelAt(bits, x, y).red; };
    // The bottom output row shows the bottom source row (119): column 0 once, then pairs.
    const int bottom = 239;
    EXPECT_EQ((0 + 238) % 255, red(0, bottom));
    EXPECT_EQ((1 + 238) % 255, red(1, bottom));
    EXPECT_EQ((1 + 238) % 255, red(2, bottom));
    EXPECT_EQ((2 + 238) % 255, red(3, bottom));
    EXPECT_EQ((159 + 238) % 255, red(317, bottom));
    EXPECT_EQ((159 + 238) % 255, red(318, bottom));
    // Past the source: the right column and the top row are palette entry 255.
    for (int y = 0; y < 240; ++y)
        ASSERT_EQ(255, red(319, y)) << "row " << y;
    for (int x = 0; x < 320; ++x)
        ASSERT_EQ(255, red(x, 0)) << "column " << x;
    // Rows 1 and 2 from the top show source row 0, row 3 source row 1 (which starts with 2).
    EXPECT_EQ(0, red(0, 1));
    EXPECT_EQ(0, red(0, 2));
    EXPECT_EQ(2, red(0, 3));
}

TEST_F(GifAnimationTest, NoGlobalTableTakesColoursFromTheLocalTable) {
    const std::vector<std::uint8_t> indices{0, 1, 2, 3};
    LoadFile(GifBytes().Header(2, 2, {}).Image(2, 2, 2, LiteralCodeStream(indices, 2),
                                               {kRed, kGreen, kBlue, kWhite}));
    ASSERT_EQ(1, anim.GetFrameCount());
    const std::uint8_t* bits = anim.GetFrameBits(0);
    EXPECT_EQ(kRed, PixelAt(bits, 0, 119));
    EXPECT_EQ(kGreen, PixelAt(bits, 160, 119));
    EXPECT_EQ(kBlue, PixelAt(bits, 0, 239));
    EXPECT_EQ(kWhite, PixelAt(bits, 160, 239));
}

TEST_F(GifAnimationTest, TwoColourImageUsesClearFourAndGrowsToFourBits) {
    // clear(4) 1 0 6 8 end(5): code 6 = "10", code 8 is the entry it completes = "101". After
    // the third code the next code is 9 = 2^3 + 1 and the width becomes 4 bits.
    const auto codes = PackCodes({{4, 3}, {1, 3}, {0, 3}, {6, 3}, {8, 4}, {5, 4}});
    LoadFile(GifBytes().Header(7, 1, {kRed, kWhite}).Image(7, 1, 2, codes));
    ASSERT_EQ(1, anim.GetFrameCount());
    const std::vector<int> expected{1, 0, 1, 0, 1, 0, 1};
    for (int c = 0; c < 7; ++c) {
        const int x = static_cast<int>(std::lround(c * 320.0 / 7));
        EXPECT_EQ(expected[c] ? kWhite : kRed, PixelAt(anim.GetFrameBits(0), x, 239)) << c;
    }
    // A one-row image fills the lower half; the upper rows fall past it: entry 255, unset, black.
    EXPECT_EQ(kBlack, PixelAt(anim.GetFrameBits(0), 0, 0));
}

TEST_F(GifAnimationTest, DelayCarriesToImagesWithoutTheirOwnControlBlock) {
    const auto one = LiteralCodeStream(Fill(4, 1), 2);
    LoadFile(GifBytes()
                 .Header(2, 2, {kRed, kGreen})
                 .Image(2, 2, 2, one) // before any control block: delay 0
                 .Gce(7)
                 .Image(2, 2, 2, one)
                 .Image(2, 2, 2, one) // takes 7
                 .Gce(12, 1)
                 .Image(2, 2, 2, one)
                 .Trailer());
    ASSERT_EQ(4, anim.GetFrameCount());
    EXPECT_EQ(0, anim.GetFrameDelay(0));
    EXPECT_EQ(7, anim.GetFrameDelay(1));
    EXPECT_EQ(7, anim.GetFrameDelay(2));
    EXPECT_EQ(12, anim.GetFrameDelay(3));
}

TEST_F(GifAnimationTest, InterlacedImageWithLocalTableIsDeinterlacedAndTheTableStays) {
    // Ten rows, each row filled with its own number; sent in the four interlace passes.
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    std::vector<std::uint8_t> stream;
    for (int row : order)
        for (int x = 0; x < 3; ++x)
            stream.push_back(static_cast<std::uint8_t>(row));
    LoadFile(GifBytes()
                 .Header(3, 10, {kGreen, kGreen})
                 .Image(3, 10, 4, LiteralCodeStream(stream, 4), IndexPalette(16), true)
                 .Image(1, 1, 2, LiteralCodeStream(std::vector<std::uint8_t>{3}, 2)));
    ASSERT_EQ(2, anim.GetFrameCount());
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(row, IndexAt(0, 1, row, 3, 10)) << "row " << row;
    // The second image has no table of its own: the local table of the first is still in force.
    EXPECT_EQ(IndexPalette(16)[3], PixelAt(anim.GetFrameBits(1), 10, 200));
}

TEST_F(GifAnimationTest, FramesOutOfRangeGiveNoPictureAndNoDelay) {
    LoadFile(GifBytes()
                 .Header(1, 1, {kRed, kGreen})
                 .Gce(5)
                 .Image(1, 1, 2, LiteralCodeStream(Fill(1, 1), 2)));
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_NE(nullptr, anim.GetFrameBits(0));
    EXPECT_EQ(nullptr, anim.GetFrameBits(1));
    EXPECT_EQ(nullptr, anim.GetFrameBits(-1));
    EXPECT_EQ(0, anim.GetFrameDelay(1));
    EXPECT_EQ(0, anim.GetFrameDelay(-1));

    GifAnimation empty;
    EXPECT_EQ(0, empty.GetFrameCount());
    EXPECT_EQ(nullptr, empty.GetFrameBits(0));
}

TEST_F(GifAnimationTest, SecondLoadReplacesFramesAndAFailedLoadKeepsThem) {
    const auto one = LiteralCodeStream(Fill(1, 1), 2);
    LoadFile(GifBytes().Header(1, 1, {kBlack, kRed}).Gce(4).Image(1, 1, 2, one).Image(1, 1, 2, one),
             "a.gif");
    ASSERT_EQ(2, anim.GetFrameCount());
    LoadFile(GifBytes().Header(1, 1, {kBlack, kBlue}).Image(1, 1, 2, one), "b.gif");
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(kBlue, PixelAt(anim.GetFrameBits(0), 0, 239));
    EXPECT_EQ(0, anim.GetFrameDelay(0)); // the delay starts at 0 again in every file

    const std::uint8_t* kept = anim.GetFrameBits(0);
    EXPECT_EQ(0, anim.Load((dir.path() / "missing.gif").string()));
    EXPECT_EQ(0, anim.Load(dir.path().string())); // a folder opens but cannot be read
    std::filesystem::create_directory(dir.path() / "folder.gif");
    EXPECT_EQ(0, anim.Load((dir.path() / "folder.gif").string()));
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(kept, anim.GetFrameBits(0));
    EXPECT_EQ(kBlue, PixelAt(anim.GetFrameBits(0), 0, 239));

    // A file that opens but holds no image: success with no frames.
    std::ofstream(dir.path() / "empty.gif") << "GIF89a";
    EXPECT_EQ(1, anim.Load((dir.path() / "empty.gif").string()));
    EXPECT_EQ(0, anim.GetFrameCount());
}

TEST_F(GifAnimationTest, TheNextFileReusesThePicturesOfTheLastAndOverwritesThemWhole) {
    // Three red frames, then a file of two frames, one green and one scaled from 2 x 2 blue:
    // the second file's pictures are the first file's memory, and nothing red is left in them.
    const auto one = LiteralCodeStream(Fill(1, 1), 2);
    LoadFile(GifBytes()
                 .Header(1, 1, {kBlack, kRed})
                 .Image(1, 1, 2, one)
                 .Image(1, 1, 2, one)
                 .Image(1, 1, 2, one),
             "red.gif");
    ASSERT_EQ(3, anim.GetFrameCount());
    std::set<const std::uint8_t*> first;
    for (int i = 0; i < 3; ++i)
        first.insert(anim.GetFrameBits(i));

    LoadFile(GifBytes()
                 .Header(2, 2, {kBlack, kGreen, kBlue})
                 .Image(1, 1, 2, one)
                 .Image(2, 2, 2, LiteralCodeStream(Fill(4, 2), 2)),
             "green-blue.gif");
    ASSERT_EQ(2, anim.GetFrameCount());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(first.count(anim.GetFrameBits(i)), 1u) << "frame " << i << " is a new block";
    GifAnimation fresh;
    ASSERT_EQ(1, fresh.Load((dir.path() / "green-blue.gif").string()));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(0, std::memcmp(anim.GetFrameBits(i), fresh.GetFrameBits(i), 230400))
            << "frame " << i << " differs from a fresh decoder's";
}

TEST_F(GifAnimationTest, CodeStreamEndingEarlyLeavesEntryZero) {
    // Three literals of index 3 and no end code: the rest of the 4 x 4 image stays index 0.
    const auto codes = PackCodes({{4, 3}, {3, 3}, {3, 3}, {3, 3}});
    LoadFile(GifBytes().Header(4, 4, {kRed, kGreen, kBlue, kWhite}).Image(4, 4, 2, codes));
    ASSERT_EQ(1, anim.GetFrameCount());
    const std::uint8_t* bits = anim.GetFrameBits(0);
    EXPECT_EQ(kWhite, PixelAt(bits, 0, 60));   // source (0, 0)
    EXPECT_EQ(kWhite, PixelAt(bits, 160, 60)); // source (2, 0)
    EXPECT_EQ(kRed, PixelAt(bits, 200, 60));   // source (3, 0)
    EXPECT_EQ(kRed, PixelAt(bits, 60, 120));   // source (1, 1)
}

TEST_F(GifAnimationTest, PaletteEntriesNoTableSetAreBlack) {
    const auto seven = LiteralCodeStream(Fill(1, 7), 3);
    LoadFile(GifBytes().Header(1, 1, IndexPalette(8)).Image(1, 1, 3, seven), "full.gif");
    EXPECT_EQ(IndexPalette(8)[7], PixelAt(anim.GetFrameBits(0), 0, 239));
    // The next file sets only two entries: entry 7 must not keep the first file's colour.
    LoadFile(GifBytes().Header(1, 1, {kRed, kGreen}).Image(1, 1, 3, seven), "small.gif");
    EXPECT_EQ(kBlack, PixelAt(anim.GetFrameBits(0), 0, 239));
}

TEST_F(GifAnimationTest, ExtensionsAreSkippedWholeAndUnknownBytesEndTheFile) {
    const auto one = LiteralCodeStream(Fill(1, 1), 2);
    const std::vector<std::uint8_t> netscape{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    const std::vector<std::uint8_t> xmp{'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P'};
    LoadFile(GifBytes()
                 .Header(1, 1, {kBlack, kRed})
                 .Extension(0xFF, {netscape, {1, 0, 0}})
                 .Extension(0xFF, {xmp, Fill(255, 'x'), Fill(40, 'y')}) // many sub-blocks
                 .Extension(0xFE, {Fill(10, 'a'), Fill(20, 'b')})       // two-block comment
                 .Extension(0xFE, {})                                   // empty comment
                 .Extension(0x01, {Fill(12, 0), Fill(5, 'T')})          // plain text
                 .Extension(0x99, {Fill(3, 1)})                         // unknown label
                 .Gce(6)
                 .Image(1, 1, 2, one)
                 .Raw({0x00}) // not a block: decoding ends here
                 .Image(1, 1, 2, one)
                 .Trailer());
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(6, anim.GetFrameDelay(0));
    EXPECT_EQ(kRed, PixelAt(anim.GetFrameBits(0), 0, 239));

    LoadFile(
        GifBytes().Header(1, 1, {kBlack, kRed}).Image(1, 1, 2, one).Trailer().Image(1, 1, 2, one),
        "trailer.gif");
    EXPECT_EQ(1, anim.GetFrameCount());
}

TEST_F(GifAnimationTest, EveryTruncationOfAFileLoadsWithoutOverrun) {
    std::vector<std::uint8_t> indices(20 * 15);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<std::uint8_t>(i % 64);
    GifBytes gif;
    gif.Header(20, 15, IndexPalette(64))
        .Extension(0xFE, {Fill(30, 'c')})
        .Gce(5)
        .Image(20, 15, 8, GrowingLiteralStream(indices, 8), IndexPalette(4))
        .Gce(6)
        .Image(20, 15, 8, LiteralCodeStream(indices, 8), {}, true)
        .Image(10, 10, 8, GrowingLiteralStream(indices, 8, false))
        .Trailer();
    const auto& full = gif.bytes();
    anim.LoadBytes(full);
    ASSERT_EQ(3, anim.GetFrameCount());
    int last = 0;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        // Each prefix in a heap block of exactly its size: the sanitizer build sees any overrun.
        std::vector<std::uint8_t> prefix(full.begin(), full.begin() + static_cast<long>(n));
        anim.LoadBytes(prefix);
        ASSERT_LE(anim.GetFrameCount(), 3) << n;
        ASSERT_GE(anim.GetFrameCount(), last) << n;
        last = anim.GetFrameCount();
    }
}

TEST_F(GifAnimationTest, MoreOutputThanTheImageHoldsKeepsTheFirstPixels) {
    std::vector<std::uint8_t> many(100);
    std::iota(many.begin(), many.end(), 0);
    LoadFile(GifBytes()
                 .Header(2, 2, IndexPalette())
                 .Image(2, 2, 8, LiteralCodeStream(many, 8))
                 .Image(2, 2, 8, GrowingLiteralStream(many, 8)));
    ASSERT_EQ(2, anim.GetFrameCount());
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(0, IndexAt(f, 0, 0, 2, 2));
        EXPECT_EQ(1, IndexAt(f, 1, 0, 2, 2));
        EXPECT_EQ(2, IndexAt(f, 0, 1, 2, 2));
        EXPECT_EQ(3, IndexAt(f, 1, 1, 2, 2));
    }
}

TEST_F(GifAnimationTest, MoreCodesThanTheTableHoldsEndTheImage) {
    // 6000 literals without a clear code: the table holds 5200, the rest is not decoded.
    std::vector<std::uint8_t> literals(6000);
    for (std::size_t i = 0; i < literals.size(); ++i)
        literals[i] = static_cast<std::uint8_t>(1 + i % 200);
    LoadFile(GifBytes()
                 .Header(100, 100, IndexPalette())
                 .Image(100, 100, 8, GrowingLiteralStream(literals, 8))
                 .Image(1, 1, 8, LiteralCodeStream(Fill(1, 9), 8)));
    ASSERT_EQ(2, anim.GetFrameCount());
    EXPECT_EQ(1, IndexAt(0, 0, 0, 100, 100));
    EXPECT_EQ(1 + 5199 % 200, IndexAt(0, 99, 51, 100, 100)); // pixel 5199
    EXPECT_EQ(0, IndexAt(0, 0, 52, 100, 100));               // pixel 5200 never came
    EXPECT_EQ(9, IndexAt(1, 0, 0, 1, 1));
}

TEST_F(GifAnimationTest, TableCodesNamingUndefinedEntriesEndTheImage) {
    // m = 2: first table code 6. With two entries collected, 6 and 7 are defined (7 being
    // completed by this very code); 8 (the code it would itself become) and 13 are not.
    for (unsigned bad : {8u, 13u}) {
        const auto codes = PackCodes({{4, 3}, {1, 3}, {2, 3}, {bad, 4}, {3, 4}, {5, 4}});
        LoadFile(GifBytes()
                     .Header(4, 1, {kRed, kGreen, kBlue, kWhite})
                     .Image(4, 1, 2, codes)
                     .Image(1, 1, 2, LiteralCodeStream(Fill(1, 3), 2)));
        ASSERT_EQ(2, anim.GetFrameCount()) << bad;
        const std::uint8_t* bits = anim.GetFrameBits(0);
        EXPECT_EQ(kGreen, PixelAt(bits, 0, 239));
        EXPECT_EQ(kBlue, PixelAt(bits, 80, 239));
        EXPECT_EQ(kRed, PixelAt(bits, 160, 239)) << "nothing after the bad code";
        EXPECT_EQ(kWhite, PixelAt(anim.GetFrameBits(1), 0, 239));
    }
    // A table code before any entry is ignored.
    const auto codes = PackCodes({{4, 3}, {7, 3}, {2, 3}, {5, 3}});
    LoadFile(GifBytes().Header(1, 1, {kRed, kGreen, kBlue, kWhite}).Image(1, 1, 2, codes));
    EXPECT_EQ(kBlue, PixelAt(anim.GetFrameBits(0), 0, 239));
}

TEST_F(GifAnimationTest, ImagesThatCannotBeDecodedGiveNoFrameAndTheFileGoesOn) {
    const auto good = LiteralCodeStream(Fill(1, 1), 2);
    GifBytes gif;
    gif.Header(1, 1, {kBlack, kRed});
    for (unsigned minCodeSize : {0u, 1u, 9u, 12u, 255u})
        gif.Image(1, 1, minCodeSize, good);
    gif.Image(0, 10, 2, good).Image(10, 0, 2, good);
    gif.Image(65535, 65535, 2, good); // far larger than any effect: never allocated
    gif.Image(2049, 2048, 2, good);   // just over the cap
    gif.Image(1, 1, 2, good).Trailer();
    LoadFile(gif);
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(kRed, PixelAt(anim.GetFrameBits(0), 0, 239));

    // The largest image allowed is decoded, every pixel of it.
    LoadFile(
        GifBytes().Header(1, 1, {kBlack, kRed}).Image(2048, 2048, 2, RunStream(1, 2048 * 2048, 2)),
        "cap.gif");
    ASSERT_EQ(1, anim.GetFrameCount());
    EXPECT_EQ(kRed, PixelAt(anim.GetFrameBits(0), 0, 0));
    EXPECT_EQ(kRed, PixelAt(anim.GetFrameBits(0), 319, 239));
}

TEST_F(GifAnimationTest, ManyHugeImagesEndTheFileOnceThePixelBudgetIsSpent) {
    // Each image is the largest allowed, 4 Mi pixels from a few kilobytes of codes; the file
    // may decode 32 Mi pixels in all.
    const auto huge = RunStream(1, 2048 * 2048, 2);
    GifBytes gif;
    gif.Header(1, 1, {kBlack, kRed});
    for (int i = 0; i < 10; ++i)
        gif.Image(2048, 2048, 2, huge);
    gif.Image(1, 1, 2, LiteralCodeStream(Fill(1, 1), 2)).Trailer();
    LoadFile(gif);
    EXPECT_EQ(8, anim.GetFrameCount());
    EXPECT_EQ(kRed, PixelAt(anim.GetFrameBits(7), 160, 120));
}

TEST_F(GifAnimationTest, FrameCountAndFileSizeAreCapped) {
    GifBytes gif;
    gif.Header(1, 1, {kBlack, kRed});
    const auto one = LiteralCodeStream(Fill(1, 1), 2);
    for (int i = 0; i < 600; ++i)
        gif.Image(1, 1, 2, one);
    LoadFile(gif.Trailer());
    EXPECT_EQ(static_cast<int>(GifAnimation::kMaxFrames), anim.GetFrameCount());

    // A file over the size cap is refused like one that cannot be read; the frames stay.
    const auto big = dir.path() / "big.gif";
    gif.WriteTo(big);
    std::filesystem::resize_file(big, GifAnimation::kMaxFileBytes + 1);
    EXPECT_EQ(0, anim.Load(big.string()));
    EXPECT_EQ(static_cast<int>(GifAnimation::kMaxFrames), anim.GetFrameCount());
}

} // namespace
} // namespace kelo
