// The writing side of the virtual camera's HD block (HdFeedObjectName(), "/KeloVCamHD" by
// default): every processed frame at its own size, published with the sequence protocol of
// platform/contracts/HdFeedLayout.h, beside the 320 x 240 VirtualCameraFeed (which is written
// as before). Unlike that block, the studio makes this one: only it knows the frame's size.
//
// Threads: Write runs on the streaming thread (FrameCallback); SetFrameRate and Close on the
// thread that builds and destroys the engine, Close after the pipeline has stopped. A mutex
// keeps them apart even if a caller breaks that order.
#pragma once

#include "platform/contracts/FrameImage.h"
#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace kelo {

class HdCameraFeed {
public:
    HdCameraFeed() = default;
    HdCameraFeed(const HdCameraFeed&) = delete;
    HdCameraFeed& operator=(const HdCameraFeed&) = delete;

    // The rate written into each frame's description (the engine's frames per second).
    void SetFrameRate(int framesPerSecond);

    // Publishes an 8-bit, 3-channel frame (either row order) upright. Opens the block on the
    // first frame, making it (mode 0600) when missing. A block of another user, or one that
    // others may read or write, is refused with one message on standard error naming it, and
    // looked at again every kRecheckFrames frames; so is a block that could not be opened or
    // grown. While writing, every kRecheckFrames frames the feed makes sure the name still
    // leads to its block (someone may have removed it). True when the frame was published.
    bool Write(const FrameImage& frame);

    // Publishes a black frame of the last size (readers show black, as the 320 x 240 block's
    // zeros do) and closes. The block stays for the next engine and the bridge.
    void Close();

    bool isOpen() const;
    bool refusedObject() const;
    // The number of the last frame published (0: none since this process opened the block).
    std::uint64_t lastSequence() const;

    static constexpr int kRecheckFrames = 15;

private:
    bool OpenNow(); // with mutex_ held

    mutable std::mutex mutex_;
    SharedMemoryView view_;
    HdFeedPublisher publisher_;
    std::string name_;
    int framesPerSecond_ = 15;
    int framesToNextCheck_ = 0;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    bool refused_ = false;
};

// The process-wide HD feed FrameCallback writes to.
HdCameraFeed& ProcessHdCameraFeed();

// Its close step, for the engine's destructor (after its pipeline reached NULL).
void CloseHdCameraFeed();

} // namespace kelo
