#include "engine/VirtualCameraFeed.h"

#include "engine/FrameMat.h"
#include "platform/contracts/FeedLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <sys/stat.h>

namespace kelo {

bool VirtualCameraFeed::OpenNow() {
    name_ = FeedObjectName();
    const HRESULT hr = view_.OpenExisting(name_, kFeedBytes);
    if (hr == E_FAIL) {
        // Missing (no virtual camera running): looked for again a few frames later. A look
        // is a failed open, tens of microseconds with cold caches: more than the rest of a
        // 320 x 240 frame's work when paid on every frame.
        framesToNextCheck_ = kMissingLookFrames;
        return false;
    }
    if (hr == S_OK) {
        refused_ = false;
        framesToNextCheck_ = kRecheckFrames;
        return true;
    }
    if (hr == E_ACCESSDENIED && !refused_) {
        refused_ = true;
        std::fprintf(stderr, "kelocam: %s\n", SharedMemoryView::RefusalText(name_).c_str());
    }
    // Too small (still being created), refused or not mappable: not kept, looked at again a
    // while later.
    view_.Close();
    framesToNextCheck_ = kRecheckFrames;
    return false;
}

std::size_t VirtualCameraFeed::Write(const FrameImage& frame) {
    if (!frame.imageData || frame.imageSize <= 0)
        return 0;
    std::lock_guard lock(mutex_);
    if (view_.isMapped() && --framesToNextCheck_ <= 0) {
        framesToNextCheck_ = kRecheckFrames;
        struct stat st {};
        if (!view_.StillNamed(name_)) {
            // Removed and made again under a running studio: the old object reaches nobody,
            // and the new one is opened at once.
            view_.Close();
            framesToNextCheck_ = 0;
        } else if (fstat(view_.fd(), &st) != 0 ||
                   static_cast<std::size_t>(st.st_size) < view_.size()) {
            // Made smaller by another program: mapped again a while later. Between these
            // looks the guarded copy below catches it (a system call on every frame would
            // cost more than the copy).
            view_.Close();
            return 0;
        }
    }
    if (!view_.isMapped()) {
        if (framesToNextCheck_ > 0 && --framesToNextCheck_ > 0)
            return 0;
        if (!OpenNow())
            return 0;
    }
    const std::uint8_t* source = frame.imageData;
    std::size_t available = static_cast<std::size_t>(frame.imageSize);
    if (NeedsScaling(frame)) {
        if (!ScaleToFeed(frame))
            return 0;
        source = scaled_.data();
        available = scaled_.size();
    }
    // One copy: clearing the same bytes first would leave the same result but let a reader
    // that looks in between see a black band. Guarded: the object may still shrink between the
    // check above and the copy, and a page past its new end would raise SIGBUS.
    const std::size_t bytes = std::min(available, view_.size());
    std::uint8_t* to = view_.data();
    const bool copied = view_.Guarded([to, source, bytes] { StreamingCopy(to, source, bytes); });
    StoreFence();
    if (!copied) {
        // The frame is dropped; the object is looked at again a while later.
        view_.Close();
        framesToNextCheck_ = kRecheckFrames;
        return 0;
    }
    return bytes;
}

bool VirtualCameraFeed::NeedsScaling(const FrameImage& frame) {
    // Every 8-bit colour frame of another size: a smaller one (176 x 144) copied as it is
    // would fill the block with rows of the wrong length, a sheared picture for every reader.
    return frame.width > 0 && frame.height > 0 &&
           (frame.width != kFeedWidth || frame.height != kFeedHeight) &&
           frame.depth == kFrameDepth8U && frame.nChannels == kFeedBytesPerPixel;
}

bool VirtualCameraFeed::ScaleToFeed(const FrameImage& frame) {
    cv::Mat mat = FrameMat(frame);
    if (mat.empty())
        return false;
    try {
        // The feed's 4:3 cut from the middle of the frame (never stretched).
        cv::Rect cut(0, 0, frame.width, frame.height);
        if (static_cast<long long>(frame.width) * kFeedHeight >
            static_cast<long long>(frame.height) * kFeedWidth) {
            cut.width =
                static_cast<int>(static_cast<long long>(frame.height) * kFeedWidth / kFeedHeight);
            cut.x = (frame.width - cut.width) / 2;
        } else {
            cut.height =
                static_cast<int>(static_cast<long long>(frame.width) * kFeedHeight / kFeedWidth);
            cut.y = (frame.height - cut.height) / 2;
        }
        scaled_.resize(kFeedBytes);
        cv::Mat out(kFeedHeight, kFeedWidth, CV_8UC3, scaled_.data(), kFeedRowBytes);
        // Averaged down from a larger frame, bilinear up from a smaller one.
        const bool larger = cut.width >= kFeedWidth && cut.height >= kFeedHeight;
        cv::resize(mat(cut), out, out.size(), 0, 0, larger ? cv::INTER_AREA : cv::INTER_LINEAR);
        // The feed's rows are bottom-up, as frames inside the graph are.
        if (frame.origin == kFrameOriginTopLeft)
            cv::flip(out, out, 0);
    } catch (const cv::Exception&) {
        return false;
    }
    return true;
}

void VirtualCameraFeed::Close() {
    std::lock_guard lock(mutex_);
    framesToNextCheck_ = 0;
    refused_ = false;
    if (!view_.isOpen())
        return;
    if (view_.isMapped()) {
        std::uint8_t* block = view_.data();
        const std::size_t bytes = std::min(kFeedBytes, view_.size());
        (void)view_.Guarded([block, bytes] { std::memset(block, 0, bytes); });
    }
    view_.Close();
}

bool VirtualCameraFeed::isOpen() const {
    std::lock_guard lock(mutex_);
    return view_.isOpen();
}

bool VirtualCameraFeed::refusedObject() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

VirtualCameraFeed& ProcessVirtualCameraFeed() {
    static VirtualCameraFeed feed;
    return feed;
}

void CloseVirtualCameraFeed() {
    ProcessVirtualCameraFeed().Close();
}

} // namespace kelo
