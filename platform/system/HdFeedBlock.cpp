#include "platform/system/HdFeedBlock.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace kelo {

namespace {

// Every access to the block is atomic (see HdFeedLayout.h); these keep the casts in one place.
template <typename T> std::atomic_ref<T> At(std::uint8_t* base, std::size_t offset) {
    return std::atomic_ref<T>(*reinterpret_cast<T*>(base + offset));
}

template <typename T>
T Load(const std::uint8_t* base, std::size_t offset,
       std::memory_order order = std::memory_order_relaxed) {
    return At<T>(const_cast<std::uint8_t*>(base), offset).load(order);
}

template <typename T>
void Store(std::uint8_t* base, std::size_t offset, T value,
           std::memory_order order = std::memory_order_relaxed) {
    At<T>(base, offset).store(value, order);
}

constexpr std::size_t kMagicAt = offsetof(HdFeedHeader, magic);
constexpr std::size_t kVersionAt = offsetof(HdFeedHeader, layoutVersion);
constexpr std::size_t kHeaderBytesAt = offsetof(HdFeedHeader, headerBytes);
constexpr std::size_t kSlotCountAt = offsetof(HdFeedHeader, slotCount);
constexpr std::size_t kCapacityAt = offsetof(HdFeedHeader, slotCapacity);
constexpr std::size_t kSequenceAt = offsetof(HdFeedHeader, sequence);

constexpr std::size_t SlotAt(std::uint64_t slot) {
    return offsetof(HdFeedHeader, slots) + static_cast<std::size_t>(slot) * sizeof(HdFeedSlot);
}

// The description fields shared by the header's copy and the slots: the same order in both.
struct Description {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rowStride = 0;
    std::uint32_t pixelFormat = 0;
    std::uint32_t fpsNumerator = 0;
    std::uint32_t fpsDenominator = 0;
    std::int64_t timestampNs = 0;
};

void StoreDescription(std::uint8_t* base, std::size_t at, const Description& d) {
    Store(base, at + 0, d.width);
    Store(base, at + 4, d.height);
    Store(base, at + 8, d.rowStride);
    Store(base, at + 12, d.pixelFormat);
    Store(base, at + 16, d.fpsNumerator);
    Store(base, at + 20, d.fpsDenominator);
    Store(base, at + 24, d.timestampNs);
}

Description LoadDescription(const std::uint8_t* base, std::size_t at) {
    Description d;
    d.width = Load<std::uint32_t>(base, at + 0);
    d.height = Load<std::uint32_t>(base, at + 4);
    d.rowStride = Load<std::uint32_t>(base, at + 8);
    d.pixelFormat = Load<std::uint32_t>(base, at + 12);
    d.fpsNumerator = Load<std::uint32_t>(base, at + 16);
    d.fpsDenominator = Load<std::uint32_t>(base, at + 20);
    d.timestampNs = Load<std::int64_t>(base, at + 24);
    return d;
}
static_assert(offsetof(HdFeedSlot, width) + 24 == offsetof(HdFeedSlot, timestampNs));
static_assert(offsetof(HdFeedHeader, width) + 24 == offsetof(HdFeedHeader, timestampNs));

// How the pixels go into a slot between its odd and even marks. Readers in other processes
// take them with atomic loads (or plain ones, in place) and keep a copy only when the slot's
// number did not move meanwhile, so the writer's stores need no order among themselves: only
// after the odd mark and before the even one. A plain copy (vector stores, a few times fewer
// instructions than word by word) does that behind a release fence (see PublishWith). The
// language leaves a plain store racing with a reader's load undefined: this is the sequence
// lock's usual exception, as in every implementation of one, and the fence is a compiler
// barrier as well. ThreadSanitizer cannot see it as anything but a race, so under it every
// word is an atomic release store as the protocol's checked form (the tests' readers run in
// the same process there).
#if defined(__SANITIZE_THREAD__)
constexpr bool kAtomicPixelStores = true;
#else
constexpr bool kAtomicPixelStores = false;
#endif

// One row into the block, the last 8-byte word padded with zeros.
void StoreRow(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
    const std::size_t whole = bytes / 8;
    const std::size_t rest = bytes % 8;
    if constexpr (!kAtomicPixelStores) {
        StreamingCopy(dst, src, bytes);
        if (rest)
            std::memset(dst + bytes, 0, 8 - rest);
        return;
    }
    auto* words = reinterpret_cast<std::uint64_t*>(dst);
    for (std::size_t i = 0; i < whole; ++i) {
        std::uint64_t word;
        std::memcpy(&word, src + 8 * i, 8);
        std::atomic_ref<std::uint64_t>(words[i]).store(word, std::memory_order_release);
    }
    if (rest) {
        std::uint64_t word = 0;
        std::memcpy(&word, src + 8 * whole, rest);
        std::atomic_ref<std::uint64_t>(words[whole]).store(word, std::memory_order_release);
    }
}

void StoreZeros(std::uint8_t* dst, std::size_t bytes) {
    if constexpr (!kAtomicPixelStores) {
        std::memset(dst, 0, bytes / 8 * 8);
        return;
    }
    auto* words = reinterpret_cast<std::uint64_t*>(dst);
    for (std::size_t i = 0; i < bytes / 8; ++i)
        std::atomic_ref<std::uint64_t>(words[i]).store(0, std::memory_order_release);
}

// A slot's pixels out of the block: acquire loads, so that the slot's second look at its
// sequence number comes after them.
void LoadWords(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
    auto* words = reinterpret_cast<std::uint64_t*>(const_cast<std::uint8_t*>(src));
    for (std::size_t i = 0; i < bytes / 8; ++i) {
        const std::uint64_t word =
            std::atomic_ref<std::uint64_t>(words[i]).load(std::memory_order_acquire);
        std::memcpy(dst + 8 * i, &word, 8);
    }
}

bool ValidSize(int width, int height) {
    return width > 0 && height > 0 && width <= kHdFeedMaxDimension && height <= kHdFeedMaxDimension;
}

} // namespace

std::int64_t HdFeedClockNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

namespace {

// Unguarded: callers run it inside SharedMemoryView::Guarded.
bool ValidHeaderIn(const SharedMemoryView& view) {
    if (!view.isMapped() || view.size() < kHdFeedHeaderBytes)
        return false;
    const std::uint8_t* base = view.data();
    return Load<std::uint32_t>(base, kMagicAt, std::memory_order_acquire) == kHdFeedMagic &&
           Load<std::uint32_t>(base, kVersionAt) == kHdFeedLayoutVersion &&
           Load<std::uint32_t>(base, kHeaderBytesAt) == kHdFeedHeaderBytes &&
           Load<std::uint32_t>(base, kSlotCountAt) == kHdFeedSlotCount;
}

// The newest whole frame newer than `lastTaken` handed to `take(pixels, bytes, description)`,
// its number and description into `taken` and `description`. The frame's slot number is looked
// at before and after `take`: a frame overtaken meanwhile is not taken, and the newer one is
// handed over in turn. Unguarded: the callers run it inside SharedMemoryView::Guarded.
template <typename Take>
HdFeedReader::Result ReadUnguarded(const SharedMemoryView& view, std::uint64_t lastTaken,
                                   Take&& take, std::uint64_t* taken, Description* description) {
    using Result = HdFeedReader::Result;
    if (!ValidHeaderIn(view))
        return Result::Empty;
    const std::uint8_t* base = view.data();
    for (int attempt = 0; attempt < HdFeedReader::kAttempts; ++attempt) {
        const auto n = Load<std::uint64_t>(base, kSequenceAt, std::memory_order_acquire);
        if (n == 0)
            return Result::Empty;
        if (n == lastTaken)
            return Result::Unchanged;
        const std::size_t slot = SlotAt(n % kHdFeedSlotCount);
        const auto before = Load<std::uint64_t>(base, slot, std::memory_order_acquire);
        if (before != 2 * n)
            continue; // the writer is already past n: take the newer one
        const auto offset = Load<std::uint64_t>(base, slot + offsetof(HdFeedSlot, offset));
        const Description d = LoadDescription(base, slot + offsetof(HdFeedSlot, width));
        const std::size_t bytes = static_cast<std::size_t>(d.rowStride) * d.height;
        const bool sane = d.pixelFormat == kHdFeedPixelBgr24 &&
                          ValidSize(static_cast<int>(d.width), static_cast<int>(d.height)) &&
                          d.rowStride == HdFeedRowStride(static_cast<int>(d.width)) &&
                          offset % 8 == 0 && offset >= kHdFeedHeaderBytes;
        if (!sane) {
            // Either a description read while it changed (the check below says so) or a
            // block that is not ours to trust.
            if (Load<std::uint64_t>(base, slot, std::memory_order_acquire) != before)
                continue;
            return Result::Empty;
        }
        if (offset + bytes > view.size())
            return Result::Remap;
        take(base + offset, bytes, d);
        // A taker reading the pixels with plain loads (in place): they all come before the
        // second look (the read side of a sequence lock; the writer's pixel stores are release
        // stores after the slot's odd mark).
        std::atomic_thread_fence(std::memory_order_acquire);
        if (Load<std::uint64_t>(base, slot, std::memory_order_relaxed) != before)
            continue; // overtaken while taking it: torn, not taken
        *taken = n;
        *description = d;
        return Result::Frame;
    }
    return Result::Busy;
}

// A frame's number and description, as the reader hands them out.
void Describe(std::uint64_t n, const Description& d, HdFeedFrame* frame) {
    frame->sequence = n;
    frame->width = static_cast<int>(d.width);
    frame->height = static_cast<int>(d.height);
    frame->rowStride = d.rowStride;
    frame->fpsNumerator = static_cast<int>(d.fpsNumerator);
    frame->fpsDenominator = d.fpsDenominator ? static_cast<int>(d.fpsDenominator) : 1;
    frame->timestampNs = d.timestampNs;
}

} // namespace

bool HdFeedReader::HasValidHeader(const SharedMemoryView& view) {
    bool valid = false;
    return view.Guarded([&] { valid = ValidHeaderIn(view); }) && valid;
}

std::uint64_t HdFeedReader::NewestSequence(const SharedMemoryView& view) {
    std::uint64_t newest = 0;
    const bool whole = view.Guarded([&] {
        if (ValidHeaderIn(view))
            newest = Load<std::uint64_t>(view.data(), kSequenceAt, std::memory_order_acquire);
    });
    return whole ? newest : 0;
}

void HdFeedReader::WaitForNewer(const SharedMemoryView& view, std::uint64_t seen,
                                std::int64_t timeoutNs) {
    if (timeoutNs <= 0)
        return;
    timespec timeout{static_cast<time_t>(timeoutNs / 1'000'000'000),
                     static_cast<long>(timeoutNs % 1'000'000'000)};
    if (!view.isMapped() || view.size() < kHdFeedHeaderBytes) {
        clock_nanosleep(CLOCK_MONOTONIC, 0, &timeout, nullptr);
        return;
    }
    // The low half of the word (little-endian x86 and arm64: its first four bytes). Returns at
    // once when it differs from `seen` already, on the writer's wake, on a signal or at the
    // time out; a mapping the kernel cannot reach (made smaller) fails at once, and the caller's
    // next look finds out.
    const auto expected = static_cast<std::uint32_t>(seen);
    if (syscall(SYS_futex, view.data() + kSequenceAt, FUTEX_WAIT, expected, &timeout, nullptr, 0) !=
            0 &&
        errno == EFAULT)
        clock_nanosleep(CLOCK_MONOTONIC, 0, &timeout, nullptr);
}

HdFeedReader::Result HdFeedReader::Read(const SharedMemoryView& view, std::uint64_t lastTaken,
                                        HdFeedFrame* frame) {
    // Every look at the block is guarded: another process may make it smaller at any moment
    // (see SharedMemoryView::Guarded). The frame is handed out only after the guard said the
    // copy was of the block.
    Result result = Result::Empty;
    std::uint64_t n = 0;
    Description d;
    auto copy = [this](const std::uint8_t* pixels, std::size_t bytes, const Description&) {
        scratch_.resize(bytes);
        LoadWords(scratch_.data(), pixels, bytes);
    };
    if (!view.Guarded([&] { result = ReadUnguarded(view, lastTaken, copy, &n, &d); }))
        return Result::Lost;
    if (result == Result::Frame) {
        frame->pixels.swap(scratch_);
        Describe(n, d, frame);
    }
    return result;
}

HdFeedReader::Result HdFeedReader::ReadInPlace(const SharedMemoryView& view,
                                               std::uint64_t lastTaken, HdFeedFrame* frame,
                                               void (*use)(void*, const BgrPicture&),
                                               void* context) {
    Result result = Result::Empty;
    std::uint64_t n = 0;
    Description d;
    auto inPlace = [&](const std::uint8_t* pixels, std::size_t bytes, const Description& at) {
        const auto width = static_cast<int>(at.width);
        const auto height = static_cast<int>(at.height);
        const auto stride = static_cast<std::ptrdiff_t>(at.rowStride);
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer sees the plain loads of a sequence lock's read as races with the
        // writer: under it the frame is copied with the protocol's atomic loads first.
        scratch_.resize(bytes);
        LoadWords(scratch_.data(), pixels, bytes);
        use(context, BgrPicture{scratch_.data(), stride, width, height});
#else
        (void)bytes;
        use(context, BgrPicture{pixels, stride, width, height});
#endif
    };
    if (!view.Guarded([&] { result = ReadUnguarded(view, lastTaken, inPlace, &n, &d); }))
        return Result::Lost;
    if (result == Result::Frame)
        Describe(n, d, frame);
    return result;
}

HRESULT HdFeedPublisher::Attach(SharedMemoryView* view) {
    view_ = nullptr;
    sequence_ = 0;
    if (!view || !view->isMapped() || view->size() < kHdFeedHeaderBytes)
        return E_FAIL;
    std::uint8_t* base = view->data();
    std::uint64_t sequence = 0;
    const bool whole = view->Guarded([&] {
        if (ValidHeaderIn(*view)) {
            // A block of an earlier studio: its readers go on counting from where it stopped.
            sequence = Load<std::uint64_t>(base, kSequenceAt, std::memory_order_acquire);
            const auto capacity = Load<std::uint64_t>(base, kCapacityAt);
            if (HdFeedObjectBytes(capacity) > view->size())
                Store<std::uint64_t>(base, kCapacityAt, 0); // cut short by someone: made again
        } else {
            // Nobody can be reading a block without a valid magic: the header is laid out,
            // then the magic published last.
            std::memset(base, 0, kHdFeedHeaderBytes);
            Store(base, kVersionAt, kHdFeedLayoutVersion);
            Store(base, kHeaderBytesAt, static_cast<std::uint32_t>(kHdFeedHeaderBytes));
            Store(base, kSlotCountAt, kHdFeedSlotCount);
            Store<std::uint64_t>(base, kCapacityAt, 0);
            Store(base, kMagicAt, kHdFeedMagic, std::memory_order_release);
        }
    });
    if (!whole)
        return E_FAIL; // made smaller meanwhile: the caller opens it again
    sequence_ = sequence;
    view_ = view;
    return S_OK;
}

HRESULT HdFeedPublisher::MakeRoom(std::size_t slotBytes) {
    std::uint8_t* base = view_->data();
    bool roomy = false;
    const bool whole = view_->Guarded([&] {
        const auto capacity = Load<std::uint64_t>(base, kCapacityAt);
        roomy = capacity >= slotBytes && HdFeedObjectBytes(capacity) <= view_->size();
        if (roomy)
            return;
        // The slots move: both are marked as being written, so that no reader trusts an
        // offset from before the move.
        for (std::uint64_t slot = 0; slot < kHdFeedSlotCount; ++slot) {
            const auto seq = Load<std::uint64_t>(base, SlotAt(slot));
            Store<std::uint64_t>(base, SlotAt(slot), seq | 1u, std::memory_order_relaxed);
        }
    });
    if (!whole)
        return E_FAIL;
    if (roomy)
        return S_OK;
    // No fence here: the one before the frame's pixels (PublishWith) puts these marks before
    // them too, so a reader that sees any of them sees the odd marks. Grow maps again: outside
    // any guard of the old mapping.
    if (FAILED(view_->Grow(HdFeedObjectBytes(slotBytes))))
        return E_FAIL;
    std::uint8_t* grown = view_->data();
    if (!view_->Guarded([&] {
            Store<std::uint64_t>(grown, kCapacityAt, slotBytes, std::memory_order_release);
        }))
        return E_FAIL;
    return S_OK;
}

HRESULT HdFeedPublisher::Lose() {
    if (view_)
        view_->Close();
    view_ = nullptr;
    return E_FAIL;
}

template <typename WriteRows>
HRESULT HdFeedPublisher::PublishWith(int width, int height, int fpsNumerator, int fpsDenominator,
                                     std::int64_t timestampNs, WriteRows writeRows) {
    if (!view_)
        return E_FAIL;
    if (!ValidSize(width, height))
        return E_INVALIDARG;
    const std::size_t stride = HdFeedRowStride(width);
    if (FAILED(MakeRoom(HdFeedSlotBytes(width, height))))
        return Lose();
    std::uint8_t* base = view_->data();
    const std::uint64_t n = sequence_ + 1;
    // Guarded: the object may be made smaller by another process during the writes; the frame
    // then went nowhere, and it is not counted as published.
    bool placed = false;
    const bool whole = view_->Guarded([&] {
        const std::uint64_t slotIndex = n % kHdFeedSlotCount;
        const std::size_t slot = SlotAt(slotIndex);
        const auto capacity = Load<std::uint64_t>(base, kCapacityAt);
        const std::size_t offset =
            kHdFeedHeaderBytes + static_cast<std::size_t>(slotIndex) * capacity;
        // A capacity another process wrote since MakeRoom looked must not lead outside the
        // mapping.
        if (offset + stride * static_cast<std::size_t>(height) > view_->size())
            return;
        placed = true;
        Store<std::uint64_t>(base, slot, 2 * n + 1); // odd: being written
        Store<std::uint64_t>(base, slot + offsetof(HdFeedSlot, offset), offset,
                             std::memory_order_release);
        // The odd mark before any pixel: a plain copy's stores may not be moved above it (by
        // the compiler or, on weaker machines than x86, by the processor). The even mark below
        // is a release store: every pixel before it. The rows go in with streaming stores,
        // which even x86 may make visible before older stores or after younger ones: a store
        // fence on either side.
        std::atomic_thread_fence(std::memory_order_release);
        StoreFence();
        writeRows(base + offset, stride);
        StoreFence();
        Description d;
        d.width = static_cast<std::uint32_t>(width);
        d.height = static_cast<std::uint32_t>(height);
        d.rowStride = static_cast<std::uint32_t>(stride);
        d.pixelFormat = kHdFeedPixelBgr24;
        d.fpsNumerator = static_cast<std::uint32_t>(fpsNumerator > 0 ? fpsNumerator : 0);
        d.fpsDenominator = static_cast<std::uint32_t>(fpsDenominator > 0 ? fpsDenominator : 1);
        d.timestampNs = timestampNs;
        StoreDescription(base, slot + offsetof(HdFeedSlot, width), d);
        Store<std::uint64_t>(base, slot, 2 * n, std::memory_order_release);
        StoreDescription(base, offsetof(HdFeedHeader, width), d);
        Store<std::uint64_t>(base, kSequenceAt, n, std::memory_order_release);
    });
    if (!whole || !placed)
        return Lose();
    // Readers asleep on the sequence word wake now. A shared futex (the block is mapped by
    // other processes); an address the kernel cannot reach only makes the call fail.
    syscall(SYS_futex, view_->data() + kSequenceAt, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    sequence_ = n;
    return S_OK;
}

HRESULT HdFeedPublisher::Publish(const BgrPicture& picture, int fpsNumerator, int fpsDenominator,
                                 std::int64_t timestampNs) {
    if (!picture.topRow)
        return E_INVALIDARG;
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * kHdFeedBytesPerPixel;
    return PublishWith(picture.width, picture.height, fpsNumerator, fpsDenominator, timestampNs,
                       [&](std::uint8_t* dst, std::size_t stride) {
                           for (int y = 0; y < picture.height; ++y)
                               StoreRow(dst + stride * static_cast<std::size_t>(y),
                                        picture.topRow + picture.rowStride * y, rowBytes);
                       });
}

HRESULT HdFeedPublisher::PublishBlack(int width, int height, int fpsNumerator, int fpsDenominator,
                                      std::int64_t timestampNs) {
    return PublishWith(width, height, fpsNumerator, fpsDenominator, timestampNs,
                       [&](std::uint8_t* dst, std::size_t stride) {
                           StoreZeros(dst, stride * static_cast<std::size_t>(height));
                       });
}

} // namespace kelo
