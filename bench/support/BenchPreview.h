// The running preview in the benchmarks: an engine owner that only prints errors, a preview
// started on the registry's first devices, and the process's CPU and frame rate while it runs.
#pragma once

#include "bench/support/BenchMeasure.h"
#include "engine/CaptureEngine.h"
#include "engine/CaptureEngineOwner.h"
#include "platform/contracts/PreviewSurface.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace kelo::bench {

// No device lists to fill, errors printed; posted tasks are dropped (nothing here waits on them).
class PrintingOwner : public CaptureEngineOwner {
public:
    DeviceList& VideoDeviceList() override { return lists_; }
    DeviceList& AudioDeviceList() override { return lists_; }
    void PostToOwnerThread(std::function<void()>) override {}
    void OnCaptureError(const std::string& message) override {
        std::fprintf(stderr, "capture error: %s\n", message.c_str());
    }

private:
    NullDeviceList lists_;
};

// The 320 x 240, 15 frames/s preview on the first camera and microphone, running; the benchmark
// ends when it cannot be started.
inline std::unique_ptr<CaptureEngine>
StartPreview(const ClassRegistry& registry, CaptureEngineOwner& owner, PreviewSurface& surface) {
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) != CaptureEngine::kVideoAndAudio ||
        engine->ConnectPreview() != S_OK || engine->Run() != S_OK) {
        std::fprintf(stderr, "the preview could not be started\n");
        std::exit(1);
    }
    return engine;
}

// The process's CPU (percent of one core) and the frames the surface was shown per second, over
// `seconds` of wall time from now.
struct PreviewLoad {
    double cpuPercent = 0;
    double framesPerSecond = 0;
    double wallSeconds = 0;
};

inline PreviewLoad MeasurePreviewLoad(const CountingPreviewSurface& surface, double seconds) {
    const long framesBefore = surface.frames.load();
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    PreviewLoad load;
    const double cpu = CpuSeconds() - cpuBefore;
    load.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    load.cpuPercent = 100.0 * cpu / load.wallSeconds;
    load.framesPerSecond = (surface.frames.load() - framesBefore) / load.wallSeconds;
    return load;
}

} // namespace kelo::bench
