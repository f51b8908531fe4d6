#include "engine/HdCameraFeed.h"

#include "platform/contracts/HdFeedLayout.h"

#include <cstdio>

namespace kelo {

void HdCameraFeed::SetFrameRate(int framesPerSecond) {
    std::lock_guard lock(mutex_);
    framesPerSecond_ = framesPerSecond > 0 ? framesPerSecond : 15;
}

bool HdCameraFeed::OpenNow() {
    name_ = HdFeedObjectName();
    const HRESULT hr = view_.OpenOrCreate(name_, kHdFeedHeaderBytes);
    if (hr == S_OK && SUCCEEDED(publisher_.Attach(&view_))) {
        refused_ = false;
        framesToNextCheck_ = kRecheckFrames;
        return true;
    }
    if (hr == E_ACCESSDENIED && !refused_) {
        refused_ = true;
        std::fprintf(stderr, "kelocam: %s\n", SharedMemoryView::RefusalText(name_).c_str());
    }
    publisher_.Detach();
    view_.Close();
    framesToNextCheck_ = kRecheckFrames;
    return false;
}

bool HdCameraFeed::Write(const FrameImage& frame) {
    if (!frame.imageData || frame.depth != kFrameDepth8U || frame.nChannels != 3 ||
        frame.width <= 0 || frame.height <= 0 ||
        frame.widthStep < frame.width * kHdFeedBytesPerPixel ||
        frame.imageSize < frame.widthStep * frame.height)
        return false;
    std::lock_guard lock(mutex_);
    if (view_.isMapped() && --framesToNextCheck_ <= 0) {
        framesToNextCheck_ = kRecheckFrames;
        if (!view_.StillNamed(name_)) {
            publisher_.Detach();
            view_.Close();
            framesToNextCheck_ = 0;
        }
    }
    if (!view_.isMapped()) {
        if (framesToNextCheck_ > 0 && --framesToNextCheck_ > 0)
            return false;
        if (!OpenNow())
            return false;
    }
    BgrPicture picture{frame.imageData, frame.widthStep, frame.width, frame.height};
    if (frame.origin != kFrameOriginTopLeft) {
        picture.topRow =
            frame.imageData + static_cast<std::ptrdiff_t>(frame.widthStep) * (frame.height - 1);
        picture.rowStride = -static_cast<std::ptrdiff_t>(frame.widthStep);
    }
    if (FAILED(publisher_.Publish(picture, framesPerSecond_, 1, HdFeedClockNanos()))) {
        // Could not grow it (or made smaller by someone): opened afresh a while later.
        publisher_.Detach();
        view_.Close();
        framesToNextCheck_ = kRecheckFrames;
        return false;
    }
    lastWidth_ = frame.width;
    lastHeight_ = frame.height;
    return true;
}

void HdCameraFeed::Close() {
    std::lock_guard lock(mutex_);
    framesToNextCheck_ = 0;
    refused_ = false;
    if (view_.isMapped() && publisher_.attached() && lastWidth_ > 0)
        (void)publisher_.PublishBlack(lastWidth_, lastHeight_, framesPerSecond_, 1,
                                      HdFeedClockNanos());
    publisher_.Detach();
    view_.Close();
}

bool HdCameraFeed::isOpen() const {
    std::lock_guard lock(mutex_);
    return view_.isOpen();
}

bool HdCameraFeed::refusedObject() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

std::uint64_t HdCameraFeed::lastSequence() const {
    std::lock_guard lock(mutex_);
    return publisher_.lastSequence();
}

HdCameraFeed& ProcessHdCameraFeed() {
    static HdCameraFeed feed;
    return feed;
}

void CloseHdCameraFeed() {
    ProcessHdCameraFeed().Close();
}

} // namespace kelo
