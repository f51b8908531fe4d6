// The writing side of the virtual camera feed: the shared-memory object (FeedObjectName(),
// "/KeloVCam" by default) that the virtual camera creates and reads. The studio only opens it,
// never creates it. Layout in platform/contracts/FeedLayout.h: one 320 x 240 frame, bottom row
// first, no header.
//
// Threads: Write runs on the streaming thread (from FrameCallback); Close runs on the window
// thread from the engine's destructor after the pipeline has stopped. A mutex keeps the two
// apart even if a caller breaks that order.
#pragma once

#include "platform/contracts/FrameImage.h"
#include "platform/system/SharedMemoryView.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace kelo {

class VirtualCameraFeed {
public:
    VirtualCameraFeed() = default;
    VirtualCameraFeed(const VirtualCameraFeed&) = delete;
    VirtualCameraFeed& operator=(const VirtualCameraFeed&) = delete;

    // Opens the object when it is not open yet, then copies the frame's imageSize bytes to the
    // start of the object; the rest keeps its earlier bytes. A frame larger than the feed's
    // 320 x 240 (an HD capture) is cut to 4:3 from its middle and averaged down to it first.
    // A missing object is looked for again every kMissingLookFrames frames (the first write
    // after Close looks at once). An object smaller than one frame counts as not there yet
    // (its creator has not sized it), and so does one that could not be mapped: it is closed
    // and tried again kRecheckFrames frames later. An object of
    // another user, or one that others may read or write, is refused with one message on
    // standard error naming it, and tried again as rarely. While writing, every
    // kRecheckFrames frames the feed makes sure that the name still leads to the object it
    // holds: when the bridge made it again (after a clean-up of /dev/shm), the new one is
    // mapped. Nothing is written past the object's real size: a larger frame is cut to it.
    // Returns the number of bytes copied (0 when nothing was written).
    std::size_t Write(const FrameImage& frame);

    // Clears 230400 bytes (at most the object's size), unmaps and closes. The next Write opens
    // the object again.
    void Close();

    bool isOpen() const;
    // Whether the last object found under the name was refused (not this user's, or readable
    // or writable by others).
    bool refusedObject() const;

    // About once a second at the studio's 15 frames per second.
    static constexpr int kRecheckFrames = 15;
    // A quarter of a second at 15 frames per second: a virtual camera just started gets the
    // studio's frames about as soon as it could show them.
    static constexpr int kMissingLookFrames = 4;

private:
    bool OpenNow(); // with mutex_ held
    static bool NeedsScaling(const FrameImage& frame);
    bool ScaleToFeed(const FrameImage& frame); // into scaled_, with mutex_ held

    mutable std::mutex mutex_;
    SharedMemoryView view_;
    std::string name_;                 // the name view_ was opened under
    int framesToNextCheck_ = 0;        // counts down while open (name check) or waiting (retry)
    bool refused_ = false;             // the refusal was reported; reset when an object is usable
    std::vector<std::uint8_t> scaled_; // the feed frame made from a larger one; kept
};

// The process-wide feed FrameCallback writes to.
VirtualCameraFeed& ProcessVirtualCameraFeed();

// The feed's close step, for the engine's destructor (after its pipeline reached NULL).
void CloseVirtualCameraFeed();

} // namespace kelo
