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
    std::vector<cv::Rect> storage; // the detector's results, reused from frame to frame

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

// Flips a bottom-left frame upright for the detection and back afterwards, whatever happens in
// between.
class UprightScope {
public:
    UprightScope(cv::Mat& mat, bool bottomLeft) : mat_(mat), flipped_(bottomLeft) {
        if (flipped_)
            cv::flip(mat_, mat_, 0);
    }
    ~UprightScope() {
        if (flipped_)
            cv::flip(mat_, mat_, 0);
    }
    UprightScope(const UprightScope&) = delete;
    UprightScope& operator=(const UprightScope&) = delete;

private:
    cv::Mat& mat_;
    bool flipped_;
};

} // namespace

FaceCircle FaceCircleFor(const FrameRect& f) {
    FaceCircle c;
    c.centerX = RoundHalfEven((f.x + f.width * 0.5) * kFaceScale);
    c.centerY = RoundHalfEven((f.y + f.height * 0.5) * kFaceScale);
    c.radius = RoundHalfEven((f.width + f.height) * 0.25 * kFaceScale);
    return c;
}

static void DrawCovers(cv::Mat& mat, const std::vector<FrameRect>& faces) {
    for (std::size_t i = 0; i < faces.size(); ++i) {
        FaceCircle c = FaceCircleFor(faces[i]);
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
        DrawCovers(mat, smallFaces);
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

    std::vector<FrameRect> faces;
    try {
        UprightScope upright(mat, frame->origin != kFrameOriginTopLeft);
        cv::Mat grey;
        cv::cvtColor(mat, grey, cv::COLOR_BGR2GRAY);
        cv::Size smallSize(RoundHalfEven(frame->width / kFaceScale),
                           RoundHalfEven(frame->height / kFaceScale));
        if (smallSize.width < 1 || smallSize.height < 1)
            return 0;
        cv::Mat small;
        cv::resize(grey, small, smallSize, 0, 0, cv::INTER_LINEAR);
        cv::equalizeHist(small, small);
        detector.storage.clear();
        if (detector.loaded) {
            detector.cascade.detectMultiScale(small, detector.storage, 1.1, 2, 0, cv::Size(30, 30));
        }
        faces.reserve(detector.storage.size());
        for (const cv::Rect& r : detector.storage)
            faces.push_back(FrameRect{r.x, r.y, r.width, r.height});
        DrawCovers(mat, faces);
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
