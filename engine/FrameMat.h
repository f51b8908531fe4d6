// An OpenCV matrix header over a FrameImage's bytes (no copy), for the per-frame steps.
#pragma once

#include "platform/contracts/FrameImage.h"

#include <opencv2/core.hpp>

namespace kelo {

// The frame's element type (8-bit unsigned or 32-bit float, 1 to 4 channels), or -1 when the
// frame has another depth or channel count.
inline int FrameMatType(const FrameImage& frame) {
    if (frame.nChannels < 1 || frame.nChannels > 4)
        return -1;
    if (frame.depth == kFrameDepth8U)
        return CV_MAKETYPE(CV_8U, frame.nChannels);
    if (frame.depth == kFrameDepth32F)
        return CV_MAKETYPE(CV_32F, frame.nChannels);
    return -1;
}

// The whole frame as a matrix; empty when the header does not describe a usable image (no
// bytes, no size, an unknown element type, or rows that would overlap or overrun imageSize).
inline cv::Mat FrameMat(const FrameImage& frame) {
    int type = FrameMatType(frame);
    if (type < 0 || !frame.imageData || frame.width <= 0 || frame.height <= 0)
        return {};
    long long rowBytes = static_cast<long long>(frame.width) * CV_ELEM_SIZE(type);
    if (frame.widthStep < rowBytes)
        return {};
    long long needed = static_cast<long long>(frame.widthStep) * (frame.height - 1) + rowBytes;
    if (frame.imageSize < needed)
        return {};
    return cv::Mat(frame.height, frame.width, type, frame.imageData,
                   static_cast<std::size_t>(frame.widthStep));
}

// The region of interest clipped to the frame (the whole frame when none is set).
inline cv::Rect FrameRoi(const FrameImage& frame) {
    cv::Rect whole(0, 0, frame.width, frame.height);
    if (!frame.roi)
        return whole;
    return cv::Rect(frame.roi->x, frame.roi->y, frame.roi->width, frame.roi->height) & whole;
}

} // namespace kelo
