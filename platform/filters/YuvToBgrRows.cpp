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

struct InterleaveMasks {
    alignas(16) std::int8_t mask[3][3][16]; // output block, channel (B, G, R), byte
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

// --- SSSE3 -----------------------------------------------------------------------------------

__attribute__((target("ssse3"))) inline __m128i SpreadWords(__m128i words) {
    const __m128i centred = _mm_xor_si128(words, _mm_set1_epi16(0x80));
    return _mm_or_si128(centred, _mm_slli_epi16(centred, 8));
}

// Luma as 16 bytes, chroma as two halves of eight words each; 48 bytes of BGR out.
__attribute__((target("ssse3"))) inline void MatrixToBgr(__m128i luma, const __m128i* u,
                                                         const __m128i* v,
                                                         const YuvToBgrCoefficients& k,
                                                         std::uint8_t* bgr) {
    const __m128i centredLuma = _mm_xor_si128(luma, _mm_set1_epi8(static_cast<char>(0x80)));
    const __m128i spreadLuma[2] = {_mm_unpacklo_epi8(centredLuma, centredLuma),
                                   _mm_unpackhi_epi8(centredLuma, centredLuma)};
    __m128i blue[2], green[2], red[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i y = _mm_mulhi_epi16(spreadLuma[half], _mm_set1_epi16(k.luma));
        const __m128i su = SpreadWords(u[half]), sv = SpreadWords(v[half]);
        red[half] = _mm_add_epi16(y, _mm_mulhi_epi16(sv, _mm_set1_epi16(k.vToRed)));
        blue[half] = _mm_add_epi16(y, _mm_mulhi_epi16(su, _mm_set1_epi16(k.uToBlue)));
        green[half] =
            _mm_add_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(su, _mm_set1_epi16(k.uToGreen))),
                          _mm_mulhi_epi16(sv, _mm_set1_epi16(k.vToGreen)));
    }
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i channels[3] = {_mm_xor_si128(_mm_packs_epi16(blue[0], blue[1]), bias),
                                 _mm_xor_si128(_mm_packs_epi16(green[0], green[1]), bias),
                                 _mm_xor_si128(_mm_packs_epi16(red[0], red[1]), bias)};
    for (int block = 0; block < 3; ++block) {
        const auto* masks = reinterpret_cast<const __m128i*>(kInterleave.mask[block]);
        const __m128i out =
            _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(channels[0], _mm_load_si128(masks)),
                                      _mm_shuffle_epi8(channels[1], _mm_load_si128(masks + 1))),
                         _mm_shuffle_epi8(channels[2], _mm_load_si128(masks + 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * block), out);
    }
}

// The U (offset 1) or V (offset 3) samples of the eight pairs at `pairs` as words.
__attribute__((target("ssse3"))) inline __m128i PairChroma(const std::uint8_t* pairs, int offset) {
    const __m128i mask = _mm_set1_epi32(0xFF);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 16));
    return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 8 * offset), mask),
                           _mm_and_si128(_mm_srli_epi32(b, 8 * offset), mask));
}

// Widened chroma of the sixteen pixels of pairs k .. k + 7, from the samples of pairs k - 1 ..
// k + 8 (the caller keeps both inside the row), in two halves of eight words.
__attribute__((target("ssse3"))) inline void WidenChroma(const std::uint8_t* pairK, int offset,
                                                         ChromaSiting siting, __m128i* out) {
    const __m128i here = PairChroma(pairK, offset);
    const __m128i next = PairChroma(pairK + 4, offset);
    __m128i even, odd;
    if (siting == ChromaSiting::Cosited) {
        even = here;
        odd = _mm_avg_epu16(here, next);
    } else {
        const __m128i before = PairChroma(pairK - 4, offset);
        const __m128i two = _mm_set1_epi16(2);
        const __m128i threeHere = _mm_add_epi16(here, _mm_add_epi16(here, here));
        even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(before, threeHere), two), 2);
        odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(threeHere, next), two), 2);
    }
    out[0] = _mm_unpacklo_epi16(even, odd);
    out[1] = _mm_unpackhi_epi16(even, odd);
}

__attribute__((target("ssse3"))) void Yuy2SixteenSsse3(const std::uint8_t* pairK,
                                                       ChromaSiting siting,
                                                       const YuvToBgrCoefficients& k,
                                                       std::uint8_t* bgr) {
    const __m128i lumaMask = _mm_set1_epi16(0xFF);
    const __m128i luma = _mm_packus_epi16(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairK)), lumaMask),
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairK + 16)), lumaMask));
    __m128i u[2], v[2];
    WidenChroma(pairK, 1, siting, u);
    WidenChroma(pairK, 3, siting, v);
    MatrixToBgr(luma, u, v, k, bgr);
}

__attribute__((target("ssse3"))) void I420SixteenSsse3(const std::uint8_t* y, const std::uint8_t* u,
                                                       const std::uint8_t* v,
                                                       const YuvToBgrCoefficients& k,
                                                       std::uint8_t* bgr) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v));
    const __m128i uPixels = _mm_unpacklo_epi8(u8, u8), vPixels = _mm_unpacklo_epi8(v8, v8);
    const __m128i uWords[2] = {_mm_unpacklo_epi8(uPixels, zero), _mm_unpackhi_epi8(uPixels, zero)};
    const __m128i vWords[2] = {_mm_unpacklo_epi8(vPixels, zero), _mm_unpackhi_epi8(vPixels, zero)};
    MatrixToBgr(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), uWords, vWords, k, bgr);
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
    if (level != SimdLevel::Scalar) {
        // Blocks of sixteen from pixel 2 on (pixel 0 has no pair before it) while the block's
        // last pixel is still widened from the pair after it.
        const int lastFiltered = (width % 2 == 0) ? width - 2 : width - 1;
        Yuy2PixelsScalar(yuy2, 0, width < 2 ? width : 2, width, siting, k, bgr);
        x = width < 2 ? width : 2;
        for (; x + 15 <= lastFiltered; x += 16)
            Yuy2SixteenSsse3(yuy2 + 2 * x, siting, k, bgr + 3 * x);
    }
#endif
    Yuy2PixelsScalar(yuy2, x, width, width, siting, k, bgr);
}

void I420RowToBgr(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width,
                  const YuvToBgrCoefficients& k, std::uint8_t* bgr, SimdLevel level) {
    int x = 0;
#if defined(__SSE2__)
    if (level != SimdLevel::Scalar)
        for (; x + 16 <= width; x += 16)
            I420SixteenSsse3(y + x, u + x / 2, v + x / 2, k, bgr + 3 * x);
#endif
    I420PixelsScalar(y, u, v, x, width, k, bgr);
}

} // namespace kelo
