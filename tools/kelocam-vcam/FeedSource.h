// The bridge's side of the feed block: creates the shared-memory object (zero-filled) or opens
// it when it exists, growing it to a whole frame, and takes a copy of the frame on every tick.
// The object is never removed: like a Windows named mapping, it lives on for the studio and the
// next bridge.
#pragma once

#include "platform/system/HResult.h"
#include "platform/system/SharedMemoryView.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelo::vcam {

class FeedSource {
public:
    FeedSource() = default;
    FeedSource(const FeedSource&) = delete;
    FeedSource& operator=(const FeedSource&) = delete;

    [[nodiscard]] HRESULT Open(const std::string& objectName);

    // Copies the block's frame (kFeedBytes) and returns the copy. The studio writes without
    // lock or signal, so this takes whatever bytes are there. A block that has not changed for
    // kStillAfterNs gives black instead: a studio that was killed (or hangs) leaves its last
    // frame in the block, and a viewer must not take that frozen picture for a live one (a
    // studio that stops cleanly clears the block itself). Frames flow again as soon as the block
    // changes. Also mends the object when it was
    // shrunk (reading past its end would fault) or removed and made again by someone else, so
    // that the studio and the bridge keep meeting in the same block (looked at once a second).
    const std::uint8_t* Snapshot();

    // A cheap look at the block between frames: a hash of a few rows spread over the picture
    // (the studio rewrites every row of every frame, and the test pattern, a camera's noise or
    // the caption change them). True when it differs from the last Snapshot's and has not
    // changed since the previous look (a frame still being written is not taken).
    bool HasNewFrame();

    const std::string& name() const { return name_; }

    // The studio rewrites the block 15 times a second (the caption alone changes rows).
    static constexpr std::int64_t kStillAfterNs = 2'000'000'000;
    const std::string& notice() const { return notice_; } // last repair made, for the log
    void ClearNotice() { notice_.clear(); }

private:
    bool StillTheNamedObject() const;
    void Reopen(const char* why);

    std::string name_;
    SharedMemoryView view_;
    std::uint64_t SampleHash() const; // of the block as it is now; 0 when not mapped

    std::vector<std::uint8_t> frame_;
    std::uint64_t snapshotHash_ = 0;   // SampleHash of the block at the last Snapshot
    std::uint64_t lastSeenHash_ = 0;   // SampleHash at the previous HasNewFrame
    std::int64_t nextNameCheckNs_ = 0; // monotonic time of the next name check
    std::int64_t lastChangeNs_ = 0;    // monotonic time the block last changed; 0: never seen
    std::string notice_;
    bool refused_ = false; // the object under the name was refused, and that was said
};

} // namespace kelo::vcam
