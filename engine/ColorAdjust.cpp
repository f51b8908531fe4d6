#include "engine/ColorAdjust.h"

#include "engine/FrameMat.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KELO_HLS_VECTOR_ROUTE 1
#endif

namespace kelo {

namespace {

// The colour codes of the conversion pair. They are the RGB-order pair although the bytes are
// blue, green, red: only lightness and saturation change, so the result equals that of the
// BGR-order pair, and keeping these codes keeps the frames identical to earlier releases.
constexpr int kRgbToHls = cv::COLOR_RGB2HLS; // 53
constexpr int kHlsToRgb = cv::COLOR_HLS2RGB; // 61

using Lut = std::array<std::uint8_t, 256>;

Lut OffsetLut(long long offset) {
    Lut lut{};
    for (int v = 0; v < 256; ++v)
        lut[static_cast<std::size_t>(v)] =
            static_cast<std::uint8_t>(std::clamp<long long>(v + offset, 0, 255));
    return lut;
}

// Lightness (second byte) and saturation (third byte) of 8-bit HLS pixels shifted and clamped.
void ShiftHlsBytes(cv::Mat& mat, int lightnessShift, int saturationShift) {
    if (lightnessShift == 0 && saturationShift == 0)
        return; // both tables are the identity
    const int channels = mat.channels();
    // One table per channel, hue unchanged; cv::LUT runs it over whole rows.
    cv::Mat luts(1, 256, CV_8UC(channels));
    const Lut lightness = OffsetLut(lightnessShift);
    const Lut saturation = OffsetLut(saturationShift);
    for (int v = 0; v < 256; ++v) {
        std::uint8_t* entry = luts.ptr<std::uint8_t>(0) + v * channels;
        for (int c = 0; c < channels; ++c)
            entry[c] = static_cast<std::uint8_t>(v);
        entry[1] = lightness[static_cast<std::size_t>(v)];
        entry[2] = saturation[static_cast<std::size_t>(v)];
    }
    cv::LUT(mat, luts, mat);
}

// The first three bytes of every 8-bit pixel offset and clamped (a fourth keeps its value).
void OffsetChannelBytes(cv::Mat& mat, int blueOffset, int greenOffset, int redOffset) {
    if (blueOffset == 0 && greenOffset == 0 && redOffset == 0)
        return; // every table is the identity
    const int channels = mat.channels();
    const std::array<Lut, 3> luts = {OffsetLut(blueOffset), OffsetLut(greenOffset),
                                     OffsetLut(redOffset)};
    // One table per channel; cv::LUT runs it over rows.
    cv::Mat table(1, 256, CV_8UC(channels));
    for (int v = 0; v < 256; ++v) {
        std::uint8_t* entry = table.ptr<std::uint8_t>(0) + v * channels;
        for (int c = 0; c < channels; ++c)
            entry[c] = c < 3 ? luts[static_cast<std::size_t>(c)][static_cast<std::size_t>(v)]
                             : static_cast<std::uint8_t>(v);
    }
    cv::LUT(mat, table, mat);
}

// The adjustment through OpenCV's conversion pair: the reference every other route matches.
void AdjustByConversion(cv::Mat& mat, const EffectState::Values& values) {
    cv::cvtColor(mat, mat, kRgbToHls);
    ShiftHlsBytes(mat, values.lightnessShift, values.saturationShift);
    cv::cvtColor(mat, mat, kHlsToRgb);
    OffsetChannelBytes(mat, values.blueOffset, values.greenOffset, values.redOffset);
}

#ifdef KELO_HLS_VECTOR_ROUTE

// The same adjustment eight pixels at a time in one pass, with no intermediate frames: the
// conversion pair's own float arithmetic, operation for operation, as OpenCV 4.6 runs it for
// 8-bit frames on a CPU with AVX2 and FMA (its vector loop: products by 1/255 rather than
// divisions, the hue's fused multiply-add, the sector selects of the way back), then both
// tables as clamped integer additions. Only the vector loop is reproduced: OpenCV converts the
// last (width % 8) pixels of a row with its scalar code, which rounds a few hues differently,
// so those pixels go through the conversion pair itself. Whether this machine's OpenCV gives
// the same bytes is checked once per process (VectorRoute); the tests compare the two over every
// 8-bit colour. Where the CPU has AVX-512, sixteen pixels go at a time through the same
// operations in wider registers (each lane computes alone, so the bytes are the same).
#define KELO_AVX2 __attribute__((target("avx2,fma")))
#define KELO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx2,fma")))

// The adjustment's values as the vector code takes them; the shifts clamped to +-256 give the
// same clamped sums for every byte and cannot overflow.
struct VectorShifts {
    int lightness = 0;
    int saturation = 0;
    int offsets[3] = {0, 0, 0}; // first, second, third byte
};

int ClampShift(int shift) {
    return std::clamp(shift, -256, 256);
}

// Byte shuffles: the three channels of eight packed pixels apart, and back together.
struct PixelShuffles {
    alignas(16) std::int8_t fromLow[3][16];
    alignas(16) std::int8_t fromHigh[3][16];
    alignas(16) std::int8_t firstTwoLow[16];  // bytes 0..15 from channels 0 and 1
    alignas(16) std::int8_t thirdLow[16];     // bytes 0..15 from channel 2
    alignas(16) std::int8_t firstTwoHigh[16]; // bytes 16..23
    alignas(16) std::int8_t thirdHigh[16];

    PixelShuffles() {
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 16; ++k) {
                const int at = 3 * k + c;
                fromLow[c][k] = static_cast<std::int8_t>(k < 8 && at < 16 ? at : -1);
                fromHigh[c][k] = static_cast<std::int8_t>(k < 8 && at >= 16 ? at - 16 : -1);
            }
        // Channels 0 and 1 arrive as one register (pixels 0..7 of each), channel 2 alone.
        for (int k = 0; k < 16; ++k) {
            const int low = k, high = 16 + k;
            firstTwoLow[k] = static_cast<std::int8_t>(low % 3 < 2 ? low / 3 + 8 * (low % 3) : -1);
            thirdLow[k] = static_cast<std::int8_t>(low % 3 == 2 ? low / 3 : -1);
            firstTwoHigh[k] =
                static_cast<std::int8_t>(k < 8 && high % 3 < 2 ? high / 3 + 8 * (high % 3) : -1);
            thirdHigh[k] = static_cast<std::int8_t>(k < 8 && high % 3 == 2 ? high / 3 : -1);
        }
    }
};

const PixelShuffles kShuffles;

KELO_AVX2 inline __m128i Mask(const std::int8_t* bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

KELO_AVX2 inline __m256 Channel(__m128i low, __m128i high, int c) {
    const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(low, Mask(kShuffles.fromLow[c])),
                                       _mm_shuffle_epi8(high, Mask(kShuffles.fromHigh[c])));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

KELO_AVX2 inline __m256i ClampByte(__m256i v) {
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// round(v * 255) saturated to a byte, as the conversion's packing stores it, then shifted and
// clamped (the table that follows it).
KELO_AVX2 inline __m256i ScaledByte(__m256 v, int shift) {
    const __m256i byte = ClampByte(_mm256_cvtps_epi32(_mm256_mul_ps(v, _mm256_set1_ps(255.f))));
    return ClampByte(_mm256_add_epi32(byte, _mm256_set1_epi32(shift)));
}

KELO_AVX2 inline __m128i EightBytes(__m256i v) {
    const __m128i words =
        _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_packus_epi16(words, words);
}

KELO_AVX2 inline __m256 Select(__m256 mask, __m256 ifSet, __m256 otherwise) {
    return _mm256_blendv_ps(otherwise, ifSet, mask);
}

KELO_AVX2 inline __m256 Below(__m256 a, __m256 limit) {
    return _mm256_cmp_ps(a, limit, _CMP_LT_OQ);
}

KELO_AVX2 inline __m256 UpTo(__m256 a, __m256 limit) {
    return _mm256_cmp_ps(a, limit, _CMP_LE_OQ);
}

KELO_AVX2 void AdjustEightPixels(std::uint8_t* p, const VectorShifts& shifts) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
    const __m256 inv255 = _mm256_set1_ps(1.f / 255.f);
    const __m256 half = _mm256_set1_ps(0.5f);

    // To HLS (the RGB-order code: the first byte is taken as red).
    const __m256 r = _mm256_mul_ps(Channel(low, high, 0), inv255);
    const __m256 g = _mm256_mul_ps(Channel(low, high, 1), inv255);
    const __m256 b = _mm256_mul_ps(Channel(low, high, 2), inv255);
    const __m256 maxRgb = _mm256_max_ps(_mm256_max_ps(r, g), b);
    const __m256 minRgb = _mm256_min_ps(_mm256_min_ps(r, g), b);
    const __m256 diff = _mm256_sub_ps(maxRgb, minRgb);
    const __m256 sum = _mm256_add_ps(maxRgb, minRgb);
    __m256 l = _mm256_mul_ps(sum, half);
    __m256 s = _mm256_div_ps(diff, Select(_mm256_cmp_ps(l, half, _CMP_LT_OQ), sum,
                                          _mm256_sub_ps(_mm256_set1_ps(2.f), sum)));
    const __m256 redMax = _mm256_cmp_ps(maxRgb, r, _CMP_EQ_OQ);
    const __m256 greenMax = _mm256_cmp_ps(maxRgb, g, _CMP_EQ_OQ);
    const __m256 hueDiff = Select(redMax, _mm256_sub_ps(g, b),
                                  Select(greenMax, _mm256_sub_ps(b, r), _mm256_sub_ps(r, g)));
    const __m256 huePart =
        Select(redMax, _mm256_and_ps(_mm256_cmp_ps(g, b, _CMP_LT_OQ), _mm256_set1_ps(360.f)),
               Select(greenMax, _mm256_set1_ps(120.f), _mm256_set1_ps(240.f)));
    const __m256 invDiff = _mm256_div_ps(_mm256_set1_ps(60.f), diff);
    __m256 h = _mm256_mul_ps(_mm256_fmadd_ps(hueDiff, invDiff, huePart), half); // hue 0..180
    const __m256 coloured = _mm256_cmp_ps(diff, _mm256_set1_ps(FLT_EPSILON), _CMP_GT_OQ);
    h = _mm256_and_ps(coloured, h);
    s = _mm256_and_ps(coloured, s);
    const __m256i hue = ClampByte(_mm256_cvtps_epi32(h));
    const __m256i lightness = ScaledByte(l, shifts.lightness);
    const __m256i saturation = ScaledByte(s, shifts.saturation);

    // And back.
    const __m256 hf = _mm256_cvtepi32_ps(hue);
    l = _mm256_mul_ps(_mm256_cvtepi32_ps(lightness), inv255);
    s = _mm256_mul_ps(_mm256_cvtepi32_ps(saturation), inv255);
    const __m256 ls = _mm256_mul_ps(l, s);
    const __m256 e0 = Select(_mm256_cmp_ps(l, half, _CMP_LE_OQ), ls, _mm256_sub_ps(s, ls));
    const __m256 hsRaw = _mm256_mul_ps(hf, _mm256_set1_ps(6.f / 180.f));
    const __m256 whole = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(hsRaw));
    const __m256 hs = _mm256_sub_ps(hsRaw, whole);
    const __m256 turns =
        _mm256_cvtepi32_ps(_mm256_cvttps_epi32(_mm256_mul_ps(hsRaw, _mm256_set1_ps(1.f / 6.f))));
    const __m256 sector = _mm256_sub_ps(whole, _mm256_mul_ps(_mm256_set1_ps(6.f), turns));
    const __m256 e1 = _mm256_add_ps(hs, hs);
    const __m256 tab0 = _mm256_add_ps(l, e0);
    const __m256 tab1 = _mm256_sub_ps(l, e0);
    const __m256 tab2 = _mm256_fnmadd_ps(e0, e1, tab0);
    const __m256 tab3 = _mm256_fmadd_ps(e0, e1, tab1);
    const __m256 one = _mm256_set1_ps(1.f), two = _mm256_set1_ps(2.f), four = _mm256_set1_ps(4.f);
    const __m256 outB =
        Select(Below(sector, two), tab1,
               Select(UpTo(sector, two), tab3, Select(UpTo(sector, four), tab0, tab2)));
    const __m256 outG =
        Select(Below(sector, one), tab3,
               Select(UpTo(sector, two), tab0, Select(Below(sector, four), tab2, tab1)));
    const __m256 outR =
        Select(Below(sector, one), tab0,
               Select(Below(sector, two), tab2,
                      Select(Below(sector, four), tab1, Select(UpTo(sector, four), tab3, tab0))));
    // The RGB-order code writes red first.
    const __m128i first = EightBytes(ScaledByte(outR, shifts.offsets[0]));
    const __m128i second = EightBytes(ScaledByte(outG, shifts.offsets[1]));
    const __m128i third = EightBytes(ScaledByte(outB, shifts.offsets[2]));
    const __m128i firstTwo = _mm_unpacklo_epi64(first, second);
    const __m128i out0 = _mm_or_si128(_mm_shuffle_epi8(firstTwo, Mask(kShuffles.firstTwoLow)),
                                      _mm_shuffle_epi8(third, Mask(kShuffles.thirdLow)));
    const __m128i out1 = _mm_or_si128(_mm_shuffle_epi8(firstTwo, Mask(kShuffles.firstTwoHigh)),
                                      _mm_shuffle_epi8(third, Mask(kShuffles.thirdHigh)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), out1);
}

// GCC 12's AVX-512 headers start some conversions from an undefined register and warn of it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// One channel's bytes of eight pixels, in the low half.
KELO_AVX512 inline __m128i ChannelBytes(const std::uint8_t* group, int c) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(group + 16));
    return _mm_or_si128(_mm_shuffle_epi8(low, Mask(kShuffles.fromLow[c])),
                        _mm_shuffle_epi8(high, Mask(kShuffles.fromHigh[c])));
}

// One channel of two neighbouring groups of eight pixels as sixteen floats.
KELO_AVX512 inline __m512 Channel16(const std::uint8_t* p, int c) {
    return _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_unpacklo_epi64(ChannelBytes(p, c), ChannelBytes(p + 24, c))));
}

KELO_AVX512 inline __m512i ClampByte16(__m512i v) {
    return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}

KELO_AVX512 inline __m512i ScaledByte16(__m512 v, int shift) {
    const __m512i byte = ClampByte16(_mm512_cvtps_epi32(_mm512_mul_ps(v, _mm512_set1_ps(255.f))));
    return ClampByte16(_mm512_add_epi32(byte, _mm512_set1_epi32(shift)));
}

// Eight pixels' three channels (eight bytes each, in the low halves) packed back.
KELO_AVX512 inline void StoreEight(std::uint8_t* p, __m128i first, __m128i second, __m128i third) {
    const __m128i firstTwo = _mm_unpacklo_epi64(first, second);
    const __m128i out0 = _mm_or_si128(_mm_shuffle_epi8(firstTwo, Mask(kShuffles.firstTwoLow)),
                                      _mm_shuffle_epi8(third, Mask(kShuffles.thirdLow)));
    const __m128i out1 = _mm_or_si128(_mm_shuffle_epi8(firstTwo, Mask(kShuffles.firstTwoHigh)),
                                      _mm_shuffle_epi8(third, Mask(kShuffles.thirdHigh)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), out1);
}

// AdjustEightPixels for sixteen pixels: the same operations in the same order.
KELO_AVX512 void AdjustSixteenPixels(std::uint8_t* p, const VectorShifts& shifts) {
    const __m512 inv255 = _mm512_set1_ps(1.f / 255.f);
    const __m512 half = _mm512_set1_ps(0.5f);
    const __m512 r = _mm512_mul_ps(Channel16(p, 0), inv255);
    const __m512 g = _mm512_mul_ps(Channel16(p, 1), inv255);
    const __m512 b = _mm512_mul_ps(Channel16(p, 2), inv255);
    const __m512 maxRgb = _mm512_max_ps(_mm512_max_ps(r, g), b);
    const __m512 minRgb = _mm512_min_ps(_mm512_min_ps(r, g), b);
    const __m512 diff = _mm512_sub_ps(maxRgb, minRgb);
    const __m512 sum = _mm512_add_ps(maxRgb, minRgb);
    __m512 l = _mm512_mul_ps(sum, half);
    __m512 s =
        _mm512_div_ps(diff, _mm512_mask_blend_ps(_mm512_cmp_ps_mask(l, half, _CMP_LT_OQ),
                                                 _mm512_sub_ps(_mm512_set1_ps(2.f), sum), sum));
    const __mmask16 redMax = _mm512_cmp_ps_mask(maxRgb, r, _CMP_EQ_OQ);
    const __mmask16 greenMax = _mm512_cmp_ps_mask(maxRgb, g, _CMP_EQ_OQ);
    const __m512 hueDiff = _mm512_mask_blend_ps(
        redMax, _mm512_mask_blend_ps(greenMax, _mm512_sub_ps(r, g), _mm512_sub_ps(b, r)),
        _mm512_sub_ps(g, b));
    const __m512 huePart = _mm512_mask_blend_ps(
        redMax, _mm512_mask_blend_ps(greenMax, _mm512_set1_ps(240.f), _mm512_set1_ps(120.f)),
        _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(g, b, _CMP_LT_OQ), _mm512_set1_ps(360.f)));
    const __m512 invDiff = _mm512_div_ps(_mm512_set1_ps(60.f), diff);
    __m512 h = _mm512_mul_ps(_mm512_fmadd_ps(hueDiff, invDiff, huePart), half);
    const __mmask16 coloured = _mm512_cmp_ps_mask(diff, _mm512_set1_ps(FLT_EPSILON), _CMP_GT_OQ);
    h = _mm512_maskz_mov_ps(coloured, h);
    s = _mm512_maskz_mov_ps(coloured, s);
    const __m512i hue = ClampByte16(_mm512_cvtps_epi32(h));
    const __m512i lightness = ScaledByte16(l, shifts.lightness);
    const __m512i saturation = ScaledByte16(s, shifts.saturation);

    const __m512 hf = _mm512_cvtepi32_ps(hue);
    l = _mm512_mul_ps(_mm512_cvtepi32_ps(lightness), inv255);
    s = _mm512_mul_ps(_mm512_cvtepi32_ps(saturation), inv255);
    const __m512 ls = _mm512_mul_ps(l, s);
    const __m512 e0 =
        _mm512_mask_blend_ps(_mm512_cmp_ps_mask(l, half, _CMP_LE_OQ), _mm512_sub_ps(s, ls), ls);
    const __m512 hsRaw = _mm512_mul_ps(hf, _mm512_set1_ps(6.f / 180.f));
    const __m512 whole = _mm512_cvtepi32_ps(_mm512_cvttps_epi32(hsRaw));
    const __m512 hs = _mm512_sub_ps(hsRaw, whole);
    const __m512 turns =
        _mm512_cvtepi32_ps(_mm512_cvttps_epi32(_mm512_mul_ps(hsRaw, _mm512_set1_ps(1.f / 6.f))));
    const __m512 sector = _mm512_sub_ps(whole, _mm512_mul_ps(_mm512_set1_ps(6.f), turns));
    const __m512 e1 = _mm512_add_ps(hs, hs);
    const __m512 tab0 = _mm512_add_ps(l, e0);
    const __m512 tab1 = _mm512_sub_ps(l, e0);
    const __m512 tab2 = _mm512_fnmadd_ps(e0, e1, tab0);
    const __m512 tab3 = _mm512_fmadd_ps(e0, e1, tab1);
    const __m512 one = _mm512_set1_ps(1.f), two = _mm512_set1_ps(2.f), four = _mm512_set1_ps(4.f);
    const __mmask16 belowOne = _mm512_cmp_ps_mask(sector, one, _CMP_LT_OQ);
    const __mmask16 belowTwo = _mm512_cmp_ps_mask(sector, two, _CMP_LT_OQ);
    const __mmask16 upToTwo = _mm512_cmp_ps_mask(sector, two, _CMP_LE_OQ);
    const __mmask16 belowFour = _mm512_cmp_ps_mask(sector, four, _CMP_LT_OQ);
    const __mmask16 upToFour = _mm512_cmp_ps_mask(sector, four, _CMP_LE_OQ);
    // mask_blend(m, otherwise, ifSet).
    const __m512 outB = _mm512_mask_blend_ps(
        belowTwo, _mm512_mask_blend_ps(upToTwo, _mm512_mask_blend_ps(upToFour, tab2, tab0), tab3),
        tab1);
    const __m512 outG = _mm512_mask_blend_ps(
        belowOne, _mm512_mask_blend_ps(upToTwo, _mm512_mask_blend_ps(belowFour, tab1, tab2), tab0),
        tab3);
    const __m512 outR = _mm512_mask_blend_ps(
        belowOne,
        _mm512_mask_blend_ps(
            belowTwo,
            _mm512_mask_blend_ps(belowFour, _mm512_mask_blend_ps(upToFour, tab0, tab3), tab1),
            tab2),
        tab0);
    // Values are 0..255 already: the unsigned saturating narrowing only packs them.
    const __m128i first = _mm512_cvtusepi32_epi8(ScaledByte16(outR, shifts.offsets[0]));
    const __m128i second = _mm512_cvtusepi32_epi8(ScaledByte16(outG, shifts.offsets[1]));
    const __m128i third = _mm512_cvtusepi32_epi8(ScaledByte16(outB, shifts.offsets[2]));
    StoreEight(p, first, second, third);
    StoreEight(p + 24, _mm_unpackhi_epi64(first, first), _mm_unpackhi_epi64(second, second),
               _mm_unpackhi_epi64(third, third));
}

#pragma GCC diagnostic pop

KELO_AVX2 void AdjustRows(cv::Mat& mat, int vectorPixels, const VectorShifts& shifts) {
    for (int y = 0; y < mat.rows; ++y) {
        std::uint8_t* row = mat.ptr<std::uint8_t>(y);
        for (int x = 0; x < vectorPixels; x += 8)
            AdjustEightPixels(row + 3 * x, shifts);
    }
}

KELO_AVX512 void AdjustRowsWide(cv::Mat& mat, int vectorPixels, const VectorShifts& shifts) {
    for (int y = 0; y < mat.rows; ++y) {
        std::uint8_t* row = mat.ptr<std::uint8_t>(y);
        int x = 0;
        for (; x + 16 <= vectorPixels; x += 16)
            AdjustSixteenPixels(row + 3 * x, shifts);
        for (; x < vectorPixels; x += 8)
            AdjustEightPixels(row + 3 * x, shifts);
    }
}

enum class VectorWidth { None, Eight, Sixteen };

// The whole adjustment of a packed 3-channel 8-bit matrix: whole groups of eight pixels by the
// vector route, the rest of each row (fewer than eight pixels) through the conversion pair as a
// narrow strip, which OpenCV converts with the same scalar code as a row's last pixels.
void AdjustByVectors(cv::Mat& mat, const EffectState::Values& values, VectorWidth width) {
    const VectorShifts shifts{ClampShift(values.lightnessShift),
                              ClampShift(values.saturationShift),
                              {ClampShift(values.blueOffset), ClampShift(values.greenOffset),
                               ClampShift(values.redOffset)}};
    const int vectorPixels = mat.cols / 8 * 8;
    if (width == VectorWidth::Sixteen)
        AdjustRowsWide(mat, vectorPixels, shifts);
    else
        AdjustRows(mat, vectorPixels, shifts);
    if (vectorPixels == mat.cols)
        return;
    cv::Mat tail = mat.colRange(vectorPixels, mat.cols);
    cv::Mat strip = tail.clone();
    AdjustByConversion(strip, values);
    strip.copyTo(tail);
}

// The widest vector route that gives this machine's conversion pair's bytes: it needs AVX2 and
// FMA (AVX-512 for sixteen pixels), and OpenCV must run the loop it reproduces. Checked once per
// process on colours that tell the candidate loops apart (hues that a fused multiply-add rounds
// to another step) and a spread of others, with and without shifts, in rows of both group sizes.
bool RouteGivesConversionBytes(VectorWidth width) {
    static constexpr std::uint8_t kTelling[][3] = {
        {187, 204, 0},   {42, 56, 16},    {76, 104, 24},   {168, 192, 32},  {85, 98, 38},
        {53, 62, 42},    {87, 117, 45},   {77, 97, 49},    {88, 113, 53},   {149, 198, 58},
        {141, 196, 64},  {173, 229, 69},  {96, 114, 74},   {99, 117, 77},   {102, 120, 80},
        {166, 226, 82},  {107, 125, 85},  {102, 187, 87},  {166, 221, 89},  {117, 152, 92},
        {188, 214, 94},  {160, 205, 97},  {163, 208, 100}, {217, 255, 103}, {68, 94, 108},
        {171, 211, 115}, {180, 220, 124}, {153, 194, 134}, {198, 217, 141}, {198, 215, 147},
        {171, 212, 152}, {197, 216, 156}, {211, 228, 160}, {215, 232, 164}, {187, 228, 168},
        {216, 231, 171}, {231, 250, 174}, {126, 206, 178}, {222, 241, 181}, {225, 244, 184},
        {148, 208, 187}, {91, 199, 190},  {133, 168, 193}, {100, 188, 196}, {120, 172, 200},
        {180, 198, 204}, {130, 182, 210}, {139, 191, 219}, {187, 216, 247}};
    cv::Mat probe(64, 264, CV_8UC3);
    for (int y = 0; y < probe.rows; ++y)
        for (int x = 0; x < probe.cols; ++x) {
            cv::Vec3b& px = probe.at<cv::Vec3b>(y, x);
            px = cv::Vec3b(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x * 7 + y * 13),
                           static_cast<std::uint8_t>(x * 31 + y * 101));
        }
    // In the first row's groups of sixteen and in the groups of eight that end the next rows.
    for (std::size_t i = 0; i < std::size(kTelling); ++i) {
        const cv::Vec3b telling(kTelling[i][0], kTelling[i][1], kTelling[i][2]);
        const int n = static_cast<int>(i);
        probe.at<cv::Vec3b>(0, n) = telling;
        probe.at<cv::Vec3b>(1 + n / 8, 256 + n % 8) = telling;
    }
    EffectState::Values shifted;
    shifted.lightnessShift = 10;
    shifted.saturationShift = -20;
    shifted.blueOffset = 20;
    shifted.greenOffset = -20;
    shifted.redOffset = 5;
    for (const EffectState::Values& values : {EffectState::Values{}, shifted}) {
        cv::Mat expected = probe.clone();
        cv::Mat got = probe.clone();
        AdjustByConversion(expected, values);
        AdjustByVectors(got, values, width);
        if (cv::norm(expected, got, cv::NORM_INF) != 0)
            return false;
    }
    return true;
}

VectorWidth VectorRoute() {
    static const VectorWidth route = [] {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
            return VectorWidth::None;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && RouteGivesConversionBytes(VectorWidth::Sixteen))
            return VectorWidth::Sixteen;
        return RouteGivesConversionBytes(VectorWidth::Eight) ? VectorWidth::Eight
                                                             : VectorWidth::None;
    }();
    return route;
}

#endif // KELO_HLS_VECTOR_ROUTE

} // namespace

bool ColorAdjustVectorised() {
#ifdef KELO_HLS_VECTOR_ROUTE
    try {
        return VectorRoute() != VectorWidth::None;
    } catch (const cv::Exception&) {
        return false;
    }
#else
    return false;
#endif
}

HRESULT AdjustHls(FrameImage* frame, int lightnessShift, int saturationShift) {
    if (!frame)
        return E_POINTER;
    cv::Mat whole = FrameMat(*frame);
    if (whole.empty() || whole.channels() < 3)
        return E_FAIL;
    cv::Mat mat = whole(FrameRoi(*frame));
    const int channels = mat.channels();
    if (mat.depth() == CV_8U) {
        ShiftHlsBytes(mat, lightnessShift, saturationShift);
        return S_OK;
    }
    if (mat.depth() == CV_32F) {
        const float dl = static_cast<float>(lightnessShift);
        const float ds = static_cast<float>(saturationShift);
        for (int y = 0; y < mat.rows; ++y) {
            float* p = mat.ptr<float>(y);
            for (int x = 0; x < mat.cols; ++x, p += channels) {
                p[1] = std::clamp(p[1] + dl, 0.0f, 1.0f);
                p[2] = std::clamp(p[2] + ds, 0.0f, 1.0f);
            }
        }
        return S_OK;
    }
    return E_FAIL;
}

HRESULT ApplyChannelOffsets(FrameImage* frame, int blueOffset, int greenOffset, int redOffset) {
    if (!frame)
        return E_POINTER;
    cv::Mat mat = FrameMat(*frame);
    if (mat.empty() || mat.channels() < 3)
        return E_FAIL;
    const int channels = mat.channels();
    if (mat.depth() == CV_8U) {
        OffsetChannelBytes(mat, blueOffset, greenOffset, redOffset);
        return S_OK;
    }
    if (mat.depth() == CV_32F) {
        const float offsets[3] = {static_cast<float>(blueOffset), static_cast<float>(greenOffset),
                                  static_cast<float>(redOffset)};
        for (int y = 0; y < mat.rows; ++y) {
            float* p = mat.ptr<float>(y);
            for (int x = 0; x < mat.cols; ++x, p += channels) {
                p[0] += offsets[0];
                p[1] += offsets[1];
                p[2] += offsets[2];
            }
        }
        return S_OK;
    }
    return E_FAIL;
}

void AdjustColors(FrameImage* frame, const EffectState::Values& values) {
    if (!frame)
        return;
    cv::Mat whole = FrameMat(*frame);
    if (whole.empty() || whole.channels() != 3)
        return;
    try {
        cv::Mat roi = whole(FrameRoi(*frame));
        if (roi.empty())
            return;
        // The channel offsets cover the whole frame, the rest only the region: the one-pass
        // routes serve frames without a narrower region.
        if (whole.type() == CV_8UC3 && roi.size() == whole.size()) {
#ifdef KELO_HLS_VECTOR_ROUTE
            if (ColorAdjustVectorised()) {
                AdjustByVectors(whole, values, VectorRoute());
                return;
            }
#endif
            AdjustByConversion(whole, values);
            return;
        }
        cv::cvtColor(roi, roi, kRgbToHls);
        // Both report only a depth they leave alone; the frame passes on unchanged then.
        (void)AdjustHls(frame, values.lightnessShift, values.saturationShift);
        cv::cvtColor(roi, roi, kHlsToRgb);
        (void)ApplyChannelOffsets(frame, values.blueOffset, values.greenOffset, values.redOffset);
    } catch (const cv::Exception&) {
        // The frame passes on as far as it got.
    }
}

} // namespace kelo
