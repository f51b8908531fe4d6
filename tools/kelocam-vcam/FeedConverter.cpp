#include "tools/kelocam-vcam/FeedConverter.h"

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>
#endif

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

#if defined(__SSE2__)
namespace {

// 16 pixels of one row into YUY2, eight pixel pairs side by side in 16-bit lanes, with exactly
// the integer formulas of LumaOf, BlueDiffOf and RedDiffOf: every sum fits 16 bits (luma up to
// 56228 unsigned, the colour differences within -28432..28688 signed), and the shifts are the
// same (logical for luma, arithmetic for the differences).
inline __m128i Lanes(const std::uint16_t* values) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(values));
}

inline __m128i Luma8(__m128i r, __m128i g, __m128i b) {
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(66)),
                                    _mm_mullo_epi16(g, _mm_set1_epi16(129))),
                      _mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(25)), _mm_set1_epi16(128)));
    return _mm_add_epi16(_mm_srli_epi16(sum, 8), _mm_set1_epi16(16));
}

inline __m128i Difference8(__m128i r, __m128i g, __m128i b, short cr, short cg, short cb) {
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(cr)),
                                    _mm_mullo_epi16(g, _mm_set1_epi16(cg))),
                      _mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(cb)), _mm_set1_epi16(128)));
    return _mm_add_epi16(_mm_srai_epi16(sum, 8), _mm_set1_epi16(128));
}

void PairsToYuy2(__m128i be, __m128i ge, __m128i re, __m128i bo, __m128i go, __m128i ro,
                 std::uint8_t* dst) {
    const __m128i yEven = Luma8(re, ge, be);
    const __m128i yOdd = Luma8(ro, go, bo);
    // (a + b + 1) >> 1, as the pair's average colour.
    const __m128i b = _mm_avg_epu16(be, bo), g = _mm_avg_epu16(ge, go), r = _mm_avg_epu16(re, ro);
    const __m128i u = Difference8(r, g, b, -38, -74, 112);
    const __m128i v = Difference8(r, g, b, 112, -94, -18);
    // Words "Y0 U" and "Y1 V", then interleaved: Y0 U Y1 V for each pair.
    const __m128i first = _mm_or_si128(yEven, _mm_slli_epi16(u, 8));
    const __m128i second = _mm_or_si128(yOdd, _mm_slli_epi16(v, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi16(first, second));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_unpackhi_epi16(first, second));
}

// Plain SSE2: the 48 bytes are spread into 16-bit lanes one by one.
void SixteenPixelsToYuy2(const std::uint8_t* src, std::uint8_t* dst) {
    alignas(16) std::uint16_t channel[6][8]; // blue, green, red of the even, then odd pixels
    for (int i = 0; i < 8; ++i)
        for (int c = 0; c < 6; ++c)
            channel[c][i] = src[6 * i + c];
    PairsToYuy2(Lanes(channel[0]), Lanes(channel[1]), Lanes(channel[2]), Lanes(channel[3]),
                Lanes(channel[4]), Lanes(channel[5]), dst);
}

// With SSSE3 (nearly every x86-64 processor since 2006): byte shuffles spread them, three
// shuffles of the three 16-byte loads for each of the six channels.
struct SpreadMasks {
    alignas(16) std::int8_t mask[6][3][16]; // channel, source load, lane byte
    constexpr SpreadMasks() : mask{} {
        for (int c = 0; c < 6; ++c)
            for (int load = 0; load < 3; ++load)
                for (int lane = 0; lane < 8; ++lane) {
                    const int at = 6 * lane + c;
                    mask[c][load][2 * lane] =
                        static_cast<std::int8_t>(at / 16 == load ? at % 16 : -128);
                    mask[c][load][2 * lane + 1] = -128; // the high byte of the lane: zero
                }
    }
};
constexpr SpreadMasks kSpread;

__attribute__((target("ssse3"))) inline __m128i Channel(const __m128i* loads, int c) {
    const auto* masks = reinterpret_cast<const __m128i*>(kSpread.mask[c]);
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(loads[0], _mm_load_si128(masks)),
                                     _mm_shuffle_epi8(loads[1], _mm_load_si128(masks + 1))),
                        _mm_shuffle_epi8(loads[2], _mm_load_si128(masks + 2)));
}

__attribute__((target("ssse3"))) void SixteenPixelsToYuy2Ssse3(const std::uint8_t* src,
                                                                std::uint8_t* dst) {
    const __m128i loads[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32))};
    PairsToYuy2(Channel(loads, 0), Channel(loads, 1), Channel(loads, 2), Channel(loads, 3),
                Channel(loads, 4), Channel(loads, 5), dst);
}

// Asked once, when the program starts (before main: the processor data is set up first).
const bool kHaveSsse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();


// I420 from two rows of 16 pixels: 16 luma bytes of each row and the 8 chroma pairs of their
// 2 x 2 blocks, with exactly the formulas of the scalar code ((sum of four + 2) >> 2 as the
// block's colour). `channels` holds blue, green, red of the even pixels, then of the odd ones.
inline void BlockRowsToI420(const __m128i* top, const __m128i* bottom, std::uint8_t* yTop,
                            std::uint8_t* yBottom, std::uint8_t* u, std::uint8_t* v) {
    const __m128i lumaTop = _mm_or_si128(Luma8(top[2], top[1], top[0]),
                                         _mm_slli_epi16(Luma8(top[5], top[4], top[3]), 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yTop), lumaTop);
    if (yBottom) {
        const __m128i lumaBottom =
            _mm_or_si128(Luma8(bottom[2], bottom[1], bottom[0]),
                         _mm_slli_epi16(Luma8(bottom[5], bottom[4], bottom[3]), 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(yBottom), lumaBottom);
    }
    __m128i colour[3];
    for (int c = 0; c < 3; ++c)
        colour[c] = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(top[c], top[c + 3]),
                                        _mm_add_epi16(bottom[c], bottom[c + 3])),
                          _mm_set1_epi16(2)),
            2);
    const __m128i blueDiff = Difference8(colour[2], colour[1], colour[0], -38, -74, 112);
    const __m128i redDiff = Difference8(colour[2], colour[1], colour[0], 112, -94, -18);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u), _mm_packus_epi16(blueDiff, blueDiff));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v), _mm_packus_epi16(redDiff, redDiff));
}

void SpreadSse2(const std::uint8_t* src, __m128i* channels) {
    alignas(16) std::uint16_t channel[6][8];
    for (int i = 0; i < 8; ++i)
        for (int c = 0; c < 6; ++c)
            channel[c][i] = src[6 * i + c];
    for (int c = 0; c < 6; ++c)
        channels[c] = Lanes(channel[c]);
}

__attribute__((target("ssse3"))) inline void SpreadSsse3(const std::uint8_t* src, __m128i* channels) {
    const __m128i loads[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32))};
    for (int c = 0; c < 6; ++c)
        channels[c] = Channel(loads, c);
}

// Whole 16-pixel columns of a pair of rows; returns the first pixel not done.
template <void (*Spread)(const std::uint8_t*, __m128i*)>
int RowPairToI420(const std::uint8_t* row0, const std::uint8_t* row1, int width,
                  std::uint8_t* y0, std::uint8_t* y1, std::uint8_t* u, std::uint8_t* v) {
    int x = 0;
    __m128i top[6], bottom[6];
    for (; x + 16 <= width; x += 16) {
        Spread(row0 + 3 * x, top);
        Spread(row1 + 3 * x, bottom);
        BlockRowsToI420(top, bottom, y0 + x, y1 ? y1 + x : nullptr, u + x / 2, v + x / 2);
    }
    return x;
}

// The same loop written out with the SSSE3 target, so that the spreading and the block
// arithmetic are inlined into it (a function of another target is never inlined into one
// without it, and a call for every 16 pixels costs as much as the work).
__attribute__((target("ssse3"))) int RowPairToI420Ssse3(const std::uint8_t* row0,
                                                         const std::uint8_t* row1, int width,
                                                         std::uint8_t* y0, std::uint8_t* y1,
                                                         std::uint8_t* u, std::uint8_t* v) {
    int x = 0;
    __m128i top[6], bottom[6];
    for (; x + 16 <= width; x += 16) {
        SpreadSsse3(row0 + 3 * x, top);
        SpreadSsse3(row1 + 3 * x, bottom);
        BlockRowsToI420(top, bottom, y0 + x, y1 ? y1 + x : nullptr, u + x / 2, v + x / 2);
    }
    return x;
}

// With AVX2: two 16-pixel columns at once, one in each 128-bit half (the byte shuffles work
// within the halves, so the SSSE3 masks serve both), the same arithmetic on 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i Luma16(__m256i r, __m256i g, __m256i b) {
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(66)),
                         _mm256_mullo_epi16(g, _mm256_set1_epi16(129))),
        _mm256_add_epi16(_mm256_mullo_epi16(b, _mm256_set1_epi16(25)), _mm256_set1_epi16(128)));
    return _mm256_add_epi16(_mm256_srli_epi16(sum, 8), _mm256_set1_epi16(16));
}

__attribute__((target("avx2"))) inline __m256i Difference16(__m256i r, __m256i g, __m256i b,
                                                           short cr, short cg, short cb) {
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(cr)),
                         _mm256_mullo_epi16(g, _mm256_set1_epi16(cg))),
        _mm256_add_epi16(_mm256_mullo_epi16(b, _mm256_set1_epi16(cb)), _mm256_set1_epi16(128)));
    return _mm256_add_epi16(_mm256_srai_epi16(sum, 8), _mm256_set1_epi16(128));
}

// 32 pixels of a row (48 bytes in each half) spread into the six channels.
__attribute__((target("avx2"))) inline void SpreadAvx2(const std::uint8_t* src, __m256i* channels) {
    __m256i loads[3];
    for (int i = 0; i < 3; ++i)
        loads[i] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 + 16 * i)), 1);
    for (int c = 0; c < 6; ++c) {
        const auto* masks = reinterpret_cast<const __m128i*>(kSpread.mask[c]);
        channels[c] = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_shuffle_epi8(loads[0], _mm256_broadcastsi128_si256(_mm_load_si128(masks))),
                _mm256_shuffle_epi8(loads[1],
                                    _mm256_broadcastsi128_si256(_mm_load_si128(masks + 1)))),
            _mm256_shuffle_epi8(loads[2], _mm256_broadcastsi128_si256(_mm_load_si128(masks + 2))));
    }
}

// Whole 32-pixel columns of a pair of rows, as BlockRowsToI420 does 16; returns the first pixel
// not done.
__attribute__((target("avx2"))) int RowPairToI420Avx2(const std::uint8_t* row0,
                                                       const std::uint8_t* row1, int width,
                                                       std::uint8_t* y0, std::uint8_t* y1,
                                                       std::uint8_t* u, std::uint8_t* v) {
    int x = 0;
    __m256i top[6], bottom[6];
    for (; x + 32 <= width; x += 32) {
        SpreadAvx2(row0 + 3 * x, top);
        SpreadAvx2(row1 + 3 * x, bottom);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y0 + x),
                            _mm256_or_si256(Luma16(top[2], top[1], top[0]),
                                            _mm256_slli_epi16(Luma16(top[5], top[4], top[3]), 8)));
        if (y1)
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(y1 + x),
                _mm256_or_si256(Luma16(bottom[2], bottom[1], bottom[0]),
                                _mm256_slli_epi16(Luma16(bottom[5], bottom[4], bottom[3]), 8)));
        __m256i colour[3];
        for (int c = 0; c < 3; ++c)
            colour[c] = _mm256_srli_epi16(
                _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(top[c], top[c + 3]),
                                                  _mm256_add_epi16(bottom[c], bottom[c + 3])),
                                 _mm256_set1_epi16(2)),
                2);
        const __m256i blueDiff = Difference16(colour[2], colour[1], colour[0], -38, -74, 112);
        const __m256i redDiff = Difference16(colour[2], colour[1], colour[0], 112, -94, -18);
        // Packed, each half holds its 8 values twice: quad words 0 and 2 are the 16 in order.
        const __m256i uv = _mm256_permute4x64_epi64(_mm256_packus_epi16(blueDiff, redDiff),
                                                    _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(uv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(uv, 1));
    }
    return x;
}

// 32 pixels of one row into YUY2 (64 bytes), as SixteenPixelsToYuy2Ssse3 does 16.
__attribute__((target("avx2"))) void ThirtyTwoPixelsToYuy2Avx2(const std::uint8_t* src,
                                                                std::uint8_t* dst) {
    __m256i c[6]; // blue, green, red of the even pixels, then of the odd ones
    SpreadAvx2(src, c);
    const __m256i yEven = Luma16(c[2], c[1], c[0]);
    const __m256i yOdd = Luma16(c[5], c[4], c[3]);
    const __m256i b = _mm256_avg_epu16(c[0], c[3]), g = _mm256_avg_epu16(c[1], c[4]),
                  r = _mm256_avg_epu16(c[2], c[5]);
    const __m256i u = Difference16(r, g, b, -38, -74, 112);
    const __m256i v = Difference16(r, g, b, 112, -94, -18);
    const __m256i first = _mm256_or_si256(yEven, _mm256_slli_epi16(u, 8));
    const __m256i second = _mm256_or_si256(yOdd, _mm256_slli_epi16(v, 8));
    // Each half interleaves its own 8 pairs: the halves of the two results, in pixel order.
    const __m256i low = _mm256_unpacklo_epi16(first, second);
    const __m256i high = _mm256_unpackhi_epi16(first, second);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                        _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32),
                        _mm256_permute2x128_si256(low, high, 0x31));
}

const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

} // namespace
#endif

void BgrToI420(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out) {
    const int chromaWidth = width / 2;
    const int chromaHeight = (height + 1) / 2;
    std::uint8_t* yPlane = out;
    std::uint8_t* uPlane = yPlane + static_cast<std::size_t>(width) * height;
    std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(chromaWidth) * chromaHeight;

    // Rows by pairs: the luma of both and the chroma of their 2 x 2 blocks (centred siting, as
    // JPEG and Y4M's C420jpeg), in one pass over the pixels. A last odd row pairs with itself.
    for (int cy = 0; cy < chromaHeight; ++cy) {
        const std::uint8_t* row0 = firstRow + rowStride * (2 * cy);
        const bool pair = 2 * cy + 1 < height;
        const std::uint8_t* row1 = pair ? row0 + rowStride : row0;
        std::uint8_t* y0 = yPlane + static_cast<std::size_t>(width) * (2 * cy);
        std::uint8_t* y1 = pair ? y0 + width : nullptr;
        std::uint8_t* u = uPlane + static_cast<std::size_t>(chromaWidth) * cy;
        std::uint8_t* v = vPlane + static_cast<std::size_t>(chromaWidth) * cy;
        int x = 0;
#if defined(__SSE2__)
        if (kHaveAvx2)
            x = RowPairToI420Avx2(row0, row1, width, y0, y1, u, v);
        // The rest in 16-pixel columns.
        const auto rest = [&](auto rowPair) {
            return x + rowPair(row0 + 3 * x, row1 + 3 * x, width - x, y0 + x, y1 ? y1 + x : nullptr,
                               u + x / 2, v + x / 2);
        };
        x = kHaveSsse3 ? rest(RowPairToI420Ssse3) : rest(RowPairToI420<SpreadSse2>);
#endif
        for (; x + 1 < width; x += 2) {
            const std::uint8_t* a = row0 + 3 * x;
            const std::uint8_t* b = row1 + 3 * x;
            y0[x] = LumaOf(a[0], a[1], a[2]);
            y0[x + 1] = LumaOf(a[3], a[4], a[5]);
            if (y1) {
                y1[x] = LumaOf(b[0], b[1], b[2]);
                y1[x + 1] = LumaOf(b[3], b[4], b[5]);
            }
            const int blue = (a[0] + a[3] + b[0] + b[3] + 2) >> 2;
            const int green = (a[1] + a[4] + b[1] + b[4] + 2) >> 2;
            const int red = (a[2] + a[5] + b[2] + b[5] + 2) >> 2;
            u[x / 2] = BlueDiffOf(blue, green, red);
            v[x / 2] = RedDiffOf(blue, green, red);
        }
        if (x < width) { // an odd width's last column: its luma only
            y0[x] = LumaOf(row0[3 * x], row0[3 * x + 1], row0[3 * x + 2]);
            if (y1)
                y1[x] = LumaOf(row1[3 * x], row1[3 * x + 1], row1[3 * x + 2]);
        }
    }
}

void BgrToYuy2(const std::uint8_t* firstRow, std::ptrdiff_t rowStride, int width, int height,
               std::uint8_t* out) {
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = firstRow + rowStride * y;
        std::uint8_t* dst = out + static_cast<std::size_t>(width) * 2 * y;
        int x = 0;
#if defined(__SSE2__)
        if (kHaveAvx2)
            for (; x + 32 <= width; x += 32, src += 96, dst += 64)
                ThirtyTwoPixelsToYuy2Avx2(src, dst);
        if (kHaveSsse3)
            for (; x + 16 <= width; x += 16, src += 48, dst += 32)
                SixteenPixelsToYuy2Ssse3(src, dst);
        for (; x + 16 <= width; x += 16, src += 48, dst += 32)
            SixteenPixelsToYuy2(src, dst);
#endif
        for (; x + 1 < width; x += 2, src += 6, dst += 4) {
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
