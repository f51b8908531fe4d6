// How fast the preview starts and what it costs to keep it running, on the test devices:
//   1. time from constructing the engine to the first frame in the feed (median of 10 runs);
//   2. CPU (user + system seconds per second of wall time) of a preview running 10 seconds at
//      15 frames per second, with every effect off, and with colour adjustment and face cover on,
//      on the test pattern and on the face camera (where the detector has a face to find).
// Targets: first frame within 500 ms; under 5 % of one core with the effects off, under 25 % with
// both on. Usage: capture_engine_bench [seconds per CPU run, default 10]
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchPreview.h"
#include "bench/support/BenchRegistry.h"
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/system/SharedMemoryView.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using kelo::bench::FeedHasFrame;
using kelo::bench::MeasurePreviewLoad;
using kelo::bench::PreviewLoad;
using kelo::bench::PrintingOwner;
using kelo::bench::StartPreview;

using namespace kelo;
using Clock = std::chrono::steady_clock;

using Surface = CountingPreviewSurface;

void MeasureCpu(const char* label, const ClassRegistry& registry, CaptureEngineOwner& owner,
                double seconds) {
    Surface surface;
    auto engine = StartPreview(registry, owner, surface);
    // Let start-up work (first negotiation, cascade load) pass before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const PreviewLoad load = MeasurePreviewLoad(surface, seconds);
    engine.reset();
    std::printf("%-34s %6.1f %% of one core  (%.1f frames/s over %.1f s)\n", label, load.cpuPercent,
                load.framesPerSecond, load.wallSeconds);
}

} // namespace

int main(int argc, char** argv) {
    const double cpuSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string feedName = "/KeloVCam-bench-" + std::to_string(getpid());
    setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
    SharedMemoryView feed;
    if (FAILED(feed.OpenOrCreate(feedName, kFeedBytes))) {
        std::fprintf(stderr, "cannot create the feed object\n");
        return 1;
    }

    ClassRegistry registry;
    bench::RegisterStudio(registry, bench::TestDeviceSources());
    PrintingOwner owner;

    // 1. Engine construction to the first frame in the feed.
    {
        Surface warmUp;
        StartPreview(registry, owner, warmUp); // loads plugins once; not counted
    }
    std::vector<double> startMs;
    for (int run = 0; run < 10; ++run) {
        Surface surface;
        const auto start = Clock::now();
        auto engine = StartPreview(registry, owner, surface);
        while (!FeedHasFrame(feed) && Clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        startMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        engine.reset(); // clears the feed
    }
    std::sort(startMs.begin(), startMs.end());
    std::printf(
        "first frame in the feed             median %.1f ms  (min %.1f, max %.1f; target 500 ms)\n",
        (startMs[4] + startMs[5]) / 2, startMs.front(), startMs.back());

    // 2. CPU of a running preview.
    MeasureCpu("preview, every effect off", registry, owner, cpuSeconds);
    EffectState& effects = ProcessEffectState();
    effects.SetColorAdjustOn(1);
    effects.SetLightnessShift(10);
    effects.SetRedOffset(40);
    effects.ToggleFaceDetection();
    MeasureCpu("preview, colour and face cover on", registry, owner, cpuSeconds);

    // The test pattern has no face, so the detector finds nothing there: the same on the face
    // camera (the committed photograph, panning slowly), where faces are found and covered.
    ClassRegistry faceRegistry;
    TestDevices faceDevices = DefaultTestDevices();
    faceDevices.video = {{"Face Camera",
                          {},
                          TestPicture::Face,
                          KELO_SOURCE_DIR "/tests/data/astronaut-320x240.jpg"}};
    bench::RegisterStudio(faceRegistry, bench::TestDeviceSources(faceDevices));
    MeasureCpu("face camera, colour and face cover", faceRegistry, owner, cpuSeconds);
    std::printf("targets: under 5 %% with effects off, under 25 %% with colour and face cover on, "
                "under 30 %% on the face camera\n");

    feed.Close();
    shm_unlink(feedName.c_str());
    shm_unlink((feedName + "HD").c_str()); // the HD block the studio made beside it
    return 0;
}
