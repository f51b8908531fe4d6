// What the overlay pages cost the window thread, with a preview running on the test devices:
//   1. one animation tick (median of every tick, and of the ticks that hand a new picture over);
//      target under 50 us;
//   2. one button press with the largest effect of the pack (clear, decode, first picture,
//      data.ini): median of 20; target under 30 ms, so that the window never stutters;
//   3. one button press with a hostile file at the decoder's caps (as many pictures and decoded
//      pixels as it lets one file make): worst of 5.
// Usage: effect_page_bench [EFFECT_PACK_PARENT_DIR]   (default: the build folder)
#include "app/pages/EffectPage.h"
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchPreview.h"
#include "bench/support/BenchRegistry.h"
#include "effects/gif/EffectCatalog.h"
#include "effects/gif/GifAnimation.h"
#include "engine/CaptureEngine.h"
#include "platform/contracts/PreviewSurface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gif_lib.h>
#include <QApplication>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using kelo::bench::Median;
using kelo::bench::PrintingOwner;
using kelo::bench::ThreadCpuMs;

using namespace kelo;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct PressTimes {
    double wallMs = 0;
    double cpuMs = 0;
};

PressTimes Press(EffectPage& page, int number) {
    const double cpuMs = ThreadCpuMs();
    const auto start = Clock::now();
    page.SelectEffect(number);
    // What the window thread spent on the press; the decode runs on a pool thread.
    const PressTimes times{kelo::bench::MsSince(start), ThreadCpuMs() - cpuMs};
    page.FinishPendingLoad();
    return times;
}

// The effect of the pack with the most bytes.
const EffectEntry* LargestEffect(const fs::path& packParent) {
    const EffectEntry* largest = nullptr;
    std::uintmax_t largestBytes = 0;
    for (const EffectEntry& effect : AllEffects()) {
        std::error_code error;
        const std::uintmax_t bytes = fs::file_size(packParent / EffectRelativePath(effect), error);
        if (!error && bytes > largestBytes) {
            largestBytes = bytes;
            largest = &effect;
        }
    }
    return largest;
}

// A file that makes the decoder do all its caps allow: first kMaxFrames - 8 one-pixel images
// (each still becomes a whole 320 x 240 picture), then 2048 x 2048 images until the decoded
// pixels reach kMaxTotalPixels. 16 colours in a pattern LZW packs, so it stays under the file cap.
bool WriteHostileGif(const fs::path& file) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(file.c_str(), false, &error);
    if (!gif)
        return false;
    GifColorType colours[16];
    for (int i = 0; i < 16; ++i)
        colours[i] = {static_cast<GifByteType>(i * 16), static_cast<GifByteType>(255 - i * 16),
                      static_cast<GifByteType>(i * 8)};
    ColorMapObject* map = GifMakeMapObject(16, colours);
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, 2048, 2048, 8, 0, map) == GIF_OK;
    const GifByteType control[4] = {0, 1, 0, 0}; // delay 1
    std::vector<GifPixelType> row(2048);
    const int large = static_cast<int>(GifAnimation::kMaxTotalPixels / (2048 * 2048));
    const int small = static_cast<int>(GifAnimation::kMaxFrames) - large;
    for (int image = 0; ok && image < small + large; ++image) {
        const int edge = image < small ? 1 : 2048;
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, edge, edge, false, nullptr) == GIF_OK;
        for (int y = 0; ok && y < edge; ++y) {
            for (int x = 0; x < edge; ++x)
                row[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(((x ^ y) >> 3) & 15);
            ok = EGifPutLine(gif, row.data(), edge) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path packParent = argc > 1 ? fs::path(argv[1]) : fs::path(KELO_BUILD_DIR);
    // The pages find the pack in the "installed" data folder; data.ini goes to a scratch folder.
    setenv("KELOCAM_DATA_DIR", packParent.c_str(), 1);
    const std::string feedName = "/kelo-page-bench-" + std::to_string(getpid());
    setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
    const fs::path scratch =
        fs::temp_directory_path() / ("kelo-page-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    fs::current_path(scratch);
    QApplication app(argc, argv);

    const EffectEntry* largest = LargestEffect(packParent);
    if (!largest) {
        std::fprintf(stderr, "no effect pack under %s\n", packParent.c_str());
        return 1;
    }

    ClassRegistry registry;
    TestDevices devices; // the camera alone
    devices.video.push_back({"Test Camera", {}});
    bench::RegisterStudio(registry, bench::TestDeviceSources(devices));
    PrintingOwner owner;
    CountingPreviewSurface surface;
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) == CaptureEngine::kNoVideoDevice ||
        engine->ConnectPreview() != S_OK || engine->Run() != S_OK) {
        std::fprintf(stderr, "the preview could not be started\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    EffectPage frame(EffectPageKind::Frame);
    EffectPage light(EffectPageKind::Light);
    EffectPage cartoon(EffectPageKind::Cartoon);
    const auto pageOf = [&](EffectFamily family) -> EffectPage& {
        return family == EffectFamily::Frame   ? frame
               : family == EffectFamily::Light ? light
                                               : cartoon;
    };
    for (EffectPage* p : {&frame, &light, &cartoon}) {
        p->Create();
        p->SetEngine(engine.get());
        p->StartAnimation();
    }

    // 2. Button presses: the largest effect 20 times, every other effect 3 times (median each).
    std::vector<double> pressWall;
    std::vector<double> pressCpu;
    for (int i = 0; i < 20; ++i) {
        const PressTimes t = Press(pageOf(largest->family), largest->number);
        pressWall.push_back(t.wallMs);
        pressCpu.push_back(t.cpuMs);
    }
    const EffectEntry* slowest = nullptr;
    double slowestCpu = 0;
    for (const EffectEntry& effect : AllEffects()) {
        std::vector<double> cpu;
        for (int i = 0; i < 3; ++i)
            cpu.push_back(Press(pageOf(effect.family), effect.number).cpuMs);
        if (Median(cpu) > slowestCpu) {
            slowestCpu = Median(cpu);
            slowest = &effect;
        }
    }
    for (EffectPage* p : {&frame, &cartoon})
        p->StopAnimation();
    EffectPage& page = pageOf(largest->family);
    page.StartAnimation();
    page.SelectEffect(largest->number);
    page.FinishPendingLoad();

    // 1. Ticks while frames flow (the filter's lock is shared with the streaming thread).
    std::vector<double> ticks;
    std::vector<double> advances;
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t index = page.FrameIndex();
        const auto start = Clock::now();
        page.OnAnimationTick();
        const double us = Microseconds(Clock::now() - start);
        ticks.push_back(us);
        if (page.FrameIndex() != index)
            advances.push_back(us);
        if (i % 100 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // 3. The hostile file in the place of the light page's first effect.
    const fs::path hostile = scratch / EffectRelativePath(*FindEffect(EffectFamily::Light, 1));
    fs::create_directories(hostile.parent_path());
    if (!WriteHostileGif(hostile)) {
        std::fprintf(stderr, "could not write %s\n", hostile.c_str());
        return 1;
    }
    light.StartAnimation();
    PressTimes hostileWorst;
    for (int i = 0; i < 5; ++i) {
        const PressTimes t = Press(light, 1);
        hostileWorst.wallMs = std::max(hostileWorst.wallMs, t.wallMs);
        hostileWorst.cpuMs = std::max(hostileWorst.cpuMs, t.cpuMs);
    }
    const int hostileFrames = light.Decoder()->GetFrameCount();

    std::printf("largest effect: %s (%d pictures)\n", EffectRelativePath(*largest).c_str(),
                page.Decoder()->GetFrameCount());
    std::printf("tick, all:            median %8.2f us   (target < 50 us)\n", Median(ticks));
    std::printf("tick, new picture:    median %8.2f us   (%zu of them)\n", Median(advances),
                advances.size());
    std::printf("button press, largest: median %8.2f ms window-thread CPU, %.2f ms wall "
                "(target < 30 ms)\n",
                Median(pressCpu), Median(pressWall));
    std::printf("button press, slowest: median %8.2f ms window-thread CPU (%s)\n", slowestCpu,
                slowest ? EffectRelativePath(*slowest).c_str() : "-");
    std::printf("hostile file:          worst  %8.2f ms window-thread CPU, %.2f ms wall "
                "(%ju bytes, %d pictures)\n",
                hostileWorst.cpuMs, hostileWorst.wallMs,
                static_cast<std::uintmax_t>(fs::file_size(hostile)), hostileFrames);
    // Wall times grow with what else the machine runs; the CPU times much less.
    if (FILE* load = std::fopen("/proc/loadavg", "r")) {
        char text[64] = {};
        if (std::fgets(text, sizeof text, load))
            std::printf("load average: %s", text);
        std::fclose(load);
    }

    ReleaseEngine(engine, {&frame, &light, &cartoon});
    shm_unlink((feedName + "HD").c_str()); // the HD block the studio made
    std::error_code error;
    fs::current_path(fs::temp_directory_path(), error);
    fs::remove_all(scratch, error);
    return 0;
}
