// Delivers frames to a v4l2loopback device through GStreamer:
//   appsrc (upright YUY2 or I420 at the chosen size, 15/1) ! videoconvert ! videoscale ! v4l2sink
// The converters pass our frames through untouched when the device takes them as they are, and
// adapt them when a device was already fixed to another format or size by an earlier writer.
// All calls come from the bridge's one thread; GStreamer's own threads never call back into it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system/HResult.h"
#include "platform/system/Handles.h"
#include "tools/kelocam-vcam/FeedConverter.h"

namespace kelo::vcam {

class DeviceOutput {
public:
    DeviceOutput(PixelFormat format, FrameSize size, int framesPerSecond);
    DeviceOutput(const DeviceOutput&) = delete;
    DeviceOutput& operator=(const DeviceOutput&) = delete;
    ~DeviceOutput();

    // Opens the device and starts the pipeline. E_FAIL with error() when it cannot.
    [[nodiscard]] HRESULT Open(const std::string& devicePath);
    // The same pipeline ending in another sink (tests look at what the device would get).
    [[nodiscard]] HRESULT OpenWithSink(ElementPtr sink);

    // Converts one feed frame (bottom-up BGR, kFeedBytes) and pushes it. E_FAIL with error()
    // when the pipeline reported an error (device gone, format refused).
    [[nodiscard]] HRESULT Deliver(const std::uint8_t* feed);
    // Any picture, scaled to the output's size.
    [[nodiscard]] HRESULT Deliver(const BgrPicture& picture);

    FrameSize size() const { return converter_.size(); }
    int framesPerSecond() const { return framesPerSecond_; }

    void Close();

    const std::string& error() const { return error_; }
    // The caps our frames leave the bridge with.
    CapsPtr SourceCaps() const;

private:
    bool TakeBusError();

    FeedConverter converter_;
    int framesPerSecond_;
    ElementPtr pipeline_;
    ElementPtr appsrc_;
    BusPtr bus_;
    std::uint64_t frameIndex_ = 0;
    std::string error_;
};

} // namespace kelo::vcam
