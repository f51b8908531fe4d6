// Test frames: owned BGR images with a FrameImage header over them, and the face photograph.
#pragma once

#include "platform/contracts/FrameImage.h"

#include <filesystem>
#include <opencv2/core.hpp>

namespace kelo::test {

// The public-domain astronaut photograph (tests/data), 320 x 240 BGR, upright (top row first).
cv::Mat AstronautPhoto();

// A header over a matrix's bytes (8-bit or 32-bit float).
FrameImage FrameOver(cv::Mat& mat, int origin);

// The image as a bottom-up frame's bytes would hold it (rows reversed).
cv::Mat BottomUp(const cv::Mat& upright);

// Largest absolute difference of two same-sized images.
double MaxDifference(const cv::Mat& a, const cv::Mat& b);

} // namespace kelo::test
