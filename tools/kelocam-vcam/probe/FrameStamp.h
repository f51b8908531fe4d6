// A known picture with a frame counter in it, written into the feed block the way the studio
// writes (bottom-up BGR), and read back from the bridge's upright YUV output. Lets a test or a
// benchmark tell which frame came out, and whether it came out the right way up.
//
// Upright layout of the 320 x 240 picture:
//   rows 0..39     the stamp: two rows of 16 blocks of 20 x 20 pixels; white = 1, black = 0;
//                  first row the counter's 16 bits (most significant left), second row their
//                  complement, so that black or torn frames never read as a counter
//   rows 40..139   red (left half), green (right half)
//   rows 140..239  blue (left half), white (right half)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kelo::vcam::probe {

inline constexpr std::uint32_t kStampModulo = 1u << 16;

// Fills a feed frame (kFeedBytes, bottom-up BGR) with the picture and `counter` (mod 2^16).
void PaintTestPicture(std::uint8_t* feed, std::uint32_t counter);

// Reads the counter from a luma plane of any size (the picture scaled as a whole).
std::optional<std::uint32_t> ReadStamp(const std::uint8_t* luma, int width, int height,
                                       std::ptrdiff_t stride);

// The expected luma of the four quadrants (BT.601 limited range): red, green, blue, white.
struct QuadrantLuma {
    int topLeft = 0;
    int topRight = 0;
    int bottomLeft = 0;
    int bottomRight = 0;
};
QuadrantLuma ExpectedQuadrantLuma();
// The luma measured at the middle of each quadrant.
QuadrantLuma MeasureQuadrantLuma(const std::uint8_t* luma, int width, int height,
                                 std::ptrdiff_t stride);
// Each measured quadrant within `tolerance` of the expected value: upright and not mirrored.
bool LooksUpright(const std::uint8_t* luma, int width, int height, std::ptrdiff_t stride,
                  int tolerance = 12);

// The studio's caption on an upright 320 x 240 I420 picture: a band of pure red text, 5 to 25 rows
// high, in the lowest quarter on the left. A frame turned the wrong way round shows there either
// no red at all or the test pattern's full-height red bar.
bool CaptionStandsAtTheBottomLeft(const std::uint8_t* i420);

// An I420 picture that is black as the contract means it: Y 16, U and V 128 everywhere.
bool IsBlackI420(const std::uint8_t* i420, int width, int height);

} // namespace kelo::vcam::probe
