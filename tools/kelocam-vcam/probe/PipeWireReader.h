// A viewer of a PipeWire camera, as a browser or call program is one:
//   pipewiresrc target-object=NODE [! CAPS] ! videoconvert ! video/x-raw,format=I420 ! appsink
// Each frame is stamped with the moment it reached the appsink (on GStreamer's streaming
// thread, so that a test or benchmark reading later still measures the arrival).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gst/gst.h>

#include "platform/system/Handles.h"

namespace kelo::vcam::probe {

struct PipeWireFrame {
    std::vector<std::uint8_t> i420;
    int width = 0;
    int height = 0;
    std::chrono::steady_clock::time_point arrived; // on the streaming thread
};

class PipeWireReader {
public:
    PipeWireReader() = default;
    PipeWireReader(const PipeWireReader&) = delete;
    PipeWireReader& operator=(const PipeWireReader&) = delete;
    ~PipeWireReader(); // Close()

    // Starts reading the node named `target`. False with error() when the pipeline cannot start.
    // `caps` (say "video/x-raw,width=640,height=360") is what the viewer asks of the camera.
    bool Open(const std::string& target, const std::string& caps = "");
    void Close();

    // The next frame in arrival order; none when none came within `timeout`.
    std::optional<PipeWireFrame> ReadFrame(std::chrono::milliseconds timeout);
    // Drops the frames that arrived but were not read yet.
    void Discard();
    // Reads frames until a black one arrives: false when none did within `limit`.
    bool WaitForBlackFrame(std::chrono::milliseconds limit);
    // The frame rate the camera announced ("15/1"), once a frame has arrived.
    std::string FrameRate() const;

    const std::string& error() const { return error_; }

private:
    static GstFlowReturn OnNewSample(GstElement* sink, gpointer self) noexcept;

    ElementPtr pipeline_;
    ElementPtr appsink_;
    mutable std::mutex mutex_; // guards frames_ and frameRate_ (the streaming thread adds)
    std::condition_variable arrived_;
    std::deque<PipeWireFrame> frames_;
    std::string frameRate_;
    std::string error_;
};

} // namespace kelo::vcam::probe
