// Writes a YUV4MPEG2 stream (4:2:0, 15 frames per second) to a file or to standard output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/kelocam-vcam/FeedConverter.h"

namespace kelo::vcam {

class Y4mWriter {
public:
    enum class Status { Ok, Closed, Failed }; // Closed: the reading end of a pipe went away

    Y4mWriter() = default;
    Y4mWriter(const Y4mWriter&) = delete;
    Y4mWriter& operator=(const Y4mWriter&) = delete;
    ~Y4mWriter();

    // path "-" writes to standard output (which stays open after Close). When `interrupt` is
    // set and a signal interrupts a blocked write (a reader that stopped reading), the write
    // gives up with Closed, so that a stop request is not held up by the reader.
    Status Open(const std::string& path, FrameSize size, int framesPerSecond,
                const std::atomic<bool>* interrupt = nullptr);
    // One I420 picture of the size given to Open.
    Status WriteFrame(const std::uint8_t* i420, std::size_t bytes);
    void Close();

    const std::string& error() const { return error_; }

    // The stream header for this size and rate (exposed for tests).
    static std::string Header(FrameSize size, int framesPerSecond);

private:
    Status WriteAll(const void* data, std::size_t bytes);

    int fd_ = -1;
    const std::atomic<bool>* interrupt_ = nullptr;
    bool ownsFd_ = false;
    std::string path_;
    std::string error_;
};

} // namespace kelo::vcam
