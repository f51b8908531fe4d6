#include "tools/kelocam-vcam/Bridge.h"

#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/HdFeedLayout.h"
#include "tools/kelocam-vcam/BridgeLock.h"
#include "tools/kelocam-vcam/DeviceOutput.h"
#include "tools/kelocam-vcam/FeedSource.h"
#include "tools/kelocam-vcam/HdFeedSource.h"
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
// How long a starting bridge waits for a frame in an HD block that is there (a studio at 5
// frames a second still shows one).
constexpr std::int64_t kStartupLookNanos = 500'000'000;

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

// What the outputs are made for: a size and a rate.
struct Shape {
    FrameSize size;
    int framesPerSecond = kFramesPerSecond;
    bool operator==(const Shape&) const = default;
};

// The output size for a studio frame: its own, the width made even (a pixel pair shares its
// chroma in both output formats).
FrameSize OutputSizeOf(const HdFeedFrame& frame) {
    return {std::max(2, frame.width & ~1), std::max(2, frame.height)};
}

// The studio's rate in whole frames a second, within what the outputs take.
int RateOf(const HdFeedFrame& frame) {
    const int rate = frame.fpsDenominator > 0 ? frame.fpsNumerator / frame.fpsDenominator : 0;
    return rate >= 1 && rate <= 120 ? rate : kFramesPerSecond;
}

} // namespace

int RunBridge(const BridgeOptions& requested, const std::atomic<bool>& stop, std::FILE* log) {
    const std::string feedName = FeedObjectName();

    // The lock comes first: a second bridge must not touch the block or the device at all.
    BridgeLock lock;
    switch (lock.Acquire(feedName)) {
    case BridgeLock::Result::Acquired:
        break;
    case BridgeLock::Result::HeldByOther:
        Say(log, BridgeText::tr("another kelocam-vcam is already delivering %1 (lock %2 held); "
                                "stop it first")
                     .arg(QString::fromStdString(feedName), QString::fromStdString(lock.path())));
        return kExitFailure;
    case BridgeLock::Result::Failed:
        Say(log, QString::fromStdString(lock.error()));
        return kExitFailure;
    }

    // No output named: what the machine has. The choice is made under the lock, so that a second
    // bridge is refused whatever it would have chosen.
    BridgeOptions options = requested;
    if (requested.chooseOutput()) {
        const std::string socket = PipeWireDaemonAnswers() ? PipeWireSocketPath() : "";
        const OutputChoice choice =
            ChooseOutput(socket, socket.empty() ? FindLoopbackDevice() : "");
        Say(log, QString::fromStdString(choice.message));
        if (choice.kind == OutputChoice::Kind::None)
            return kExitFailure;
        options.pipewire = choice.kind == OutputChoice::Kind::PipeWire;
        options.devicePath = choice.devicePath;
    }

    FeedSource source;
    if (const HRESULT opened = source.Open(feedName); FAILED(opened)) {
        if (opened == E_ACCESSDENIED)
            Say(log, QString::fromStdString(SharedMemoryView::RefusalText(feedName)));
        else
            Say(log, BridgeText::tr("cannot create or open the shared memory block %1")
                         .arg(QString::fromStdString(feedName)));
        return kExitFailure;
    }

    // The studio's HD block, when it writes one, gives the size and rate: what the outputs
    // start with when the studio already runs, and what they follow (unless --size fixes it).
    HdFeedSource hd(HdFeedObjectName());
    Shape shape{options.size, kFramesPerSecond};
    bool followingHd = false;
    // A studio started together with the bridge may be a moment away from its next frame.
    // Outputs made at 320 x 240 now would be made again at the studio's size at once, and a
    // browser opening the camera in between gets an error or a picture of nothing (this was
    // the first opening failing while the second worked). So a block that is there is given
    // a few frame periods to show it is being written.
    hd.HasNewFrame(MonotonicNanos());
    for (const std::int64_t until = MonotonicNanos() + kStartupLookNanos;
         hd.isOpen() && !hd.Live(MonotonicNanos()) && MonotonicNanos() < until && !stop.load();
         hd.HasNewFrame(MonotonicNanos()))
        SleepUntil(MonotonicNanos() + 10'000'000);
    if (hd.Live(MonotonicNanos()))
        if (const HdFeedFrame* frame = hd.Take()) {
            followingHd = true;
            shape.framesPerSecond = RateOf(*frame);
            if (!options.sizeGiven)
                shape.size = OutputSizeOf(*frame);
        }
    if (!hd.notice().empty()) {
        Say(log, QString::fromStdString(hd.notice()));
        hd.ClearNotice();
    }

    std::unique_ptr<DeviceOutput> device;
    if (!options.devicePath.empty()) {
        device =
            std::make_unique<DeviceOutput>(options.deviceFormat, shape.size, shape.framesPerSecond);
        if (FAILED(device->Open(options.devicePath))) {
            Say(log, BridgeText::tr("cannot deliver to %1")
                         .arg(QString::fromStdString(device->error())));
            return kExitFailure;
        }
    }
    // Without a PipeWire daemon the other outputs still run; alone, there is nothing to do.
    std::unique_ptr<PipeWireOutput> pipewire;
    if (options.pipewire) {
        pipewire = std::make_unique<PipeWireOutput>(options.deviceFormat, shape.size,
                                                    shape.framesPerSecond, options.sizeGiven);
        if (FAILED(pipewire->Open())) {
            Say(log, BridgeText::tr("no PipeWire camera: %1")
                         .arg(QString::fromStdString(pipewire->error())));
            pipewire.reset();
            if (!device && options.y4mPath.empty())
                return kExitFailure;
        }
    }
    std::unique_ptr<Y4mOutput> y4m;
    if (options.y4mPath == "-" && isatty(STDOUT_FILENO)) {
        Say(log, BridgeText::tr("standard output is a terminal; pipe the Y4M stream into a "
                                "program (kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -)"));
        return kExitFailure;
    }
    if (!options.y4mPath.empty()) {
        // A stream's size and rate are fixed by its header: later frames are scaled to them.
        y4m = std::make_unique<Y4mOutput>(shape.size);
        if (y4m->writer.Open(options.y4mPath, shape.size, shape.framesPerSecond, &stop) !=
            Y4mWriter::Status::Ok) {
            Say(log, QString::fromStdString(y4m->writer.error()));
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
    Say(log, BridgeText::tr("delivering %1 at %2 frames per second, %3x%4, to %5")
                 .arg(QString::fromStdString(followingHd ? hd.name() : feedName))
                 .arg(shape.framesPerSecond)
                 .arg(shape.size.width)
                 .arg(shape.size.height)
                 .arg(QString::fromStdString(targets)));
    std::fflush(log);

    // A new studio frame leaves at once (but never sooner than half a period after the last
    // one, so the output keeps the studio's rate), and while the studio stalls the last frame
    // is repeated, first after one and a half periods, then every period. The bridge sleeps on
    // the HD block's sequence number, which the studio wakes after each frame (and looks at
    // the block at least every kHdLookNanos); the 320 x 240 block, which has none, is looked at
    // every kPollNanos through a hash of sampled rows.
    constexpr std::int64_t kPollNanos = 4'000'000;
    constexpr std::int64_t kHdLookNanos = 100'000'000;
    std::int64_t lastDelivery = MonotonicNanos() - kNanosPerSecond;
    std::int64_t repeatAt = 0; // 0: deliver at once (the first frame)
    std::int64_t delivered = 0;
    int status = kExitOk;
    while (!stop.load()) {
        const std::int64_t now = MonotonicNanos();
        const bool hdNew = hd.HasNewFrame(now);
        const bool useHd = hd.Live(now);
        if (!hd.notice().empty()) {
            Say(log, QString::fromStdString(hd.notice()));
            hd.ClearNotice();
        }
        const std::int64_t period = kNanosPerSecond / shape.framesPerSecond;
        const bool fresh =
            (useHd ? hdNew : source.HasNewFrame()) && now - lastDelivery >= period / 2;
        if (!fresh && now < repeatAt) {
            // The HD block wakes us when the studio publishes (never sooner than half a period
            // after the last frame went out); the 320 x 240 block is looked at again.
            const std::int64_t earliest = lastDelivery + period / 2;
            if (useHd && now >= earliest)
                hd.WaitForNewFrame(now, std::min(repeatAt, now + kHdLookNanos));
            else
                SleepUntil(std::min(repeatAt, useHd ? earliest : now + kPollNanos));
            continue;
        }

        // The PipeWire camera alone converts the HD frame straight from the block into the
        // reader's buffer; the other outputs take a copy of it.
        const bool inPlace = useHd && pipewire && !device && !y4m;
        BgrPicture picture;
        Shape wanted{options.size, kFramesPerSecond};
        const HdFeedFrame* hdFrame = useHd ? (inPlace ? hd.Describe() : hd.Take()) : nullptr;
        if (hdFrame) {
            picture = hdFrame->picture();
            wanted.framesPerSecond = RateOf(*hdFrame);
            if (!options.sizeGiven)
                wanted.size = OutputSizeOf(*hdFrame);
        } else {
            picture = FeedPicture(source.Snapshot());
            if (!source.notice().empty()) {
                Say(log, QString::fromStdString(source.notice()));
                source.ClearNotice();
            }
        }
        if ((hdFrame != nullptr) != followingHd) {
            followingHd = hdFrame != nullptr;
            if (followingHd)
                Say(log, BridgeText::tr("following %1: %2x%3 at %4 frames per second")
                             .arg(QString::fromStdString(hd.name()))
                             .arg(hdFrame->width)
                             .arg(hdFrame->height)
                             .arg(wanted.framesPerSecond));
            else
                Say(log,
                    BridgeText::tr("%1 is not being written; following %2")
                        .arg(QString::fromStdString(hd.name()), QString::fromStdString(feedName)));
            std::fflush(log);
        }
        // The studio came back at another size or rate: the device and the camera follow
        // (readers of the camera see it renegotiate, or reopen and see the new size).
        if (!(wanted == shape)) {
            Say(log, BridgeText::tr("now %1x%2 at %3 frames per second")
                         .arg(wanted.size.width)
                         .arg(wanted.size.height)
                         .arg(wanted.framesPerSecond));
            std::fflush(log);
            shape = wanted;
            if (device) {
                device = std::make_unique<DeviceOutput>(options.deviceFormat, shape.size,
                                                        shape.framesPerSecond);
                if (FAILED(device->Open(options.devicePath))) {
                    Say(log, BridgeText::tr("cannot deliver to %1")
                                 .arg(QString::fromStdString(device->error())));
                    status = kExitFailure;
                    break;
                }
            }
            // The camera stays and offers the new sizes: a linked reader renegotiates.
            if (pipewire && FAILED(pipewire->Offer(shape.size, shape.framesPerSecond))) {
                pipewire = std::make_unique<PipeWireOutput>(options.deviceFormat, shape.size,
                                                            shape.framesPerSecond,
                                                            options.sizeGiven);
                if (FAILED(pipewire->Open())) {
                    Say(log, BridgeText::tr("the PipeWire camera is gone: %1")
                                 .arg(QString::fromStdString(pipewire->error())));
                    pipewire.reset();
                    if (!device && !y4m) {
                        status = kExitFailure;
                        break;
                    }
                }
            }
        }
        const std::int64_t outPeriod = kNanosPerSecond / shape.framesPerSecond;
        lastDelivery = now;
        repeatAt = now + (fresh ? outPeriod + outPeriod / 2 : outPeriod);

        if (device && FAILED(device->Deliver(picture))) {
            Say(log, QStringLiteral("%1: %2").arg(QString::fromStdString(options.devicePath),
                                                  QString::fromStdString(device->error())));
            status = kExitFailure;
            break;
        }
        if (pipewire &&
            FAILED(hdFrame && inPlace
                       ? pipewire->DeliverWith([&hd](FeedConverter& converter, std::uint8_t* out) {
                             return hd.ConvertNewest(converter, out);
                         })
                       : pipewire->Deliver(picture))) {
            const bool othersLeft = device || y4m;
            Say(log, (othersLeft ? BridgeText::tr("the PipeWire camera is gone: %1; the other "
                                                  "outputs go on")
                                 : BridgeText::tr("the PipeWire camera is gone: %1"))
                         .arg(QString::fromStdString(pipewire->error())));
            std::fflush(log);
            pipewire.reset();
            if (!othersLeft) {
                status = kExitFailure;
                break;
            }
        }
        if (y4m) {
            y4m->converter.Convert(picture, y4m->picture.data());
            const auto written = y4m->writer.WriteFrame(y4m->picture.data(), y4m->picture.size());
            if (written == Y4mWriter::Status::Closed) {
                // The reader went away (or we were asked to stop mid-frame): a clean end, unless
                // the device still has viewers to serve.
                if ((!device && !pipewire) || stop.load())
                    break;
                Say(log, BridgeText::tr("the Y4M reader went away; the other outputs go on"));
                y4m.reset();
            }
            if (written == Y4mWriter::Status::Failed) {
                Say(log, QString::fromStdString(y4m->writer.error()));
                status = kExitFailure;
                break;
            }
        }
        if (options.frameLimit > 0 && ++delivered >= options.frameLimit)
            break;
    }

    // The block stays: the studio may still be writing to it, and the next bridge reads it.
    if (stop.load())
        Say(log,
            BridgeText::tr("stopped; %1 is left in place").arg(QString::fromStdString(feedName)));
    return status;
}

} // namespace kelo::vcam
