// When the next picture of an animated effect is due. The effect pages and the headless overlay
// both tick it every 10 ms: a picture is held for its delay in ticks, then the next one (after the
// last, the first again) is due. A delay of 0 is taken as 1 tick: counted down unsigned it would
// hold the picture for 2^32 ticks.
//
// Threads: whichever thread ticks it (the window's, or the headless runner's).
#pragma once

#include <cstdint>

namespace kelo {

class AnimationClock {
public:
    // A new effect of `frameCount` pictures: picture 0 is shown now and held `firstDelay` ticks.
    void Restart(int frameCount, int firstDelay) {
        frameCount_ = static_cast<std::uint32_t>(frameCount);
        frameIndex_ = 0;
        countdown_ = Ticks(firstDelay);
    }

    // One tick. True when the next picture is due: its index is then FrameIndex() and it is held
    // for delayOf(index) ticks. Before the first Restart the count wraps and nothing is due for
    // 2^32 ticks (nothing is loaded to show).
    template <typename DelayOf> bool Tick(DelayOf&& delayOf) {
        if (--countdown_ != 0)
            return false;
        ++frameIndex_;
        if (frameIndex_ > frameCount_ - 1u)
            frameIndex_ = 0;
        countdown_ = Ticks(delayOf(static_cast<int>(frameIndex_)));
        return true;
    }

    std::uint32_t Countdown() const { return countdown_; }
    std::uint32_t FrameCount() const { return frameCount_; }
    std::uint32_t FrameIndex() const { return frameIndex_; }

private:
    static std::uint32_t Ticks(int delay) {
        const auto ticks = static_cast<std::uint32_t>(delay);
        return ticks == 0 ? 1u : ticks;
    }

    std::uint32_t countdown_ = 0; // ticks left before the next picture
    std::uint32_t frameCount_ = 0;
    std::uint32_t frameIndex_ = 0;
};

} // namespace kelo
