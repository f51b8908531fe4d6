#include "tools/kelocam-vcam/FeedSource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/FeedLayout.h"
#include "tools/kelocam-vcam/BridgeOptions.h"

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
    if (SUCCEEDED(view_.OpenOrCreate(name_, kFeedBytes)))
        notice_ = name_ + " " + why + "; opened it again";
    else
        notice_ = name_ + " " + why + " and could not be opened again";
}

const std::uint8_t* FeedSource::Snapshot() {
    // Once a second: is the name still ours? (A clean-up may have removed the object; the studio
    // would then never find a block to write to.)
    if (++ticks_ % kFramesPerSecond == 0 && !StillTheNamedObject())
        Reopen("was removed or replaced");

    // Every tick: a shrunk object would fault on the read below.
    struct stat st {};
    if (view_.isOpen() &&
        (fstat(view_.fd(), &st) != 0 || static_cast<std::size_t>(st.st_size) < kFeedBytes))
        Reopen("was made smaller than a frame");

    if (view_.isMapped() && view_.size() >= kFeedBytes)
        std::memcpy(frame_.data(), view_.data(), kFeedBytes);
    else
        std::fill(frame_.begin(), frame_.end(), 0);
    return frame_.data();
}

} // namespace kelo::vcam
