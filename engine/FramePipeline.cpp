#include "engine/FramePipeline.h"

#include "engine/ColorAdjust.h"
#include "engine/FaceCover.h"
#include "engine/FrameMat.h"
#include "engine/HdCameraFeed.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <opencv2/imgproc.hpp>

namespace kelo {

namespace {

constexpr int kCaptionFont = cv::FONT_HERSHEY_DUPLEX;
constexpr double kCaptionScale = 0.5;
constexpr int kCaptionThickness = 2;
constexpr int kCaptionLineType = 12; // neither 8 nor anti-aliased 16: drawn as 8-connected
const cv::Scalar kCaptionColor(0, 0, 255, 0);

} // namespace

void StampCaption(FrameImage* frame) {
    if (!frame)
        return;
    cv::Mat mat = FrameMat(*frame);
    if (mat.empty())
        return;
    try {
        // Scaled with the frame height: the caption covers the same share of any frame.
        const double size = static_cast<double>(frame->height) / kCaptionFrameHeight;
        const cv::Point at(static_cast<int>(std::lround(kCaptionX * size)),
                           static_cast<int>(std::lround(kCaptionY * size)));
        const int thickness = std::max(1, static_cast<int>(std::lround(kCaptionThickness * size)));
        cv::putText(mat, kCaptionText, at, kCaptionFont, kCaptionScale * size, kCaptionColor,
                    thickness, kCaptionLineType, frame->origin != kFrameOriginTopLeft);
    } catch (const cv::Exception&) {
    }
}

void ProcessFrame(FrameImage* frame, const EffectState::Values& values, VirtualCameraFeed& feed) {
    if (!frame)
        return;
    // Called from a C streaming thread: nothing may escape.
    try {
        if (values.faceDetectionOn != 0)
            DetectAndCoverFaces(frame, std::chrono::steady_clock::now());
        if (values.colorAdjustOn != 0)
            AdjustColors(frame, values);
        StampCaption(frame);
        feed.Write(*frame);
    } catch (const std::exception&) {
    }
}

void FrameCallback(FrameImage* frame) {
    ProcessFrame(frame, ProcessEffectState().Load(), ProcessVirtualCameraFeed());
    // The same finished frame at its own size, for readers that take more than 320 x 240.
    if (frame)
        ProcessHdCameraFeed().Write(*frame);
}

} // namespace kelo
