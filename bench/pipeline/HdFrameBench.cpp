// Per-frame work at the capture sizes the settings dialog offers (320 x 240, 1280 x 720,
// 1920 x 1080), on the astronaut photograph scaled to the frame (bottom-up, as the graph hands
// it over): the overlay blend (screen mode, the overlay filter's work), then FrameCallback's
// steps with (a) every switch off (caption and the feed's 320 x 240 block) and (b) colour
// adjustment and face cover on, (c) the same with the background blur's per-frame compose (a
// fixed person mask, as the segmentation worker hands it over; the worker itself is not run).
// Prints the median and 95th percentile of the thread's CPU time per frame, the whole process's
// CPU time per frame (mean; OpenCV's own threads included) and that as a share of one core at 30
// frames per second; targets: 1280 x 720 overlay+colour+face p95 under 20 ms, 320 x 240 with
// every effect off median under 0.1 ms.
//
//   build/bench/pipeline/bench_hd_frames [frames]
#include "bench/support/BenchMeasure.h"
#include "effects/filters/BmpOverlayFilter.h"
#include "effects/gif/OverlayPicture.h"
#include "effects/models/BackgroundBlur.h"
#include "engine/FramePipeline.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <time.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace kelo;

namespace {

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[at];
}

// CPU time of every thread of the process, exactly (getrusage counts in ticks).
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 150;
    const std::string feedName = "/kelo-hd-bench-" + std::to_string(getpid());
    setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
    SharedMemoryView feedView;
    if (feedView.OpenOrCreate(feedName, kFeedBytes) != S_OK) {
        std::fprintf(stderr, "no shared memory\n");
        return 1;
    }
    cv::Mat photo = cv::imread(KELO_SOURCE_DIR "/tests/data/astronaut-320x240.jpg");
    if (photo.empty()) {
        std::fprintf(stderr, "no test photograph\n");
        return 1;
    }
    // A light overlay picture: mostly black (screen mode leaves the frame), a bright border.
    std::vector<std::uint8_t> picture(kOverlayPictureBytes, 0);
    for (std::size_t i = 0; i < kOverlayStride * 12; ++i)
        picture[i] = 200;

    // The person mask: an upright ellipse in the lower middle (bottom-up, as the frames).
    cv::Mat personMask(144, 256, CV_8U, cv::Scalar(0));
    cv::ellipse(personMask, cv::Point(128, 50), cv::Size(60, 70), 0, 0, 360, cv::Scalar(255),
                cv::FILLED);
    cv::GaussianBlur(personMask, personMask, cv::Size(9, 9), 0);

    std::printf("%-11s %-26s %10s %10s %13s %12s\n", "size", "work", "median ms", "p95 ms",
                "process ms", "core @30fps");
    bool allMet = true;
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        cv::Mat upright;
        cv::resize(photo, upright, size, 0, 0, cv::INTER_LINEAR);
        cv::Mat source;
        cv::flip(upright, source, 0);
        for (int mode = 0; mode < 3; ++mode) {
            BmpOverlayProcessor overlay;
            BlurScratch blurScratch;
            if (mode >= 1)
                (void)overlay.Show(kOverlayScreen, picture.data());
            EffectState::Values values;
            values.faceDetectionOn = mode >= 1;
            values.colorAdjustOn = mode >= 1;
            values.lightnessShift = 10;
            values.redOffset = 20;
            VirtualCameraFeed feed;
            std::vector<double> cpu;
            cv::Mat frameMat;
            double processSeconds = 0;
            for (int i = 0; i < frames + 5; ++i) {
                source.copyTo(frameMat);
                FrameImage frame;
                frame.width = size.width;
                frame.height = size.height;
                frame.origin = kFrameOriginBottomLeft;
                frame.imageData = frameMat.data;
                frame.widthStep = static_cast<int>(frameMat.step);
                frame.imageSize = frame.widthStep * size.height;
                const double start = bench::ThreadCpuMs();
                const double processStart = ProcessCpuSeconds();
                if (mode == 2)
                    ComposeBackgroundBlur(frameMat, personMask, blurScratch);
                overlay.ProcessFrame(frameMat.data, size.width, size.height, frame.widthStep);
                ProcessFrame(&frame, values, feed);
                if (i >= 5) {
                    cpu.push_back(bench::ThreadCpuMs() - start);
                    processSeconds += ProcessCpuSeconds() - processStart;
                }
            }
            const double median = Percentile(cpu, 0.5);
            const double p95 = Percentile(cpu, 0.95);
            const double processMs = 1000 * processSeconds / frames;
            const char* work = mode == 0   ? "every effect off"
                               : mode == 1 ? "overlay+colour+face"
                                           : "overlay+colour+face+blur";
            std::printf("%4dx%-6d %-26s %10.3f %10.3f %13.3f %11.1f%%", size.width, size.height,
                        work, median, p95, processMs, processMs * 30 / 10.0);
            if (size == cv::Size(1280, 720) && mode == 1) {
                std::printf("  (target p95 < 20 ms: %s)", p95 < 20 ? "met" : "MISSED");
                allMet = allMet && p95 < 20;
            } else if (size == cv::Size(320, 240) && mode == 0) {
                std::printf("  (target median < 0.1 ms: %s)", median < 0.1 ? "met" : "MISSED");
                allMet = allMet && median < 0.1;
            }
            std::printf("\n");
            feed.Close();
        }
    }
    shm_unlink(feedName.c_str());
    std::printf("verdict: %s\n", allMet ? "every target met" : "a target MISSED");
    return 0;
}
