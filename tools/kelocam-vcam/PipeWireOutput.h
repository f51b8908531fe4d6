// Publishes the feed as a PipeWire camera, a video source node that browsers (through the camera
// portal), call programs and pipewiresrc open like any camera:
//   appsrc (upright YUY2 or I420, 15/1) ! videoconvert ! videoscale ! pipewiresink mode=provide
// The node ("kelo-vcam", shown as "Kelo Virtual Camera") lives while the output is open. No root
// and no kernel module: only the user's PipeWire daemon.
//
// pipewiresink says nothing when the daemon goes away (it drops our buffers in silence), so the
// output holds a connection of its own to the daemon's socket, idle, and looks at it before each
// frame: the daemon closing that connection is the daemon going away.
// All calls come from the bridge's one thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system/HResult.h"
#include "tools/kelocam-vcam/DeviceOutput.h"
#include "tools/kelocam-vcam/FeedConverter.h"

namespace kelo::vcam {

inline constexpr const char* kPipeWireNodeName = "kelo-vcam";
// The studio leaves a camera of this name out of its own device list.
inline constexpr const char* kPipeWireNodeDescription = "Kelo Virtual Camera";

// The PipeWire daemon's socket as libpipewire finds it: PIPEWIRE_REMOTE (default "pipewire-0")
// in PIPEWIRE_RUNTIME_DIR, else in XDG_RUNTIME_DIR. Empty when there is nowhere to look.
std::string PipeWireSocketPath();

// True when a daemon accepts a connection on that socket (a socket left behind by a daemon that
// died refuses it).
bool PipeWireDaemonAnswers();

class PipeWireOutput {
public:
    PipeWireOutput(PixelFormat format, FrameSize size, int framesPerSecond);
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;
    ~PipeWireOutput();

    // Connects to the daemon and publishes the node. E_FAIL with error() when there is no
    // daemon or GStreamer's PipeWire plugin is missing.
    [[nodiscard]] HRESULT Open();

    // Converts one feed frame and hands it to the node (dropped there while nobody watches).
    // E_FAIL with error() when the daemon went away or the pipeline failed.
    [[nodiscard]] HRESULT Deliver(const std::uint8_t* feed);
    [[nodiscard]] HRESULT Deliver(const BgrPicture& picture);

    FrameSize size() const { return pipeline_.size(); }
    int framesPerSecond() const { return pipeline_.framesPerSecond(); }

    void Close();

    const std::string& error() const { return error_; }

private:
    bool DaemonGone() const;

    DeviceOutput pipeline_; // the appsrc pipeline, here ending in pipewiresink
    int watchFd_ = -1;      // owned: our idle connection to the daemon
    std::string error_;
};

} // namespace kelo::vcam
