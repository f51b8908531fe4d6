// The face cover with the face detector: circles on the face at 320 x 240 and 1280 x 720 in
// either row order, a face held through frames where it is lost, and the cascade taking over
// when the model is missing or refused. Each case runs in its own process (the finders are
// process-wide), with the data folder pointed at the build's models or at a folder without them.
#include "engine/FaceCover.h"

#include "effects/models/FaceDetector.h"
#include "FaceScenes.h"
#include "platform/system/AssetPaths.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>

namespace kelo {
namespace {

const cv::Vec3b kRed(0, 0, 255);

cv::Mat Astronaut() {
    return cv::imread((test::SourceDir() / "tests/data/astronaut-320x240.jpg").string(),
                      cv::IMREAD_COLOR);
}

FrameImage FrameOver(cv::Mat& mat, int origin) {
    FrameImage frame;
    frame.width = mat.cols;
    frame.height = mat.rows;
    frame.origin = origin;
    frame.imageData = mat.data;
    frame.widthStep = static_cast<int>(mat.step[0]);
    frame.imageSize = frame.widthStep * frame.height;
    return frame;
}

// Covers an upright picture handed over as the graph does (bottom row first); returns the
// picture as seen on screen and the number of faces covered.
// With `arrival`, as a frame of the stream that arrived then (the detector may skip it).
cv::Mat CoverAsTheGraphHandsItOver(
    const cv::Mat& upright, int* faces = nullptr,
    std::optional<std::chrono::steady_clock::time_point> arrival = std::nullopt) {
    cv::Mat bytes;
    cv::flip(upright, bytes, 0);
    FrameImage frame = FrameOver(bytes, kFrameOriginBottomLeft);
    const int count = arrival ? DetectAndCoverFaces(&frame, *arrival) : DetectAndCoverFaces(&frame);
    if (faces)
        *faces = count;
    cv::flip(bytes, bytes, 0);
    return bytes;
}

class DetectorCoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1); // the model of the build
        ASSERT_EQ(ActiveFaceFinder(), FaceFinder::Detector)
            << "the face model is missing: run scripts/install-deps.sh and configure again";
        photo = Astronaut();
        ASSERT_FALSE(photo.empty());
    }
    void TearDown() override { unsetenv("KELOCAM_DATA_DIR"); }
    test::IsolatedDirectory dir;
    cv::Mat photo;
};

// The face set's faces up to 30 degrees of roll (which the cascade missed), at the studio's
// default size and in HD: a red disc on the face, the same picture from either row order, and
// nothing changed away from it.
TEST_F(DetectorCoverTest, CirclesLandOnRolledFacesAtAnySizeInEitherRowOrder) {
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(1280, 720)}) {
        for (const test::FaceScene& scene : test::MakeFaceSet(photo, size)) {
            if (scene.name != "roll -30 on bars" && scene.name != "roll 30 on plain" &&
                scene.name != "roll 0 on bars")
                continue;
            ForgetFaces();
            int faces = 0;
            const cv::Mat shown = CoverAsTheGraphHandsItOver(scene.picture, &faces);
            EXPECT_EQ(faces, 1) << scene.name << " " << size;
            const float r = scene.faceWidth / 3; // the middle of the face, eyes to mouth
            for (const cv::Point2f d : {cv::Point2f(0, 0), cv::Point2f(-r, 0), cv::Point2f(r, 0),
                                        cv::Point2f(0, -r), cv::Point2f(0, r)})
                EXPECT_EQ(shown.at<cv::Vec3b>(scene.centre + d), kRed)
                    << scene.name << " " << size << " at " << d;
            // Far from the face (the bottom corners) the picture is as it was.
            for (const cv::Point corner :
                 {cv::Point(2, size.height - 3), cv::Point(size.width - 3, size.height - 3)})
                EXPECT_EQ(shown.at<cv::Vec3b>(corner), scene.picture.at<cv::Vec3b>(corner));

            ForgetFaces();
            cv::Mat topDown = scene.picture.clone();
            FrameImage frame = FrameOver(topDown, kFrameOriginTopLeft);
            EXPECT_EQ(DetectAndCoverFaces(&frame), 1);
            cv::Mat difference;
            cv::absdiff(topDown, shown, difference);
            EXPECT_EQ(cv::countNonZero(difference.reshape(1)), 0) << scene.name << " " << size;
        }
    }
}

// A face lost for a frame or two keeps its cover, for kFaceHoldFrames frames after it was last
// found; the same face a little further on is one cover, moved, not two.
TEST_F(DetectorCoverTest, ALostFaceKeepsItsCoverForAFewFramesAndAMovedFaceIsOneCover) {
    const cv::Mat plain(240, 320, CV_8UC3, cv::Scalar(96, 112, 128));
    const cv::Point face(141, 78);
    EXPECT_EQ(CoverAsTheGraphHandsItOver(photo).at<cv::Vec3b>(face), kRed);
    for (int lost = 1; lost <= kFaceHoldFrames; ++lost) {
        int faces = 0;
        EXPECT_EQ(CoverAsTheGraphHandsItOver(plain, &faces).at<cv::Vec3b>(face), kRed) << lost;
        EXPECT_EQ(faces, 1) << lost;
    }
    int faces = -1;
    EXPECT_EQ(cv::norm(CoverAsTheGraphHandsItOver(plain, &faces), plain, cv::NORM_INF), 0);
    EXPECT_EQ(faces, 0);

    // The face back, then moved by a quarter of its width: one cover, where it is now.
    CoverAsTheGraphHandsItOver(photo);
    cv::Mat moved;
    cv::warpAffine(photo, moved, cv::Mat_<double>({2, 3}, {1, 0, 14, 0, 1, 0}), photo.size());
    EXPECT_EQ(CoverAsTheGraphHandsItOver(moved, &faces).at<cv::Vec3b>(face + cv::Point(14, 0)),
              kRed);
    EXPECT_EQ(faces, 1);

    // Forgotten: a plain picture after a face stays plain.
    ForgetFaces();
    const cv::Mat after = CoverAsTheGraphHandsItOver(plain, &faces);
    EXPECT_EQ(faces, 0);
    EXPECT_EQ(cv::norm(after, plain, cv::NORM_INF), 0);
}

// A stream at 30 frames a second is detected on every third frame, at 15 on every second; the
// faces of the last detection are covered between, and a lost face still goes after its hold.
TEST_F(DetectorCoverTest, AFastStreamSharesDetectionsAndEveryFrameBetweenIsCovered) {
    using std::chrono::milliseconds;
    const cv::Mat plain(240, 320, CV_8UC3, cv::Scalar(96, 112, 128));
    const cv::Point face(141, 78);
    const auto start = std::chrono::steady_clock::now();
    const auto at = [&](double ms) {
        return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double, std::milli>(ms));
    };
    const auto red = [&](const cv::Mat& picture, double ms) {
        int faces = 0;
        const bool covered =
            CoverAsTheGraphHandsItOver(picture, &faces, at(ms)).at<cv::Vec3b>(face) == kRed;
        EXPECT_EQ(faces, covered ? 1 : 0) << ms;
        return covered;
    };
    const double frame30 = 1000.0 / 30;
    // A face that comes in on frames between detections is covered from the next detection:
    // at 30 frames a second every third frame is detected.
    ForgetFaces();
    EXPECT_FALSE(red(plain, 0));
    EXPECT_FALSE(red(photo, frame30)) << "detected on a frame the detector skips";
    EXPECT_FALSE(red(photo, 2 * frame30)) << "detected on a frame the detector skips";
    EXPECT_TRUE(red(photo, 3 * frame30));
    // Then the face goes: covered on every frame through the hold (two more detections, at 200
    // and 300 ms), gone at the third (400 ms).
    double ms = 3 * frame30;
    while ((ms += frame30) < 3 * frame30 + 299)
        EXPECT_TRUE(red(plain, ms)) << ms;
    EXPECT_FALSE(red(plain, ms)) << ms;

    // At 15 frames a second every second frame is detected: a face that comes in on the frame
    // between is covered from the next frame, and stays covered on the frames between.
    ForgetFaces();
    const double frame15 = 1000.0 / 15;
    EXPECT_FALSE(red(plain, 1000));
    EXPECT_FALSE(red(photo, 1000 + frame15)) << "detected on a frame the detector skips";
    EXPECT_TRUE(red(photo, 1000 + 2 * frame15));
    EXPECT_TRUE(red(photo, 1000 + 3 * frame15));
    EXPECT_TRUE(red(photo, 1000 + 4 * frame15));
}

// Without the model (missing, or a truncated file where it is looked up first) the cascade covers
// the face as before; one line on stderr says why, once however many frames follow.
void ExpectCascadeFallback(const std::string& why) {
    ASSERT_FALSE(FindCascadeFile(kFaceCascadeFileName).empty())
        << "the face cascade is missing (package opencv-data)";
    testing::internal::CaptureStderr();
    EXPECT_EQ(ActiveFaceFinder(), FaceFinder::Cascade);
    int faces = 0;
    for (int i = 0; i < 3; ++i) {
        const cv::Mat shown = CoverAsTheGraphHandsItOver(Astronaut(), &faces);
        EXPECT_EQ(faces, 1);
        EXPECT_EQ(shown.at<cv::Vec3b>(75, 140), kRed);
    }
    EXPECT_TRUE(FaceCascadeLoaded());
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string line = "face cover finds faces with the cascade";
    const auto first = log.find(line);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
    EXPECT_NE(log.find(why), std::string::npos) << log;
    EXPECT_EQ(log.find("not found"), std::string::npos) << "a second line: " << log;
}

TEST(FaceCoverFallback, AMissingModelLeavesTheCascadeCoveringTheFace) {
    test::IsolatedDirectory dir;
    setenv("KELOCAM_DATA_DIR", dir.path().c_str(), 1); // no models/ there
    ExpectCascadeFallback("face_detection_short_range.tflite");
    unsetenv("KELOCAM_DATA_DIR");
}

TEST(FaceCoverFallback, ATruncatedModelLeavesTheCascadeCoveringTheFace) {
    test::IsolatedDirectory dir;
    std::filesystem::create_directories(dir.path() / "models");
    std::ifstream whole(test::BinaryDir() / kFaceModelAsset, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(whole)),
                            std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000u) << "the face model is missing from the build";
    std::ofstream(dir.path() / kFaceModelAsset, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
    ExpectCascadeFallback("damaged");
}

} // namespace
} // namespace kelo
