#include "engine/FaceCover.h"

#include "effects/models/FaceDetector.h"
#include "engine/FrameMat.h"
#include "platform/system/AssetPaths.h"
#include "platform/system/InputFile.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <opencv2/core/persistence.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <optional>

namespace kelo {

namespace {

// Rounds to nearest with halves to the even neighbour (the default floating-point mode).
int RoundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

// The cascades of opencv-data are under 3 MB.
constexpr std::size_t kMaxCascadeBytes = 32u << 20;

// A face the detector found, held from frame to frame.
struct HeldFace {
    cv::Rect2f box; // upright frame pixels
    int missed = 0; // frames since the detector last found it
};

// Frames further apart than this belong to another run of the cover (switched off and on, a new
// camera): nothing held from before is drawn.
constexpr auto kFaceHoldGap = std::chrono::seconds(2);

struct FaceFinders {
    // Only the streaming thread uses it in the program; the lock keeps two pipelines (or a test
    // and a benchmark) from sharing the finders at once.
    std::mutex mutex;
    // The detector: tried once per process; null when its model is missing or refused.
    bool detectorTried = false;
    std::unique_ptr<FaceDetector> model;
    std::vector<HeldFace> held;
    cv::Size heldFrameSize;
    std::chrono::steady_clock::time_point lastFrame;
    // When the detector last ran on a frame of the stream (none: the next frame is detected).
    std::optional<std::chrono::steady_clock::time_point> lastDetection;

    cv::CascadeClassifier cascade;
    bool loaded = false;
    // Working pictures and results, kept from frame to frame so that a frame of the same size
    // allocates nothing.
    cv::Mat grey;
    cv::Mat small;
    std::vector<cv::Rect> storage;
    std::vector<FrameRect> faces;

    void EnsureDetectorTried() {
        if (detectorTried)
            return;
        detectorTried = true;
        std::string error;
        model = FaceDetector::LoadStudioModel(&error);
        if (!model)
            std::fprintf(stderr, "kelocam: face cover finds faces with the cascade: %s\n",
                         error.c_str());
    }

    void EnsureLoaded() {
        if (loaded)
            return;
        std::string path = FindCascadeFile(kFaceCascadeFileName);
        if (path.empty())
            return;
        // Read as any other input file (opened without waiting, a regular file only) and
        // parsed from memory: OpenCV's own open would wait forever on a pipe put there.
        std::string text;
        if (ReadInputFile(path, kMaxCascadeBytes, &text) != InputFileStatus::Ok)
            return;
        try {
            cv::FileStorage file(text, cv::FileStorage::READ | cv::FileStorage::MEMORY);
            loaded =
                file.isOpened() && cascade.read(file.getFirstTopLevelNode()) && !cascade.empty();
        } catch (const cv::Exception&) {
            loaded = false;
        }
    }
};

FaceFinders& Finders() {
    static FaceFinders finders;
    return finders;
}

// The detector's faces of this detection, and those of the last ones it no longer finds (up to
// kFaceHoldFrames detections after their last), new ones first. A held face that a new one
// overlaps is that face, moved.
void Hold(FaceFinders& f, const std::vector<FaceBox>& found) {
    std::vector<HeldFace> next;
    for (const FaceBox& face : found)
        next.push_back(HeldFace{face.box, 0});
    for (const HeldFace& old : f.held) {
        const cv::Point2f centre(old.box.x + old.box.width / 2, old.box.y + old.box.height / 2);
        bool moved = false;
        for (const FaceBox& face : found) {
            const float common = (face.box & old.box).area();
            moved = moved || face.box.contains(centre) ||
                    common > 0.3f * (face.box.area() + old.box.area() - common);
        }
        if (!moved && old.missed < kFaceHoldFrames)
            next.push_back(HeldFace{old.box, old.missed + 1});
    }
    f.held = std::move(next);
}

} // namespace

double FaceDetectionScale(int frameWidth) {
    if (frameWidth <= kFaceDetectionWidth)
        return kFaceScale;
    return kFaceScale * frameWidth / kFaceDetectionWidth;
}

FaceCircle FaceCircleForBox(double x, double y, double width, double height) {
    FaceCircle c;
    c.centerX = RoundHalfEven(x + width * 0.5);
    c.centerY = RoundHalfEven(y + height * 0.5);
    c.radius = RoundHalfEven((width + height) * 0.25);
    return c;
}

FaceCircle FaceCircleFor(const FrameRect& f, double scale) {
    FaceCircle c;
    c.centerX = RoundHalfEven((f.x + f.width * 0.5) * scale);
    c.centerY = RoundHalfEven((f.y + f.height * 0.5) * scale);
    c.radius = RoundHalfEven((f.width + f.height) * 0.25 * scale);
    return c;
}

// Draws the circles of upright faces; on a bottom-up frame at the mirrored rows, which gives the
// same bytes as flipping the frame, drawing and flipping it back.
static void DrawCircles(cv::Mat& mat, const std::vector<FaceCircle>& circles, bool bottomUp) {
    for (std::size_t i = 0; i < circles.size(); ++i) {
        FaceCircle c = circles[i];
        if (bottomUp)
            c.centerY = mat.rows - 1 - c.centerY;
        const FaceColor& color = kFaceColors[i % kFaceColors.size()];
        cv::circle(mat, cv::Point(c.centerX, c.centerY), c.radius,
                   cv::Scalar(color.blue, color.green, color.red, 0), cv::FILLED, cv::LINE_8, 0);
    }
}

// The circles of cascade rectangles (reduced-image pixels of this frame's size).
static void DrawCovers(cv::Mat& mat, const std::vector<FrameRect>& faces, bool bottomUp) {
    const double scale = FaceDetectionScale(mat.cols);
    std::vector<FaceCircle> circles;
    for (const FrameRect& face : faces)
        circles.push_back(FaceCircleFor(face, scale));
    DrawCircles(mat, circles, bottomUp);
}

// The detector's way: faces found on its small colour copy, held, covered. Without `detect`
// the held faces are covered as they are (a frame between two detections).
static int DetectAndCoverWithDetector(FaceFinders& f, cv::Mat& mat, bool bottomUp,
                                      std::chrono::steady_clock::time_point now, bool detect) {
    if (mat.size() != f.heldFrameSize || now - f.lastFrame > kFaceHoldGap || now < f.lastFrame) {
        f.held.clear();
        detect = true;
    }
    f.heldFrameSize = mat.size();
    f.lastFrame = now;
    if (detect) {
        f.lastDetection = now;
        Hold(f, f.model->Detect(mat, bottomUp));
    }
    std::vector<FaceCircle> circles;
    for (const HeldFace& face : f.held)
        circles.push_back(
            FaceCircleForBox(face.box.x, face.box.y, face.box.width, face.box.height));
    DrawCircles(mat, circles, bottomUp);
    return static_cast<int>(circles.size());
}

void CoverFaces(FrameImage* frame, const std::vector<FrameRect>& smallFaces) {
    if (!frame)
        return;
    cv::Mat mat = FrameMat(*frame);
    if (mat.empty())
        return;
    try {
        DrawCovers(mat, smallFaces, false);
    } catch (const cv::Exception&) {
    }
}

static int CoverFacesOfStream(FrameImage* frame,
                              std::optional<std::chrono::steady_clock::time_point> arrival);

int DetectAndCoverFaces(FrameImage* frame) {
    return CoverFacesOfStream(frame, std::nullopt);
}

int DetectAndCoverFaces(FrameImage* frame, std::chrono::steady_clock::time_point arrival) {
    return CoverFacesOfStream(frame, arrival);
}

static int CoverFacesOfStream(FrameImage* frame,
                              std::optional<std::chrono::steady_clock::time_point> arrival) {
    if (!frame)
        return 0;
    FaceFinders& detector = Finders();
    std::lock_guard lock(detector.mutex);
    detector.EnsureDetectorTried();

    cv::Mat mat = FrameMat(*frame);
    if (mat.empty() || mat.type() != CV_8UC3)
        return 0;
    if (detector.model) {
        const auto now = arrival.value_or(std::chrono::steady_clock::now());
        // Frames faster than the detection interval share a detection: the faces of the last
        // one are covered between (every second frame at 15 frames a second, every third at 30).
        const bool detect = !arrival || !detector.lastDetection ||
                            now - *detector.lastDetection >= kFaceDetectionInterval ||
                            now < *detector.lastDetection;
        try {
            return DetectAndCoverWithDetector(detector, mat, frame->origin != kFrameOriginTopLeft,
                                              now, detect);
        } catch (const cv::Exception&) {
            return 0;
        }
    }
    detector.EnsureLoaded();

    std::vector<FrameRect>& faces = detector.faces;
    faces.clear();
    try {
        const double scale = FaceDetectionScale(frame->width);
        cv::Size smallSize(RoundHalfEven(frame->width / scale),
                           RoundHalfEven(frame->height / scale));
        if (smallSize.width < 1 || smallSize.height < 1)
            return 0;
        // Grey first, then upright: a third of the bytes to flip, and the frame stays untouched
        // until the circles are drawn.
        cv::cvtColor(mat, detector.grey, cv::COLOR_BGR2GRAY);
        const bool bottomUp = frame->origin != kFrameOriginTopLeft;
        if (frame->width <= kFaceDetectionWidth) {
            if (bottomUp)
                cv::flip(detector.grey, detector.grey, 0);
            cv::resize(detector.grey, detector.small, smallSize, 0, 0, cv::INTER_LINEAR);
        } else {
            // A large frame: averaged down (no aliasing), and only the small copy flipped.
            cv::resize(detector.grey, detector.small, smallSize, 0, 0, cv::INTER_AREA);
            if (bottomUp)
                cv::flip(detector.small, detector.small, 0);
        }
        cv::equalizeHist(detector.small, detector.small);
        detector.storage.clear();
        if (detector.loaded) {
            detector.cascade.detectMultiScale(detector.small, detector.storage, kFaceScaleStep,
                                              kFaceMinNeighbours, 0,
                                              cv::Size(kFaceMinSize, kFaceMinSize));
        }
        for (const cv::Rect& r : detector.storage)
            faces.push_back(FrameRect{r.x, r.y, r.width, r.height});
        DrawCovers(mat, faces, bottomUp);
    } catch (const cv::Exception&) {
        // A failing step draws nothing more; the frame passes on in its own row order.
        return 0;
    }
    return static_cast<int>(faces.size());
}

bool FaceCascadeLoaded() {
    FaceFinders& finders = Finders();
    std::lock_guard lock(finders.mutex);
    return finders.loaded;
}

FaceFinder ActiveFaceFinder() {
    FaceFinders& finders = Finders();
    std::lock_guard lock(finders.mutex);
    finders.EnsureDetectorTried();
    return finders.model ? FaceFinder::Detector : FaceFinder::Cascade;
}

void ForgetFaces() {
    FaceFinders& finders = Finders();
    std::lock_guard lock(finders.mutex);
    finders.held.clear();
    finders.lastDetection.reset();
}

} // namespace kelo
