// The face detector beside the frontal cascade the face cover used before it (on the frame
// reduced by 1.3; at 1280 x 720 also on a copy at most 320 wide), at 320 x 240 and 1280 x 720:
//   1. faces found of the face set (the astronaut photograph rolled -45 to +45 degrees, mirrored,
//      scaled 0.3 to 2 times, cut by the frame's edge, on bars and on a plain background), and
//      boxes that hold no face;
//   2. frames with a false face among 300 frames of the test pattern (videotestsrc, moving);
//   3. frames whose face is left uncovered over the face camera's pan (300 frames, 20 s at 15
//      frames per second; at 1280 x 720 the 4:3 picture scaled up between side bars);
//   4. CPU per frame (process CPU time, median and mean over the pan), detection on every frame;
//   5. the face cover as the stream runs it (the detector skips frames that come faster than its
//      interval): the pan at 320 x 240 at 15 frames/s and at 1280 x 720 at 30 frames/s, frames
//      left uncovered and process CPU per frame (median and mean);
//   6. the whole preview of the face camera at 320 x 240, 15 frames/s, with colour and face cover
//      on: process CPU in percent of one core.
// A face counts as covered when a cover circle (centre and radius from the box as the face
// cover draws it) holds the face's centre and is at least 0.4 of the face's width in radius (in
// 5, when the cover's colour is on the face's centre and a third of its width around it).
// Targets: every face the cascade finds plus the rolled ones to 30 degrees; no false face on the
// pattern; no uncovered frame over the pan; under 3 ms of CPU per frame; the preview under 15 %
// of one core. CPU figures are only meaningful on a quiet machine: the load average is printed.
// Usage: face_detector_bench [seconds of preview, default 10]
#include "bench/support/BenchMeasure.h"
#include "bench/support/BenchPreview.h"
#include "bench/support/BenchRegistry.h"
#include "effects/models/FaceDetector.h"
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "engine/FaceCover.h"
#include "FaceScenes.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/graph/ElementFactory.h"
#include "platform/system/AssetPaths.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gst/app/gstappsink.h>
#include <numeric>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace kelo;

namespace {

using Finder = std::function<std::vector<cv::Rect2f>(const cv::Mat&)>;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The cascade as the face cover ran it: a grey copy reduced by kFaceScale, equalised, the
// detector's step, neighbours and smallest face; rectangles back in frame pixels. With
// `maxWidth`, a frame wider than that is first reduced to that width (area averaging).
Finder CascadeFinder(cv::CascadeClassifier& cascade, int maxWidth = 0) {
    return [&cascade, maxWidth](const cv::Mat& bgr) {
        const double scale =
            maxWidth > 0 && bgr.cols > maxWidth ? kFaceScale * bgr.cols / maxWidth : kFaceScale;
        cv::Mat grey, small;
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
        cv::resize(grey, small,
                   cv::Size(static_cast<int>(std::lround(bgr.cols / scale)),
                            static_cast<int>(std::lround(bgr.rows / scale))),
                   0, 0, scale > kFaceScale ? cv::INTER_AREA : cv::INTER_LINEAR);
        cv::equalizeHist(small, small);
        std::vector<cv::Rect> found;
        cascade.detectMultiScale(small, found, kFaceScaleStep, kFaceMinNeighbours, 0,
                                 cv::Size(kFaceMinSize, kFaceMinSize));
        std::vector<cv::Rect2f> boxes;
        for (const cv::Rect& r : found)
            boxes.emplace_back(static_cast<float>(r.x * scale), static_cast<float>(r.y * scale),
                               static_cast<float>(r.width * scale),
                               static_cast<float>(r.height * scale));
        return boxes;
    };
}

Finder NeuralFinder(FaceDetector& detector) {
    return [&detector](const cv::Mat& bgr) {
        std::vector<cv::Rect2f> boxes;
        for (const FaceBox& f : detector.Detect(bgr))
            boxes.push_back(f.box);
        return boxes;
    };
}

double Mean(const std::vector<double>& values) {
    return values.empty() ? -1
                          : std::accumulate(values.begin(), values.end(), 0.0) /
                                static_cast<double>(values.size());
}

double LoadAverage() {
    double load[1] = {-1};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

const char* Verdict(bool met) {
    return met ? "met" : "NOT met";
}

// The verdicts of the run, printed together at the end.
struct Verdicts {
    std::vector<std::string> lines;
    void Add(const std::string& what, bool met) { lines.push_back(what + ": " + Verdict(met)); }
};

bool Covers(const cv::Rect2f& box, cv::Point2f centre, float faceWidth) {
    const cv::Point2f middle(box.x + box.width / 2, box.y + box.height / 2);
    const float radius = (box.width + box.height) / 4;
    const cv::Point2f d = centre - middle;
    return radius >= 0.4f * faceWidth && std::hypot(d.x, d.y) <= radius;
}

// 300 frames of the moving test pattern, BGR at `size`.
std::vector<cv::Mat> PatternFrames(cv::Size size) {
    EnsureGstInitialized();
    const std::string description =
        "videotestsrc horizontal-speed=2 num-buffers=300 ! videoconvert ! video/x-raw,format=BGR,"
        "width=" +
        std::to_string(size.width) + ",height=" + std::to_string(size.height) +
        " ! appsink name=out sync=false";
    std::vector<cv::Mat> frames;
    ElementPtr pipeline = MakeBin(description.c_str());
    if (!pipeline)
        return frames;
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    while (SamplePtr sample{gst_app_sink_pull_sample(GST_APP_SINK(sink.get()))}) {
        BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        if (!map.ok())
            break;
        const cv::Mat view(size, CV_8UC3, const_cast<guint8*>(map.data()),
                           static_cast<std::size_t>(size.width) * 3);
        frames.push_back(view.clone());
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return frames;
}

struct PanFrame {
    cv::Mat picture;
    cv::Point2f centre;
    float faceWidth = 0;
};

// The face camera's pan: the photograph at 384 x 288, a 320 x 240 window moving along a sine
// over 64 x 48 pixels, one sweep in 20 s; at other sizes scaled up between side bars.
std::vector<PanFrame> PanFrames(const cv::Mat& photo, cv::Size size) {
    cv::Mat larger;
    cv::resize(photo, larger, cv::Size(384, 288), 0, 0, cv::INTER_LINEAR);
    const float k = static_cast<float>(size.height) / 240.f;
    const int inner = static_cast<int>(std::lround(320 * k));
    const int side = (size.width - inner) / 2;
    std::vector<PanFrame> frames;
    for (int i = 0; i < 300; ++i) {
        const double phase = std::sin(2.0 * CV_PI * (i / 15.0) / 20.0);
        const int left = static_cast<int>(std::lround((1.0 + phase) * 64 / 2.0));
        const int top = static_cast<int>(std::lround((1.0 + phase) * 64 * 3 / 8.0));
        PanFrame f;
        f.picture = cv::Mat(size, CV_8UC3, cv::Scalar::all(0));
        cv::resize(larger(cv::Rect(left, top, 320, 240)),
                   f.picture(cv::Rect(side, 0, inner, size.height)), cv::Size(inner, size.height));
        f.centre = cv::Point2f(side + (test::kPhotoFaceCentre.x * 1.2f - left) * k,
                               (test::kPhotoFaceCentre.y * 1.2f - top) * k);
        f.faceWidth = test::kPhotoFaceWidth * 1.2f * k;
        frames.push_back(f);
    }
    return frames;
}

struct DetectorFigures {
    int found = 0;
    int falseFrames = 0;
    int uncovered = 0;
    double cpuMedianMs = 0;
    double cpuMeanMs = 0;
};

// Prints the table for the finders; returns the figures of the last one (the detector).
DetectorFigures Compare(const char* title, std::vector<std::pair<const char*, Finder>> finders,
                        cv::Size size, const cv::Mat& photo) {
    DetectorFigures last;
    std::printf("\n== %d x %d: %s ==\n", size.width, size.height, title);
    const auto set = test::MakeFaceSet(photo, size);
    const auto pattern = PatternFrames(size);
    const auto pan = PanFrames(photo, size);

    std::printf("%-30s", "face set");
    for (const auto& [name, find] : finders)
        std::printf(" %11s", name);
    std::printf("\n");
    std::vector<int> found(finders.size(), 0), extra(finders.size(), 0);
    for (const test::FaceScene& scene : set) {
        std::printf("%-30s", scene.name.c_str());
        for (std::size_t i = 0; i < finders.size(); ++i) {
            const auto boxes = finders[i].second(scene.picture);
            bool hit = false;
            int others = 0;
            for (const cv::Rect2f& b : boxes) {
                if (!hit && test::BoxHoldsFace(b, scene))
                    hit = true;
                else
                    ++others;
            }
            found[i] += hit;
            extra[i] += others;
            std::printf(" %9s%s", hit ? "found" : "-", others ? " +" : "  ");
        }
        std::printf("\n");
    }
    std::printf("%-30s", "found / boxes on no face");
    for (std::size_t i = 0; i < finders.size(); ++i)
        std::printf("    %2d/%zu, %d", found[i], set.size(), extra[i]);
    last.found = found.back();
    std::printf("\n");

    std::printf("%-30s", "pattern frames with a face");
    for (const auto& [name, find] : finders) {
        int falseFrames = 0;
        for (const cv::Mat& frame : pattern)
            falseFrames += !find(frame).empty();
        std::printf("     %3d/%zu", falseFrames, pattern.size());
        last.falseFrames = falseFrames;
    }
    std::printf("\n%-30s", "pan frames left uncovered");
    std::vector<double> cpu(finders.size()), cpuMean(finders.size());
    for (std::size_t i = 0; i < finders.size(); ++i) {
        int uncovered = 0;
        std::vector<double> costs;
        for (const PanFrame& f : pan) {
            const double start = ProcessCpuMs();
            const auto boxes = finders[i].second(f.picture);
            costs.push_back(ProcessCpuMs() - start);
            bool covered = false;
            for (const cv::Rect2f& b : boxes)
                covered = covered || Covers(b, f.centre, f.faceWidth);
            uncovered += !covered;
        }
        cpu[i] = bench::Median(costs);
        cpuMean[i] = Mean(costs);
        std::printf("     %3d/%zu", uncovered, pan.size());
        last.uncovered = uncovered;
    }
    std::printf("\n%-30s", "CPU per frame (ms, median)");
    for (double c : cpu)
        std::printf(" %11.2f", c);
    std::printf("\n%-30s", "CPU per frame (ms, mean)");
    for (double c : cpuMean)
        std::printf(" %11.2f", c);
    std::printf("\n");
    last.cpuMedianMs = cpu.back();
    last.cpuMeanMs = cpuMean.back();
    return last;
}

// The face cover over the pan as the stream runs it, frames `1 / fps` apart: the detector runs
// on the frames its interval allows, the faces of its last run are covered between. Returns the
// figures (found and false frames not counted here).
DetectorFigures CoverPan(const cv::Mat& photo, cv::Size size, int fps) {
    const auto pan = PanFrames(photo, size);
    ForgetFaces();
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> costs;
    DetectorFigures figures;
    for (std::size_t i = 0; i < pan.size(); ++i) {
        cv::Mat frame = pan[i].picture.clone();
        FrameImage image;
        image.width = frame.cols;
        image.height = frame.rows;
        image.imageData = frame.data;
        image.widthStep = static_cast<int>(frame.step[0]);
        image.imageSize = image.widthStep * image.height;
        const auto arrival =
            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(i) / fps));
        const double before = ProcessCpuMs();
        (void)DetectAndCoverFaces(&image, arrival);
        costs.push_back(ProcessCpuMs() - before);
        const float r = pan[i].faceWidth / 3;
        bool covered = true;
        for (const cv::Point2f d : {cv::Point2f(0, 0), cv::Point2f(-r, 0), cv::Point2f(r, 0),
                                    cv::Point2f(0, -r), cv::Point2f(0, r)}) {
            const cv::Vec3b pixel = frame.at<cv::Vec3b>(pan[i].centre + d);
            bool cover = false;
            for (const FaceColor& c : kFaceColors)
                cover = cover || pixel == cv::Vec3b(c.blue, c.green, c.red);
            covered = covered && cover;
        }
        figures.uncovered += !covered;
    }
    figures.cpuMedianMs = bench::Median(costs);
    figures.cpuMeanMs = Mean(costs);
    std::printf("%4d x %-4d at %2d frames/s: %3d/%zu pan frames left uncovered; CPU per frame "
                "median %.2f ms, mean %.2f ms\n",
                size.width, size.height, fps, figures.uncovered, pan.size(), figures.cpuMedianMs,
                figures.cpuMeanMs);
    return figures;
}

// The process's CPU while the face camera's preview runs at 320 x 240, 15 frames/s, with colour
// and face cover on, in percent of one core.
bench::PreviewLoad FaceCameraPreview(double seconds) {
    ClassRegistry registry;
    TestDevices devices = DefaultTestDevices();
    devices.video = {{"Face Camera",
                      {},
                      TestPicture::Face,
                      KELO_SOURCE_DIR "/tests/data/astronaut-320x240.jpg"}};
    bench::RegisterStudio(registry, bench::TestDeviceSources(devices));
    EffectState& effects = ProcessEffectState();
    effects.SetColorAdjustOn(1);
    effects.SetLightnessShift(10);
    effects.SetRedOffset(40);
    effects.ToggleFaceDetection();
    bench::PrintingOwner owner;
    CountingPreviewSurface surface;
    auto engine = bench::StartPreview(registry, owner, surface);
    // Start-up (negotiation, the model's first load) is not counted.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const bench::PreviewLoad load = bench::MeasurePreviewLoad(surface, seconds);
    engine.reset();
    return load;
}

} // namespace

int main(int argc, char** argv) {
    const double previewSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    // The detector's model of this build, for the face cover as the studio runs it; a feed of
    // its own, so that no studio's virtual camera is written.
    setenv("KELOCAM_DATA_DIR", KELO_BINARY_DIR, 1);
    const std::string feedName = "/KeloVCam-face-bench-" + std::to_string(getpid());
    setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
    const cv::Mat photo =
        cv::imread(std::string(KELO_SOURCE_DIR) + "/tests/data/astronaut-320x240.jpg");
    std::string error;
    auto detector =
        FaceDetector::Load(std::string(KELO_BINARY_DIR) + "/" + kFaceModelAsset, &error);
    cv::CascadeClassifier cascade;
    const std::string cascadePath = FindCascadeFile(kFaceCascadeFileName);
    if (photo.empty() || !detector || cascadePath.empty() || !cascade.load(cascadePath) ||
        ActiveFaceFinder() != FaceFinder::Detector) {
        std::fprintf(stderr, "missing: the photograph, the model (%s) or the cascade\n",
                     error.c_str());
        return 1;
    }
    const double loadBefore = LoadAverage();
    std::printf("load average at the start: %.2f (CPU figures are inflated by any load)\n",
                loadBefore);
    // "cascade": on the frame reduced by 1.3; "cascade 320": on a copy at most 320 wide, then
    // reduced by 1.3; "detector": the frame letterboxed into its 128 x 128 input.
    const std::vector<std::pair<const char*, Finder>> finders = {
        {"cascade", CascadeFinder(cascade)},
        {"cascade 320", CascadeFinder(cascade, 320)},
        {"detector", NeuralFinder(*detector)}};
    const DetectorFigures small = Compare("the face set, the test pattern, the face camera's pan",
                                          {finders[0], finders[2]}, cv::Size(320, 240), photo);
    const DetectorFigures large = Compare("the face set, the test pattern, the face camera's pan",
                                          finders, cv::Size(1280, 720), photo);

    std::printf("\n== the face cover as the stream runs it (detector interval %lld ms) ==\n",
                static_cast<long long>(kFaceDetectionInterval.count()));
    const DetectorFigures stream15 = CoverPan(photo, cv::Size(320, 240), 15);
    const DetectorFigures stream30 = CoverPan(photo, cv::Size(1280, 720), 30);

    std::printf("\n== the whole preview: face camera, 320 x 240 at 15, colour and face cover ==\n");
    const bench::PreviewLoad preview = FaceCameraPreview(previewSeconds);
    std::printf("%.1f %% of one core (%.1f frames/s over %.1f s)\n", preview.cpuPercent,
                preview.framesPerSecond, preview.wallSeconds);
    shm_unlink(feedName.c_str());
    shm_unlink((feedName + "HD").c_str());

    std::printf("\n== targets (load average %.2f at the start, %.2f at the end) ==\n", loadBefore,
                LoadAverage());
    Verdicts v;
    v.Add("faces found of the set, at least 32 of 38 at 320 x 240 and 1280 x 720 (" +
              std::to_string(small.found) + ", " + std::to_string(large.found) + ")",
          small.found >= 32 && large.found >= 32);
    v.Add("no false face on 300 pattern frames (" + std::to_string(small.falseFrames) + ", " +
              std::to_string(large.falseFrames) + ")",
          small.falseFrames == 0 && large.falseFrames == 0);
    v.Add("no uncovered frame over the pan, detection on every frame and as the stream runs (" +
              std::to_string(small.uncovered + large.uncovered) + ", " +
              std::to_string(stream15.uncovered + stream30.uncovered) + ")",
          small.uncovered + large.uncovered + stream15.uncovered + stream30.uncovered == 0);
    char line[200];
    std::snprintf(line, sizeof line,
                  "under 3 ms of CPU per frame, detection on every frame (mean %.2f ms at "
                  "320 x 240, %.2f ms at 1280 x 720)",
                  small.cpuMeanMs, large.cpuMeanMs);
    v.Add(line, small.cpuMeanMs < 3 && large.cpuMeanMs < 3);
    std::snprintf(line, sizeof line,
                  "under 3 ms of CPU per frame as the stream runs (mean %.2f ms at 320 x 240 at "
                  "15, %.2f ms at 1280 x 720 at 30)",
                  stream15.cpuMeanMs, stream30.cpuMeanMs);
    v.Add(line, stream15.cpuMeanMs < 3 && stream30.cpuMeanMs < 3);
    std::snprintf(line, sizeof line, "the preview under 15 %% of one core (%.1f %%)",
                  preview.cpuPercent);
    v.Add(line, preview.cpuPercent < 15);
    for (const std::string& l : v.lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
