// The whole studio process at HD on the test devices ("Test Camera" and its microphone): what
// a user runs, measured from outside the frame code. Each line prints its figures, the target and
// a verdict:
//   1. 1280 x 720 at 30, every effect off: frames per second into the preview and into the feed
//      (the HD block's sequence), the process's CPU as a share of one core;
//   2. the same with a light overlay (screen mode), colour adjustment and face cover: per-frame
//      processing (the effect chain, from the blur's input to the overlay filter's output, the
//      streaming thread's CPU time) median and p95; then with the background blur as well;
//   3. 1920 x 1080 at 30, every effect off;
//   4. an MP4 with sound at 1280 x 720 and 30 while previewing (60 s; --seconds N for a quick
//      run): frames the tee's file branch dropped, the file's duration against Run to the stop,
//      audio and video start apart (ffprobe), CPU;
//   5. a 1920 x 1080 photo from a 1080p capture: request to the closed file;
//   6. 320 x 240 at 15, every effect off: FrameCallback's own time per frame, without and with
//      a virtual camera's 320 x 240 block (both feed blocks written).
// The preview surface copies every frame it is shown, as the window's slot does.
// CPU is user + system time of the whole process over the window (getrusage).
//
// Run from the build folder, where the face detector and the blur find their models:
//   cd build && bench/pipeline/bench_hd_studio [--seconds N (recording, default 60)]
//                                              [--window N (other lines, default 10)]
//                                              [--only LINE (1 to 6)] [--keep (the MP4)]
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchRegistry.h"
#include "effects/filters/EffectFilterControl.h"
#include "effects/gif/OverlayPicture.h"
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/HdFeedLayout.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/FilterGraph.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kelo;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Posted tasks run at once on the posting thread: only photo outcomes and errors come here.
class BenchOwner : public CaptureEngineOwner {
public:
    DeviceList& VideoDeviceList() override { return lists_; }
    DeviceList& AudioDeviceList() override { return lists_; }
    void PostToOwnerThread(std::function<void()> task) override { task(); }
    void OnCaptureError(const std::string& message) override {
        std::fprintf(stderr, "capture error: %s\n", message.c_str());
    }
    void OnSnapshotTaken(const SnapshotOutcome& outcome) override {
        std::lock_guard<std::mutex> lock(mutex);
        photoDone = Clock::now();
        photoOk = outcome.ok();
        photoPath = outcome.path;
        ++photos;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    int photos = 0;
    bool photoOk = false;
    std::string photoPath;
    Clock::time_point photoDone;

private:
    NullDeviceList lists_;
};

// Copies every frame as the window's slot does, and counts them.
class CopyingSurface : public CountingPreviewSurface {
public:
    void PresentFrame(const PreviewFrame& frame) override {
        slot_.resize(static_cast<std::size_t>(frame.width) * 3 * frame.height);
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(slot_.data() + static_cast<std::size_t>(y) * frame.width * 3,
                        frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride,
                        static_cast<std::size_t>(frame.width) * 3);
        CountingPreviewSurface::PresentFrame(frame);
    }

private:
    std::vector<std::uint8_t> slot_; // streaming thread only
};

// Times a span of the streaming thread: from a buffer entering one pad to it leaving another,
// in the thread's CPU time (waiting for a core under load is not counted) and in wall time.
class SpanTimer {
public:
    void Attach(GstElement* first, const char* firstPad, GstElement* last, const char* lastPad) {
        PadPtr in(gst_element_get_static_pad(first, firstPad));
        PadPtr out(gst_element_get_static_pad(last, lastPad));
        if (!in || !out)
            return;
        gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, &SpanTimer::Enter, this, nullptr);
        gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, &SpanTimer::Leave, this, nullptr);
    }
    // Taken after the pipeline has stopped, or while it runs under the lock.
    void Take(std::vector<double>* cpuMs, std::vector<double>* wallMs) {
        std::lock_guard<std::mutex> lock(mutex_);
        *cpuMs = std::move(cpuMs_);
        *wallMs = std::move(wallMs_);
        cpuMs_.clear();
        wallMs_.clear();
    }

private:
    static GstPadProbeReturn Enter(GstPad*, GstPadProbeInfo*, gpointer self) {
        auto* timer = static_cast<SpanTimer*>(self);
        timer->thread_ = pthread_self();
        timer->cpuStart_ = bench::ThreadCpuMs();
        timer->wallStart_ = Clock::now();
        timer->open_ = true;
        return GST_PAD_PROBE_OK;
    }
    static GstPadProbeReturn Leave(GstPad*, GstPadProbeInfo*, gpointer self) {
        auto* timer = static_cast<SpanTimer*>(self);
        if (!timer->open_ || !pthread_equal(timer->thread_, pthread_self()))
            return GST_PAD_PROBE_OK;
        timer->open_ = false;
        const double cpu = bench::ThreadCpuMs() - timer->cpuStart_;
        const double wall = bench::MsSince(timer->wallStart_);
        std::lock_guard<std::mutex> lock(timer->mutex_);
        timer->cpuMs_.push_back(cpu);
        timer->wallMs_.push_back(wall);
        return GST_PAD_PROBE_OK;
    }

    // Streaming thread between Enter and Leave (one buffer at a time on that thread).
    pthread_t thread_{};
    double cpuStart_ = 0;
    Clock::time_point wallStart_;
    bool open_ = false;
    std::mutex mutex_;
    std::vector<double> cpuMs_;
    std::vector<double> wallMs_;
};

GstElement* ElementNamed(CaptureEngine& engine, const char* name) {
    FilterPtr filter;
    engine.filterGraph()->FindFilterByName(name, &filter);
    return filter ? filter->element() : nullptr;
}

// The HD block's sequence: the number of frames published into the feed so far.
class HdFeedCounter {
public:
    ~HdFeedCounter() {
        if (header_)
            munmap(const_cast<void*>(static_cast<const void*>(header_)), kHdFeedHeaderBytes);
    }
    std::uint64_t Sequence() {
        if (!header_) {
            const int fd = shm_open(HdFeedObjectName().c_str(), O_RDONLY, 0);
            if (fd < 0)
                return 0;
            void* map = mmap(nullptr, kHdFeedHeaderBytes, PROT_READ, MAP_SHARED, fd, 0);
            ::close(fd);
            if (map == MAP_FAILED)
                return 0;
            header_ = static_cast<const HdFeedHeader*>(map);
        }
        return __atomic_load_n(&header_->sequence, __ATOMIC_ACQUIRE);
    }

private:
    const HdFeedHeader* header_ = nullptr;
};

std::unique_ptr<CaptureEngine> StartEngine(const ClassRegistry& registry, BenchOwner& owner,
                                           PreviewSurface& surface, int width, int height,
                                           int fps) {
    auto engine = std::make_unique<CaptureEngine>(width, height, fps, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) != CaptureEngine::kVideoAndAudio ||
        engine->ConnectPreview() != S_OK) {
        std::fprintf(stderr, "the preview could not be built\n");
        std::exit(1);
    }
    return engine;
}

struct Load {
    double cpuPercent = 0;
    double previewFps = 0;
    double feedFps = 0;
    std::vector<double> chainCpuMs, chainWallMs, callbackCpuMs, callbackWallMs;
};

// A running preview at the mode: settles for a second, then measures over `seconds`.
Load MeasurePreview(const ClassRegistry& registry, BenchOwner& owner, int width, int height,
                    int fps, double seconds, bool overlay) {
    CopyingSurface surface;
    auto engine = StartEngine(registry, owner, surface, width, height, fps);
    SpanTimer chain;
    SpanTimer callback;
    GstElement* blur = ElementNamed(*engine, "Background Blur");
    GstElement* overlayFilter = ElementNamed(*engine, "Overlay Filer");
    GstElement* proxy = ElementNamed(*engine, "OpenCV ProxyTrans Filer");
    if (blur && overlayFilter)
        chain.Attach(blur, "sink", overlayFilter, "src");
    if (proxy)
        callback.Attach(proxy, "sink", proxy, "src");
    if (engine->Run() != S_OK) {
        std::fprintf(stderr, "the preview could not be started\n");
        std::exit(1);
    }
    // A light picture: black (the frame shows through in screen mode) with a bright band. The
    // filter borrows it: it lives until the engine is gone.
    std::vector<std::uint8_t> picture(kOverlayPictureBytes, 0);
    std::fill(picture.begin(), picture.begin() + kOverlayStride * 12, 200);
    if (overlay)
        (void)engine->ShowOverlayPicture(kOverlayScreen, picture.data());
    HdFeedCounter feed;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::vector<double> drop;
    chain.Take(&drop, &drop);
    callback.Take(&drop, &drop);
    const long frames0 = surface.frames.load();
    const std::uint64_t feed0 = feed.Sequence();
    const double cpu0 = bench::CpuSeconds();
    const auto wall0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = bench::MsSince(wall0) / 1000;
    Load load;
    load.cpuPercent = 100 * (bench::CpuSeconds() - cpu0) / wall;
    load.previewFps = (surface.frames.load() - frames0) / wall;
    load.feedFps = static_cast<double>(feed.Sequence() - feed0) / wall;
    chain.Take(&load.chainCpuMs, &load.chainWallMs);
    callback.Take(&load.callbackCpuMs, &load.callbackWallMs);
    engine.reset();
    return load;
}

std::string FfprobeStarts(const std::string& file) {
    const std::string command = "ffprobe -v error -show_entries stream=codec_type,start_time "
                                "-show_entries format=duration -of csv=p=0 '" +
                                file + "' 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            out += line;
        pclose(pipe);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    double recordSeconds = 60;
    double window = 10;
    int only = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--seconds") == 0 && hasValue)
            recordSeconds = std::max(2.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--window") == 0 && hasValue)
            window = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--only") == 0 && hasValue)
            only = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
    }
    auto wanted = [only](int line) { return only == 0 || only == line; };
    test::ScopedFeedName feedName; // a feed of our own, beside any studio running
    test::TempDir folder;

    ClassRegistry registry;
    bench::RegisterStudio(registry, bench::TestDeviceSources());
    BenchOwner owner;
    EffectState& effects = ProcessEffectState();

    std::printf("whole process on the test camera; CPU = user + system of the process as a share "
                "of one core; %.0f s windows\n",
                window);

    // 1. 720p30, effects off.
    if (wanted(1)) {
        const Load l = MeasurePreview(registry, owner, 1280, 720, 30, window, false);
        std::printf("1280x720@30 effects off: preview %.1f fps, feed %.1f fps (target 30.0: %s); "
                    "CPU %.1f %% (target < 15 %%: %s)\n",
                    l.previewFps, l.feedFps, Verdict(l.previewFps >= 29.5 && l.feedFps >= 29.5),
                    l.cpuPercent, Verdict(l.cpuPercent < 15));
        std::fflush(stdout);
    }
    // 2. 720p30 with overlay, colour and face cover; then the blur as well.
    effects.SetColorAdjustOn(1);
    effects.SetLightnessShift(10);
    effects.SetRedOffset(20);
    if (!effects.faceDetectionOn.load())
        effects.ToggleFaceDetection();
    for (int blur = 0; blur < 2 && wanted(2); ++blur) {
        effects.SetBackgroundBlurOn(blur);
        const Load l = MeasurePreview(registry, owner, 1280, 720, 30, window, true);
        const double p95 = Percentile(l.chainCpuMs, 0.95);
        const double target = blur ? 90 : 60;
        std::printf("1280x720@30 overlay+colour+face%s: preview %.1f fps, feed %.1f fps (target "
                    "30: %s); per frame CPU median %.2f ms p95 %.2f ms (%s), "
                    "wall median %.2f p95 %.2f ms; CPU %.1f %% (target < %.0f %%: %s)\n",
                    blur ? "+blur" : "", l.previewFps, l.feedFps,
                    Verdict(l.previewFps >= 29.5 && l.feedFps >= 29.5),
                    Percentile(l.chainCpuMs, 0.5), p95,
                    blur                   ? "no target"
                    : p95 >= 0 && p95 < 20 ? "target p95 < 20 ms: met"
                                           : "target p95 < 20 ms: MISSED",
                    Percentile(l.chainWallMs, 0.5), Percentile(l.chainWallMs, 0.95), l.cpuPercent,
                    target, Verdict(l.cpuPercent < target));
        std::fflush(stdout);
    }
    effects.SetBackgroundBlurOn(0);
    effects.SetColorAdjustOn(0);
    if (effects.faceDetectionOn.load())
        effects.ToggleFaceDetection();

    // 3. 1080p30, effects off.
    if (wanted(3)) {
        const Load l = MeasurePreview(registry, owner, 1920, 1080, 30, window, false);
        std::printf("1920x1080@30 effects off: preview %.1f fps, feed %.1f fps (target 30: %s); "
                    "CPU %.1f %% (target < 30 %%: %s)\n",
                    l.previewFps, l.feedFps, Verdict(l.previewFps >= 29.5 && l.feedFps >= 29.5),
                    l.cpuPercent, Verdict(l.cpuPercent < 30));
        std::fflush(stdout);
    }

    // 4. The MP4 with sound at 720p30 while previewing.
    if (wanted(4)) {
        CopyingSurface surface;
        auto engine = std::make_unique<CaptureEngine>(1280, 720, 30, &owner, registry);
        if (engine->BuildGraph(&surface, nullptr, 1, 1) != CaptureEngine::kVideoAndAudio ||
            engine->BuildRecordGraph(RecordKind::Mp4VideoAudio, folder.path().string() + "/") !=
                S_OK) {
            std::fprintf(stderr, "the recording graph could not be built\n");
            return 1;
        }
        const std::string file = engine->recordFileName();
        auto* graph = dynamic_cast<FilterGraph*>(engine->filterGraph().get());
        const double cpu0 = bench::CpuSeconds();
        const auto wall0 = Clock::now();
        if (engine->Run() != S_OK) {
            std::fprintf(stderr, "the recording could not be started\n");
            return 1;
        }
        while (surface.frames.load() == 0 && bench::MsSince(wall0) < 10000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto firstFrame = Clock::now();
        const double firstFrameMs = bench::MsSince(wall0);
        const long frames0 = surface.frames.load();
        std::this_thread::sleep_for(std::chrono::duration<double>(recordSeconds));
        const double previewSeconds = bench::MsSince(firstFrame) / 1000;
        // The recording as the user sees it: from Run (the press of Record) to the request to
        // stop. The file begins with the camera's first frame, which the preview shows only
        // after that frame's conversion and effects, so the first previewed frame is a late
        // reference point (by 0.1-0.2 s at 720p on a busy machine).
        const double ranSeconds = bench::MsSince(wall0) / 1000;
        // The camera's real rate meanwhile: a test camera starved of CPU makes fewer frames,
        // each stamped 1/30 s after the last, so the file's timeline runs short with no drop.
        const double previewFps = (surface.frames.load() - frames0) / previewSeconds;
        const std::uint64_t dropped = graph ? graph->droppedFrames() : ~0ull;
        engine.reset(); // drains and finishes the file
        const double wall = bench::MsSince(wall0) / 1000;
        const double cpu = 100 * (bench::CpuSeconds() - cpu0) / wall;
        // csv lines: "video,START" "audio,START" and the format's "DURATION".
        const std::string probed = FfprobeStarts(file);
        double videoStart = NAN, audioStart = NAN, duration = NAN;
        std::size_t from = 0;
        while (from < probed.size()) {
            const std::size_t end = probed.find('\n', from);
            const std::string line = probed.substr(from, end - from);
            from = end == std::string::npos ? probed.size() : end + 1;
            if (line.rfind("video,", 0) == 0)
                videoStart = std::atof(line.c_str() + 6);
            else if (line.rfind("audio,", 0) == 0)
                audioStart = std::atof(line.c_str() + 6);
            else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
                duration = std::atof(line.c_str());
        }
        const double apartMs = std::fabs(videoStart - audioStart) * 1000;
        std::printf("MP4+sound 1280x720@30 %.0f s while previewing (preview %.1f fps): dropped "
                    "%llu (target 0: %s); "
                    "duration %.3f s for %.3f s from Run to the stop request (target within "
                    "0.1 s: %s; first preview frame %.0f ms after Run); audio/video start apart "
                    "%.1f ms (target < 40 ms: %s); CPU %.1f %% (target < 130 %%: %s)\n",
                    recordSeconds, previewFps, static_cast<unsigned long long>(dropped),
                    Verdict(dropped == 0), duration, ranSeconds,
                    Verdict(std::fabs(duration - ranSeconds) <= 0.1), firstFrameMs, apartMs,
                    Verdict(apartMs < 40), cpu, Verdict(cpu < 130));
        std::fflush(stdout);
        if (keep) {
            const fs::path kept = fs::current_path() / fs::path(file).filename();
            fs::copy_file(file, kept, fs::copy_options::overwrite_existing);
            std::printf("  kept: %s\n", kept.c_str());
        }
        fs::remove(file);
    }

    // 5. F4 at 1920 x 1080 from a 1080p capture.
    if (wanted(5)) {
        CopyingSurface surface;
        auto engine = StartEngine(registry, owner, surface, 1920, 1080, 30);
        if (engine->Run() != S_OK)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::vector<double> ms;
        bool allOk = true;
        for (int i = 0; i < 10; ++i) {
            std::unique_lock<std::mutex> lock(owner.mutex);
            const int before = owner.photos;
            const auto asked = Clock::now();
            lock.unlock();
            engine->RequestSnapshot(folder.path().string() + "/", 1920, 1080);
            lock.lock();
            if (!owner.changed.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return owner.photos > before; })) {
                allOk = false;
                break;
            }
            ms.push_back(
                std::chrono::duration<double, std::milli>(owner.photoDone - asked).count());
            allOk = allOk && owner.photoOk;
            std::error_code ignored;
            fs::remove(owner.photoPath, ignored);
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        engine.reset();
        const double p95 = Percentile(ms, 0.95);
        std::printf("F4 1920x1080 from 1080p30: request to closed file median %.1f ms p95 %.1f ms "
                    "over %zu photos%s (target < 150 ms: %s)\n",
                    Percentile(ms, 0.5), p95, ms.size(), allOk ? "" : ", A PHOTO FAILED",
                    Verdict(allOk && p95 >= 0 && p95 < 150));
        std::fflush(stdout);
    }

    // 6. 320 x 240 at 15, every effect off: FrameCallback alone. First as most users run it, no
    // virtual camera (the HD block written, the 320 x 240 block looked for); then with a virtual
    // camera's 320 x 240 block there as well (made as the bridge makes it), both blocks written.
    for (int vcam = 0; vcam < 2 && wanted(6); ++vcam) {
        SharedMemoryView block;
        if (vcam && block.OpenOrCreate(FeedObjectName(), kFeedBytes) != S_OK) {
            std::fprintf(stderr, "the 320 x 240 block could not be made\n");
            return 1;
        }
        const Load l = MeasurePreview(registry, owner, 320, 240, 15, window, false);
        const double median = Percentile(l.callbackCpuMs, 0.5);
        std::printf("320x240@15 effects off, %s: FrameCallback CPU median %.3f ms p95 %.3f ms "
                    "(target median < 0.1 ms: %s); whole chain median %.3f ms; preview %.1f fps; "
                    "CPU %.1f %%\n",
                    vcam ? "virtual camera's block open" : "no virtual camera", median,
                    Percentile(l.callbackCpuMs, 0.95), Verdict(median >= 0 && median < 0.1),
                    Percentile(l.chainCpuMs, 0.5), l.previewFps, l.cpuPercent);
        std::fflush(stdout);
    }
    return 0;
}
