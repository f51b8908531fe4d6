// How fast the window follows a camera plugged in, offscreen, on test devices:
//  - arrival: the studio runs with no camera (it said "请插入USB无视频设备!"); a test camera is
//    plugged in; time until its first frame is in the feed (target under 1 s), and until the
//    video list shows it;
//  - return: the camera in use was pulled out (the preview went black); it is plugged in again;
//    time until its frames are in the feed once more.
// A fresh window for every arrival run. Prints medians and the slowest run.
//
//   device_follow_bench [--runs N] [--screenshots DIR]
//   (7 runs by default; with DIR, the first run leaves the screen as ImageMagick's import sees
//   it at each step: run it under Xvfb with QT_QPA_PLATFORM=xcb)
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchRegistry.h"
#include "bench/support/QtPump.h"
#include "engine/EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/graph/DeviceMonitor.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <string>
#include <vector>

namespace {

using kelo::bench::FeedHasFrame;
using kelo::bench::Median;
using kelo::bench::MsSince;
using kelo::bench::Pump;
using kelo::bench::Slowest;

using namespace kelo;
using Clock = std::chrono::steady_clock;

struct Studio {
    explicit Studio(const std::shared_ptr<TestDeviceProvider>& devices)
        : registry(bench::MakeStudioRegistry(bench::TestDeviceSources(devices))),
          window(*registry) {
        window.FollowDevices(std::make_unique<DeviceMonitor>(bench::TestDeviceSources(devices),
                                                             std::vector<std::string>{}));
        window.Create();
        window.show();
    }
    std::unique_ptr<ClassRegistry> registry;
    MainDialog window;
};

} // namespace

int main(int argc, char** argv) {
    int runs = 7;
    std::string screenshots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
            screenshots = argv[++i];
    }
    // The whole screen, after the window had time to paint what it shows.
    auto shoot = [&](int run, const char* name) {
        if (screenshots.empty() || run != 0)
            return;
        Pump([] { return false; }, 700);
        const std::string command =
            "import -window root '" + screenshots + "/" + name + ".png' 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "device_follow_bench: no screenshot %s\n", name);
    };
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::InstallApplicationFont();

    test::TempDir dir;
    test::ScopedWorkingDirectory cwd(dir.path());
    test::ScopedFeedName feedName;
    SharedMemoryView feed;
    if (feed.OpenOrCreate(feedName.name(), kFeedBytes) != S_OK) {
        std::fprintf(stderr, "device_follow_bench: no feed\n");
        return 1;
    }
    ui::MessageBoxRecorder boxes;

    std::vector<double> arrivalMs;
    std::vector<double> listedMs;
    std::vector<double> returnMs;
    for (int run = 0; run < runs; ++run) {
        auto devices = std::make_shared<TestDeviceProvider>(test::Devices({}, {"Test Microphone"}));
        Studio studio(devices);
        QComboBox* list = studio.window.Control<QComboBox>(MainDialog::kVideoDeviceList);
        Pump([] { return false; }, 200); // the window settles
        if (FeedHasFrame(feed)) {
            std::fprintf(stderr, "device_follow_bench: frames before any camera\n");
            return 1;
        }

        shoot(run, "1-no-camera");
        const Clock::time_point plugged = Clock::now();
        devices->Add(DeviceKind::Video, {"Test Camera", {}});
        double listed = -1;
        const bool arrived = Pump(
            [&] {
                if (listed < 0 && list && list->count() == 1)
                    listed = MsSince(plugged);
                return FeedHasFrame(feed);
            },
            30000);
        if (!arrived) {
            std::fprintf(stderr, "device_follow_bench: no frame after the camera arrived\n");
            return 1;
        }
        arrivalMs.push_back(MsSince(plugged));
        listedMs.push_back(listed);
        shoot(run, "2-camera-plugged-in");
        devices->Add(DeviceKind::Video, {"Other Camera", {}}, 0);
        Pump([&] { return list && list->count() == 2; }, 30000);
        shoot(run, "3-another-camera-before-it");
        devices->Remove(DeviceKind::Video, "Other Camera");

        // Pulled out, then back.
        devices->Remove(DeviceKind::Video, "Test Camera");
        if (!Pump(
                [&] {
                    return !studio.window.Engine() && !studio.window.StoppingRecording() &&
                           !FeedHasFrame(feed);
                },
                30000)) {
            std::fprintf(stderr, "device_follow_bench: the feed did not go black\n");
            return 1;
        }
        shoot(run, "4-camera-pulled-out");
        const Clock::time_point back = Clock::now();
        devices->Add(DeviceKind::Video, {"Test Camera", {}});
        if (!Pump([&] { return FeedHasFrame(feed); }, 30000)) {
            std::fprintf(stderr, "device_follow_bench: no frame after the camera came back\n");
            return 1;
        }
        returnMs.push_back(MsSince(back));
        shoot(run, "5-camera-back");
    }

    std::printf("device_follow_bench: %d runs\n", runs);
    std::printf("  camera plugged in, none before: first frame in the feed  median %.0f ms, "
                "slowest %.0f ms (target < 1000 ms)\n",
                Median(arrivalMs), Slowest(arrivalMs));
    std::printf("  camera plugged in, none before: shown in the video list   median %.0f ms, "
                "slowest %.0f ms\n",
                Median(listedMs), Slowest(listedMs));
    std::printf("  camera in use back after pulled out: first frame in the feed  median %.0f "
                "ms, slowest %.0f ms\n",
                Median(returnMs), Slowest(returnMs));
    return Median(arrivalMs) < 1000 ? 0 : 1;
}
