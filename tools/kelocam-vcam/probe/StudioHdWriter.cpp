#include "tools/kelocam-vcam/probe/StudioHdWriter.h"

#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"

#include <vector>

namespace kelo::vcam::probe {

void PaintUprightTestPicture(std::uint8_t* bgr, int width, int height, std::uint32_t counter) {
    std::vector<std::uint8_t> feed(kFeedBytes);
    PaintTestPicture(feed.data(), counter);
    for (int y = 0; y < height; ++y) {
        // The block is bottom-up: upright row y comes from block row 239 - y (scaled).
        const int sourceRow = kFeedHeight - 1 - y * kFeedHeight / height;
        const std::uint8_t* src = feed.data() + kFeedRowBytes * sourceRow;
        std::uint8_t* dst = bgr + static_cast<std::size_t>(width) * 3 * y;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = src + 3 * (x * kFeedWidth / width);
            dst[3 * x] = p[0];
            dst[3 * x + 1] = p[1];
            dst[3 * x + 2] = p[2];
        }
    }
}

StudioHdWriter::StudioHdWriter(std::string objectName, int width, int height, int framesPerSecond)
    : name_(std::move(objectName)), width_(width), height_(height),
      framesPerSecond_(framesPerSecond) {}

StudioHdWriter::~StudioHdWriter() {
    Stop();
}

bool StudioHdWriter::Start() {
    if (thread_.joinable())
        return true;
    {
        SharedMemoryView probe;
        if (FAILED(probe.OpenOrCreate(name_, kHdFeedHeaderBytes)))
            return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void StudioHdWriter::Stop() {
    if (!thread_.joinable())
        return;
    stop_ = true;
    thread_.join();
}

std::chrono::steady_clock::time_point StudioHdWriter::PublishedAt(std::uint32_t counter) const {
    return std::chrono::steady_clock::time_point(
        std::chrono::nanoseconds(publishedAt_[counter % 256].load()));
}

void StudioHdWriter::Run() {
    SharedMemoryView view;
    HdFeedPublisher publisher;
    if (FAILED(view.OpenOrCreate(name_, kHdFeedHeaderBytes)) || FAILED(publisher.Attach(&view)))
        return;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width_) * height_ * 3);
    const auto period = std::chrono::nanoseconds(1'000'000'000 / framesPerSecond_);
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
        const std::uint32_t counter = counter_.fetch_add(1);
        PaintUprightTestPicture(picture.data(), width_, height_, counter);
        const auto now = std::chrono::steady_clock::now();
        publishedAt_[counter % 256] =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
        if (FAILED(publisher.Publish({picture.data(), width_ * 3, width_, height_},
                                     framesPerSecond_, 1, HdFeedClockNanos())))
            return;
        next += period;
        std::this_thread::sleep_until(next);
    }
    (void)publisher.PublishBlack(width_, height_, framesPerSecond_, 1, HdFeedClockNanos());
}

} // namespace kelo::vcam::probe
