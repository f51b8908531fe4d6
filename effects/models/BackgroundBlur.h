// The per-frame work of the "Background Blur" element: the person stays sharp, the room behind
// is blurred.
//
// Per frame while the switch is on (streaming thread, a few milliseconds at 320 x 240):
//   1. the frame, scaled to the model's 256 x 144, is handed to the worker thread (newest frame
//      wins; a frame the worker had no time for is dropped, and the worker starts at most one
//      inference per kMinMaskInterval);
//   2. the newest person mask from the worker (smoothed in time there, so that edges do not
//      flicker) is scaled to the frame;
//   3. the background is blurred strongly (a box blur run twice, at 320 x 240, or on a copy
//      halved to under 640 pixels wide for larger frames, with boxes covering the same share of
//      the frame) and blended with the frame by the mask.
// The mask lags the picture by the time of one inference (one or two frames at 15 per second);
// until the first mask exists frames pass unchanged.
//
// Worker thread: started on the first frame with the switch on; it reads the model (once per
// process), builds its own network and then runs the network on each frame it is handed. A
// model that cannot be used is reported once on standard error; the switch then does nothing.
#pragma once

#include "effects/filters/EffectElement.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <opencv2/core.hpp>
#include <thread>
#include <vector>

namespace kelo {

class PersonSegmenter;

// Blends `frame` (BGR, in place) with a strongly blurred copy of itself: mask 255 keeps the
// frame, 0 takes the blurred copy. mask: CV_8U of any size (scaled to the frame; same row order
// as the frame). scratch: buffers kept between calls.
struct BlurScratch {
    cv::Mat mask;
    cv::Mat small;
    cv::Mat blurred;
    cv::Mat background;
    std::vector<std::uint8_t> rowKeep; // the mask of one row, a byte for every colour byte
};
void ComposeBackgroundBlur(cv::Mat& frame, const cv::Mat& mask, BlurScratch& scratch);

class BackgroundBlurProcessor : public EffectProcessor {
public:
    // Weight of the newest mask in the running mask (the rest is the previous running mask).
    static constexpr float kMaskSmoothing = 0.6f;
    // The shortest time between the starts of two inferences. At 15 frames per second every
    // frame is segmented, as before; at 30 every second one, which halves the worker's share of
    // a core while the mask (smoothed over several inferences anyway, and a frame or two behind
    // the picture) moves as it does at 15. 60 rather than 66 ms: frames that come a little early
    // keep the cadence at 15.
    static constexpr std::chrono::milliseconds kMinMaskInterval{60};

    BackgroundBlurProcessor() = default;
    ~BackgroundBlurProcessor() override; // stops and joins the worker
    BackgroundBlurProcessor(const BackgroundBlurProcessor&) = delete;
    BackgroundBlurProcessor& operator=(const BackgroundBlurProcessor&) = delete;

    bool WantsFrames() override;
    void ProcessFrame(std::uint8_t* data, int width, int height, int stride) override;

    // The switch read once per frame: nonzero is on. Null (the default) is off. The pointee
    // must outlive the element (the process-wide effect state does).
    std::atomic<const std::atomic<std::int32_t>*> blurSwitch{nullptr};

    // Masks the worker has made so far (tests and benchmarks).
    std::uint64_t masksMade() const { return masksMade_.load(std::memory_order_acquire); }
    // Milliseconds of the last inference (benchmarks).
    double lastInferenceMs() const { return lastInferenceMs_.load(std::memory_order_relaxed); }

private:
    void StartWorker();
    void WorkerLoop();

    // Streaming thread only.
    bool wasOn_ = false;
    bool workerStarted_ = false;
    std::uint64_t maskSeen_ = 0;
    cv::Mat input_; // the frame at the model's size
    cv::Mat mask_;  // the newest mask taken from the worker
    BlurScratch scratch_;

    // Shared between the streaming thread and the worker, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    cv::Mat pending_; // newest frame for the worker (model size, frame row order)
    bool hasPending_ = false;
    bool restart_ = false; // the switch was off: the running mask starts again
    bool stopping_ = false;
    cv::Mat published_; // newest mask (CV_8U, model size, frame row order)
    std::uint64_t publishedSerial_ = 0;

    std::atomic<std::uint64_t> masksMade_{0};
    std::atomic<double> lastInferenceMs_{0};
    std::thread worker_;
};

} // namespace kelo
