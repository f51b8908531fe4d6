#include "FaceScenes.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace kelo::test {

cv::Mat BarPattern(cv::Size size, int step) {
    // White, yellow, cyan, green, magenta, red, blue at 75 %, then a strip of the reverse order
    // and a black and white band: what a test pattern shows, in any size.
    static const cv::Scalar kBars[] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                                       {191, 0, 191},   {0, 0, 191},   {191, 0, 0}};
    cv::Mat picture(size, CV_8UC3);
    const int shift = step * 2;
    for (int x = 0; x < size.width; ++x) {
        const int column = ((x + shift) % size.width) * 7 / size.width;
        const int top = size.height * 2 / 3;
        const int middle = size.height * 3 / 4;
        picture.col(x).rowRange(0, top).setTo(kBars[column]);
        picture.col(x).rowRange(top, middle).setTo(kBars[6 - column]);
        picture.col(x)
            .rowRange(middle, size.height)
            .setTo(column < 2 ? cv::Scalar(0, 0, 0) : cv::Scalar(255, 255, 255));
    }
    return picture;
}

namespace {

FaceScene Place(const cv::Mat& photo, const cv::Mat& background, const std::string& name,
                float roll, float scale, bool mirror, cv::Point2f where) {
    // The photograph turned about its face's centre, scaled, mirrored, then moved so that the
    // face's centre lands at `where`.
    cv::Mat source;
    cv::Point2f centre = kPhotoFaceCentre;
    if (!mirror) {
        source = photo;
    } else {
        cv::flip(photo, source, 1);
        centre.x = static_cast<float>(photo.cols - 1) - centre.x;
    }
    cv::Mat turn = cv::getRotationMatrix2D(centre, roll, scale);
    turn.at<double>(0, 2) += where.x - centre.x;
    turn.at<double>(1, 2) += where.y - centre.y;
    FaceScene scene;
    scene.name = name;
    scene.picture = background.clone();
    cv::warpAffine(source, scene.picture, turn, background.size(), cv::INTER_LINEAR,
                   cv::BORDER_TRANSPARENT);
    scene.centre = where;
    scene.faceWidth = kPhotoFaceWidth * scale;
    scene.rollDegrees = roll;
    scene.scale = scale;
    const float half = scene.faceWidth / 2;
    scene.cut = where.x - half < 0 || where.y - half < 0 || where.x + half > background.cols ||
                where.y + half > background.rows;
    return scene;
}

} // namespace

std::vector<FaceScene> MakeFaceSet(const cv::Mat& photo, cv::Size size) {
    // Laid out at 320 x 240 and scaled to `size`.
    const float k = static_cast<float>(size.width) / 320.f;
    const cv::Point2f middle(160.f * k, 100.f * k);
    std::vector<FaceScene> set;
    for (const bool plain : {false, true}) {
        const cv::Mat background =
            plain ? cv::Mat(size, CV_8UC3, cv::Scalar(96, 112, 128)) : BarPattern(size);
        const std::string on = plain ? " on plain" : " on bars";
        for (int roll = -45; roll <= 45; roll += 15)
            set.push_back(Place(photo, background, "roll " + std::to_string(roll) + on,
                                static_cast<float>(roll), k, false, middle));
        for (const int roll : {0, -30, 30})
            set.push_back(Place(photo, background, "mirrored roll " + std::to_string(roll) + on,
                                static_cast<float>(roll), k, true, middle));
        for (const float scale : {0.3f, 0.5f, 0.75f, 1.5f, 2.f})
            set.push_back(Place(photo, background,
                                "scale " + std::to_string(scale).substr(0, 4) + on, 0, scale * k,
                                false, middle));
        // A third of the face past the left, right, top and bottom edge.
        const float third = kPhotoFaceWidth * k / 6;
        const float w = static_cast<float>(size.width);
        const float h = static_cast<float>(size.height);
        const std::pair<const char*, cv::Point2f> edges[] = {{"cut left", {third, middle.y}},
                                                             {"cut right", {w - third, middle.y}},
                                                             {"cut top", {middle.x, third}},
                                                             {"cut bottom", {middle.x, h - third}}};
        for (const auto& [name, where] : edges)
            set.push_back(Place(photo, background, name + on, 0, k, false, where));
    }
    return set;
}

bool BoxHoldsFace(const cv::Rect2f& box, const FaceScene& scene) {
    return box.contains(scene.centre) && box.width >= scene.faceWidth / 2 &&
           box.width <= scene.faceWidth * 2;
}

} // namespace kelo::test
