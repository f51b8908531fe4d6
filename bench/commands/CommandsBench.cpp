// Window-thread latency of the capture commands, offscreen, on the test devices:
//  - Stop: from Stop pressed (an AVI recording with sound of about 2 s) to the first preview
//    frame painted again, and the longest gap between two paints of the window meanwhile (the
//    window is asked to repaint every 16 ms, as an animation would). Targets: median under
//    700 ms, longest gap under 100 ms.
//  - Photo: from F4 to the 640 x 480 JPEG closed on disk. Target: median under 150 ms.
//
//   commands_bench [--runs N] [--screenshot FILE.png]
//   (10 runs by default; the screenshot shows the window during the first recording)
#include "app/dialogs/RecordFormatDialog.h"
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "bench/support/BenchMeasure.h"
#include "bench/support/QtPump.h"
#include "engine/EngineTestSupport.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <vector>

namespace {

using kelo::bench::Median;
using kelo::bench::Pump;

using namespace kelo;
namespace fs = std::filesystem;

// Records the time of every paint of the window.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget& window) : window_(window) { window.installEventFilter(this); }
    void Start() {
        clock_.start();
        last_ = 0;
        longest_ = 0;
    }
    double LongestGapMs() const { return longest_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint && clock_.isValid()) {
            const double now = clock_.nsecsElapsed() / 1e6;
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        }
        return false;
    }

private:
    QWidget& window_;
    QElapsedTimer clock_;
    double last_ = 0;
    double longest_ = 0;
};

bool JpegComplete(const fs::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in || in.tellg() < 4)
        return false;
    in.seekg(-2, std::ios::end);
    char tail[2] = {};
    in.read(tail, 2);
    return static_cast<unsigned char>(tail[0]) == 0xFF &&
           static_cast<unsigned char>(tail[1]) == 0xD9;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 10;
    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::InstallApplicationFont();

    test::TempDir dir;
    test::ScopedWorkingDirectory cwd(dir.path());
    test::ScopedFeedName feed;
    const fs::path photos = dir.path() / "photos";
    const fs::path videos = dir.path() / "videos";
    fs::create_directories(photos);
    fs::create_directories(videos);
    std::ofstream(dir.path() / "data.ini")
        << "[PATCH]\nPIC=" << photos.string() << "\nREC=" << videos.string()
        << "\n[PICSIZE]\nWIDTH=640\nHEIGHT=480\n";
    ui::MessageBoxRecorder boxes;
    auto registry = test::MakeTestRegistry(test::Devices({"Test Camera"}, {"Test Microphone"}));
    MainDialog window(*registry);
    window.Create();
    window.show();
    if (!Pump([&] { return window.Preview()->PaintedFrames() > 0; }, 30000)) {
        std::fprintf(stderr, "commands_bench: no preview\n");
        return 1;
    }
    PaintWatch paints(window);
    QTimer animation;
    QObject::connect(&animation, &QTimer::timeout, &window, [&] { window.update(); });
    animation.start(16);

    std::vector<double> stopMs;
    std::vector<double> gapMs;
    std::vector<double> drainMs;
    for (int run = 0; run < runs; ++run) {
        {
            ui::ScopedModalDialogHandler answer([](QDialog& shown) {
                auto& d = static_cast<RecordFormatDialog&>(shown);
                d.Control<QAbstractButton>(1003)->click(); // AVI, with sound
                d.Control<QAbstractButton>(ui::IDOK)->click();
                return shown.result();
            });
            window.OnRecord();
        }
        if (window.State() != CaptureState::Recording) {
            std::fprintf(stderr, "commands_bench: the recording did not start\n");
            return 1;
        }
        QElapsedTimer recording;
        recording.start();
        Pump([&] { return recording.elapsed() >= 2000; }, 10000);
        if (run == 0 && !screenshot.isEmpty())
            window.grab().save(screenshot);
        const long painted = window.Preview()->PaintedFrames();
        paints.Start();
        QElapsedTimer stop;
        stop.start();
        window.OnStop();
        // The new preview engine's first frame painted (the preview is black from Stop on).
        if (!Pump(
                [&] {
                    return window.Engine() && !window.StoppingRecording() &&
                           window.Preview()->HasPicture() &&
                           window.Preview()->PaintedFrames() > painted;
                },
                30000)) {
            std::fprintf(stderr, "commands_bench: the preview did not return\n");
            return 1;
        }
        stopMs.push_back(stop.nsecsElapsed() / 1e6);
        gapMs.push_back(paints.LongestGapMs());
        drainMs.push_back(window.LastRecordingDrainMilliseconds());
        std::printf("stop %2d: %7.1f ms to the first preview frame, longest paint gap %5.1f ms, "
                    "drain on the worker %6.1f ms\n",
                    run + 1, stopMs.back(), gapMs.back(), drainMs.back());
        std::fflush(stdout);
    }

    std::vector<double> photoMs;
    for (int run = 0; run < runs; ++run) {
        for (const auto& entry : fs::directory_iterator(photos))
            fs::remove(entry.path());
        Pump([&] { return !window.Engine()->snapshotGrabberObject()->snapshotPending(); }, 5000);
        QElapsedTimer clock;
        clock.start();
        QKeyEvent f4(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
        QApplication::sendEvent(&window, &f4);
        const bool written = Pump(
            [&] {
                for (const auto& entry : fs::directory_iterator(photos)) {
                    if (JpegComplete(entry.path()))
                        return true;
                }
                return false;
            },
            10000);
        if (!written) {
            std::fprintf(stderr, "commands_bench: no photo\n");
            return 1;
        }
        photoMs.push_back(clock.nsecsElapsed() / 1e6);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier);
        QApplication::sendEvent(&window, &release);
    }

    const double stopMedian = Median(stopMs);
    const double gapWorst = *std::max_element(gapMs.begin(), gapMs.end());
    const double photoMedian = Median(photoMs);
    std::printf("\nStop to preview:   median %.1f ms over %d runs (target < 700 ms)  %s\n",
                stopMedian, runs, stopMedian < 700 ? "ok" : "MISSED");
    std::printf("Paint gap:         median %.1f ms, longest %.1f ms (target < 100 ms)  %s\n",
                Median(gapMs), gapWorst, gapWorst < 100 ? "ok" : "MISSED");
    std::printf("Drain (off the window thread): median %.1f ms, longest %.1f ms\n", Median(drainMs),
                *std::max_element(drainMs.begin(), drainMs.end()));
    std::printf("F4 to 640x480 JPEG: median %.1f ms over %d runs (target < 150 ms)  %s\n",
                photoMedian, runs, photoMedian < 150 ? "ok" : "MISSED");
    if (!boxes.Requests().empty())
        std::printf("(%zu message boxes were answered)\n", boxes.Requests().size());
    window.close();
    return 0;
}
