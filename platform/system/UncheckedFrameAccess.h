#pragma once

// Frame memory from GStreamer's buffer pools is handed between streaming threads with
// synchronisation the race detector cannot see (GStreamer is not instrumented). Under
// ThreadSanitizer every copy of such a frame in our code is reported as a race and matched
// against the GStreamer suppressions, tens of milliseconds a row: a preview of a few frames a
// second. A scope of this class leaves the accesses inside it unchecked, as they are inside
// GStreamer's own elements. Use it only around copies of a frame's pixels, never around code
// that shares our own state. Nothing in the normal build.

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace kelo {

class UncheckedFrameAccess {
public:
#if defined(__SANITIZE_THREAD__)
    static constexpr bool kRaceDetector = true;
    UncheckedFrameAccess() {
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~UncheckedFrameAccess() {
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
#else
    static constexpr bool kRaceDetector = false;
    UncheckedFrameAccess() = default;
#endif
    UncheckedFrameAccess(const UncheckedFrameAccess&) = delete;
    UncheckedFrameAccess& operator=(const UncheckedFrameAccess&) = delete;
};

} // namespace kelo
