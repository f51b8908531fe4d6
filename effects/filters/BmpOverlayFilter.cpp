#include "effects/filters/BmpOverlayFilter.h"

#include "effects/filters/EffectElement.h"

#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define GST_CAT_DEFAULT kelo_effects_debug

namespace kelo {

namespace {

inline std::uint8_t Screen(std::uint8_t frame, std::uint8_t picture) {
    return static_cast<std::uint8_t>(255 - ((255 - frame) * (255 - picture) + 127) / 255);
}

// Screen over a run of bytes (every channel blends alike). Sixteen bytes at a time in 16-bit
// lanes; x / 255 is (x + 1 + (x >> 8)) >> 8 for every x the product can take (up to 65152).
void ScreenRow(std::uint8_t* out, const std::uint8_t* picture, std::size_t bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i all = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(127);
    const __m128i one = _mm_set1_epi16(1);
    auto blend = [&](__m128i f, __m128i p) {
        const __m128i x =
            _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(all, f), _mm_sub_epi16(all, p)), half);
        const __m128i q =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
        return _mm_sub_epi16(all, q);
    };
    for (; i + 16 <= bytes; i += 16) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
        const __m128i low = blend(_mm_unpacklo_epi8(f, zero), _mm_unpacklo_epi8(p, zero));
        const __m128i high = blend(_mm_unpackhi_epi8(f, zero), _mm_unpackhi_epi8(p, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < bytes; ++i)
        out[i] = Screen(out[i], picture[i]);
}

inline bool IsKey(const std::uint8_t* p) {
    return p[0] == 255 && p[1] == 0 && p[2] == 255;
}

// 60 % picture, 40 % frame, rounded.
inline std::uint8_t Faded(std::uint8_t frame, std::uint8_t picture) {
    return static_cast<std::uint8_t>((frame * 40 + picture * 60 + 50) / 100);
}

bool IsShowCommand(int command) {
    return command == kOverlayScreen || command == kOverlayKey || command == kOverlayKeyFaded;
}

} // namespace

const EffectElementKind& BmpOverlayFilterElementKind() {
    static const EffectElementKind kind{
        kBmpOverlayFactoryName,
        "KeloBmpOverlayFilter",
        "BmpOverlayFiler", // "Filer" as the filter has always been named: keep it
        "Lays a 320x240 overlay picture over every BGR frame",
        false,
        []() -> EffectProcessor* { return new BmpOverlayProcessor(); }};
    return kind;
}

HRESULT BmpOverlayProcessor::Clear(int command) {
    if (command != kOverlayClear) {
        GST_WARNING("clear refused: command %d is not the clear command %d", command,
                    kOverlayClear);
        return E_INVALIDARG;
    }
    std::lock_guard lock(mutex_);
    picture_ = nullptr;
    command_ = 0;
    std::vector<std::uint8_t>().swap(scaled_); // a frame-sized copy is not kept for nothing
    scaledStale_ = true;
    return S_OK;
}

HRESULT BmpOverlayProcessor::Show(int command, const std::uint8_t* picture) {
    if (!IsShowCommand(command)) {
        GST_WARNING("picture refused: command %d is not a show command", command);
        return E_INVALIDARG;
    }
    std::lock_guard lock(mutex_);
    picture_ = picture;
    command_ = picture ? command : 0;
    scaledStale_ = true; // the same pointer may hold a new picture: scaled again
    return S_OK;
}

bool BmpOverlayProcessor::hasPicture() const {
    std::lock_guard lock(mutex_);
    return picture_ != nullptr;
}

void BmpOverlayProcessor::UpdateScaleMaps(int width, int height) {
    if (width == mapWidth_ && height == mapHeight_)
        return;
    columnOffsets_.resize(static_cast<std::size_t>(width));
    rowOffsets_.resize(static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        long long sx = static_cast<long long>(x) * kOverlayWidth / width;
        columnOffsets_[static_cast<std::size_t>(x)] = static_cast<int>(sx) * 3;
    }
    for (int y = 0; y < height; ++y) {
        long long sy = static_cast<long long>(y) * kOverlayHeight / height;
        rowOffsets_[static_cast<std::size_t>(y)] =
            static_cast<int>(sy * static_cast<long long>(kOverlayStride));
    }
    mapWidth_ = width;
    mapHeight_ = height;
}

void BmpOverlayProcessor::ScalePicture(int width, int height) {
    if (!scaledStale_ && width == scaledWidth_ && height == scaledHeight_)
        return;
    UpdateScaleMaps(width, height);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    scaled_.resize(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = picture_ + rowOffsets_[static_cast<std::size_t>(y)];
        std::uint8_t* to = scaled_.data() + rowBytes * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x, to += 3) {
            const std::uint8_t* p = from + columnOffsets_[static_cast<std::size_t>(x)];
            to[0] = p[0];
            to[1] = p[1];
            to[2] = p[2];
        }
    }
    scaledWidth_ = width;
    scaledHeight_ = height;
    scaledStale_ = false;
}

void BmpOverlayProcessor::ProcessFrame(std::uint8_t* data, int width, int height, int stride) {
    if (!data || width <= 0 || height <= 0 || stride < width * 3)
        return;
    std::lock_guard lock(mutex_);
    if (!picture_)
        return;
    // At the picture's own size it is read as it is; otherwise its frame-sized copy.
    const bool ownSize = width == kOverlayWidth && height == kOverlayHeight;
    if (!ownSize)
        ScalePicture(width, height);
    const std::uint8_t* picture = ownSize ? picture_ : scaled_.data();
    const std::size_t pictureStride =
        ownSize ? kOverlayStride : static_cast<std::size_t>(width) * 3;
    const int command = command_;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = data + static_cast<std::ptrdiff_t>(y) * stride;
        const std::uint8_t* p = picture + pictureStride * static_cast<std::size_t>(y);
        switch (command) {
        case kOverlayScreen:
            ScreenRow(out, p, static_cast<std::size_t>(width) * 3);
            break;
        case kOverlayKey:
            for (int x = 0; x < width; ++x, out += 3, p += 3) {
                if (!IsKey(p)) {
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                }
            }
            break;
        case kOverlayKeyFaded:
            for (int x = 0; x < width; ++x, out += 3, p += 3) {
                if (!IsKey(p)) {
                    out[0] = Faded(out[0], p[0]);
                    out[1] = Faded(out[1], p[1]);
                    out[2] = Faded(out[2], p[2]);
                }
            }
            break;
        default:
            return;
        }
    }
}

std::shared_ptr<BmpOverlayFilter> BmpOverlayFilter::Create() {
    ElementPtr element = MakeEffectElement(kBmpOverlayFactoryName);
    if (!element)
        return nullptr;
    return std::make_shared<BmpOverlayFilter>(std::move(element));
}

BmpOverlayFilter::BmpOverlayFilter(ElementPtr element)
    : BaseFilter(std::move(element)),
      processor_(static_cast<BmpOverlayProcessor*>(EffectElementProcessor(this->element()))) {}

HRESULT BmpOverlayFilter::ClearOverlay(int command, int, int, int, int) {
    return processor_ ? processor_->Clear(command) : E_FAIL;
}

HRESULT BmpOverlayFilter::ShowOverlayPicture(int command, const std::uint8_t* picture) {
    return processor_ ? processor_->Show(command, picture) : E_FAIL;
}

} // namespace kelo
