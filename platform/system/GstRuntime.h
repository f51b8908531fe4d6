// GStreamer start-up for the whole process.
#pragma once

namespace kelo {

// Initialises GStreamer once (thread-safe; later calls return at once). Every component that
// makes elements calls this first.
void EnsureGstInitialized();

} // namespace kelo
