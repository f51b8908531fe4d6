// The bridge's side of the feed block: creates the shared-memory object (zero-filled) or opens
// it when it exists, growing it to a whole frame, and takes a copy of the frame on every tick.
// The object is never removed: like a Windows named mapping, it lives on for the studio and the
// next bridge.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HResult.h"
#include "platform/SharedMemoryView.h"

namespace kelo::vcam {

class FeedSource {
public:
    FeedSource() = default;
    FeedSource(const FeedSource&) = delete;
    FeedSource& operator=(const FeedSource&) = delete;

    HRESULT Open(const std::string& objectName);

    // Copies the block's frame (kFeedBytes) and returns the copy. The studio writes without
    // lock or signal, so this takes whatever bytes are there. Also mends the object when it was
    // shrunk (reading past its end would fault) or removed and made again by someone else, so
    // that the studio and the bridge keep meeting in the same block.
    const std::uint8_t* Snapshot();

    const std::string& name() const { return name_; }
    const std::string& notice() const { return notice_; } // last repair made, for the log
    void ClearNotice() { notice_.clear(); }

private:
    bool StillTheNamedObject() const;
    void Reopen(const char* why);

    std::string name_;
    SharedMemoryView view_;
    std::vector<std::uint8_t> frame_;
    std::uint64_t ticks_ = 0;
    std::string notice_;
    bool refused_ = false; // the object under the name was refused, and that was said
};

} // namespace kelo::vcam
