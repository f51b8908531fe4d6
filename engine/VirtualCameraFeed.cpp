#include "engine/VirtualCameraFeed.h"

#include "platform/FeedLayout.h"

#include <algorithm>
#include <cstring>

namespace kelo {

std::size_t VirtualCameraFeed::Write(const FrameImage& frame) {
    if (!frame.imageData || frame.imageSize <= 0)
        return 0;
    std::lock_guard lock(mutex_);
    if (!view_.isOpen()) {
        // Missing: the frame is not delivered and the next one tries again. Opened but not
        // mapped: the descriptor stays open, so this is not retried until Close.
        view_.OpenExisting(FeedObjectName());
        if (!view_.isOpen())
            return 0;
    }
    if (!view_.isMapped())
        return 0;
    // One copy: clearing the same bytes first would leave the same result but let a reader
    // that looks in between see a black band.
    std::size_t bytes = std::min(static_cast<std::size_t>(frame.imageSize), view_.size());
    std::memcpy(view_.data(), frame.imageData, bytes);
    return bytes;
}

void VirtualCameraFeed::Close() {
    std::lock_guard lock(mutex_);
    if (!view_.isOpen())
        return;
    if (view_.isMapped())
        std::memset(view_.data(), 0, std::min(kFeedBytes, view_.size()));
    view_.Close();
}

bool VirtualCameraFeed::isOpen() const {
    std::lock_guard lock(mutex_);
    return view_.isOpen();
}

VirtualCameraFeed& ProcessVirtualCameraFeed() {
    static VirtualCameraFeed feed;
    return feed;
}

void CloseVirtualCameraFeed() {
    ProcessVirtualCameraFeed().Close();
}

} // namespace kelo
