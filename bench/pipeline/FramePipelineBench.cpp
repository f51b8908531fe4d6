// Per-frame cost of the studio's frame work at 320 x 240, on the astronaut photograph as the
// graph hands it over (bottom-up, origin bottom-left):
//   (a) FrameCallback with every switch off (caption + feed write),
//   (b) colour adjustment on, (c) face cover on, (d) both,
//   the feed write alone, and the overlay blends of BmpOverlayFiler,
// each as a median over many frames and as a ratio to one 230400-byte memcpy measured in the
// same run. The frame budget at 15 frames per second is 66.7 ms.
//
//   build/bench/pipeline/bench_frame_pipeline [frames]
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "effects/BmpOverlayFilter.h"
#include "engine/FaceCover.h"
#include "engine/FramePipeline.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/FeedLayout.h"
#include "platform/SharedMemoryView.h"

using namespace kelo;
using Clock = std::chrono::steady_clock;

namespace {

// Median time in microseconds of `work`, with `prepare` (not timed) before each run.
double MedianMicros(int runs, const std::function<void()>& prepare,
                    const std::function<void()>& work) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs + 3; ++i) {
        prepare();
        auto start = Clock::now();
        work();
        auto end = Clock::now();
        if (i >= 3) // warm-up runs are dropped
            times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    cv::Mat upright = cv::imread(std::string(KELO_SOURCE_DIR) + "/tests/data/astronaut-320x240.jpg");
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
    double memcpyUs = MedianMicros(
        runs * 10, [&] { from[static_cast<std::size_t>(std::rand()) % kFeedBytes] ^= 1; },
        [&] { std::memcpy(to.data(), from.data(), kFeedBytes); });

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
    int faces = DetectAndCoverFaces(&frame);

    struct Row {
        const char* name;
        double us;
    };
    std::vector<Row> rows;
    rows.push_back({"memcpy 230400 bytes", memcpyUs});
    rows.push_back({"(a) FrameCallback, all off",
                    MedianMicros(runs, restore, [&] { ProcessFrame(&frame, off, feed); })});
    rows.push_back({"(b) colour adjustment on",
                    MedianMicros(runs, restore, [&] { ProcessFrame(&frame, colour, feed); })});
    int faceRuns = std::max(5, runs / 4);
    rows.push_back({"(c) face cover on",
                    MedianMicros(faceRuns, restore, [&] { ProcessFrame(&frame, face, feed); })});
    rows.push_back({"(d) face cover + colour",
                    MedianMicros(faceRuns, restore, [&] { ProcessFrame(&frame, both, feed); })});
    rows.push_back({"feed write alone", MedianMicros(runs, [] {}, [&] { feed.Write(frame); })});

    BmpOverlayProcessor overlay;
    std::vector<std::uint8_t> picture(kFeedBytes);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>((i * 7) % 256);
    for (auto [name, command] : {std::pair{"BmpOverlay 110 screen", kOverlayScreen},
                                 std::pair{"BmpOverlay 111 key", kOverlayKey},
                                 std::pair{"BmpOverlay 112 key 60 %", kOverlayKeyFaded}}) {
        overlay.Show(command, picture.data());
        rows.push_back({name, MedianMicros(runs, restore, [&] {
                            overlay.ProcessFrame(frameMat.data, 320, 240, frame.widthStep);
                        })});
    }
    overlay.Clear(kOverlayClear);

    const double budgetUs = 1e6 / 15.0;
    std::printf("320 x 240, %d runs (%d for face cover), faces found: %d\n", runs, faceRuns,
                faces);
    std::printf("%-30s %12s %14s %12s\n", "case", "median ms", "x memcpy", "% of 66.7 ms");
    for (const Row& row : rows)
        std::printf("%-30s %12.3f %14.1f %12.2f\n", row.name, row.us / 1000.0, row.us / memcpyUs,
                    100.0 * row.us / budgetUs);

    feed.Close();
    creator.Close();
    shm_unlink(feedName.c_str());
    return 0;
}
