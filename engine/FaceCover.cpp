#include "engine/FaceCover.h"

#include "engine/FrameMat.h"
#include "platform/system/AssetPaths.h"

#include <cmath>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

namespace kelo {

namespace {

// Rounds to nearest with halves to the even neighbour (the default floating-point mode).
int RoundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

struct FaceDetector {
    // Only the streaming thread uses it in the program; the lock keeps two pipelines (or a test
    // and a benchmark) from sharing the classifier at once.
    std::mutex mutex;
    cv::CascadeClassifier cascade;
    bool loaded = false;
    // Working pictures and results, kept from frame to frame so that a frame of the same size
    // allocates nothing.
    cv::Mat grey;
    cv::Mat small;
    std::vector<cv::Rect> storage;
    std::vector<FrameRect> faces;

    void EnsureLoaded() {
        if (loaded)
            return;
        std::string path = FindCascadeFile(kFaceCascadeFileName);
        if (path.empty())
            return;
        try {
            loaded = cascade.load(path) && !cascade.empty();
        } catch (const cv::Exception&) {
            loaded = false;
        }
    }
};

FaceDetector& Detector() {
    static FaceDetector detector;
    return detector;
}

} // namespace

double FaceDetectionScale(int frameWidth) {
    if (frameWidth <= kFaceDetectionWidth)
        return kFaceScale;
    return kFaceScale * frameWidth / kFaceDetectionWidth;
}

FaceCircle FaceCircleFor(const FrameRect& f, double scale) {
    FaceCircle c;
    c.centerX = RoundHalfEven((f.x + f.width * 0.5) * scale);
    c.centerY = RoundHalfEven((f.y + f.height * 0.5) * scale);
    c.radius = RoundHalfEven((f.width + f.height) * 0.25 * scale);
    return c;
}

// Draws the circles of upright face rectangles; on a bottom-up frame at the mirrored rows, which
// gives the same bytes as flipping the frame, drawing and flipping it back.
static void DrawCovers(cv::Mat& mat, const std::vector<FrameRect>& faces, bool bottomUp) {
    const double scale = FaceDetectionScale(mat.cols);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        FaceCircle c = FaceCircleFor(faces[i], scale);
        if (bottomUp)
            c.centerY = mat.rows - 1 - c.centerY;
        const FaceColor& color = kFaceColors[i % kFaceColors.size()];
        cv::circle(mat, cv::Point(c.centerX, c.centerY), c.radius,
                   cv::Scalar(color.blue, color.green, color.red, 0), cv::FILLED, cv::LINE_8, 0);
    }
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

int DetectAndCoverFaces(FrameImage* frame) {
    if (!frame)
        return 0;
    FaceDetector& detector = Detector();
    std::lock_guard lock(detector.mutex);
    detector.EnsureLoaded();

    cv::Mat mat = FrameMat(*frame);
    if (mat.empty() || mat.type() != CV_8UC3)
        return 0;

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
    FaceDetector& detector = Detector();
    std::lock_guard lock(detector.mutex);
    return detector.loaded;
}

} // namespace kelo
