// The scene of the background blur tests: the astronaut photograph (tests/data) standing at the
// bottom centre of a larger, plain textured background, and the regions the tests measure.
#pragma once

#include <filesystem>
#include <opencv2/core.hpp>

namespace kelo::test {

// 640 x 480 BGR, upright: the 320 x 240 photograph at (160, 240), a fixed noise texture around.
cv::Mat PersonScene();

// Regions of PersonScene (and of the scene scaled by `scale`): the face, the body (the orange
// suit), and the band around the photograph that only the texture covers.
cv::Rect SceneFace(double scale = 1.0);
cv::Rect SceneBody(double scale = 1.0);
// The top 40 % of the scene and the left and right fifths: texture only.
cv::Mat SceneBorderMask(cv::Size size);

// The studio's model in the build folder (made by the build from the fetched file).
std::filesystem::path ModelPath();

} // namespace kelo::test
