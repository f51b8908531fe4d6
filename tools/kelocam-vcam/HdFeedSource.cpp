#include "tools/kelocam-vcam/HdFeedSource.h"

#include <sys/stat.h>

namespace kelo::vcam {

namespace {
constexpr std::int64_t kLookNanos = 1'000'000'000;
} // namespace

void HdFeedSource::Open(std::int64_t nowNs) {
    const HRESULT hr = view_.OpenExisting(name_, kHdFeedHeaderBytes);
    const bool refusedBefore = refused_;
    refused_ = hr == E_ACCESSDENIED;
    if (refused_ && !refusedBefore)
        notice_ = SharedMemoryView::RefusalText(name_);
    if (hr != S_OK) {
        view_.Close();
        return;
    }
    haveFrame_ = false;
    seen_ = HdFeedReader::NewestSequence(view_);
    // A frame stamped a moment ago counts as the studio writing (the bridge started beside a
    // running studio); an old block left by a studio that has gone does not.
    if (Take() && nowNs - frame_.timestampNs < kLiveNanos)
        lastAdvanceNs_ = frame_.timestampNs;
}

bool HdFeedSource::HasNewFrame(std::int64_t nowNs) {
    if (nowNs >= nextLookNs_) {
        nextLookNs_ = nowNs + kLookNanos;
        if (view_.isMapped() && !view_.StillNamed(name_))
            view_.Close(); // removed, or made anew: the new one is opened below
        if (!view_.isMapped())
            Open(nowNs);
    }
    if (!view_.isMapped())
        return false;
    const std::uint64_t newest = HdFeedReader::NewestSequence(view_);
    if (view_.lost()) {
        Lose("during a look");
        return false;
    }
    if (newest != seen_) {
        seen_ = newest;
        lastAdvanceNs_ = nowNs;
    }
    return newest != 0 && (!haveFrame_ || newest != frame_.sequence);
}

const HdFeedFrame* HdFeedSource::Take() {
    if (!view_.isMapped())
        return haveFrame_ ? &frame_ : nullptr;
    HdFeedReader::Result result = reader_.Read(view_, haveFrame_ ? frame_.sequence : 0, &frame_);
    if (result == HdFeedReader::Result::Remap) {
        // The studio grew the block for a larger frame.
        if (FAILED(view_.Grow(0))) {
            notice_ = name_ + " could not be mapped again";
            return haveFrame_ ? &frame_ : nullptr;
        }
        result = reader_.Read(view_, haveFrame_ ? frame_.sequence : 0, &frame_);
    }
    if (result == HdFeedReader::Result::Lost)
        Lose("during a copy");
    if (result == HdFeedReader::Result::Frame)
        haveFrame_ = true;
    return haveFrame_ ? &frame_ : nullptr;
}

void HdFeedSource::Lose(const char* when) {
    // Another process made the block smaller under the mapping (the guarded access survived
    // it): the mapping no longer shows the block. It is opened again at the next look, at once.
    view_.Close();
    nextLookNs_ = 0;
    notice_ = name_ + " was made smaller " + when + " and is opened again";
}

void HdFeedSource::WaitForNewFrame(std::int64_t nowNs, std::int64_t untilNs) const {
    HdFeedReader::WaitForNewer(view_, seen_, untilNs - nowNs);
}

bool HdFeedSource::Live(std::int64_t nowNs) const {
    return view_.isMapped() && lastAdvanceNs_ != 0 && nowNs - lastAdvanceNs_ < kLiveNanos;
}

} // namespace kelo::vcam
