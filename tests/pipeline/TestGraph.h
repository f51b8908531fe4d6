// A small real pipeline for the tests: videotestsrc -> videoconvert -> BGR caps -> the given
// elements -> appsink. Frames are pulled one at a time from the sink.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Handles.h"

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
    ElementPtr pipeline_;
    GstElement* sink_ = nullptr; // borrowed from the pipeline
    bool ok_ = false;
};

} // namespace kelo::test
