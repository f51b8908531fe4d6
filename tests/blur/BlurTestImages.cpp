#include "BlurTestImages.h"

#include "support/TestSupport.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace kelo::test {

namespace {
cv::Rect Scaled(cv::Rect r, double scale) {
    return cv::Rect(cvRound(r.x * scale), cvRound(r.y * scale), cvRound(r.width * scale),
                    cvRound(r.height * scale));
}
} // namespace

cv::Mat PersonScene() {
    cv::Mat scene(480, 640, CV_8UC3);
    cv::RNG rng(19);
    rng.fill(scene, cv::RNG::UNIFORM, 20, 236);
    cv::GaussianBlur(scene, scene, cv::Size(3, 3), 0.8);
    const cv::Mat photo =
        cv::imread((SourceDir() / "tests/data/astronaut-320x240.jpg").string(), cv::IMREAD_COLOR);
    if (!photo.empty())
        photo.copyTo(scene(cv::Rect(160, 240, 320, 240)));
    return scene;
}

cv::Rect SceneFace(double scale) {
    return Scaled(cv::Rect(160 + 118, 240 + 45, 50, 55), scale);
}
cv::Rect SceneBody(double scale) {
    return Scaled(cv::Rect(160 + 60, 240 + 175, 140, 55), scale);
}

cv::Mat SceneBorderMask(cv::Size size) {
    cv::Mat mask(size, CV_8U, cv::Scalar(0));
    mask(cv::Rect(0, 0, size.width, size.height * 2 / 5)).setTo(255);
    mask(cv::Rect(0, 0, size.width / 5, size.height)).setTo(255);
    mask(cv::Rect(size.width - size.width / 5, 0, size.width / 5, size.height)).setTo(255);
    return mask;
}

std::filesystem::path ModelPath() {
    return BinaryDir() / "models/selfie_segmentation_landscape.tflite";
}

} // namespace kelo::test
