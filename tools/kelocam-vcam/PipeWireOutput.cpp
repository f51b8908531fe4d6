#include "tools/kelocam-vcam/PipeWireOutput.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

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

// Standard picture sizes, of the common aspects, that a camera may offer below its own.
constexpr FrameSize kStandardSizes[] = {
    {1920, 1080}, {1600, 1200}, {1600, 900}, {1440, 1080}, {1280, 960}, {1280, 800},
    {1280, 720},  {1024, 768},  {960, 720},  {960, 540},   {800, 600},  {800, 450},
    {640, 480},   {640, 400},   {640, 360},  {480, 360},   {480, 270},  {320, 240},
    {320, 200},   {320, 180},
};

spa_video_format SpaFormatOf(PixelFormat format) {
    return format == PixelFormat::YUY2 ? SPA_VIDEO_FORMAT_YUY2 : SPA_VIDEO_FORMAT_I420;
}

// One EnumFormat for one pixel format at one size, everything fixed: readers list a camera's
// modes from these, and some (Chromium among them) pass over a size given as a choice.
const spa_pod* BuildFormat(spa_pod_builder* b, PixelFormat format, FrameSize size,
                           int framesPerSecond) {
    spa_pod_frame object{};
    spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(b, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(b, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(b, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(b, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_id(b, SpaFormatOf(format));
    spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_rectangle(b, size.width, size.height);
    spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_fraction(b, framesPerSecond, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
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

std::vector<FrameSize> OfferedSizes(FrameSize studio, bool onlyThisSize) {
    std::vector<FrameSize> sizes{studio};
    if (onlyThisSize)
        return sizes;
    for (const FrameSize& size : kStandardSizes)
        if (size.width < studio.width &&
            std::int64_t{size.width} * studio.height == std::int64_t{size.height} * studio.width)
            sizes.push_back(size);
    return sizes;
}

// libpipewire's objects, made and destroyed in Open() and Close(). Everything the loop thread's
// callbacks write is read by the bridge's thread under the loop's lock.
struct PipeWireOutput::Node {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    // Under the loop's lock:
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::string stateError;
    bool negotiated = false;
    PixelFormat format = PixelFormat::YUY2;
    FrameSize size;
    pw_buffer* held = nullptr; // taken for a frame that was not whole: used for the next one

    static void OnRemoveBuffer(void* data, pw_buffer* buffer) {
        auto* node = static_cast<Node*>(data);
        if (node->held == buffer)
            node->held = nullptr;
    }

    static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error) {
        auto* node = static_cast<Node*>(data);
        node->state = state;
        if (state == PW_STREAM_STATE_ERROR)
            node->stateError = error ? error : "the PipeWire stream failed";
        if (state != PW_STREAM_STATE_STREAMING && state != PW_STREAM_STATE_PAUSED)
            node->negotiated = false;
        pw_thread_loop_signal(node->loop, false);
    }

    // A reader linked and a format was agreed (or taken back: no param). The buffers are then
    // asked for at that size: one block of one tightly packed picture.
    static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* node = static_cast<Node*>(data);
        if (id != SPA_PARAM_Format)
            return;
        if (param == nullptr) {
            node->negotiated = false;
            return;
        }
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0 || info.size.width < 2 ||
            info.size.height < 2 || info.size.width > kMaxFrameDimension ||
            info.size.height > kMaxFrameDimension ||
            (info.format != SPA_VIDEO_FORMAT_YUY2 && info.format != SPA_VIDEO_FORMAT_I420)) {
            node->negotiated = false;
            return;
        }
        node->format =
            info.format == SPA_VIDEO_FORMAT_YUY2 ? PixelFormat::YUY2 : PixelFormat::I420;
        node->size = {static_cast<int>(info.size.width) & ~1, static_cast<int>(info.size.height)};
        node->negotiated = true;
        const auto bytes = static_cast<int>(FrameBytes(node->format, node->size));
        const int stride = node->format == PixelFormat::YUY2 ? node->size.width * 2
                                                             : node->size.width;
        std::uint8_t room[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(room, sizeof room);
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(3, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(bytes), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
            SPA_POD_Int(sizeof(spa_meta_header))));
        pw_stream_update_params(node->stream, params, 2);
    }
};

namespace {

const pw_stream_events kStreamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &PipeWireOutput::Node::OnStateChanged;
    events.param_changed = &PipeWireOutput::Node::OnParamChanged;
    events.remove_buffer = &PipeWireOutput::Node::OnRemoveBuffer;
    return events;
}();

// The EnumFormat params for a studio size and rate, in order of preference: each size largest
// first, the preferred format before the other. I420 only where its chroma rows keep the 4-byte
// alignment readers assume for a single-block picture.
std::vector<const spa_pod*> BuildFormats(spa_pod_builder* b, PixelFormat preferred,
                                         const std::vector<FrameSize>& sizes,
                                         int framesPerSecond) {
    std::vector<const spa_pod*> params;
    const PixelFormat other = preferred == PixelFormat::YUY2 ? PixelFormat::I420 : PixelFormat::YUY2;
    for (const FrameSize& size : sizes)
        for (const PixelFormat format : {preferred, other})
            if (format == PixelFormat::YUY2 || size.width % 8 == 0)
                params.push_back(BuildFormat(b, format, size, framesPerSecond));
    return params;
}

} // namespace

PipeWireOutput::PipeWireOutput(PixelFormat format, FrameSize size, int framesPerSecond,
                               bool onlyThisSize)
    : format_(format), size_(size), framesPerSecond_(framesPerSecond),
      onlyThisSize_(onlyThisSize) {}

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

    static const bool initialised = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)initialised;
    node_ = std::make_unique<Node>();
    Node& node = *node_;
    node.loop = pw_thread_loop_new("kelocam-vcam", nullptr);
    if (node.loop)
        node.context = pw_context_new(pw_thread_loop_get_loop(node.loop), nullptr, 0);
    if (!node.context || pw_thread_loop_start(node.loop) < 0) {
        error_ = "cannot start libpipewire";
        Close();
        return E_FAIL;
    }

    pw_thread_loop_lock(node.loop);
    node.core = pw_context_connect(
        node.context, pw_properties_new(PW_KEY_APP_NAME, "kelocam-vcam", nullptr), 0);
    if (node.core)
        node.stream = pw_stream_new(
            node.core, "kelocam-vcam",
            pw_properties_new(PW_KEY_NODE_NAME, kPipeWireNodeName, PW_KEY_NODE_DESCRIPTION,
                              kPipeWireNodeDescription, PW_KEY_MEDIA_CLASS, "Video/Source",
                              PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_ROLE, "Camera", nullptr));
    int connected = -1;
    if (node.stream) {
        pw_stream_add_listener(node.stream, &node.streamListener, &kStreamEvents, &node);
        std::uint8_t room[8192];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(room, sizeof room);
        std::vector<const spa_pod*> params =
            BuildFormats(&b, format_, OfferedSizes(size_, onlyThisSize_), framesPerSecond_);
        // A source node others link to (no target of its own); it drives the graph with our
        // frames, so a frame leaves when we hand it over.
        connected = pw_stream_connect(
            node.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            params.data(), static_cast<uint32_t>(params.size()));
    }
    // Published once the daemon has the node (paused until a reader links).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (connected >= 0 && node.state != PW_STREAM_STATE_PAUSED &&
           node.state != PW_STREAM_STATE_STREAMING && node.state != PW_STREAM_STATE_ERROR &&
           std::chrono::steady_clock::now() < deadline)
        pw_thread_loop_timed_wait(node.loop, 1);
    const bool published =
        node.state == PW_STREAM_STATE_PAUSED || node.state == PW_STREAM_STATE_STREAMING;
    const std::string failure = !node.core        ? "the PipeWire daemon refused the connection"
                                : connected < 0   ? "the PipeWire daemon refused the camera node"
                                : !node.stateError.empty() ? node.stateError
                                                           : "the PipeWire daemon did not publish "
                                                             "the camera node";
    pw_thread_loop_unlock(node.loop);
    if (!published) {
        error_ = "cannot publish the PipeWire camera: " + failure;
        Close();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT PipeWireOutput::Offer(FrameSize size, int framesPerSecond) {
    size_ = size;
    framesPerSecond_ = framesPerSecond;
    if (!node_ || !node_->stream)
        return S_OK;
    std::uint8_t room[8192];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(room, sizeof room);
    std::vector<const spa_pod*> params =
        BuildFormats(&b, format_, OfferedSizes(size_, onlyThisSize_), framesPerSecond_);
    Node& node = *node_;
    pw_thread_loop_lock(node.loop);
    // A reader linked at a size the studio no longer offers would keep it (the daemon does not
    // renegotiate a link when the offers change): the node is published again, and the reader
    // opens it again at the new size. Otherwise the node stays and offers the new sizes.
    const std::vector<FrameSize> offered = OfferedSizes(size_, onlyThisSize_);
    const bool stale = node.negotiated && std::find(offered.begin(), offered.end(), node.size) ==
                                              offered.end();
    int updated = 0;
    if (stale) {
        pw_stream_disconnect(node.stream);
        node.negotiated = false;
        updated = pw_stream_connect(
            node.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            params.data(), static_cast<uint32_t>(params.size()));
    } else {
        updated = pw_stream_update_params(node.stream, params.data(),
                                          static_cast<uint32_t>(params.size()));
    }
    pw_thread_loop_unlock(node.loop);
    if (updated < 0) {
        error_ = "the PipeWire camera does not take the new size";
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
    return DeliverWith([&picture](FeedConverter& converter, std::uint8_t* out) {
        converter.Convert(picture, out);
        return true;
    });
}

HRESULT PipeWireOutput::DeliverWith(bool (*fill)(void*, FeedConverter&, std::uint8_t*),
                                    void* context) {
    if (watchFd_ < 0 || !node_) {
        error_ = "the PipeWire camera is not published";
        return E_FAIL;
    }
    if (DaemonGone()) {
        error_ = "the PipeWire daemon went away";
        return E_FAIL;
    }
    Node& node = *node_;
    pw_thread_loop_lock(node.loop);
    if (node.state == PW_STREAM_STATE_ERROR || node.state == PW_STREAM_STATE_UNCONNECTED) {
        error_ = node.stateError.empty() ? "the PipeWire daemon let go of the camera"
                                         : node.stateError;
        pw_thread_loop_unlock(node.loop);
        return E_FAIL;
    }
    // Nobody reading, or every buffer still with the reader: this frame is dropped.
    pw_buffer* buffer = nullptr;
    if (node.negotiated && node.state == PW_STREAM_STATE_STREAMING)
        buffer = node.held ? node.held : pw_stream_dequeue_buffer(node.stream);
    node.held = nullptr;
    if (!buffer) {
        pw_thread_loop_unlock(node.loop);
        return S_OK;
    }
    // The conversion writes straight into the buffer the reader maps. It stays under the lock:
    // a renegotiation on the loop thread frees the buffers. (The lock holds back only the
    // loop thread's events; the frames themselves move on the daemon's data thread.)
    const PixelFormat format = node.format;
    const FrameSize size = node.size;
    spa_data& data = buffer->buffer->datas[0];
    if (!converter_ || converter_->format() != format || !(converter_->size() == size))
        converter_ = std::make_unique<FeedConverter>(format, size);
    const std::size_t bytes = converter_->outputBytes();
    if (data.data != nullptr && data.maxsize >= bytes) {
        if (!fill(context, *converter_, static_cast<std::uint8_t*>(data.data))) {
            node.held = buffer; // no whole frame in it: nothing leaves
            pw_thread_loop_unlock(node.loop);
            return S_OK;
        }
        data.chunk->offset = 0;
        data.chunk->size = static_cast<uint32_t>(bytes);
        data.chunk->stride = format == PixelFormat::YUY2 ? size.width * 2 : size.width;
    } else {
        data.chunk->size = 0; // buffers of another format, from before a renegotiation
    }
    if (auto* header = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(buffer->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        header->flags = 0;
        header->offset = 0;
        header->pts = static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
        header->dts_offset = 0;
        header->seq = ++sequence_;
    }
    pw_stream_queue_buffer(node.stream, buffer);
    pw_stream_trigger_process(node.stream);
    pw_thread_loop_unlock(node.loop);
    return S_OK;
}

void PipeWireOutput::Close() {
    if (node_) {
        Node& node = *node_;
        if (node.loop)
            pw_thread_loop_stop(node.loop);
        // The loop thread has stopped: nothing runs the callbacks any more.
        if (node.stream)
            pw_stream_destroy(node.stream);
        if (node.core)
            pw_core_disconnect(node.core);
        if (node.context)
            pw_context_destroy(node.context);
        if (node.loop)
            pw_thread_loop_destroy(node.loop);
        node_.reset();
    }
    converter_.reset();
    if (watchFd_ >= 0)
        close(watchFd_);
    watchFd_ = -1;
}

} // namespace kelo::vcam
