#include "tools/kelocam-vcam/Y4mWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace kelo::vcam {

namespace {
// How often a writer waiting for room looks at the stop request.
constexpr int kStopCheckMs = 100;
} // namespace

Y4mWriter::~Y4mWriter() {
    Close();
}

std::string Y4mWriter::Header(FrameSize size, int framesPerSecond) {
    // C420jpeg: 4:2:0 with chroma centred between the four luma samples, as FeedConverter makes.
    return "YUV4MPEG2 W" + std::to_string(size.width) + " H" + std::to_string(size.height) + " F" +
           std::to_string(framesPerSecond) + ":1 Ip A1:1 C420jpeg\n";
}

Y4mWriter::Status Y4mWriter::Open(const std::string& path, FrameSize size, int framesPerSecond,
                                  const std::atomic<bool>* interrupt) {
    Close();
    path_ = path;
    interrupt_ = interrupt;
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            error_ = "cannot write " + path + ": " + std::strerror(errno);
            return Status::Failed;
        }
        ownsFd_ = true;
    }
    const std::string header = Header(size, framesPerSecond);
    return WriteAll(header.data(), header.size());
}

Y4mWriter::Status Y4mWriter::WriteFrame(const std::uint8_t* i420, std::size_t bytes) {
    static constexpr char kFrameTag[] = "FRAME\n";
    if (Status s = WriteAll(kFrameTag, sizeof kFrameTag - 1); s != Status::Ok)
        return s;
    return WriteAll(i420, bytes);
}

Y4mWriter::Status Y4mWriter::WriteAll(const void* data, std::size_t bytes) {
    if (fd_ < 0) {
        error_ = "the Y4M output is not open";
        return Status::Failed;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        // A blocking write to a pipe nobody reads waits for ever, and a stop asked for just
        // before it would never be seen. So the writer waits for room with poll, looking at the
        // stop between waits, and then writes no more than the room poll promises (PIPE_BUF on
        // a pipe; a file always has room).
        pollfd room{fd_, POLLOUT, 0};
        const int ready = ::poll(&room, 1, kStopCheckMs);
        if (ready < 0 && errno != EINTR) {
            error_ = "cannot write " + (path_ == "-" ? std::string("standard output") : path_) +
                     ": " + std::strerror(errno);
            return Status::Failed;
        }
        if (ready <= 0) {
            if (interrupt_ && interrupt_->load())
                return Status::Closed;
            continue;
        }
        const ssize_t n = ::write(fd_, p, std::min<std::size_t>(bytes, PIPE_BUF));
        if (n < 0) {
            // A signal during a write to a slow pipe: finish the frame, so the stream stays whole,
            // unless it asks us to stop.
            if (errno == EINTR) {
                if (interrupt_ && interrupt_->load())
                    return Status::Closed;
                continue;
            }
            if (errno == EPIPE)
                return Status::Closed;
            error_ = "cannot write " + (path_ == "-" ? std::string("standard output") : path_) +
                     ": " + std::strerror(errno);
            return Status::Failed;
        }
        p += n;
        bytes -= static_cast<std::size_t>(n);
        // A write cut short by a signal reports what it wrote rather than EINTR.
        if (bytes > 0 && interrupt_ && interrupt_->load())
            return Status::Closed;
    }
    return Status::Ok;
}

void Y4mWriter::Close() {
    if (fd_ >= 0 && ownsFd_)
        ::close(fd_);
    fd_ = -1;
    ownsFd_ = false;
}

} // namespace kelo::vcam
