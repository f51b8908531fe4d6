#include "FrameTestImages.h"

#include "support/TestSupport.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace kelo::test {

cv::Mat AstronautPhoto() {
    return cv::imread((SourceDir() / "tests/data/astronaut-320x240.jpg").string(),
                      cv::IMREAD_COLOR);
}

FrameImage FrameOver(cv::Mat& mat, int origin) {
    FrameImage frame;
    frame.width = mat.cols;
    frame.height = mat.rows;
    frame.depth = mat.depth() == CV_32F ? kFrameDepth32F : kFrameDepth8U;
    frame.nChannels = mat.channels();
    frame.origin = origin;
    frame.imageData = mat.data;
    frame.widthStep = static_cast<int>(mat.step[0]);
    frame.imageSize = frame.widthStep * frame.height;
    return frame;
}

cv::Mat BottomUp(const cv::Mat& upright) {
    cv::Mat flipped;
    cv::flip(upright, flipped, 0);
    return flipped;
}

double MaxDifference(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a, b, cv::NORM_INF);
}

} // namespace kelo::test
