// Publishes the feed as a PipeWire camera, a video source node that browsers (through the camera
// portal), call programs and pipewiresrc open like any camera. The node ("kelo-vcam", shown as
// "Kelo Virtual Camera") is a stream of our own on the user's PipeWire daemon (no root, no kernel
// module) and lives while the output is open.
//
// It offers the studio's size first and the smaller standard sizes of the same aspect (down to
// 320 pixels wide) at the studio's rate, in YUY2 and I420; each frame is converted straight into
// the daemon's buffer at the size and format the reader negotiated (every reader of the node
// shares the first one's). When the studio comes back at another size the node offers the new
// sizes; a reader linked at a size no longer offered sees the node published again and opens it
// again at the new size (the daemon does not renegotiate a link in place).
//
// libpipewire runs the node on a thread of its own (the loop thread: format negotiation, state);
// Deliver() runs on the bridge's thread and takes the loop's lock only to take and give back a
// buffer and fill it. The daemon going away is seen on an idle connection of our own to its socket, looked
// at before each frame, and on the stream's state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/system/HResult.h"
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

// The sizes the camera offers for a studio size: that size first, then the standard sizes of
// exactly the same aspect that are smaller, down to 320 pixels wide, largest first. Only the
// size itself when `onlyThisSize`.
std::vector<FrameSize> OfferedSizes(FrameSize studio, bool onlyThisSize);

class PipeWireOutput {
public:
    // `format` is offered first; `onlyThisSize` (--size) offers `size` alone.
    PipeWireOutput(PixelFormat format, FrameSize size, int framesPerSecond,
                   bool onlyThisSize = false);
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;
    ~PipeWireOutput();

    // Connects to the daemon and publishes the node. E_FAIL with error() when there is no
    // daemon or it refuses the node.
    [[nodiscard]] HRESULT Open();

    // The studio's size or rate changed: the node offers the new ones from now on.
    [[nodiscard]] HRESULT Offer(FrameSize size, int framesPerSecond);

    // Converts one frame for the reader and hands it over (dropped while nobody reads).
    // E_FAIL with error() when the daemon went away.
    [[nodiscard]] HRESULT Deliver(const std::uint8_t* feed);
    [[nodiscard]] HRESULT Deliver(const BgrPicture& picture);
    // The same for a frame converted where it lies: `fill(converter, out)` writes it into the
    // reader's buffer `out` with `converter` (of the negotiated size and format) and says
    // whether `out` now holds one whole frame. When it does not, nothing is handed over and the
    // buffer is kept for the next frame. `fill` runs only when a reader has a buffer free.
    template <typename Fill> [[nodiscard]] HRESULT DeliverWith(Fill&& fill) {
        return DeliverWith(
            [](void* context, FeedConverter& converter, std::uint8_t* out) {
                return (*static_cast<std::remove_reference_t<Fill>*>(context))(converter, out);
            },
            &fill);
    }
    [[nodiscard]] HRESULT DeliverWith(bool (*fill)(void*, FeedConverter&, std::uint8_t*),
                                      void* context);

    FrameSize size() const { return size_; }
    int framesPerSecond() const { return framesPerSecond_; }

    void Close();

    const std::string& error() const { return error_; }

    struct Node; // libpipewire's side, touched on the loop thread under its lock

private:
    bool DaemonGone() const;

    PixelFormat format_;
    FrameSize size_;
    int framesPerSecond_;
    bool onlyThisSize_;
    std::unique_ptr<Node> node_;
    // The converter for the size and format the reader negotiated (bridge thread only).
    std::unique_ptr<FeedConverter> converter_;
    std::uint64_t sequence_ = 0; // of the frames handed over
    int watchFd_ = -1; // owned: our idle connection to the daemon
    std::string error_;
};

} // namespace kelo::vcam
