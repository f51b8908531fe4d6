// Per-frame work at the capture sizes the settings dialog offers (320 x 240, 1280 x 720,
// 1920 x 1080), on the astronaut photograph scaled to the frame (bottom-up, as the graph hands
// it over): the overlay blend (screen mode, the overlay filter's work), then FrameCallback's
// steps with (a) every switch off (caption and the feed's 320 x 240 block) and (b) colour
// adjustment and face cover on. Prints the median and 95th percentile of the thread's CPU time
// per frame and that as a share of one core at 30 frames per second.
//
//   build/bench/pipeline/bench_hd_frames [frames]
#include "bench/support/BenchMeasure.h"
#include "effects/filters/BmpOverlayFilter.h"
#include "effects/gif/OverlayPicture.h"
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

    std::printf("%-11s %-22s %10s %10s %12s\n", "size", "work", "median ms", "p95 ms",
                "core @30fps");
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        cv::Mat upright;
        cv::resize(photo, upright, size, 0, 0, cv::INTER_LINEAR);
        cv::Mat source;
        cv::flip(upright, source, 0);
        for (int mode = 0; mode < 2; ++mode) {
            BmpOverlayProcessor overlay;
            if (mode == 1)
                (void)overlay.Show(kOverlayScreen, picture.data());
            EffectState::Values values;
            values.faceDetectionOn = mode;
            values.colorAdjustOn = mode;
            values.lightnessShift = 10;
            values.redOffset = 20;
            VirtualCameraFeed feed;
            std::vector<double> cpu;
            cv::Mat frameMat;
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
                overlay.ProcessFrame(frameMat.data, size.width, size.height, frame.widthStep);
                ProcessFrame(&frame, values, feed);
                if (i >= 5)
                    cpu.push_back(bench::ThreadCpuMs() - start);
            }
            const double median = Percentile(cpu, 0.5);
            std::printf("%4dx%-6d %-22s %10.3f %10.3f %11.1f%%\n", size.width, size.height,
                        mode ? "overlay+colour+face" : "every effect off", median,
                        Percentile(cpu, 0.95), median * 30 / 10.0);
            feed.Close();
        }
    }
    shm_unlink(feedName.c_str());
    return 0;
}
