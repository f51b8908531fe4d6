// What the benchmarks measure with: medians of repeated runs, the process's CPU time, and
// whether the virtual-camera feed holds a picture yet.
#pragma once

#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace kelo::bench {

// The median of the values (the mean of the two middle ones for an even count); -1 for none.
inline double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The largest value; -1 for none.
inline double Slowest(const std::vector<double>& values) {
    return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

inline double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// User + system CPU time of the whole process (all threads) so far, in seconds.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU time of the calling thread so far, in milliseconds: what that thread costs, apart from
// waiting for a core.
inline double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// True once the studio has written a frame into the feed (a fresh feed is all zeros).
inline bool FeedHasFrame(const SharedMemoryView& feed) {
    const std::uint8_t* data = feed.data();
    return std::any_of(data, data + kFeedBytes, [](std::uint8_t b) { return b != 0; });
}

} // namespace kelo::bench
