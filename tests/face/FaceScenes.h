// The face set the face detector is measured on, made from the astronaut photograph: the face
// rolled from -45 to +45 degrees, mirrored, scaled from 0.3 to 2 times, cut by the frame's edge,
// each on a bar pattern and on a plain background; and the bar pattern alone (no face).
// Shared by the tests and the benchmark; OpenCV only.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace kelo::test {

// Where the face lies in the upright 320 x 240 astronaut photograph: its centre (between the
// eyes and the mouth) and its width (cheek to cheek), checked by eye.
inline const cv::Point2f kPhotoFaceCentre(141.f, 78.f);
inline constexpr float kPhotoFaceWidth = 56.f;

struct FaceScene {
    std::string name;
    cv::Mat picture;     // BGR, upright, of the requested size
    cv::Point2f centre;  // the face's centre in the picture
    float faceWidth = 0; // the face's width in the picture
    float rollDegrees = 0;
    float scale = 1;  // of the photograph (before any change of frame size)
    bool cut = false; // part of the face lies outside the picture
};

// Colour bars in the manner of a video test pattern, moved `step` x 2 pixels to the left.
cv::Mat BarPattern(cv::Size size, int step = 0);

// The photograph (320 x 240 BGR) turned into the face set, pictures of `size`.
std::vector<FaceScene> MakeFaceSet(const cv::Mat& photo, cv::Size size);

// True when the rectangle holds the scene's face: its centre lies inside, and its width is
// between half and twice the face's.
bool BoxHoldsFace(const cv::Rect2f& box, const FaceScene& scene);

} // namespace kelo::test
