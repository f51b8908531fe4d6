#include "tools/kelocam-vcam/HdFeedSource.h"

#include <algorithm>
#include <cstring>
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
    described_ = {};
    taken_ = 0;
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
    return newest != 0 && newest != taken_;
}

// One read of the block, mapped again when the studio grew it, and opened again at the next
// look when another process made it smaller.
template <typename ReadOnce> HdFeedReader::Result HdFeedSource::ReadFollowing(ReadOnce readOnce) {
    if (!view_.isMapped())
        return HdFeedReader::Result::Empty;
    HdFeedReader::Result result = readOnce();
    if (result == HdFeedReader::Result::Remap) {
        // The studio grew the block for a larger frame.
        if (FAILED(view_.Grow(0))) {
            notice_ = name_ + " could not be mapped again";
            return result;
        }
        result = readOnce();
    }
    if (result == HdFeedReader::Result::Lost)
        Lose("during a read");
    return result;
}

const HdFeedFrame* HdFeedSource::Take() {
    const auto result = ReadFollowing(
        [&] { return reader_.Read(view_, haveFrame_ ? frame_.sequence : 0, &frame_); });
    if (result == HdFeedReader::Result::Frame) {
        haveFrame_ = true;
        taken_ = frame_.sequence;
    }
    return haveFrame_ ? &frame_ : nullptr;
}

const HdFeedFrame* HdFeedSource::Describe() {
    const auto result = ReadFollowing(
        [&] { return reader_.ReadInPlace(view_, 0, &described_, [](const BgrPicture&) {}); });
    if (result == HdFeedReader::Result::Frame)
        taken_ = described_.sequence;
    return described_.sequence != 0 ? &described_ : nullptr;
}

bool HdFeedSource::ConvertNewest(FeedConverter& converter, std::uint8_t* out) {
    HdFeedFrame taken;
    bool scale = false;
    const auto result = ReadFollowing([&] {
        return reader_.ReadInPlace(view_, 0, &taken, [&](const BgrPicture& picture) {
            scale = picture.width != converter.size().width ||
                    picture.height != converter.size().height;
            if (!scale) {
                converter.Convert(picture, out);
                return;
            }
            // Scaling allocates: it must not run where a fault may cut it short. The rows are
            // copied here (a buffer that keeps its size from frame to frame) and scaled after
            // the frame was found whole.
            const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
            copy_.resize(rowBytes * static_cast<std::size_t>(picture.height));
            for (int y = 0; y < picture.height; ++y)
                std::memcpy(copy_.data() + rowBytes * y, picture.topRow + picture.rowStride * y,
                            rowBytes);
        });
    });
    if (result != HdFeedReader::Result::Frame)
        return false;
    if (scale)
        converter.Convert(BgrPicture{copy_.data(), static_cast<std::ptrdiff_t>(taken.width) * 3,
                                     taken.width, taken.height},
                          out);
    taken_ = std::max(taken_, taken.sequence);
    return true;
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
