// Records each kind from the test devices (20 s by default) and prints, per kind: CPU time per
// second of wall time (percent of one core, the whole process: capture, effects, preview and
// file), frames written against frames captured, and for the kinds with both streams how far
// the audio's end is from the video's. Targets: no dropped frame, audio and video within 100 ms,
// the heaviest kind under 30 % of one core at 320 x 240, 15 frames per second.
//
//   recording_bench [--seconds N] [KIND ...]
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchRegistry.h"
#include "engine/CaptureEngine.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/FilterGraph.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using kelo::bench::CpuSeconds;

using namespace kelo;
namespace fs = std::filesystem;

// Posted tasks are only runtime errors and photo outcomes here: an error is remembered.
class BenchOwner : public CaptureEngineOwner {
public:
    DeviceList& VideoDeviceList() override { return lists; }
    DeviceList& AudioDeviceList() override { return lists; }
    void PostToOwnerThread(std::function<void()>) override { failed = true; }
    void OnCaptureError(const std::string&) override { failed = true; }
    NullDeviceList lists;
    std::atomic<bool> failed{false};
};

using CountingSurface = CountingPreviewSurface;

// Counts the buffers leaving the capture device's element.
GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer counter) {
    static_cast<std::atomic<long>*>(counter)->fetch_add(1);
    return GST_PAD_PROBE_OK;
}

struct Result {
    bool ok = false;
    double cpuPercent = 0;
    long captured = 0;
    long written = -1;
    double drift = NAN; // audio end - video end, seconds
    std::string note;
};

Result RecordKindFor(const ClassRegistry& registry, RecordKind kind, const fs::path& folder,
                     double seconds) {
    Result result;
    BenchOwner owner;
    CountingSurface surface;
    std::atomic<long> captured{0};
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) != CaptureEngine::kVideoAndAudio ||
        engine->BuildRecordGraph(kind, folder.string() + "/") != S_OK) {
        result.note = "could not build the graph";
        return result;
    }
    const std::string file = engine->recordFileName();
    FilterPtr camera;
    engine->filterGraph()->FindFilterByName("video capture", &camera);
    if (camera) {
        PadPtr src(gst_element_get_static_pad(camera->element(), "src"));
        if (src)
            gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, CountFrame, &captured, nullptr);
    }

    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (engine->Run() != S_OK)
        std::fprintf(stderr, "the recording graph could not be started\n");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine.reset(); // completes the file
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    result.cpuPercent = 100.0 * (CpuSeconds() - cpu0) / wall;
    result.captured = captured.load();

    const RecordKindInfo& info = DescribeRecordKind(kind);
    const test::ProbedFile probed = test::ProbeMediaFile(file, {true});
    if (!probed.ok) {
        result.note = "ffprobe: " + probed.error;
        return result;
    }
    if (info.hasVideo) {
        if (const test::ProbedStream* video = probed.FirstOf("video"))
            result.written = video->packetCount;
    }
    if (info.hasVideo && info.hasAudio)
        result.drift =
            test::StreamEndSeconds(file, "audio") - test::StreamEndSeconds(file, "video");
    result.ok = !owner.failed;
    if (owner.failed)
        result.note = "the graph reported an error";
    fs::remove(file);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    std::vector<int> kinds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (RecordKindFromInt(std::atoi(arg.c_str())))
            kinds.push_back(std::atoi(arg.c_str()));
    }
    if (kinds.empty()) {
        for (int k = 0; k < kRecordKindCount; ++k)
            kinds.push_back(k);
    }

    ClassRegistry registry;
    bench::RegisterStudio(registry, bench::TestDeviceSources());
    test::TempDir folder;
    test::ScopedFeedName feed;

    std::printf("recording %.0f s per kind, 320 x 240 at 15 frames per second, test devices\n",
                seconds);
    std::printf("%-5s %-5s %9s %9s %8s %7s %11s  %s\n", "kind", "ext", "cpu%core", "captured",
                "written", "dropped", "a-v end ms", "");
    double heaviest = 0;
    long dropsTotal = 0;
    double worstDrift = 0;
    bool allOk = true;
    for (int k : kinds) {
        const RecordKind kind = *RecordKindFromInt(k);
        const Result r = RecordKindFor(registry, kind, folder.path(), seconds);
        const RecordKindInfo& info = DescribeRecordKind(kind);
        const long dropped = info.hasVideo && r.written >= 0 ? r.captured - r.written : 0;
        char drift[32] = "-";
        if (!std::isnan(r.drift))
            std::snprintf(drift, sizeof drift, "%+.0f", r.drift * 1000);
        char written[32] = "-";
        if (info.hasVideo)
            std::snprintf(written, sizeof written, "%ld", r.written);
        std::printf("%-5d %-5s %9.1f %9ld %8s %7ld %11s  %s\n", k,
                    std::string(info.extension).c_str(), r.cpuPercent, r.captured, written, dropped,
                    drift, r.note.c_str());
        std::fflush(stdout);
        heaviest = std::max(heaviest, r.cpuPercent);
        dropsTotal += std::max(0L, dropped);
        if (!std::isnan(r.drift))
            worstDrift = std::max(worstDrift, std::fabs(r.drift));
        allOk = allOk && r.ok;
    }
    std::printf("heaviest kind: %.1f %% of one core (target < 30 %%): %s\n", heaviest,
                heaviest < 30 ? "met" : "MISSED");
    std::printf("dropped frames: %ld (target 0): %s\n", dropsTotal,
                dropsTotal == 0 ? "met" : "MISSED");
    std::printf("largest audio/video end difference: %.0f ms (target < 100 ms): %s\n",
                worstDrift * 1000, worstDrift < 0.1 ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
