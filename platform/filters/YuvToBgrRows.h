// Rows of YUY2 or I420 into rows of BGR bytes with exactly the arithmetic of GStreamer 1.22's
// videoconvert (default settings) for those formats, so that a frame converted here is
// byte-identical to one converted there:
// - the colour matrix is its 8-bit one: the sample less 128, doubled into a 16-bit lane
//   (x * 257), multiplied keeping the high half, summed with 16-bit wrap-around, saturated to a
//   signed byte and 128 added back. Its five coefficients come from the same double-precision
//   matrix, rounded the same way (YuvToBgrCoefficientsFor);
// - I420's chroma is taken as it lies, one sample for each 2 x 2 block (videoconvert's own
//   I420 -> BGR path);
// - YUY2's chroma is widened horizontally as videoconvert's generic path does it: linear
//   (1/4, 3/4) for centred siting, the pair's average between co-sited samples, the first
//   pixel and the last pixel of an even row taken as they are.
// The vector code (SSSE3, AVX2 where the processor has it) gives the same bytes as the scalar
// code for every input; each level is selectable so that tests can hold every level to it.
#pragma once

#include <cstdint>

namespace kelo {

// The five multipliers of the 8-bit matrix (Q8): luma for all three channels, V into red,
// U into blue, U and V into green.
struct YuvToBgrCoefficients {
    std::int16_t luma = 0;
    std::int16_t vToRed = 0;
    std::int16_t uToBlue = 0;
    std::int16_t uToGreen = 0;
    std::int16_t vToGreen = 0;
};

enum class YuvRange { Limited, Full };

// Kr and Kb of the matrix (BT.601: 0.299, 0.114; BT.709: 0.2126, 0.0722), the range of the
// samples, RGB out at full range. Returns false if the matrix is not of the shape that
// videoconvert runs with its fast 8-bit code (then it must be left to videoconvert).
[[nodiscard]] bool YuvToBgrCoefficientsFor(double kr, double kb, YuvRange range,
                                           YuvToBgrCoefficients* out);

enum class ChromaSiting { Centred, Cosited };

enum class SimdLevel { Scalar, Ssse3, Avx2 };

// The best level this processor runs (asked once).
[[nodiscard]] SimdLevel BestSimdLevel();

// One row: `width` pixels of YUY2 (a row of (width + 1) / 2 pairs) into width * 3 bytes.
void Yuy2RowToBgr(const std::uint8_t* yuy2, int width, ChromaSiting siting,
                  const YuvToBgrCoefficients& k, std::uint8_t* bgr,
                  SimdLevel level = BestSimdLevel());

// One row of I420: `width` luma bytes and the (width + 1) / 2 chroma bytes of its row pair.
void I420RowToBgr(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width,
                  const YuvToBgrCoefficients& k, std::uint8_t* bgr,
                  SimdLevel level = BestSimdLevel());

} // namespace kelo
