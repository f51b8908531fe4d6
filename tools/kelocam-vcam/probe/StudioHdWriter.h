// Plays the studio's side of the HD block: a thread that makes the block (as the studio does),
// publishes the test picture of FrameStamp.h scaled to the chosen size, with its counter, at
// the chosen rate, and publishes black when stopped (the engine's teardown).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace kelo::vcam::probe {

class StudioHdWriter {
public:
    StudioHdWriter(std::string objectName, int width, int height, int framesPerSecond);
    StudioHdWriter(const StudioHdWriter&) = delete;
    StudioHdWriter& operator=(const StudioHdWriter&) = delete;
    ~StudioHdWriter();

    // False when the block could not be made (refused or out of room).
    bool Start();
    void Stop();

    std::uint32_t nextCounter() const { return counter_.load(); }
    // When the frame with this counter was published (steady clock); the epoch when unknown.
    std::chrono::steady_clock::time_point PublishedAt(std::uint32_t counter) const;

private:
    void Run();

    std::string name_;
    int width_;
    int height_;
    int framesPerSecond_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint32_t> counter_{1};
    std::atomic<std::int64_t> publishedAt_[256] = {}; // steady-clock nanoseconds by counter % 256
};

// The test picture (FrameStamp.h) with `counter`, scaled (nearest pixel) to an upright BGR
// picture of width x height, rows of width * 3 bytes.
void PaintUprightTestPicture(std::uint8_t* bgr, int width, int height, std::uint32_t counter);

} // namespace kelo::vcam::probe
