// An hour of the studio's engine on the test devices, to show that nothing leaks: the preview
// with an overlay picture, colour adjustment and face cover on; a 30 s recording every 5 minutes
// (rotating through the nine kinds, each file checked with ffprobe and ffmpeg afterwards); a
// photo every 30 s. Every 5 minutes it prints resident memory, open descriptors, threads and
// the frames the recordings dropped. Targets: resident memory grows by under 5 MB after the
// first 5 minutes, descriptors and threads flat, no frame dropped, every file plays.
// Before the first report every recording kind runs for two seconds once: the codec libraries
// each kind loads (WMV, H.264, AAC, MP3) stay mapped for the process's life, and growth is
// counted from a process that has loaded them all, so what it shows is what a long session adds.
//
//   soak_bench [--minutes N]   (60 by default; 10 for a quick run; the periods scale with N:
//                               12 reports, a recording in each)
#include "bench/support/BenchRegistry.h"
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/FilterGraph.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kelo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Posted tasks (photo outcomes, errors) run on the bench's own thread between its steps.
class SoakOwner : public CaptureEngineOwner {
public:
    DeviceList& VideoDeviceList() override { return lists; }
    DeviceList& AudioDeviceList() override { return lists; }
    void PostToOwnerThread(std::function<void()> task) override {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    void OnCaptureError(const std::string& message) override {
        std::fprintf(stderr, "error: %s\n", message.c_str());
        ++errors;
    }
    void OnSnapshotTaken(const SnapshotOutcome& outcome) override {
        outcome.ok() ? ++photos : ++photoFailures;
    }
    void RunTasks() {
        std::vector<std::function<void()>> now;
        {
            std::lock_guard lock(mutex);
            now.swap(tasks);
        }
        for (auto& task : now)
            task();
    }
    NullDeviceList lists;
    std::mutex mutex;
    std::vector<std::function<void()>> tasks;
    int errors = 0;
    int photos = 0;
    int photoFailures = 0;
};

long StatusValue(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

long OpenDescriptors() {
    long count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count - 3; // ".", ".." and the listing's own descriptor
}

std::unique_ptr<CaptureEngine> StartEngine(SoakOwner& owner, CountingPreviewSurface& surface,
                                           const ClassRegistry& registry, int kind,
                                           const fs::path& folder) {
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) == CaptureEngine::kNoVideoDevice)
        return nullptr;
    const HRESULT connected = kind < 0
                                  ? engine->ConnectPreview()
                                  : engine->BuildRecordGraph(*RecordKindFromInt(kind),
                                                             folder.string() + "/");
    if (FAILED(connected) || FAILED(engine->Run()))
        return nullptr;
    // The effects on: a light picture over the frame, colour and face cover.
    static std::vector<std::uint8_t> picture = [] {
        std::vector<std::uint8_t> p(320 * 240 * 3);
        for (std::size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 250 : 0);
        return p;
    }();
    (void)engine->ShowOverlayPicture(1, picture.data());
    engine->SetColorAdjustOn(1);
    engine->SetLightnessShift(10);
    return engine;
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 60;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--minutes")
            minutes = std::atof(argv[i + 1]);
    }
    if (minutes <= 0)
        minutes = 60;
    const auto report = std::chrono::duration<double>(minutes * 60 / 12);
    const auto recording = std::min(std::chrono::duration<double>(30), report / 2);
    const auto photoEvery = std::min(std::chrono::duration<double>(30), report / 4);

    test::TempDir folder;
    test::ScopedFeedName feed;
    ClassRegistry registry;
    bench::RegisterStudio(registry, bench::TestDeviceSources());
    SoakOwner owner;
    CountingPreviewSurface surface;
    ProcessEffectState().ToggleFaceDetection();

    // Warm-up: one short recording of each kind, files checked and removed.
    for (int warm = 0; warm < kRecordKindCount; ++warm) {
        std::unique_ptr<CaptureEngine> engine =
            StartEngine(owner, surface, registry, warm, folder.path());
        const std::string file = engine ? engine->recordFileName() : std::string();
        for (int step = 0; step < 20; ++step) {
            owner.RunTasks();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        engine.reset();
        if (!file.empty())
            fs::remove(file);
    }
    owner.RunTasks();
    std::printf("warm-up: every kind recorded once, resident %ld kB\n", StatusValue("VmRSS:"));

    std::printf("soak: %.0f minutes, a report every %.0f s, a %.0f s recording in each, a photo "
                "every %.0f s\n",
                minutes, report.count(), recording.count(), photoEvery.count());
    std::printf("%8s %10s %6s %8s %8s %6s  %s\n", "minute", "rss_kb", "fds", "threads", "dropped",
                "photos", "recording");
    const auto start = Clock::now();
    auto nextPhoto = start + photoEvery;
    long firstRss = -1;
    long maxGrowth = 0;
    int kind = 0;
    int unplayable = 0;
    std::uint64_t dropped = 0;
    std::unique_ptr<CaptureEngine> engine = StartEngine(owner, surface, registry, -1, folder.path());
    for (int period = 1; period <= 12; ++period) {
        const auto periodEnd = start + std::chrono::duration_cast<Clock::duration>(report * period);
        const auto recordAt = periodEnd - std::chrono::duration_cast<Clock::duration>(recording) -
                              std::chrono::seconds(2);
        std::string recorded = "-";
        bool recordingNow = false;
        while (Clock::now() < periodEnd) {
            owner.RunTasks();
            if (Clock::now() >= nextPhoto) {
                if (engine)
                    engine->RequestSnapshot(folder.path().string() + "/", 320, 240);
                nextPhoto += std::chrono::duration_cast<Clock::duration>(photoEvery);
            }
            if (!recordingNow && Clock::now() >= recordAt) {
                engine.reset();
                engine = StartEngine(owner, surface, registry, kind, folder.path());
                recordingNow = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (engine && recordingNow) {
            auto graph = std::dynamic_pointer_cast<FilterGraph>(engine->filterGraph());
            const std::string file = engine->recordFileName();
            engine.reset(); // completes the file
            if (graph)
                dropped += graph->droppedFrames();
            const test::ProbedFile probed = test::ProbeMediaFile(file);
            const bool plays = probed.ok && probed.durationSeconds > recording.count() / 2;
            unplayable += plays ? 0 : 1;
            recorded = "kind " + std::to_string(kind) + (plays ? " plays " : " DOES NOT PLAY ") +
                       std::to_string(probed.durationSeconds) + " s";
            fs::remove(file);
            kind = (kind + 1) % kRecordKindCount;
        }
        engine.reset();
        engine = StartEngine(owner, surface, registry, -1, folder.path());
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path().extension() == ".jpg")
                fs::remove(entry.path());
        }
        owner.RunTasks();
        const long rss = StatusValue("VmRSS:");
        if (period == 1)
            firstRss = rss;
        else
            maxGrowth = std::max(maxGrowth, rss - firstRss);
        std::printf("%8.1f %10ld %6ld %8ld %8llu %6d  %s\n",
                    std::chrono::duration<double>(Clock::now() - start).count() / 60, rss,
                    OpenDescriptors(), StatusValue("Threads:"),
                    static_cast<unsigned long long>(dropped), owner.photos, recorded.c_str());
        std::fflush(stdout);
    }
    engine.reset();
    std::printf("growth after the first report: %ld kB (target < 5120); dropped %llu (target 0); "
                "unplayable %d; photos %d written, %d failed; errors %d\n",
                maxGrowth, static_cast<unsigned long long>(dropped), unplayable, owner.photos,
                owner.photoFailures, owner.errors);
    return maxGrowth < 5120 && dropped == 0 && unplayable == 0 && owner.errors == 0 ? 0 : 1;
}
