#include "tools/kelocam-vcam/probe/Y4mReader.h"

#include "tools/kelocam-vcam/probe/FrameStamp.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace kelo::vcam::probe {

namespace {

using Clock = std::chrono::steady_clock;

bool ParseRate(const std::string& token, int& num, int& den) {
    const auto colon = token.find(':');
    if (colon == std::string::npos)
        return false;
    try {
        num = std::stoi(token.substr(0, colon));
        den = std::stoi(token.substr(colon + 1));
    } catch (...) {
        return false;
    }
    return den > 0;
}

} // namespace

std::size_t Y4mReader::frameBytes() const {
    const auto w = static_cast<std::size_t>(header_.width);
    const auto h = static_cast<std::size_t>(header_.height);
    return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

bool Y4mReader::Fill(Clock::time_point deadline) {
    if (atEnd_)
        return false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            return false;
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        std::uint8_t chunk[65536];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            atEnd_ = true;
            return false;
        }
        if (pendingStart_ > 0) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_));
            pendingStart_ = 0;
        }
        pending_.insert(pending_.end(), chunk, chunk + n);
        return true;
    }
}

bool Y4mReader::ReadLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
        const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_);
        const auto newline = std::find(begin, pending_.end(), '\n');
        if (newline != pending_.end()) {
            line.assign(begin, newline);
            pendingStart_ = static_cast<std::size_t>(newline - pending_.begin()) + 1;
            return true;
        }
        if (pending_.size() - pendingStart_ > 4096)
            return false; // no line is that long in this format
        if (!Fill(deadline))
            return false;
    }
}

std::optional<Y4mHeader> Y4mReader::ReadHeader(std::chrono::milliseconds timeout) {
    std::string line;
    if (!ReadLine(line, Clock::now() + timeout))
        return std::nullopt;
    std::istringstream tokens(line);
    std::string token;
    tokens >> token;
    if (token != "YUV4MPEG2")
        return std::nullopt;
    Y4mHeader header;
    header.text = line;
    while (tokens >> token) {
        if (token[0] == 'W')
            header.width = std::atoi(token.c_str() + 1);
        else if (token[0] == 'H')
            header.height = std::atoi(token.c_str() + 1);
        else if (token[0] == 'F' &&
                 !ParseRate(token.substr(1), header.rateNumerator, header.rateDenominator))
            return std::nullopt;
    }
    if (header.width <= 0 || header.height <= 0)
        return std::nullopt;
    header_ = header;
    return header;
}

std::optional<Y4mFrame> Y4mReader::ReadFrame(std::chrono::milliseconds timeout) {
    if (header_.width <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    // Nothing is taken from the stream until a whole frame is there, so a timeout leaves it
    // readable.
    for (;;) {
        const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_);
        const auto newline = std::find(begin, pending_.end(), '\n');
        if (newline != pending_.end()) {
            if (std::string(begin, newline).rfind("FRAME", 0) != 0)
                return std::nullopt;
            const std::size_t dataStart = static_cast<std::size_t>(newline - pending_.begin()) + 1;
            if (pending_.size() - dataStart >= frameBytes()) {
                Y4mFrame frame;
                frame.i420.assign(pending_.begin() + static_cast<std::ptrdiff_t>(dataStart),
                                  pending_.begin() +
                                      static_cast<std::ptrdiff_t>(dataStart + frameBytes()));
                pendingStart_ = dataStart + frameBytes();
                frame.arrived = Clock::now();
                return frame;
            }
        }
        if (!Fill(deadline))
            return std::nullopt;
    }
}

bool Y4mReader::WaitForBlackFrame(std::chrono::milliseconds limit,
                                  std::chrono::milliseconds frameTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto frame = ReadFrame(frameTimeout);
        if (!frame)
            return false;
        if (IsBlackI420(frame->i420.data(), header_.width, header_.height))
            return true;
    }
    return false;
}

} // namespace kelo::vcam::probe
