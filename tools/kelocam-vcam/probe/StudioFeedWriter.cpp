#include "tools/kelocam-vcam/probe/StudioFeedWriter.h"

#include <algorithm>
#include <cstring>

#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"

namespace kelo::vcam::probe {

StudioFeedWriter::StudioFeedWriter(std::string objectName, std::chrono::microseconds period)
    : name_(std::move(objectName)), period_(period), writtenAt_(kStampModulo) {}

StudioFeedWriter::~StudioFeedWriter() {
    Stop();
}

void StudioFeedWriter::Start() {
    if (thread_.joinable())
        return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void StudioFeedWriter::Stop() {
    if (!thread_.joinable())
        return;
    stop_ = true;
    thread_.join();
}

std::chrono::steady_clock::time_point StudioFeedWriter::WrittenAt(std::uint32_t counter) const {
    std::lock_guard lock(timesMutex_);
    return writtenAt_[counter % kStampModulo];
}

void StudioFeedWriter::Run() {
    std::vector<std::uint8_t> frame(kFeedBytes);
    SharedMemoryView view;
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
        if (!view.isMapped()) {
            if (SUCCEEDED(view.OpenExisting(name_)))
                ++opens_;
            else
                view.Close();
        }
        if (view.isMapped()) {
            const std::uint32_t counter = counter_.fetch_add(1);
            PaintTestPicture(frame.data(), counter);
            // The real size of the object bounds the write.
            const std::size_t bytes = std::min(view.size(), kFeedBytes);
            const auto now = std::chrono::steady_clock::now();
            std::memset(view.data(), 0, bytes);
            std::memcpy(view.data(), frame.data(), bytes);
            std::lock_guard lock(timesMutex_);
            writtenAt_[counter % kStampModulo] = now;
        }
        next += period_;
        std::this_thread::sleep_until(next);
    }
    // Teardown: the block goes back to zeros before it is closed.
    if (view.isMapped())
        std::memset(view.data(), 0, std::min(view.size(), kFeedBytes));
}

} // namespace kelo::vcam::probe
