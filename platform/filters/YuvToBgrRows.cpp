#include "platform/filters/YuvToBgrRows.h"

#include <cmath>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace kelo {

namespace {

// The 4 x 4 double matrix is built step by step in the order videoconvert builds it (each
// step multiplied in from the left), since a different order could round a coefficient the
// other way.
struct Matrix4 {
    double m[4][4];
};

Matrix4 Identity() {
    Matrix4 a{};
    for (int i = 0; i < 4; ++i)
        a.m[i][i] = 1.0;
    return a;
}

Matrix4 Times(const Matrix4& a, const Matrix4& b) {
    Matrix4 product{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double x = 0;
            for (int k = 0; k < 4; ++k)
                x += a.m[i][k] * b.m[k][j];
            product.m[i][j] = x;
        }
    return product;
}

Matrix4 Offset(const Matrix4& m, double a1, double a2, double a3) {
    Matrix4 a = Identity();
    a.m[0][3] = a1;
    a.m[1][3] = a2;
    a.m[2][3] = a3;
    return Times(a, m);
}

Matrix4 Scale(const Matrix4& m, double a1, double a2, double a3) {
    Matrix4 a = Identity();
    a.m[0][0] = a1;
    a.m[1][1] = a2;
    a.m[2][2] = a3;
    return Times(a, m);
}

inline std::int16_t HighProduct(std::int16_t a, std::int16_t b) {
    return static_cast<std::int16_t>((static_cast<std::int32_t>(a) * b) >> 16);
}

inline std::int16_t Wrap16(int x) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(x));
}

// A sample less 128 as a signed byte, doubled into both halves of a 16-bit lane.
inline std::int16_t Spread(std::uint8_t sample) {
    const unsigned centred = (sample ^ 0x80u) & 0xFFu;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(centred * 257u));
}

inline std::uint8_t ToByte(std::int16_t x) {
    const int saturated = x < -128 ? -128 : (x > 127 ? 127 : x);
    return static_cast<std::uint8_t>(saturated + 128);
}

inline void PixelToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v,
                       const YuvToBgrCoefficients& k, std::uint8_t* bgr) {
    const std::int16_t luma = HighProduct(Spread(y), k.luma);
    const std::int16_t su = Spread(u), sv = Spread(v);
    bgr[0] = ToByte(Wrap16(luma + HighProduct(su, k.uToBlue)));
    bgr[1] =
        ToByte(Wrap16(Wrap16(luma + HighProduct(su, k.uToGreen)) + HighProduct(sv, k.vToGreen)));
    bgr[2] = ToByte(Wrap16(luma + HighProduct(sv, k.vToRed)));
}

// Chroma of pixel x of a YUY2 row whose pairs' samples are c[0 .. (width + 1) / 2).
inline std::uint8_t WidenedChroma(const std::uint8_t* yuy2, int offset, int x, int width,
                                  ChromaSiting siting) {
    const auto c = [&](int pair) { return static_cast<int>(yuy2[4 * pair + offset]); };
    const int lastFiltered = (width % 2 == 0) ? width - 2 : width - 1;
    if (x == 0 || x > lastFiltered)
        return static_cast<std::uint8_t>(c(x / 2));
    if (siting == ChromaSiting::Cosited)
        return static_cast<std::uint8_t>(x % 2 == 0 ? c(x / 2)
                                                    : (c(x / 2) + c(x / 2 + 1) + 1) >> 1);
    const int k = (x - 1) / 2;
    return static_cast<std::uint8_t>(x % 2 == 1 ? (3 * c(k) + c(k + 1) + 2) >> 2
                                                : (c(k) + 3 * c(k + 1) + 2) >> 2);
}

void Yuy2PixelsScalar(const std::uint8_t* yuy2, int from, int to, int width, ChromaSiting siting,
                      const YuvToBgrCoefficients& k, std::uint8_t* bgr) {
    for (int x = from; x < to; ++x)
        PixelToBgr(yuy2[2 * x], WidenedChroma(yuy2, 1, x, width, siting),
                   WidenedChroma(yuy2, 3, x, width, siting), k, bgr + 3 * x);
}

void I420PixelsScalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int from,
                      int to, const YuvToBgrCoefficients& k, std::uint8_t* bgr) {
    for (int x = from; x < to; ++x)
        PixelToBgr(y[x], u[x / 2], v[x / 2], k, bgr + 3 * x);
}

} // namespace

bool YuvToBgrCoefficientsFor(double kr, double kb, YuvRange range, YuvToBgrCoefficients* out) {
    // Into [0, 1] (the unpacked samples' offsets and scales), into R'G'B', then to 0..255 RGB
    // and Q8. The scale factors pass through float where videoconvert's do.
    const bool limited = range == YuvRange::Limited;
    const int offsetY = limited ? 16 : 0;
    const int scaleY = limited ? 219 : 255;
    const int scaleC = limited ? 224 : 255;
    Matrix4 m = Offset(Identity(), -offsetY, -128, -128);
    m = Scale(m, 1 / static_cast<float>(scaleY), 1 / static_cast<float>(scaleC),
              1 / static_cast<float>(scaleC));
    const double kg = 1.0 - kr - kb;
    Matrix4 toRgb = {{{1., 0., 2 * (1 - kr), 0.},
                      {1., -2 * kb * (1 - kb) / kg, -2 * kr * (1 - kr) / kg, 0.},
                      {1., 2 * (1 - kb), 0., 0.},
                      {0., 0., 0., 1.}}};
    m = Times(toRgb, m);
    m = Scale(m, static_cast<float>(255), static_cast<float>(255), static_cast<float>(255));
    m = Offset(m, 0, 0, 0);
    m = Scale(m, static_cast<float>(1 << 8), static_cast<float>(1 << 8),
              static_cast<float>(1 << 8));
    int im[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            im[i][j] = static_cast<int>(std::rint(m.m[i][j]));
    // The fast 8-bit code holds for one luma factor in every row, no U in red, no V in blue.
    if (im[0][0] != im[1][0] || im[1][0] != im[2][0] || im[0][1] != 0 || im[2][2] != 0)
        return false;
    out->luma = static_cast<std::int16_t>(im[0][0]);
    out->vToRed = static_cast<std::int16_t>(im[0][2]);
    out->uToBlue = static_cast<std::int16_t>(im[2][1]);
    out->uToGreen = static_cast<std::int16_t>(im[1][1]);
    out->vToGreen = static_cast<std::int16_t>(im[1][2]);
    return true;
}

#if defined(__SSE2__)
namespace {

// Byte masks that interleave three 16-byte channel registers (B, G, R) into 48 bytes of BGR.
struct InterleaveMasks {
    alignas(16) std::int8_t mask[3][3][16]; // output block, channel, byte
    constexpr InterleaveMasks() : mask{} {
        for (int block = 0; block < 3; ++block)
            for (int channel = 0; channel < 3; ++channel)
                for (int byte = 0; byte < 16; ++byte) {
                    const int at = 16 * block + byte;
                    mask[block][channel][byte] =
                        static_cast<std::int8_t>(at % 3 == channel ? at / 3 : -128);
                }
    }
};
constexpr InterleaveMasks kInterleave;

// --- SSSE3: sixteen pixels a step, eight 16-bit lanes a half --------------------------------
// Every step is the scalar step lane by lane (see PixelToBgr and WidenedChroma).

struct Constants128 {
    __m128i luma, vToRed, uToBlue, uToGreen, vToGreen, lowBytes, bias8, bias16, two;
    __m128i masks[3][3];
};

__attribute__((target("ssse3"))) inline Constants128
MakeConstants128(const YuvToBgrCoefficients& k) {
    Constants128 c;
    c.luma = _mm_set1_epi16(k.luma);
    c.vToRed = _mm_set1_epi16(k.vToRed);
    c.uToBlue = _mm_set1_epi16(k.uToBlue);
    c.uToGreen = _mm_set1_epi16(k.uToGreen);
    c.vToGreen = _mm_set1_epi16(k.vToGreen);
    c.lowBytes = _mm_set1_epi16(0xFF);
    c.bias8 = _mm_set1_epi8(static_cast<char>(0x80));
    c.bias16 = _mm_set1_epi16(0x80);
    c.two = _mm_set1_epi16(2);
    for (int block = 0; block < 3; ++block)
        for (int channel = 0; channel < 3; ++channel)
            c.masks[block][channel] =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.mask[block][channel]));
    return c;
}

// Chroma words (0..255) into the matrix's doubled signed lanes.
__attribute__((target("ssse3"))) inline __m128i SpreadWords(__m128i words, const Constants128& c) {
    const __m128i centred = _mm_xor_si128(words, c.bias16);
    return _mm_or_si128(centred, _mm_slli_epi16(centred, 8));
}

// Doubled lanes of luma, U and V for two halves of eight pixels; 48 bytes of BGR out.
__attribute__((target("ssse3"))) inline void MatrixToBgr(const __m128i* y2, const __m128i* u2,
                                                         const __m128i* v2, const Constants128& c,
                                                         std::uint8_t* bgr) {
    __m128i blue[2], green[2], red[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i y = _mm_mulhi_epi16(y2[half], c.luma);
        red[half] = _mm_add_epi16(y, _mm_mulhi_epi16(v2[half], c.vToRed));
        blue[half] = _mm_add_epi16(y, _mm_mulhi_epi16(u2[half], c.uToBlue));
        green[half] = _mm_add_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(u2[half], c.uToGreen)),
                                    _mm_mulhi_epi16(v2[half], c.vToGreen));
    }
    const __m128i channels[3] = {_mm_xor_si128(_mm_packs_epi16(blue[0], blue[1]), c.bias8),
                                 _mm_xor_si128(_mm_packs_epi16(green[0], green[1]), c.bias8),
                                 _mm_xor_si128(_mm_packs_epi16(red[0], red[1]), c.bias8)};
    for (int block = 0; block < 3; ++block) {
        const __m128i out =
            _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(channels[0], c.masks[block][0]),
                                      _mm_shuffle_epi8(channels[1], c.masks[block][1])),
                         _mm_shuffle_epi8(channels[2], c.masks[block][2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * block), out);
    }
}

// The U and V samples of the eight pairs at `pairs` as words.
__attribute__((target("ssse3"))) inline void
PairChroma(const std::uint8_t* pairs, const Constants128& c, __m128i* u, __m128i* v) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 16));
    // Words U | V << 8, one a pair.
    const __m128i uv = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    *u = _mm_and_si128(uv, c.lowBytes);
    *v = _mm_srli_epi16(uv, 8);
}

// One channel widened for the sixteen pixels of pairs k .. k + 7: even pixels, odd pixels.
__attribute__((target("ssse3"))) inline void Widen(__m128i before, __m128i here, __m128i next,
                                                   ChromaSiting siting, const Constants128& c,
                                                   __m128i* spread) {
    __m128i even = here, odd;
    if (siting == ChromaSiting::Cosited) {
        odd = _mm_avg_epu16(here, next);
    } else {
        const __m128i threeHere = _mm_add_epi16(here, _mm_add_epi16(here, here));
        even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(before, threeHere), c.two), 2);
        odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(threeHere, next), c.two), 2);
    }
    spread[0] = SpreadWords(_mm_unpacklo_epi16(even, odd), c);
    spread[1] = SpreadWords(_mm_unpackhi_epi16(even, odd), c);
}

// Pixels [x, end) of a YUY2 row in blocks of sixteen; x is even, at least 2, and end - 1 is
// still widened from the pair after it. Returns where it stopped.
__attribute__((target("ssse3"))) int Yuy2BlocksSsse3(const std::uint8_t* yuy2, int x, int end,
                                                     ChromaSiting siting,
                                                     const YuvToBgrCoefficients& k,
                                                     std::uint8_t* bgr) {
    const Constants128 c = MakeConstants128(k);
    for (; x + 16 <= end; x += 16) {
        const std::uint8_t* pairs = yuy2 + 2 * x;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 16));
        const __m128i luma = _mm_xor_si128(
            _mm_packus_epi16(_mm_and_si128(a, c.lowBytes), _mm_and_si128(b, c.lowBytes)), c.bias8);
        const __m128i y2[2] = {_mm_unpacklo_epi8(luma, luma), _mm_unpackhi_epi8(luma, luma)};
        __m128i uBefore, vBefore, uHere, vHere, uNext, vNext;
        PairChroma(pairs - 4, c, &uBefore, &vBefore);
        PairChroma(pairs, c, &uHere, &vHere);
        PairChroma(pairs + 4, c, &uNext, &vNext);
        __m128i u2[2], v2[2];
        Widen(uBefore, uHere, uNext, siting, c, u2);
        Widen(vBefore, vHere, vNext, siting, c, v2);
        MatrixToBgr(y2, u2, v2, c, bgr + 3 * x);
    }
    return x;
}

__attribute__((target("ssse3"))) int I420BlocksSsse3(const std::uint8_t* y, const std::uint8_t* u,
                                                     const std::uint8_t* v, int x, int end,
                                                     const YuvToBgrCoefficients& k,
                                                     std::uint8_t* bgr) {
    const Constants128 c = MakeConstants128(k);
    for (; x + 16 <= end; x += 16) {
        const __m128i luma =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)), c.bias8);
        const __m128i y2[2] = {_mm_unpacklo_epi8(luma, luma), _mm_unpackhi_epi8(luma, luma)};
        // Each chroma byte, less 128, doubled into a lane and the lane into two pixels.
        const __m128i cu =
            _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2)), c.bias8);
        const __m128i cv =
            _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2)), c.bias8);
        const __m128i wu = _mm_unpacklo_epi8(cu, cu), wv = _mm_unpacklo_epi8(cv, cv);
        const __m128i u2[2] = {_mm_unpacklo_epi16(wu, wu), _mm_unpackhi_epi16(wu, wu)};
        const __m128i v2[2] = {_mm_unpacklo_epi16(wv, wv), _mm_unpackhi_epi16(wv, wv)};
        MatrixToBgr(y2, u2, v2, c, bgr + 3 * x);
    }
    return x;
}

// --- AVX2: the same sixteen-pixel steps on two blocks at once, one in each 128-bit half (every
// operation used stays within its half) ------------------------------------------------------

struct Constants256 {
    __m256i luma, vToRed, uToBlue, uToGreen, vToGreen, lowBytes, bias8, bias16, two;
    __m256i masks[3][3];
};

__attribute__((target("avx2"))) inline Constants256
MakeConstants256(const YuvToBgrCoefficients& k) {
    Constants256 c;
    c.luma = _mm256_set1_epi16(k.luma);
    c.vToRed = _mm256_set1_epi16(k.vToRed);
    c.uToBlue = _mm256_set1_epi16(k.uToBlue);
    c.uToGreen = _mm256_set1_epi16(k.uToGreen);
    c.vToGreen = _mm256_set1_epi16(k.vToGreen);
    c.lowBytes = _mm256_set1_epi16(0xFF);
    c.bias8 = _mm256_set1_epi8(static_cast<char>(0x80));
    c.bias16 = _mm256_set1_epi16(0x80);
    c.two = _mm256_set1_epi16(2);
    for (int block = 0; block < 3; ++block)
        for (int channel = 0; channel < 3; ++channel)
            c.masks[block][channel] = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.mask[block][channel])));
    return c;
}

// Two 16-byte loads, `apart` bytes apart, as the two halves.
__attribute__((target("avx2"))) inline __m256i LoadHalves(const std::uint8_t* low, int apart) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(low + apart)), 1);
}

__attribute__((target("avx2"))) inline __m256i SpreadWords(__m256i words, const Constants256& c) {
    const __m256i centred = _mm256_xor_si256(words, c.bias16);
    return _mm256_or_si256(centred, _mm256_slli_epi16(centred, 8));
}

__attribute__((target("avx2"))) inline void MatrixToBgr(const __m256i* y2, const __m256i* u2,
                                                        const __m256i* v2, const Constants256& c,
                                                        std::uint8_t* bgr) {
    __m256i blue[2], green[2], red[2];
    for (int half = 0; half < 2; ++half) {
        const __m256i y = _mm256_mulhi_epi16(y2[half], c.luma);
        red[half] = _mm256_add_epi16(y, _mm256_mulhi_epi16(v2[half], c.vToRed));
        blue[half] = _mm256_add_epi16(y, _mm256_mulhi_epi16(u2[half], c.uToBlue));
        green[half] =
            _mm256_add_epi16(_mm256_add_epi16(y, _mm256_mulhi_epi16(u2[half], c.uToGreen)),
                             _mm256_mulhi_epi16(v2[half], c.vToGreen));
    }
    const __m256i channels[3] = {_mm256_xor_si256(_mm256_packs_epi16(blue[0], blue[1]), c.bias8),
                                 _mm256_xor_si256(_mm256_packs_epi16(green[0], green[1]), c.bias8),
                                 _mm256_xor_si256(_mm256_packs_epi16(red[0], red[1]), c.bias8)};
    for (int block = 0; block < 3; ++block) {
        const __m256i out =
            _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(channels[0], c.masks[block][0]),
                                            _mm256_shuffle_epi8(channels[1], c.masks[block][1])),
                            _mm256_shuffle_epi8(channels[2], c.masks[block][2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * block), _mm256_castsi256_si128(out));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 48 + 16 * block),
                         _mm256_extracti128_si256(out, 1));
    }
}

__attribute__((target("avx2"))) inline void
PairChroma(const std::uint8_t* pairs, const Constants256& c, __m256i* u, __m256i* v) {
    const __m256i a = LoadHalves(pairs, 32);
    const __m256i b = LoadHalves(pairs + 16, 32);
    const __m256i uv = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
    *u = _mm256_and_si256(uv, c.lowBytes);
    *v = _mm256_srli_epi16(uv, 8);
}

__attribute__((target("avx2"))) inline void Widen(__m256i before, __m256i here, __m256i next,
                                                  ChromaSiting siting, const Constants256& c,
                                                  __m256i* spread) {
    __m256i even = here, odd;
    if (siting == ChromaSiting::Cosited) {
        odd = _mm256_avg_epu16(here, next);
    } else {
        const __m256i threeHere = _mm256_add_epi16(here, _mm256_add_epi16(here, here));
        even = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(before, threeHere), c.two), 2);
        odd = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(threeHere, next), c.two), 2);
    }
    spread[0] = SpreadWords(_mm256_unpacklo_epi16(even, odd), c);
    spread[1] = SpreadWords(_mm256_unpackhi_epi16(even, odd), c);
}

__attribute__((target("avx2"))) int Yuy2BlocksAvx2(const std::uint8_t* yuy2, int x, int end,
                                                   ChromaSiting siting,
                                                   const YuvToBgrCoefficients& k,
                                                   std::uint8_t* bgr) {
    const Constants256 c = MakeConstants256(k);
    for (; x + 32 <= end; x += 32) {
        const std::uint8_t* pairs = yuy2 + 2 * x;
        const __m256i a = LoadHalves(pairs, 32);
        const __m256i b = LoadHalves(pairs + 16, 32);
        const __m256i luma = _mm256_xor_si256(
            _mm256_packus_epi16(_mm256_and_si256(a, c.lowBytes), _mm256_and_si256(b, c.lowBytes)),
            c.bias8);
        const __m256i y2[2] = {_mm256_unpacklo_epi8(luma, luma), _mm256_unpackhi_epi8(luma, luma)};
        __m256i uBefore, vBefore, uHere, vHere, uNext, vNext;
        PairChroma(pairs - 4, c, &uBefore, &vBefore);
        PairChroma(pairs, c, &uHere, &vHere);
        PairChroma(pairs + 4, c, &uNext, &vNext);
        __m256i u2[2], v2[2];
        Widen(uBefore, uHere, uNext, siting, c, u2);
        Widen(vBefore, vHere, vNext, siting, c, v2);
        MatrixToBgr(y2, u2, v2, c, bgr + 3 * x);
    }
    return x;
}

// Eight chroma bytes into the low end of each half (the two blocks' samples).
__attribute__((target("avx2"))) inline __m256i EightAndEight(const std::uint8_t* samples) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 8)), 1);
}

__attribute__((target("avx2"))) int I420BlocksAvx2(const std::uint8_t* y, const std::uint8_t* u,
                                                   const std::uint8_t* v, int x, int end,
                                                   const YuvToBgrCoefficients& k,
                                                   std::uint8_t* bgr) {
    const Constants256 c = MakeConstants256(k);
    for (; x + 32 <= end; x += 32) {
        const __m256i luma =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x)), c.bias8);
        const __m256i y2[2] = {_mm256_unpacklo_epi8(luma, luma), _mm256_unpackhi_epi8(luma, luma)};
        const __m256i cu = _mm256_xor_si256(EightAndEight(u + x / 2), c.bias8);
        const __m256i cv = _mm256_xor_si256(EightAndEight(v + x / 2), c.bias8);
        const __m256i wu = _mm256_unpacklo_epi8(cu, cu), wv = _mm256_unpacklo_epi8(cv, cv);
        const __m256i u2[2] = {_mm256_unpacklo_epi16(wu, wu), _mm256_unpackhi_epi16(wu, wu)};
        const __m256i v2[2] = {_mm256_unpacklo_epi16(wv, wv), _mm256_unpackhi_epi16(wv, wv)};
        MatrixToBgr(y2, u2, v2, c, bgr + 3 * x);
    }
    return x;
}

const bool kHaveSsse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();

const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

} // namespace
#endif

SimdLevel BestSimdLevel() {
#if defined(__SSE2__)
    if (kHaveAvx2)
        return SimdLevel::Avx2;
    if (kHaveSsse3)
        return SimdLevel::Ssse3;
#endif
    return SimdLevel::Scalar;
}

void Yuy2RowToBgr(const std::uint8_t* yuy2, int width, ChromaSiting siting,
                  const YuvToBgrCoefficients& k, std::uint8_t* bgr, SimdLevel level) {
    int x = 0;
#if defined(__SSE2__)
    if (level != SimdLevel::Scalar && width > 2) {
        // Blocks from pixel 2 on (pixel 0 has no pair before it) up to the last pixel that is
        // still widened from the pair after it.
        const int end = (width % 2 == 0) ? width - 1 : width;
        Yuy2PixelsScalar(yuy2, 0, 2, width, siting, k, bgr);
        x = 2;
        if (level == SimdLevel::Avx2)
            x = Yuy2BlocksAvx2(yuy2, x, end, siting, k, bgr);
        x = Yuy2BlocksSsse3(yuy2, x, end, siting, k, bgr);
        // The rest as one more block ending at `end`, over pixels already written (the same
        // bytes again), where the row is long enough.
        if (x < end && end - 16 >= 2)
            x = Yuy2BlocksSsse3(yuy2, (end - 16) & ~1, end, siting, k, bgr);
    }
#endif
    Yuy2PixelsScalar(yuy2, x, width, width, siting, k, bgr);
}

void I420RowToBgr(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width,
                  const YuvToBgrCoefficients& k, std::uint8_t* bgr, SimdLevel level) {
    int x = 0;
#if defined(__SSE2__)
    if (level == SimdLevel::Avx2)
        x = I420BlocksAvx2(y, u, v, x, width, k, bgr);
    if (level != SimdLevel::Scalar) {
        x = I420BlocksSsse3(y, u, v, x, width, k, bgr);
        if (x < width && width >= 16)
            x = I420BlocksSsse3(y, u, v, (width - 16) & ~1, width, k, bgr);
    }
#endif
    I420PixelsScalar(y, u, v, x, width, k, bgr);
}

} // namespace kelo
