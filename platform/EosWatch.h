// Waits for end-of-stream to pass a pad. Used to complete a recording: the engine sends
// end-of-stream into the graph and waits, bounded, until it has reached the file's writer, so
// that the muxer has written its headers and index before the graph is torn down.
#pragma once

#include "platform/Handles.h"

#include <chrono>
#include <memory>

namespace kelo {

class EosWatch {
public:
    // Watches `pad` from now on (a probe that only looks, never blocks the stream).
    explicit EosWatch(PadPtr pad);
    EosWatch(const EosWatch&) = delete;
    EosWatch& operator=(const EosWatch&) = delete;
    // Removes the probe.
    ~EosWatch();

    // True once end-of-stream has passed the pad. Thread-safe.
    bool Seen() const;
    // Blocks the calling thread until end-of-stream has passed, or the timeout elapsed; returns
    // Seen().
    bool Wait(std::chrono::milliseconds timeout) const;

private:
    struct State;
    PadPtr pad_;
    std::shared_ptr<State> state_;
    gulong probeId_ = 0;
};

} // namespace kelo
