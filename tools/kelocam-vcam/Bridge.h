// The bridge: one loop on one thread that, 15 times a second, copies the feed block, turns the
// frame upright and hands it to each output. It starts before or after the studio and keeps
// running while the studio tears down and rebuilds its engine (the block then holds zeros, which
// go out as black frames, as the contract says).
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "tools/kelocam-vcam/BridgeOptions.h"

namespace kelo::vcam {

// Exit statuses of kelocam-vcam.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // another bridge runs, nothing left to write to
inline constexpr int kExitUsage = 2;

// Runs until `stop` becomes true (a signal handler sets it), the frame limit is reached, or an
// output fails. A PipeWire camera whose daemon is missing or goes away is only dropped while
// other outputs remain. Without an output option it picks one (OutputChoice.h) and says which.
// Messages go to `log` (standard error: standard output may carry the video).
// Returns the exit status.
int RunBridge(const BridgeOptions& options, const std::atomic<bool>& stop, std::FILE* log);

} // namespace kelo::vcam
