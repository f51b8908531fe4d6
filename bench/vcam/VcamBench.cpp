// Prints medians, percentiles and verdicts against the targets (run it on a quiet machine; the
// load average is printed first and last; --hd runs the conversions and the HD cases alone):
//   latency from a frame written into the block to the same frame leaving the bridge: median
//   under one frame period (66 ms); the bridge's CPU at 15 frames per second: under 3 % of a core.
//   The PipeWire camera, read by a pipewiresrc viewer in a private PipeWire: median latency
//   under the stream path's plus 5 ms, the bridge's CPU under 3 % of a core.
// The studio side is played by StudioFeedWriter (about 15 frames a second, not in step with
// the bridge, as in real use), which stamps a counter into every frame; the bridge is the built
// kelocam-vcam writing Y4M to a pipe that this program reads as it arrives.
#include "platform/contracts/FeedLayout.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"
#include "tools/kelocam-vcam/BridgeLock.h"
#include "tools/kelocam-vcam/BridgeOptions.h"
#include "tools/kelocam-vcam/DeviceOutput.h"
#include "tools/kelocam-vcam/FeedConverter.h"
#include "tools/kelocam-vcam/probe/BridgeProcess.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"
#include "tools/kelocam-vcam/probe/PipeWireReader.h"
#include "tools/kelocam-vcam/probe/PipeWireSession.h"
#include "tools/kelocam-vcam/probe/StudioFeedWriter.h"
#include "tools/kelocam-vcam/probe/StudioHdWriter.h"
#include "platform/contracts/HdFeedLayout.h"
#include "tools/kelocam-vcam/probe/Y4mReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gst/gst.h>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace kelo;
using namespace kelo::vcam;
using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time (user + system) of a running child, from /proc; 0 when it cannot be read.
double ChildCpuSeconds(pid_t pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!file)
        return 0;
    char text[1024] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    // Fields after the command name (which may hold spaces): state is field 3, utime 14, stime 15.
    const char* rest = std::strrchr(text, ')');
    if (!rest || n == 0)
        return 0;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2)
        return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

void BenchConversion() {
    std::printf("conversion of one block (median of 300, microseconds):\n");
    std::vector<std::uint8_t> feed(kFeedBytes);
    probe::PaintTestPicture(feed.data(), 1);
    struct Case {
        const char* name;
        PixelFormat format;
        FrameSize size;
    };
    for (const Case& c :
         {Case{"I420 320x240", PixelFormat::I420, {}}, Case{"YUY2 320x240", PixelFormat::YUY2, {}},
          Case{"I420 640x480", PixelFormat::I420, {640, 480}},
          Case{"YUY2 1280x720", PixelFormat::YUY2, {1280, 720}}}) {
        FeedConverter converter(c.format, c.size);
        std::vector<std::uint8_t> out(converter.outputBytes());
        std::vector<double> micros;
        for (int i = 0; i < 300; ++i) {
            const auto t0 = Clock::now();
            converter.Convert(feed.data(), out.data());
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        const double median = Percentile(micros, 0.5);
        std::printf("  %-14s %8.1f us  (%.2f %% of a 66.7 ms frame period)\n", c.name, median,
                    median / 666.67);
    }
    // The HD block's frame at its own size: no scaling, only the conversion.
    std::printf("conversion of an HD block frame at its own size (median of 100, microseconds):\n");
    for (const PixelFormat format : {PixelFormat::YUY2, PixelFormat::I420}) {
        for (const FrameSize size : {FrameSize{320, 240}, FrameSize{1280, 720}}) {
            std::vector<std::uint8_t> bgr(static_cast<std::size_t>(size.width) * size.height * 3);
            probe::PaintUprightTestPicture(bgr.data(), size.width, size.height, 1);
            FeedConverter converter(format, size);
            std::vector<std::uint8_t> out(converter.outputBytes());
            std::vector<double> micros;
            std::vector<double> cpuMicros; // the thread's CPU time: what other load moves least
            for (int i = 0; i < 100; ++i) {
                const double cpu0 = ThreadCpuMicros();
                const auto t0 = Clock::now();
                converter.Convert(BgrPicture{bgr.data(), size.width * 3, size.width, size.height},
                                  out.data());
                micros.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                cpuMicros.push_back(ThreadCpuMicros() - cpu0);
            }
            const double median = Percentile(micros, 0.5);
            std::printf("  %s %dx%d %8.1f us, thread CPU %8.1f us  (%.1f %% of a core at 30 "
                        "frames a second)\n",
                        GstFormatName(format), size.width, size.height, median,
                        Percentile(cpuMicros, 0.5), median * 30 / 1e4);
        }
    }
}

// The bridge as a child process: latency per delivered studio frame, and its CPU. Returns the
// median latency in milliseconds (0 when nothing was measured).
double BenchBridge(double seconds) {
    char name[64];
    std::snprintf(name, sizeof name, "/KeloVCam-bench-%d", static_cast<int>(getpid()));
    setenv("KELOCAM_FEED_NAME", name, 1);

    probe::BridgeProcess bridge;
    if (!bridge.Start({"--y4m", "-"})) {
        std::printf("cannot start %s\n", probe::BridgeProcess::Executable().c_str());
        return 0;
    }
    probe::Y4mReader reader(bridge.stdoutFd());
    if (!reader.ReadHeader(std::chrono::seconds(10))) {
        std::printf("no Y4M header from the bridge: %s\n", bridge.Stderr().c_str());
        return 0;
    }
    // A camera's clock is not the bridge's: at 14.7 frames a second against the bridge's 15 the
    // phase between them sweeps the whole frame period every 3.3 s, as it drifts in real use.
    // (Two exact 15 Hz clocks would give one fixed phase, anywhere between 0 and 66 ms.)
    probe::StudioFeedWriter studio(name, std::chrono::microseconds(static_cast<int>(1e6 / 14.7)));
    studio.Start();

    std::vector<double> latencyMs;
    std::uint32_t lastStamp = 0;
    int frames = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const auto frame = reader.ReadFrame(std::chrono::seconds(2));
        if (!frame)
            break;
        ++frames;
        const auto stamp = probe::ReadStamp(frame->i420.data(), 320, 240, 320);
        // Only the first delivery of each studio frame measures its latency; repeats of a frame
        // the studio has not replaced yet would measure the studio's pace instead.
        if (stamp && *stamp != lastStamp) {
            lastStamp = *stamp;
            const auto written = studio.WrittenAt(*stamp);
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(frame->arrived - written).count());
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    studio.Stop();
    bridge.Stop();
    const double cpuPercent = 100.0 * bridge.cpuSeconds() / wall;

    std::printf("bridge process (--y4m -), %.1f s, %d frames (%.2f per second):\n", wall, frames,
                frames / wall);
    std::printf("  latency block -> output: median %.1f ms, p90 %.1f ms, max %.1f ms over %zu "
                "frames  (target median < 66 ms: %.2f of it)\n",
                Percentile(latencyMs, 0.5), Percentile(latencyMs, 0.9), Percentile(latencyMs, 1.0),
                latencyMs.size(), Percentile(latencyMs, 0.5) / 66.0);
    std::printf("  CPU: %.2f %% of one core  (target < 3 %%: %.2f of it)\n", cpuPercent,
                cpuPercent / 3.0);
    shm_unlink(name);
    unlink(BridgeLock::LockPathFor(name).c_str()); // no other bridge can want this one
    unsetenv("KELOCAM_FEED_NAME");
    return Percentile(latencyMs, 0.5);
}

// The PipeWire camera: the bridge with --pipewire in a private PipeWire, a pipewiresrc viewer in
// this process stamping each frame as it arrives. The format is I420, as on the stream path, so
// that the two latencies compare the outputs and not a conversion.
void BenchPipeWire(double seconds, double streamMedianMs) {
    probe::PipeWireSession session;
    if (!session.Start()) {
        std::printf("PipeWire camera: no private PipeWire: %s\n", session.error().c_str());
        return;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/KeloVCam-bench-pw-%d", static_cast<int>(getpid()));
    setenv("KELOCAM_FEED_NAME", name, 1);
    struct FeedCleanup { // the block and the variable go whichever way this returns
        const char* name;
        ~FeedCleanup() {
            shm_unlink(name);
            unsetenv("KELOCAM_FEED_NAME");
        }
    } cleanup{name};
    probe::BridgeProcess bridge;
    if (!bridge.Start({"--pipewire", "--format", "i420"}, session.Environment())) {
        std::printf("cannot start %s\n", probe::BridgeProcess::Executable().c_str());
        return;
    }
    // The viewer opens the node once the bridge has published it.
    const auto published = Clock::now() + std::chrono::seconds(20);
    while (session.ListNodes().find("kelo-vcam") == std::string::npos && Clock::now() < published)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    probe::PipeWireReader reader;
    const bool open = reader.Open("kelo-vcam");
    if (!open || !reader.ReadFrame(std::chrono::seconds(20))) {
        std::printf("PipeWire camera: no frame reached the viewer: %s %s%s\n",
                    reader.error().c_str(), bridge.Stderr().c_str(), session.Logs().c_str());
        return;
    }
    probe::StudioFeedWriter studio(name, std::chrono::microseconds(static_cast<int>(1e6 / 14.7)));
    studio.Start();
    reader.Discard();

    std::vector<double> latencyMs;
    std::vector<std::pair<double, double>> lateFrames; // latency, gap after the previous frame
    std::uint32_t lastStamp = 0;
    int frames = 0;
    const double cpu0 = ChildCpuSeconds(bridge.pid());
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const auto frame = reader.ReadFrame(std::chrono::seconds(2));
        if (!frame)
            break;
        ++frames;
        const auto stamp = probe::ReadStamp(frame->i420.data(), 320, 240, 320);
        if (stamp && *stamp != lastStamp) {
            lastStamp = *stamp;
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(frame->arrived - studio.WrittenAt(*stamp))
                    .count());
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuPercent = 100.0 * (ChildCpuSeconds(bridge.pid()) - cpu0) / wall;
    studio.Stop();
    reader.Close();
    bridge.Stop();
    const double median = Percentile(latencyMs, 0.5);
    std::printf("PipeWire camera (--pipewire --format i420, pipewiresrc viewer), %.1f s, %d frames "
                "(%.2f per second):\n",
                wall, frames, frames / wall);
    std::printf("  latency block -> viewer: median %.1f ms, p90 %.1f ms, max %.1f ms over %zu "
                "frames  (target median < stream path's %.1f + 5 ms: %.2f of it)\n",
                median, Percentile(latencyMs, 0.9), Percentile(latencyMs, 1.0), latencyMs.size(),
                streamMedianMs, streamMedianMs > 0 ? median / (streamMedianMs + 5.0) : 0.0);
    std::printf("  CPU while delivering: %.2f %% of one core  (target < 3 %%: %.2f of it)\n",
                cpuPercent, cpuPercent / 3.0);
}

// The device path without a device: the same GStreamer pipeline with a fakesink in place of
// v4l2sink, fed at 15 frames per second in this process.
void BenchDevicePipeline(double seconds) {
    EnsureGstInitialized();
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("fakesink", nullptr));
    if (!sink) {
        std::printf("fakesink missing\n");
        return;
    }
    g_object_set(sink.get(), "sync", FALSE, nullptr);
    DeviceOutput output(PixelFormat::YUY2, {}, kFramesPerSecond);
    if (FAILED(output.OpenWithSink(std::move(sink)))) {
        std::printf("device pipeline: %s\n", output.error().c_str());
        return;
    }
    std::vector<std::uint8_t> feed(kFeedBytes);
    probe::PaintTestPicture(feed.data(), 5);
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    auto next = start;
    const int frames = static_cast<int>(seconds * kFramesPerSecond);
    for (int i = 0; i < frames; ++i) {
        if (FAILED(output.Deliver(feed.data()))) {
            std::printf("device pipeline: frame %d refused: %s\n", i, output.error().c_str());
            return;
        }
        next += std::chrono::microseconds(1'000'000 / kFramesPerSecond);
        std::this_thread::sleep_until(next);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuPercent = 100.0 * (ProcessCpuSeconds() - cpu0) / wall;
    output.Close();
    std::printf("device pipeline (YUY2 320x240, fakesink for v4l2sink), %.1f s: CPU %.2f %% of "
                "one core  (target < 3 %%: %.2f of it)\n",
                wall, cpuPercent, cpuPercent / 3.0);
}

// The HD block to a pipewiresrc viewer: the studio played by StudioHdWriter at the given size
// and rate, the bridge as it starts by default (--pipewire), latency from a frame's publication
// to its arrival at the viewer, and the bridge's CPU. Targets at 1280 x 720 and 30: median
// under 5 ms, p90 under 10 ms, CPU under 5 % of a core.
void BenchHdPipeWire(double seconds, int width, int height, int rate) {
    probe::PipeWireSession session;
    if (!session.Start()) {
        std::printf("HD PipeWire camera: no private PipeWire: %s\n", session.error().c_str());
        return;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/KeloVCam-bench-hd-%d", static_cast<int>(getpid()));
    setenv("KELOCAM_FEED_NAME", name, 1);
    const std::string hdName = HdFeedObjectName();
    struct FeedCleanup {
        std::string name;
        std::string hdName;
        ~FeedCleanup() {
            shm_unlink(name.c_str());
            shm_unlink(hdName.c_str());
            unsetenv("KELOCAM_FEED_NAME");
        }
    } cleanup{name, hdName};
    probe::StudioHdWriter studio(hdName, width, height, rate);
    if (!studio.Start()) {
        std::printf("HD PipeWire camera: cannot make %s\n", hdName.c_str());
        return;
    }
    probe::BridgeProcess bridge;
    if (!bridge.Start({"--pipewire"}, session.Environment())) {
        std::printf("cannot start %s\n", probe::BridgeProcess::Executable().c_str());
        return;
    }
    const auto published = Clock::now() + std::chrono::seconds(20);
    while (session.ListNodes().find("kelo-vcam") == std::string::npos && Clock::now() < published)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    probe::PipeWireReader reader;
    if (!reader.Open("kelo-vcam") || !reader.ReadFrame(std::chrono::seconds(20))) {
        std::printf("HD PipeWire camera: no frame reached the viewer: %s %s\n",
                    reader.error().c_str(), bridge.Stderr().c_str());
        return;
    }
    reader.Discard();
    std::vector<double> latencyMs;
    std::vector<std::pair<double, double>> lateFrames; // latency, gap after the previous frame
    std::uint32_t lastStamp = 0;
    int frames = 0;
    const double cpu0 = ChildCpuSeconds(bridge.pid());
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const auto frame = reader.ReadFrame(std::chrono::seconds(2));
        if (!frame)
            break;
        ++frames;
        const auto stamp =
            probe::ReadStamp(frame->i420.data(), frame->width, frame->height, frame->width);
        if (stamp && *stamp != lastStamp) {
            lastStamp = *stamp;
            latencyMs.push_back(std::chrono::duration<double, std::milli>(
                                    frame->arrived - studio.PublishedAt(*stamp))
                                    .count());
            // Of a late frame: how long after the studio's previous frame it was published
            // (the studio catching up after a stall publishes frames closer than a period).
            if (latencyMs.back() >= 10.0 && *stamp > 0)
                lateFrames.push_back(
                    {latencyMs.back(),
                     std::chrono::duration<double, std::milli>(studio.PublishedAt(*stamp) -
                                                               studio.PublishedAt(*stamp - 1))
                         .count()});
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuPercent = 100.0 * (ChildCpuSeconds(bridge.pid()) - cpu0) / wall;
    reader.Close();
    bridge.Stop();
    studio.Stop();
    std::printf("HD block -> PipeWire camera (--pipewire) -> pipewiresrc (I420, as it negotiates), "
                "%dx%d at %d, "
                "%.1f s, %d frames (%.2f per second):\n",
                width, height, rate, wall, frames, frames / wall);
    const double median = Percentile(latencyMs, 0.5);
    const double p90 = Percentile(latencyMs, 0.9);
    auto verdict = [](bool met) { return met ? "met" : "NOT MET"; };
    std::printf("  latency: median %.1f ms (target < 5: %s), p90 %.1f ms (target < 10: %s), "
                "max %.1f ms over %zu frames\n",
                median, verdict(!latencyMs.empty() && median < 5.0), p90,
                verdict(!latencyMs.empty() && p90 < 10.0), Percentile(latencyMs, 1.0),
                latencyMs.size());
    std::printf("  bridge CPU: %.2f %% of one core (target < 5 %%: %s)\n", cpuPercent,
                verdict(cpuPercent < 5.0));
    if (!lateFrames.empty()) {
        std::printf("  %zu frames of 10 ms or more (latency / published after the studio's "
                    "previous frame, ms):",
                    lateFrames.size());
        for (const auto& [late, gap] : lateFrames)
            std::printf(" %.1f/%.1f", late, gap);
        std::printf("\n");
    }
}

// The machine's load, printed with the figures: they are only comparable at a like load.
void PrintLoad() {
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average: %.2f %.2f %.2f on %ld processors\n", load[0], load[1], load[2],
                    sysconf(_SC_NPROCESSORS_ONLN));
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    bool hdOnly = false; // --hd: only the conversions and the HD block to the PipeWire camera
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[i + 1]));
        if (std::strcmp(argv[i], "--hd") == 0)
            hdOnly = true;
    }
    cv::setNumThreads(0); // as the bridge does
    PrintLoad();
    BenchConversion();
    if (hdOnly) {
        BenchHdPipeWire(seconds, 320, 240, 15);
        BenchHdPipeWire(seconds, 1280, 720, 30);
        PrintLoad();
        return 0;
    }
    const double streamMedianMs = BenchBridge(seconds);
    BenchDevicePipeline(seconds);
    BenchPipeWire(seconds, streamMedianMs);
    BenchHdPipeWire(seconds, 320, 240, 15);
    BenchHdPipeWire(seconds, 1280, 720, 30);
    PrintLoad();
    return 0;
}
