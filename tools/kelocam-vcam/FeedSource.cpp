#include "tools/kelocam-vcam/FeedSource.h"

#include "platform/contracts/FeedLayout.h"
#include "tools/kelocam-vcam/BridgeOptions.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace kelo::vcam {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

HRESULT FeedSource::Open(const std::string& objectName) {
    name_ = objectName;
    frame_.assign(kFeedBytes, 0);
    return view_.OpenOrCreate(name_, kFeedBytes);
}

bool FeedSource::StillTheNamedObject() const {
    const int fd = shm_open(name_.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct stat named {};
    struct stat ours {};
    const bool same = fstat(fd, &named) == 0 && view_.isOpen() && fstat(view_.fd(), &ours) == 0 &&
                      SameFile(named, ours);
    ::close(fd);
    return same;
}

void FeedSource::Reopen(const char* why) {
    const HRESULT hr = view_.OpenOrCreate(name_, kFeedBytes);
    const bool refusedBefore = std::exchange(refused_, hr == E_ACCESSDENIED);
    if (SUCCEEDED(hr))
        notice_ = name_ + " " + why + "; opened it again";
    else if (refused_ && !refusedBefore)
        notice_ = SharedMemoryView::RefusalText(name_);
    else if (!refused_)
        notice_ = name_ + " " + why + " and could not be opened again";
    // A refusal is said once; black goes on until the object is mended.
}

std::uint64_t FeedSource::SampleHash() const {
    if (!view_.isMapped() || view_.size() < kFeedBytes)
        return 0;
    // FNV-1a over 12 rows, 8-byte words: about 1 % of the block.
    std::uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < 12; ++i) {
        const std::size_t row = static_cast<std::size_t>(i * kFeedHeight / 12 + 7);
        const std::uint8_t* p = view_.data() + row * kFeedRowBytes;
        for (std::size_t x = 0; x + 8 <= kFeedRowBytes; x += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p + x, 8);
            hash = (hash ^ word) * 1099511628211ull;
        }
    }
    return hash;
}

bool FeedSource::HasNewFrame() {
    struct stat st {};
    if (!view_.isMapped() || fstat(view_.fd(), &st) != 0 ||
        static_cast<std::size_t>(st.st_size) < kFeedBytes)
        return false; // Snapshot mends it
    // The studio writes without lock or signal: a change seen now may be a write under way.
    // Only a sample that has stayed the same since the previous look counts, so that the frame
    // is taken whole.
    std::uint64_t hash = 0;
    if (!view_.Guarded([this, &hash] { hash = SampleHash(); })) {
        // Shrunk under the look: the mapping no longer shows the block.
        Reopen("was made smaller during a look");
        return false;
    }
    const bool settled = hash == lastSeenHash_;
    lastSeenHash_ = hash;
    return settled && hash != snapshotHash_;
}

const std::uint8_t* FeedSource::Snapshot() {
    // Once a second: is the name still ours? (A clean-up may have removed the object; the studio
    // would then never find a block to write to.)
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    if (nowNs >= nextNameCheckNs_) {
        if (nextNameCheckNs_ != 0 && !StillTheNamedObject())
            Reopen("was removed or replaced");
        nextNameCheckNs_ = nowNs + 1'000'000'000;
    }

    // Every tick: a shrunk object would fault on the read below.
    struct stat st {};
    if (view_.isOpen() &&
        (fstat(view_.fd(), &st) != 0 || static_cast<std::size_t>(st.st_size) < kFeedBytes))
        Reopen("was made smaller than a frame");

    bool copied = false;
    const std::uint64_t previousHash = snapshotHash_;
    if (view_.isMapped() && view_.size() >= kFeedBytes) {
        // A copy the studio wrote into meanwhile is taken again (a few times at most): the
        // sampled rows before and after the copy tell. Guarded: the object may be made smaller
        // during the copy (the check above cannot see that coming), which would fault.
        copied = view_.Guarded([this] {
            for (int attempt = 0; attempt < 4; ++attempt) {
                const std::uint64_t before = SampleHash();
                std::memcpy(frame_.data(), view_.data(), kFeedBytes);
                snapshotHash_ = SampleHash();
                if (snapshotHash_ == before)
                    break;
            }
        });
        if (!copied)
            Reopen("was made smaller during a copy");
    }
    if (!copied) {
        snapshotHash_ = 0;
        std::fill(frame_.begin(), frame_.end(), 0);
    }
    // Still for too long: the studio is gone (or hangs) and left its last frame behind.
    if (snapshotHash_ != previousHash || lastChangeNs_ == 0)
        lastChangeNs_ = nowNs;
    else if (nowNs - lastChangeNs_ >= kStillAfterNs)
        std::fill(frame_.begin(), frame_.end(), 0);
    return frame_.data();
}

} // namespace kelo::vcam
