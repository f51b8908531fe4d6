// Both sides of the HD block's sequence protocol (layout and rules in
// platform/contracts/HdFeedLayout.h), over a SharedMemoryView that the caller opened.
//
// HdFeedPublisher belongs to the one writer (the studio's streaming thread); HdFeedReader to a
// reader (the bridge's loop, a test). Neither locks anything the other side could wait on.
#pragma once

#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/HResult.h"
#include "platform/system/SharedMemoryView.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace kelo {

// An upright BGR picture owned elsewhere: `rowStride` may be negative (pass the last row of a
// bottom-up frame and -widthStep).
struct BgrPicture {
    const std::uint8_t* topRow = nullptr;
    std::ptrdiff_t rowStride = 0;
    int width = 0;
    int height = 0;
};

// A frame taken from the block: its description and a private copy of its rows.
struct HdFeedFrame {
    std::uint64_t sequence = 0;
    int width = 0;
    int height = 0;
    std::size_t rowStride = 0; // of `pixels`, as in the block
    int fpsNumerator = 0;
    int fpsDenominator = 1;
    std::int64_t timestampNs = 0;
    std::vector<std::uint8_t> pixels; // rowStride * height bytes, top row first
    BgrPicture picture() const {
        return {pixels.data(), static_cast<std::ptrdiff_t>(rowStride), width, height};
    }
};

// CLOCK_MONOTONIC now, the clock of the frames' time stamps.
std::int64_t HdFeedClockNanos();

class HdFeedPublisher {
public:
    // Takes a mapped block: formats one without a valid header (fresh, or of another layout),
    // and goes on from the frame number of one that has. E_FAIL when the view is not mapped,
    // is too small for the header, or was made smaller during the look.
    [[nodiscard]] HRESULT Attach(SharedMemoryView* view);
    void Detach() { view_ = nullptr; }
    bool attached() const { return view_ != nullptr; }

    // Publishes one frame (1..4096 on each side), growing the object when the frame does not
    // fit a slot. E_INVALIDARG for a bad size; E_FAIL when the object could not be grown or
    // was made smaller by another process during the writes (the frame went nowhere; the view
    // is then closed and detached: the caller opens it again later).
    [[nodiscard]] HRESULT Publish(const BgrPicture& picture, int fpsNumerator, int fpsDenominator,
                                  std::int64_t timestampNs);
    // A black frame of the given size (what the block shows after the studio stopped).
    [[nodiscard]] HRESULT PublishBlack(int width, int height, int fpsNumerator, int fpsDenominator,
                                       std::int64_t timestampNs);

    std::uint64_t lastSequence() const { return sequence_; }

private:
    [[nodiscard]] HRESULT MakeRoom(std::size_t slotBytes);
    HRESULT Lose(); // closes and detaches the view: E_FAIL
    template <typename WriteRows>
    HRESULT PublishWith(int width, int height, int fpsNumerator, int fpsDenominator,
                        std::int64_t timestampNs, WriteRows writeRows);

    SharedMemoryView* view_ = nullptr; // borrowed; the caller keeps it open while attached
    std::uint64_t sequence_ = 0;       // the last frame number published
};

class HdFeedReader {
public:
    enum class Result {
        Frame,     // `frame` holds a whole new frame
        Unchanged, // the newest frame is the one taken last time (`frame` untouched)
        Empty,     // no frame published yet, or the block is not (yet) a valid HD block
        Busy,      // the writer kept overtaking the copy; try again
        Remap,     // the block grew past this mapping: map it again, then read
        Lost,      // the block was made smaller during the look: close it and open it again
    };

    // Takes the newest whole frame when it is newer than `lastTaken` (0: any). `frame` is
    // changed only when the result is Frame (copies are made in a buffer of the reader's own).
    Result Read(const SharedMemoryView& view, std::uint64_t lastTaken, HdFeedFrame* frame);

    // The same without the copy: `use` is handed the frame where it lies in the block, and the
    // frame's sequence number is looked at again after it returns (a sequence lock's read).
    // When the writer overtook it, `use` is called again with the newer frame, so that when the
    // result is Frame, the last call saw one whole frame; what earlier calls made must be
    // thrown away by the caller (a buffer written again is enough). `use` runs inside the
    // block's guard: it only reads the picture and writes memory of its own, allocates
    // nothing, and may be cut short (a block made smaller: Lost). On Frame, `frame` gets the
    // description; its pixels are left as they are. A `use` that does nothing reads the newest
    // frame's description alone.
    template <typename Use>
    Result ReadInPlace(const SharedMemoryView& view, std::uint64_t lastTaken, HdFeedFrame* frame,
                       Use&& use) {
        return ReadInPlace(
            view, lastTaken, frame,
            [](void* context, const BgrPicture& picture) {
                (*static_cast<std::remove_reference_t<Use>*>(context))(picture);
            },
            const_cast<void*>(static_cast<const void*>(&use)));
    }
    Result ReadInPlace(const SharedMemoryView& view, std::uint64_t lastTaken, HdFeedFrame* frame,
                       void (*use)(void*, const BgrPicture&), void* context);

    // Every look at the block is guarded (SharedMemoryView::Guarded): one made smaller by
    // another process under it gives Lost here, 0 and false below, and view.lost() is then
    // true.
    // The number of the newest whole frame, 0 when none or not a valid block: a cheap look.
    static std::uint64_t NewestSequence(const SharedMemoryView& view);
    // Sleeps until the block's sequence number is no longer `seen` (the writer wakes sleepers
    // on it after each frame), a signal arrives, or `timeoutNs` passed.
    static void WaitForNewer(const SharedMemoryView& view, std::uint64_t seen,
                             std::int64_t timeoutNs);
    // Whether the view holds a header of this layout.
    static bool HasValidHeader(const SharedMemoryView& view);

    static constexpr int kAttempts = 8;

private:
    std::vector<std::uint8_t> scratch_;
};

} // namespace kelo
