#include "tools/kelocam-vcam/Bridge.h"

#include "platform/contracts/FeedLayout.h"
#include "tools/kelocam-vcam/BridgeLock.h"
#include "tools/kelocam-vcam/DeviceOutput.h"
#include "tools/kelocam-vcam/FeedSource.h"
#include "tools/kelocam-vcam/OutputChoice.h"
#include "tools/kelocam-vcam/PipeWireOutput.h"
#include "tools/kelocam-vcam/Y4mWriter.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace kelo::vcam {

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::int64_t MonotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

// Sleeps until an absolute monotonic time; returns early when a signal arrives, so a stop
// request is seen at once.
void SleepUntil(std::int64_t deadlineNanos) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadlineNanos / kNanosPerSecond);
    ts.tv_nsec = static_cast<long>(deadlineNanos % kNanosPerSecond);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

// The Y4M stream with the converter that feeds it (always I420).
struct Y4mOutput {
    explicit Y4mOutput(FrameSize size)
        : converter(PixelFormat::I420, size), picture(converter.outputBytes()) {}
    FeedConverter converter;
    std::vector<std::uint8_t> picture;
    Y4mWriter writer;
};

} // namespace

int RunBridge(const BridgeOptions& requested, const std::atomic<bool>& stop, std::FILE* log) {
    const std::string feedName = FeedObjectName();

    // The lock comes first: a second bridge must not touch the block or the device at all.
    BridgeLock lock;
    switch (lock.Acquire(feedName)) {
    case BridgeLock::Result::Acquired:
        break;
    case BridgeLock::Result::HeldByOther:
        std::fprintf(log,
                     "kelocam-vcam: another kelocam-vcam is already delivering %s (lock %s held); "
                     "stop it first\n",
                     feedName.c_str(), lock.path().c_str());
        return kExitFailure;
    case BridgeLock::Result::Failed:
        std::fprintf(log, "kelocam-vcam: %s\n", lock.error().c_str());
        return kExitFailure;
    }

    // No output named: what the machine has. The choice is made under the lock, so that a second
    // bridge is refused whatever it would have chosen.
    BridgeOptions options = requested;
    if (requested.chooseOutput()) {
        const std::string socket = PipeWireDaemonAnswers() ? PipeWireSocketPath() : "";
        const OutputChoice choice =
            ChooseOutput(socket, socket.empty() ? FindLoopbackDevice() : "");
        std::fprintf(log, "kelocam-vcam: %s\n", choice.message.c_str());
        if (choice.kind == OutputChoice::Kind::None)
            return kExitFailure;
        options.pipewire = choice.kind == OutputChoice::Kind::PipeWire;
        options.devicePath = choice.devicePath;
    }

    FeedSource source;
    if (const HRESULT opened = source.Open(feedName); FAILED(opened)) {
        if (opened == E_ACCESSDENIED)
            std::fprintf(log, "kelocam-vcam: %s\n",
                         SharedMemoryView::RefusalText(feedName).c_str());
        else
            std::fprintf(log, "kelocam-vcam: cannot create or open the shared memory block %s\n",
                         feedName.c_str());
        return kExitFailure;
    }

    std::unique_ptr<DeviceOutput> device;
    if (!options.devicePath.empty()) {
        device =
            std::make_unique<DeviceOutput>(options.deviceFormat, options.size, kFramesPerSecond);
        if (FAILED(device->Open(options.devicePath))) {
            std::fprintf(log, "kelocam-vcam: cannot deliver to %s\n", device->error().c_str());
            return kExitFailure;
        }
    }
    // Without a PipeWire daemon the other outputs still run; alone, there is nothing to do.
    std::unique_ptr<PipeWireOutput> pipewire;
    if (options.pipewire) {
        pipewire =
            std::make_unique<PipeWireOutput>(options.deviceFormat, options.size, kFramesPerSecond);
        if (FAILED(pipewire->Open())) {
            std::fprintf(log, "kelocam-vcam: no PipeWire camera: %s\n", pipewire->error().c_str());
            pipewire.reset();
            if (!device && options.y4mPath.empty())
                return kExitFailure;
        }
    }
    std::unique_ptr<Y4mOutput> y4m;
    if (options.y4mPath == "-" && isatty(STDOUT_FILENO)) {
        std::fprintf(log, "kelocam-vcam: standard output is a terminal; pipe the Y4M stream into "
                          "a program (kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -)\n");
        return kExitFailure;
    }
    if (!options.y4mPath.empty()) {
        y4m = std::make_unique<Y4mOutput>(options.size);
        if (y4m->writer.Open(options.y4mPath, options.size, kFramesPerSecond, &stop) !=
            Y4mWriter::Status::Ok) {
            std::fprintf(log, "kelocam-vcam: %s\n", y4m->writer.error().c_str());
            return kExitFailure;
        }
    }

    std::string targets;
    auto addTarget = [&targets](const std::string& target) {
        targets += (targets.empty() ? "" : " and ") + target;
    };
    if (pipewire)
        addTarget(std::string("the PipeWire camera ") + kPipeWireNodeName);
    if (device)
        addTarget(options.devicePath);
    if (y4m)
        addTarget(options.y4mPath == "-" ? "standard output" : options.y4mPath);
    std::fprintf(log, "kelocam-vcam: delivering %s at %d frames per second, %dx%d, to %s\n",
                 feedName.c_str(), kFramesPerSecond, options.size.width, options.size.height,
                 targets.c_str());
    std::fflush(log);

    // The block is looked at every kPollNanos; a new studio frame leaves at once (but never
    // sooner than half a period after the last one, so the output stays at the studio's 15 a
    // second), and while the studio stalls the last frame is repeated, first after one and a
    // half periods, then every period.
    const std::int64_t period = kNanosPerSecond / kFramesPerSecond;
    constexpr std::int64_t kPollNanos = 4'000'000;
    std::int64_t lastDelivery = MonotonicNanos() - 2 * period;
    std::int64_t repeatAt = 0; // 0: deliver at once (the first frame)
    std::int64_t delivered = 0;
    int status = kExitOk;
    while (!stop.load()) {
        const std::int64_t now = MonotonicNanos();
        const bool fresh = source.HasNewFrame() && now - lastDelivery >= period / 2;
        if (!fresh && now < repeatAt) {
            SleepUntil(std::min(repeatAt, now + kPollNanos));
            continue;
        }
        lastDelivery = now;
        repeatAt = now + (fresh ? period + period / 2 : period);
        const std::uint8_t* frame = source.Snapshot();
        if (!source.notice().empty()) {
            std::fprintf(log, "kelocam-vcam: %s\n", source.notice().c_str());
            source.ClearNotice();
        }
        if (device && FAILED(device->Deliver(frame))) {
            std::fprintf(log, "kelocam-vcam: %s: %s\n", options.devicePath.c_str(),
                         device->error().c_str());
            status = kExitFailure;
            break;
        }
        if (pipewire && FAILED(pipewire->Deliver(frame))) {
            const bool othersLeft = device || y4m;
            std::fprintf(log, "kelocam-vcam: the PipeWire camera is gone: %s%s\n",
                         pipewire->error().c_str(), othersLeft ? "; the other outputs go on" : "");
            std::fflush(log);
            pipewire.reset();
            if (!othersLeft) {
                status = kExitFailure;
                break;
            }
        }
        if (y4m) {
            y4m->converter.Convert(frame, y4m->picture.data());
            const auto written = y4m->writer.WriteFrame(y4m->picture.data(), y4m->picture.size());
            if (written == Y4mWriter::Status::Closed) {
                // The reader went away (or we were asked to stop mid-frame): a clean end, unless
                // the device still has viewers to serve.
                if ((!device && !pipewire) || stop.load())
                    break;
                std::fprintf(log, "kelocam-vcam: the Y4M reader went away; the other outputs go "
                                  "on\n");
                y4m.reset();
            }
            if (written == Y4mWriter::Status::Failed) {
                std::fprintf(log, "kelocam-vcam: %s\n", y4m->writer.error().c_str());
                status = kExitFailure;
                break;
            }
        }
        if (options.frameLimit > 0 && ++delivered >= options.frameLimit)
            break;
    }

    // The block stays: the studio may still be writing to it, and the next bridge reads it.
    if (stop.load())
        std::fprintf(log, "kelocam-vcam: stopped; %s is left in place\n", feedName.c_str());
    return status;
}

} // namespace kelo::vcam
