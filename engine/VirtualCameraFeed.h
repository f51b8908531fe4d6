// The writing side of the virtual camera feed: the shared-memory object (FeedObjectName(),
// "/KeloVCam" by default) that the virtual camera creates and reads. The studio only opens it,
// never creates it. Layout in platform/FeedLayout.h: one 320 x 240 frame, bottom row first, no
// header.
//
// Threads: Write runs on the streaming thread (from FrameCallback); Close runs on the window
// thread from the engine's destructor after the pipeline has stopped. A mutex keeps the two
// apart even if a caller breaks that order.
#pragma once

#include "platform/FrameImage.h"
#include "platform/SharedMemoryView.h"

#include <cstddef>
#include <mutex>

namespace kelo {

class VirtualCameraFeed {
public:
    VirtualCameraFeed() = default;
    VirtualCameraFeed(const VirtualCameraFeed&) = delete;
    VirtualCameraFeed& operator=(const VirtualCameraFeed&) = delete;

    // Opens the object when it is not open yet (retried on every frame while it is missing),
    // then copies the frame's imageSize bytes to the start of the object; the rest keeps its
    // earlier bytes.
    // Nothing is written past the object's real size: a larger frame is cut to it. When the
    // object opened but could not be mapped, nothing is written until Close.
    // Returns the number of bytes copied (0 when nothing was written).
    std::size_t Write(const FrameImage& frame);

    // Clears 230400 bytes (at most the object's size), unmaps and closes. The next Write opens
    // the object again.
    void Close();

    bool isOpen() const;

private:
    mutable std::mutex mutex_;
    SharedMemoryView view_;
};

// The process-wide feed FrameCallback writes to.
VirtualCameraFeed& ProcessVirtualCameraFeed();

// The feed's close step, for the engine's destructor (after its pipeline reached NULL).
void CloseVirtualCameraFeed();

} // namespace kelo
