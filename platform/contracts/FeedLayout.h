// Layout of the virtual camera feed: one 320 x 240 frame, 3 bytes a pixel (blue, green, red),
// 960 bytes a row, bottom row first, no header. Shared by the studio (writer) and the
// kelocam-vcam bridge (reader).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>

namespace kelo {

inline constexpr int kFeedWidth = 320;
inline constexpr int kFeedHeight = 240;
inline constexpr int kFeedBytesPerPixel = 3;
inline constexpr std::size_t kFeedRowBytes = kFeedWidth * kFeedBytesPerPixel;  // 960
inline constexpr std::size_t kFeedBytes = kFeedRowBytes * kFeedHeight;          // 230400
inline constexpr const char* kFeedDefaultName = "/KeloVCam";

// The POSIX shared-memory object's name. KELOCAM_FEED_NAME overrides it, so that two studios
// (or parallel test runs) on one machine can use separate blocks.
inline std::string FeedObjectName() {
    const char* name = std::getenv("KELOCAM_FEED_NAME");
    return (name && *name) ? std::string(name) : std::string(kFeedDefaultName);
}

} // namespace kelo
