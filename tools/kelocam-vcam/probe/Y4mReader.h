// Reads a YUV4MPEG2 (4:2:0) stream from a descriptor with time limits: the viewer's side of the
// bridge in tests and benchmarks.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelo::vcam::probe {

struct Y4mHeader {
    int width = 0;
    int height = 0;
    int rateNumerator = 0;
    int rateDenominator = 0;
    std::string text; // the whole header line, without its newline
};

struct Y4mFrame {
    std::vector<std::uint8_t> i420;
    std::chrono::steady_clock::time_point arrived; // when its last byte was read
};

class Y4mReader {
public:
    explicit Y4mReader(int fd) : fd_(fd) {} // borrowed descriptor

    std::optional<Y4mHeader> ReadHeader(std::chrono::milliseconds timeout);
    // Needs the header first. None on timeout, end of stream or a malformed frame.
    std::optional<Y4mFrame> ReadFrame(std::chrono::milliseconds timeout);

    // Reads frames until a black one arrives (the studio tore its engine down): false when the
    // stream ends, a frame takes longer than frameTimeout, or no black frame came within limit.
    bool WaitForBlackFrame(std::chrono::milliseconds limit, std::chrono::milliseconds frameTimeout);

    bool atEnd() const { return atEnd_; }
    const Y4mHeader& header() const { return header_; }
    std::size_t frameBytes() const;

private:
    bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    bool Fill(std::chrono::steady_clock::time_point deadline);

    int fd_;
    bool atEnd_ = false;
    Y4mHeader header_;
    std::vector<std::uint8_t> pending_; // bytes read but not used yet
    std::size_t pendingStart_ = 0;
};

} // namespace kelo::vcam::probe
