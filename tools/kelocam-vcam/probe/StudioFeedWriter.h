// Plays the studio's side of the feed: a thread that, like the preview engine's per-frame
// callback, opens the block only when it exists (never creates it), retries on every frame until
// it does, and writes each frame by zeroing the view and copying the frame in, with no lock.
// Stop() is the engine's teardown: the block is cleared to zeros and closed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelo::vcam::probe {

class StudioFeedWriter {
public:
    explicit StudioFeedWriter(
        std::string objectName,
        std::chrono::microseconds period = std::chrono::microseconds(1'000'000 / 15));
    StudioFeedWriter(const StudioFeedWriter&) = delete;
    StudioFeedWriter& operator=(const StudioFeedWriter&) = delete;
    ~StudioFeedWriter();

    // Starts writing the test picture with counters from nextCounter() on.
    void Start();
    // Joins the thread, then clears the block and closes it (engine teardown).
    void Stop();

    bool writing() const { return thread_.joinable(); }
    std::uint32_t nextCounter() const { return counter_.load(); }
    // How many times the block was opened since construction.
    int opens() const { return opens_.load(); }
    // When the frame with this counter was written (steady clock); the epoch when unknown.
    std::chrono::steady_clock::time_point WrittenAt(std::uint32_t counter) const;

private:
    void Run();

    std::string name_;
    std::chrono::microseconds period_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint32_t> counter_{1};
    std::atomic<int> opens_{0};
    mutable std::mutex timesMutex_;
    std::vector<std::chrono::steady_clock::time_point> writtenAt_; // by counter mod 2^16
};

} // namespace kelo::vcam::probe
