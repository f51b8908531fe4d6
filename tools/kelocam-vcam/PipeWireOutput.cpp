#include "tools/kelocam-vcam/PipeWireOutput.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

namespace kelo::vcam {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A connected socket, or -1.
int Connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string PipeWireSocketPath() {
    std::string remote = Env("PIPEWIRE_REMOTE");
    if (remote.empty())
        remote = "pipewire-0";
    if (remote.front() == '/')
        return remote;
    std::string folder = Env("PIPEWIRE_RUNTIME_DIR");
    if (folder.empty())
        folder = Env("XDG_RUNTIME_DIR");
    if (folder.empty())
        return {};
    return folder + "/" + remote;
}

bool PipeWireDaemonAnswers() {
    const int fd = Connect(PipeWireSocketPath());
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

PipeWireOutput::PipeWireOutput(PixelFormat format, FrameSize size, int framesPerSecond)
    : pipeline_(format, size, framesPerSecond) {}

PipeWireOutput::~PipeWireOutput() {
    Close();
}

HRESULT PipeWireOutput::Open() {
    Close();
    error_.clear();
    const std::string socketPath = PipeWireSocketPath();
    watchFd_ = Connect(socketPath);
    if (watchFd_ < 0) {
        error_ = socketPath.empty() ? std::string("no PipeWire daemon: neither "
                                                  "PIPEWIRE_RUNTIME_DIR nor XDG_RUNTIME_DIR is set")
                                    : "no PipeWire daemon answers at " + socketPath;
        return E_FAIL;
    }

    EnsureGstInitialized();
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("pipewiresink", "pipewire"));
    if (!sink) {
        error_ = "GStreamer's pipewiresink is missing (Debian package gstreamer1.0-pipewire)";
        Close();
        return E_FAIL;
    }
    // provide: the sink is a source node that others connect to, instead of a stream that
    // connects to a device. The media class makes it a camera to the session manager and to
    // device lists; without it the node is a plain output stream.
    StructurePtr properties(gst_structure_new(
        "props", "node.name", G_TYPE_STRING, kPipeWireNodeName, "node.description", G_TYPE_STRING,
        kPipeWireNodeDescription, "media.class", G_TYPE_STRING, "Video/Source", "media.role",
        G_TYPE_STRING, "Camera", nullptr));
    // We pace the frames ourselves; waiting on the clock would only add latency.
    g_object_set(sink.get(), "mode", 2 /* provide */, "client-name", "kelocam-vcam",
                 "stream-properties", properties.get(), "sync", FALSE, nullptr);
    if (FAILED(pipeline_.OpenWithSink(std::move(sink)))) {
        error_ = "cannot publish the PipeWire camera: " + pipeline_.error();
        Close();
        return E_FAIL;
    }
    return S_OK;
}

bool PipeWireOutput::DaemonGone() const {
    // No events asked: poll reports only a hang-up or an error on the connection.
    pollfd watch{watchFd_, 0, 0};
    return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

HRESULT PipeWireOutput::Deliver(const std::uint8_t* feed) {
    return Deliver(FeedPicture(feed));
}

HRESULT PipeWireOutput::Deliver(const BgrPicture& picture) {
    if (watchFd_ < 0) {
        error_ = "the PipeWire camera is not published";
        return E_FAIL;
    }
    if (DaemonGone()) {
        error_ = "the PipeWire daemon went away";
        return E_FAIL;
    }
    if (FAILED(pipeline_.Deliver(picture))) {
        error_ = pipeline_.error();
        return E_FAIL;
    }
    return S_OK;
}

void PipeWireOutput::Close() {
    pipeline_.Close();
    if (watchFd_ >= 0)
        close(watchFd_);
    watchFd_ = -1;
}

} // namespace kelo::vcam
