// Layout of the virtual camera's HD block: the studio's processed frame at its own size, beside
// the fixed 320 x 240 block of FeedLayout.h (which stays as it is). Shared by the studio (the
// only writer, which creates the block) and the kelocam-vcam bridge (reader).
//
// Name: the 320 x 240 block's name with "HD" appended ("/KeloVCamHD"; KELOCAM_FEED_NAME=/X
// gives /X and /XHD). Created by the studio with mode 0600; both sides refuse a block that
// belongs to another user or that others may read or write.
//
// The block, all numbers in the machine's byte order (little-endian here), every field
// naturally aligned:
//
//   offset 0    HdFeedHeader (256 bytes): magic, layout version, the sizes of the header and
//               of each slot, the sequence number of the newest whole frame, a copy of that
//               frame's description, and the two slot descriptors.
//   offset 256  slot 0: capacity bytes (a multiple of 64)
//   then        slot 1: capacity bytes
//
// Frames are numbered 1, 2, 3 ... for the block's whole life (a studio started again goes on
// from the number it finds). Frame n is written into slot n % 2, so a reader copying frame n
// has a whole frame period before the writer comes back to that slot.
//
// The sequence protocol (no torn frame is ever taken):
//   writer, frame n:  slot.seq = 2n + 1 (odd: being written); pixels and description;
//                     slot.seq = 2n (release); header.sequence = n (release).
//   reader:           n = header.sequence (acquire); s1 = slot[n % 2].seq (acquire), must be 2n;
//                     copy description and pixels; s2 = slot.seq again; s1 == s2 -> whole.
//                     Otherwise it tries again with the newest n. A reader may also use the
//                     pixels where they lie (convert them straight into its output) and look
//                     at s2 after that, behind an acquire fence: what it made is whole only
//                     when s1 == s2, and is made again from the newest n otherwise.
//   waking:           after header.sequence = n the writer wakes the futex waiters on the
//                     sequence word (FUTEX_WAKE, shared, on its first four bytes: the low half
//                     of n), so a reader may sleep there (FUTEX_WAIT on the low half it saw)
//                     instead of looking again and again.
// The sequence numbers and descriptions are read and written as C++ atomics (release stores
// and acquire loads where the protocol says so). The pixels are the sequence lock's data: the
// writer copies them in with plain (vector) stores behind a release fence after the odd mark,
// and a reader either loads them as atomics (a copy) or uses them in place with plain loads;
// either way what it took counts only when s1 == s2. Under ThreadSanitizer both sides use
// atomic pixel words instead, so that it checks the protocol rather than reporting the
// sequence lock's intended races.
//
// Growing: when a frame needs more room than a slot has, the writer marks both slots odd,
// grows the object (never shrinks it: a reader's mapping would fault), and writes the frame at
// the new offsets. A reader whose mapping is too small for a descriptor's offset maps again.
#pragma once

#include "platform/contracts/FeedLayout.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelo {

inline constexpr std::uint32_t kHdFeedMagic = 0x4448564Bu; // bytes "KVHD"
inline constexpr std::uint32_t kHdFeedLayoutVersion = 1;
// 3 bytes a pixel in the order blue, green, red; the top row of the picture first.
inline constexpr std::uint32_t kHdFeedPixelBgr24 = 1;
inline constexpr int kHdFeedBytesPerPixel = 3;
inline constexpr std::size_t kHdFeedHeaderBytes = 256;
inline constexpr std::uint32_t kHdFeedSlotCount = 2;
inline constexpr std::size_t kHdFeedAlign = 64;
inline constexpr int kHdFeedMaxDimension = 4096;

// One slot's description of the frame it holds.
struct HdFeedSlot {
    std::uint64_t seq;          // 2n: frame n whole; 2n + 1: frame n being written; 0: empty
    std::uint64_t offset;       // from the start of the block to the frame's first (top) row
    std::uint32_t width;        // pixels
    std::uint32_t height;       // rows
    std::uint32_t rowStride;    // bytes from one row to the next (a multiple of 8)
    std::uint32_t pixelFormat;  // kHdFeedPixelBgr24
    std::uint32_t fpsNumerator; // the studio's frame rate, numerator / denominator
    std::uint32_t fpsDenominator;
    std::int64_t timestampNs; // CLOCK_MONOTONIC when the frame was published
    std::uint64_t reserved[2];
};
static_assert(sizeof(HdFeedSlot) == 64);

struct HdFeedHeader {
    std::uint32_t magic;
    std::uint32_t layoutVersion;
    std::uint32_t headerBytes;  // kHdFeedHeaderBytes
    std::uint32_t slotCount;    // kHdFeedSlotCount
    std::uint64_t slotCapacity; // bytes of each slot
    std::uint64_t sequence;     // the newest whole frame (0: none yet)
    // The newest frame's description, for a quick look (logs, tools); readers take the slot's,
    // which the sequence protocol guards.
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t rowStride;
    std::uint32_t pixelFormat;
    std::uint32_t fpsNumerator;
    std::uint32_t fpsDenominator;
    std::int64_t timestampNs;
    std::uint64_t reserved[8];
    HdFeedSlot slots[kHdFeedSlotCount];
};
static_assert(sizeof(HdFeedHeader) == kHdFeedHeaderBytes);
static_assert(offsetof(HdFeedHeader, sequence) == 24);
static_assert(offsetof(HdFeedHeader, slots) == 128);

// Bytes of one row as the block stores it: 3 bytes a pixel, rounded up to whole 8-byte words.
inline constexpr std::size_t HdFeedRowStride(int width) {
    return (static_cast<std::size_t>(width) * kHdFeedBytesPerPixel + 7) / 8 * 8;
}
// Room one frame takes in a slot, rounded up to kHdFeedAlign.
inline constexpr std::size_t HdFeedSlotBytes(int width, int height) {
    return (HdFeedRowStride(width) * static_cast<std::size_t>(height) + kHdFeedAlign - 1) /
           kHdFeedAlign * kHdFeedAlign;
}
// The whole object for slots of `slotCapacity` bytes.
inline constexpr std::size_t HdFeedObjectBytes(std::size_t slotCapacity) {
    return kHdFeedHeaderBytes + kHdFeedSlotCount * slotCapacity;
}

// The HD block's name: the 320 x 240 block's with "HD" appended.
inline std::string HdFeedObjectName() {
    return FeedObjectName() + "HD";
}

} // namespace kelo
