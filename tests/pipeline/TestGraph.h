// A small real pipeline for the tests: videotestsrc -> videoconvert -> BGR caps -> the given
// elements -> appsink. Frames are pulled one at a time.
//
// The sink copies each frame on the streaming thread and hands the copy over through a mutex
// (one frame at a time, so the pipeline waits for the test). Reading the pooled buffers on the
// test thread instead would make ThreadSanitizer report the pool's reuse of that memory, whose
// synchronisation inside GLib it cannot see.
#pragma once

#include "platform/system/Handles.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kelo::test {

struct TestFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> bytes;

    const std::uint8_t* Pixel(int x, int memoryRow) const {
        return bytes.data() + static_cast<std::size_t>(memoryRow) * stride + x * 3;
    }
};

class TestGraph {
public:
    // sourceProperties: gst-launch style properties of videotestsrc ("pattern=solid-color ...").
    // The elements are linked in order between the caps filter and the sink; the graph adds its
    // own reference to each.
    TestGraph(const std::string& sourceProperties, int width, int height,
              const std::vector<GstElement*>& elements);
    TestGraph(const TestGraph&) = delete;
    TestGraph& operator=(const TestGraph&) = delete;
    ~TestGraph();

    bool ok() const { return ok_; }
    bool Play();
    // The next frame, or nothing at end of stream / error / timeout.
    std::optional<TestFrame> Pull(GstClockTime timeout = 10 * GST_SECOND);
    // The first error message on the bus, if any.
    std::string Error();

private:
    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer self);
    static void OnEos(GstAppSink* sink, gpointer self);

    ElementPtr pipeline_;
    GstElement* sink_ = nullptr; // borrowed from the pipeline
    bool ok_ = false;

    // Handed from the streaming thread to the test thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TestFrame> frames_;
    bool ended_ = false;
    bool stopping_ = false;
};

} // namespace kelo::test
