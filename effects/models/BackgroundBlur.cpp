#include "effects/models/BackgroundBlur.h"

#include "effects/models/PersonSegmenter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <opencv2/imgproc.hpp>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kelo {

namespace {

// The blur works at this size (frames up to twice as wide), or on a copy averaged down by halves
// to at most twice this width (larger frames): its cost stays near fixed.
constexpr int kBlurWidth = 320;
constexpr int kBlurHeight = 240;
// Box blur run twice (a tent of about 2 x 25 pixels at 320 x 240): the room becomes shapes.
constexpr int kBlurKernel = 25;

// out = (out * keep + background * (255 - keep) + 127) / 255, byte by byte; keep has a byte for
// every byte of the row. Sixteen bytes at a time in 16-bit lanes: the products and their sum stay
// below 65536, and x / 255 for x = sum + 127 (at most 65152) is (x + 1 + (x >> 8)) >> 8 exactly
// (checked for every sum the blend can make).
void BlendRow(std::uint8_t* out, const std::uint8_t* background, const std::uint8_t* keep,
              int bytes) {
    int i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(127);
    const __m128i one = _mm_set1_epi16(1);
    const auto blend = [&](__m128i o, __m128i b, __m128i k) {
        const __m128i x = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(o, k), _mm_mullo_epi16(b, _mm_sub_epi16(full, k))), half);
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    };
    for (; i + 16 <= bytes; i += 16) {
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(background + i));
        const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep + i));
        const __m128i low = blend(_mm_unpacklo_epi8(o, zero), _mm_unpacklo_epi8(b, zero),
                                  _mm_unpacklo_epi8(k, zero));
        const __m128i high = blend(_mm_unpackhi_epi8(o, zero), _mm_unpackhi_epi8(b, zero),
                                   _mm_unpackhi_epi8(k, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < bytes; ++i) {
        const unsigned v = out[i] * unsigned{keep[i]} + background[i] * (255u - keep[i]);
        out[i] = static_cast<std::uint8_t>((v + 127u) / 255u);
    }
}

} // namespace

void ComposeBackgroundBlur(cv::Mat& frame, const cv::Mat& mask, BlurScratch& s) {
    if (frame.empty() || mask.empty() || frame.type() != CV_8UC3 || mask.type() != CV_8UC1)
        return;
    const cv::Size size = frame.size();
    const cv::Size blurSize(kBlurWidth, kBlurHeight);
    if (size == blurSize) {
        cv::blur(frame, s.blurred, cv::Size(kBlurKernel, kBlurKernel));
        cv::blur(s.blurred, s.background, cv::Size(kBlurKernel, kBlurKernel));
    } else if (size.width < 2 * kBlurWidth) {
        cv::resize(frame, s.small, blurSize, 0, 0, cv::INTER_AREA);
        cv::blur(s.small, s.blurred, cv::Size(kBlurKernel, kBlurKernel));
        cv::blur(s.blurred, s.small, cv::Size(kBlurKernel, kBlurKernel));
        cv::resize(s.small, s.background, size, 0, 0, cv::INTER_LINEAR);
    } else {
        // A large frame: averaged down by halves (the cheap exact case of area averaging) while
        // still twice the blur's width, its aspect kept, and blurred there by boxes that cover
        // the same share of the frame as the 25 x 25 box of the 320 x 240 copy (a 1280 x 720
        // frame: 320 x 180 and 25 x 19). The background looks as it did through that squeezed
        // copy at a quarter of the cost of reaching it; 640 x 480 gives the same bytes as before.
        const cv::Mat* source = &frame;
        int halves = 0;
        while (source->cols >= 2 * kBlurWidth) {
            cv::Mat& half = (halves++ % 2 == 0) ? s.small : s.blurred;
            cv::resize(*source, half, cv::Size(source->cols / 2, source->rows / 2), 0, 0,
                       cv::INTER_AREA);
            source = &half;
        }
        if (source != &s.small)
            source->copyTo(s.small);
        const auto box = [](int length, int blurLength) {
            const long k = std::lround(static_cast<double>(kBlurKernel) * length / blurLength);
            return static_cast<int>(std::max(1L, k) | 1L);
        };
        const cv::Size kernel(box(s.small.cols, kBlurWidth), box(s.small.rows, kBlurHeight));
        cv::blur(s.small, s.blurred, kernel);
        cv::blur(s.blurred, s.small, kernel);
        cv::resize(s.small, s.background, size, 0, 0, cv::INTER_LINEAR);
    }
    if (mask.size() == size)
        s.mask = mask;
    else
        cv::resize(mask, s.mask, size, 0, 0, cv::INTER_LINEAR);

    s.rowKeep.resize(static_cast<std::size_t>(size.width) * 3);
    for (int y = 0; y < size.height; ++y) {
        const std::uint8_t* m = s.mask.ptr<std::uint8_t>(y);
        for (int x = 0; x < size.width; ++x) {
            std::uint8_t* k = s.rowKeep.data() + 3 * x;
            k[0] = k[1] = k[2] = m[x];
        }
        BlendRow(frame.ptr<std::uint8_t>(y), s.background.ptr<std::uint8_t>(y), s.rowKeep.data(),
                 size.width * 3);
    }
}

BackgroundBlurProcessor::~BackgroundBlurProcessor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

bool BackgroundBlurProcessor::WantsFrames() {
    // Streaming thread, once per frame: the one read of the switch for this frame.
    const std::atomic<std::int32_t>* on = blurSwitch.load(std::memory_order_acquire);
    const bool now = on && on->load(std::memory_order_relaxed) != 0;
    if (now && !wasOn_) {
        // A mask from before the switch was off may show a person who has moved since.
        std::lock_guard lock(mutex_);
        restart_ = true;
        mask_.release();
        maskSeen_ = publishedSerial_;
    }
    wasOn_ = now;
    return now;
}

void BackgroundBlurProcessor::ProcessFrame(std::uint8_t* data, int width, int height, int stride) {
    if (!workerStarted_)
        StartWorker();
    cv::Mat frame(height, width, CV_8UC3, data, static_cast<std::size_t>(stride));
    cv::resize(frame, input_, cv::Size(PersonSegmenter::kInputWidth, PersonSegmenter::kInputHeight),
               0, 0, cv::INTER_LINEAR);
    {
        std::lock_guard lock(mutex_);
        cv::swap(pending_, input_);
        hasPending_ = true;
        if (publishedSerial_ != maskSeen_) {
            published_.copyTo(mask_);
            maskSeen_ = publishedSerial_;
        }
    }
    wake_.notify_one();
    if (!mask_.empty())
        ComposeBackgroundBlur(frame, mask_, scratch_);
}

void BackgroundBlurProcessor::StartWorker() {
    workerStarted_ = true;
    try {
        worker_ = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
        std::fprintf(stderr, "kelocam: background blur: no thread for the segmentation\n");
    }
}

void BackgroundBlurProcessor::WorkerLoop() {
    std::string error;
    std::unique_ptr<PersonSegmenter> segmenter = PersonSegmenter::LoadStudioModel(&error);
    if (!segmenter) {
        // One line per process: every engine's element would say the same.
        static std::once_flag reported;
        std::call_once(reported, [&] {
            std::fprintf(stderr, "kelocam: background blur off: %s\n", error.c_str());
        });
        return;
    }
    cv::Mat input;
    cv::Mat upright;
    cv::Mat running; // CV_32F, upright
    cv::Mat flipped;
    cv::Mat mask;
    std::optional<std::chrono::steady_clock::time_point> lastStart;
    for (;;) {
        bool restart = false;
        {
            std::unique_lock lock(mutex_);
            // At most one inference per kMinMaskInterval: frames that come faster share a mask
            // (the newest frame is taken when the time is up).
            if (lastStart)
                wake_.wait_until(lock, *lastStart + kMinMaskInterval,
                                 [this] { return stopping_; });
            wake_.wait(lock, [this] { return stopping_ || hasPending_; });
            if (stopping_)
                return;
            cv::swap(input, pending_);
            hasPending_ = false;
            restart = std::exchange(restart_, false);
        }
        const auto start = std::chrono::steady_clock::now();
        lastStart = start;
        // Frames are bottom-up; the model wants the person upright.
        cv::flip(input, upright, 0);
        const cv::Mat probability = segmenter->Segment(upright);
        if (probability.empty())
            continue;
        if (restart || running.empty())
            probability.copyTo(running);
        else
            cv::addWeighted(probability, kMaskSmoothing, running, 1.0f - kMaskSmoothing, 0.0,
                            running);
        cv::flip(running, flipped, 0);
        flipped.convertTo(mask, CV_8U, 255.0);
        lastInferenceMs_.store(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count(),
            std::memory_order_relaxed);
        {
            std::lock_guard lock(mutex_);
            cv::swap(published_, mask);
            ++publishedSerial_;
        }
        masksMade_.fetch_add(1, std::memory_order_release);
    }
}

} // namespace kelo
