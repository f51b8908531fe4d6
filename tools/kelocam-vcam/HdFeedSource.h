// The bridge's side of the studio's HD block (platform/contracts/HdFeedLayout.h): the frame at
// the studio's own size, taken whole through the block's sequence protocol. The studio makes the
// block; the bridge only opens it, looking for it about once a second while it is missing, and
// refuses one that belongs to another user or that others may read or write (said once). It
// maps the block again when the studio grew it, and opens it again when the name leads to
// another object (the studio made it anew after a clean-up) or when another process made it
// smaller under a look or a copy (which is guarded: no SIGBUS ends the bridge).
//
// All calls come from the bridge's one thread.
#pragma once

#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"
#include "tools/kelocam-vcam/FeedConverter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelo::vcam {

class HdFeedSource {
public:
    explicit HdFeedSource(std::string objectName) : name_(std::move(objectName)) {}
    HdFeedSource(const HdFeedSource&) = delete;
    HdFeedSource& operator=(const HdFeedSource&) = delete;

    // A cheap look (a few loads from the block): whether a frame newer than the last one taken
    // is there. Also opens, checks and mends the block when it is time to.
    bool HasNewFrame(std::int64_t nowNs);
    // The newest whole frame (taken now when a newer one is there, else the last one taken);
    // null when no frame could be taken yet.
    const HdFeedFrame* Take();
    // Without copying the pixels: the newest whole frame's description (its pixels empty),
    // counted as taken (the last one described when none could be read now; null before the
    // first). For an output that converts in place (ConvertNewest).
    const HdFeedFrame* Describe();
    // Converts the newest whole frame with `converter` straight from the block into `out`
    // (`converter.outputBytes()`): no copy of the frame, unless it must be scaled (the frame's
    // size is not the converter's; scaling allocates, so it works on a copy). The frame's
    // sequence number is checked after the conversion: a frame the studio overwrote meanwhile is
    // converted again from the newer one, never handed over torn. False when `out` holds no
    // whole frame (none there, or the studio overtook every try).
    bool ConvertNewest(FeedConverter& converter, std::uint8_t* out);
    // Sleeps until the studio publishes a frame newer than the last look saw, a signal
    // arrives, or the monotonic time `untilNs` (at once when a newer one is already there).
    void WaitForNewFrame(std::int64_t nowNs, std::int64_t untilNs) const;
    // Whether the studio is writing the block: a new frame seen, or one stamped, within the
    // last kLiveNanos.
    bool Live(std::int64_t nowNs) const;

    const std::string& name() const { return name_; }
    bool isOpen() const { return view_.isMapped(); }
    const std::string& notice() const { return notice_; } // what happened, for the log
    void ClearNotice() { notice_.clear(); }

    // The bridge follows the HD block while frames came within this time.
    static constexpr std::int64_t kLiveNanos = 1'000'000'000;

private:
    void Open(std::int64_t nowNs);
    void Lose(const char* when);

    std::string name_;
    SharedMemoryView view_;
    HdFeedReader reader_;
    template <typename ReadOnce> HdFeedReader::Result ReadFollowing(ReadOnce readOnce);

    HdFeedFrame frame_;              // the last frame taken with its pixels (Take)
    HdFeedFrame described_;          // the last frame described (Describe), without pixels
    std::uint64_t taken_ = 0;        // the number of the last frame taken, copied or described
    std::vector<std::uint8_t> copy_; // a frame to scale (ConvertNewest)
    bool haveFrame_ = false;
    std::uint64_t seen_ = 0; // the newest sequence number seen at the last look
    std::int64_t lastAdvanceNs_ = 0;
    std::int64_t nextLookNs_ = 0; // when to look for the block (missing) or at its name (open)
    bool refused_ = false;
    std::string notice_;
};

} // namespace kelo::vcam
