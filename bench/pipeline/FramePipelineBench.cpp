// Per-frame cost of the studio's frame work at 320 x 240, on the astronaut photograph as the
// graph hands it over (bottom-up, origin bottom-left):
//   (a) FrameCallback with every switch off (caption + feed write),
//   (b) colour adjustment on, (c) face cover on, (d) both, (e) both on the face camera's panned
//   picture (the face at another place in every run),
//   the feed write alone, and the overlay blends of BmpOverlayFiler,
// each as a median over many frames and as a ratio to one 230400-byte memcpy measured in the
// same run. The frame budget at 15 frames per second is 66.7 ms.
//
//   build/bench/pipeline/bench_frame_pipeline [frames]
#include "bench/support/BenchMeasure.h"
#include "effects/filters/BmpOverlayFilter.h"
#include "engine/FaceCover.h"
#include "engine/FramePipeline.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace kelo;
using Clock = std::chrono::steady_clock;

namespace {

using kelo::bench::Median;

double ProcessCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

struct Timing {
    double wallUs = 0; // median wall-clock time
    double cpuUs = 0;  // median CPU time of the whole process (all threads): robust on a busy
                       // machine where other programs take the cores
};

// Medians of `work`, with `prepare` (not timed) before each run.
Timing Measure(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> wall, cpu;
    wall.reserve(static_cast<std::size_t>(runs));
    cpu.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs + 3; ++i) {
        prepare();
        double cpuStart = ProcessCpuMicros();
        auto start = Clock::now();
        work();
        auto end = Clock::now();
        double cpuEnd = ProcessCpuMicros();
        if (i >= 3) { // warm-up runs are dropped
            wall.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            cpu.push_back(cpuEnd - cpuStart);
        }
    }
    return {Median(wall), Median(cpu)};
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    cv::Mat upright =
        cv::imread(std::string(KELO_SOURCE_DIR) + "/tests/data/astronaut-320x240.jpg");
    if (upright.empty()) {
        std::fprintf(stderr, "cannot read the test photograph\n");
        return 1;
    }
    cv::Mat source;
    cv::flip(upright, source, 0); // bottom-up, as inside the graph
    cv::Mat frameMat = source.clone();

    // A feed object of this run's own.
    std::string feedName = "/KeloVCam-bench-" + std::to_string(getpid());
    setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
    SharedMemoryView creator;
    if (FAILED(creator.OpenOrCreate(feedName, kFeedBytes))) {
        std::fprintf(stderr, "cannot create the feed object\n");
        return 1;
    }
    VirtualCameraFeed feed;

    FrameImage frame;
    frame.width = 320;
    frame.height = 240;
    frame.origin = kFrameOriginBottomLeft;
    frame.imageData = frameMat.data;
    frame.widthStep = static_cast<int>(frameMat.step[0]);
    frame.imageSize = frame.widthStep * frame.height;
    auto restore = [&] { source.copyTo(frameMat); };

    std::vector<std::uint8_t> from(kFeedBytes, 1), to(kFeedBytes);
    double memcpyUs =
        Measure(
            runs * 10, [&] { from[static_cast<std::size_t>(std::rand()) % kFeedBytes] ^= 1; },
            [&] { std::memcpy(to.data(), from.data(), kFeedBytes); })
            .wallUs;

    EffectState::Values off;
    EffectState::Values colour;
    colour.colorAdjustOn = 1;
    colour.lightnessShift = 20;
    colour.saturationShift = 30;
    colour.blueOffset = 10;
    colour.greenOffset = -10;
    colour.redOffset = 5;
    EffectState::Values face;
    face.faceDetectionOn = 1;
    EffectState::Values both = colour;
    both.faceDetectionOn = 1;

    // The first face frame loads the cascade; keep that out of the figures.
    ProcessFrame(&frame, face, feed);
    restore();
    int faces = DetectAndCoverFaces(&frame);

    struct Row {
        const char* name;
        Timing t;
    };
    std::vector<Row> rows;
    rows.push_back({"memcpy 230400 bytes", {memcpyUs, memcpyUs}});
    rows.push_back({"(a) FrameCallback, all off",
                    Measure(runs, restore, [&] { ProcessFrame(&frame, off, feed); })});
    rows.push_back({"(b) colour adjustment on",
                    Measure(runs, restore, [&] { ProcessFrame(&frame, colour, feed); })});
    int faceRuns = std::max(5, runs / 4);
    rows.push_back({"(c) face cover on",
                    Measure(faceRuns, restore, [&] { ProcessFrame(&frame, face, feed); })});
    rows.push_back({"(d) face cover + colour",
                    Measure(faceRuns, restore, [&] { ProcessFrame(&frame, both, feed); })});
    // The face camera's picture: the photograph a little larger than the frame, panned across it,
    // so that every run sees the face at another place (bottom-up, as inside the graph).
    std::vector<cv::Mat> panned;
    {
        cv::Mat larger;
        cv::resize(upright, larger, cv::Size(384, 288), 0, 0, cv::INTER_LINEAR);
        for (int step = 0; step <= 16; ++step) {
            cv::Mat bottomUp;
            cv::flip(larger(cv::Rect(step * 4, step * 3, 320, 240)), bottomUp, 0);
            panned.push_back(bottomUp);
        }
    }
    std::size_t nextPan = 0;
    auto restorePanned = [&] { panned[nextPan++ % panned.size()].copyTo(frameMat); };
    rows.push_back({"(e) face camera, both",
                    Measure(faceRuns, restorePanned, [&] { ProcessFrame(&frame, both, feed); })});
    rows.push_back({"feed write alone", Measure(
                                            runs, [] {}, [&] { feed.Write(frame); })});

    BmpOverlayProcessor overlay;
    std::vector<std::uint8_t> picture(kFeedBytes);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>((i * 7) % 256);
    for (auto [name, command] : {std::pair{"BmpOverlay 110 screen", kOverlayScreen},
                                 std::pair{"BmpOverlay 111 key", kOverlayKey},
                                 std::pair{"BmpOverlay 112 key 60 %", kOverlayKeyFaded}}) {
        if (FAILED(overlay.Show(command, picture.data()))) {
            std::fprintf(stderr, "the overlay refused command %d\n", command);
            return 1;
        }
        rows.push_back({name, Measure(runs, restore, [&] {
                            overlay.ProcessFrame(frameMat.data, 320, 240, frame.widthStep);
                        })});
    }
    (void)overlay.Clear(kOverlayClear); // the overlay is dropped with the benchmark anyway

    const double budgetUs = 1e6 / 15.0;
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("320 x 240, %d runs (%d for face cover), faces found: %d, OpenCV threads: %d, "
                "load average: %.1f on %ld cores\n",
                runs, faceRuns, faces, cv::getNumThreads(), load[0], sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-28s %10s %10s %12s %10s %10s\n", "case", "wall ms", "cpu ms", "wall/memcpy",
                "wall % 66.7", "cpu % 66.7");
    for (const Row& row : rows)
        std::printf("%-28s %10.3f %10.3f %12.1f %10.2f %10.2f\n", row.name, row.t.wallUs / 1000.0,
                    row.t.cpuUs / 1000.0, row.t.wallUs / memcpyUs, 100.0 * row.t.wallUs / budgetUs,
                    100.0 * row.t.cpuUs / budgetUs);

    feed.Close();
    creator.Close();
    shm_unlink(feedName.c_str());
    return 0;
}
