// The segmentation and the blend on a real person: the astronaut photograph standing in front
// of a textured background.
#include "effects/models/PersonSegmenter.h"

#include "BlurTestImages.h"
#include "effects/models/BackgroundBlur.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <opencv2/imgproc.hpp>

namespace kelo {
namespace {

class PersonSegmenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        segmenter = PersonSegmenter::Load(test::ModelPath().string(), &error);
        ASSERT_TRUE(segmenter) << error << " (run scripts/install-deps.sh and configure again)";
        scene = test::PersonScene();
        ASSERT_EQ(scene.size(), cv::Size(640, 480));
    }

    // The probability mask scaled to the scene.
    cv::Mat SceneMask() {
        const cv::Mat probability = segmenter->Segment(scene);
        EXPECT_EQ(probability.size(),
                  cv::Size(PersonSegmenter::kInputWidth, PersonSegmenter::kInputHeight));
        cv::Mat scaled;
        cv::resize(probability, scaled, scene.size(), 0, 0, cv::INTER_LINEAR);
        return scaled;
    }

    std::unique_ptr<PersonSegmenter> segmenter;
    cv::Mat scene;
};

TEST_F(PersonSegmenterTest, ThePersonComesOutNearOneAndTheTextureNearZero) {
    const cv::Mat mask = SceneMask();
    EXPECT_GT(cv::mean(mask(test::SceneFace()))[0], 0.8);
    EXPECT_GT(cv::mean(mask(test::SceneBody()))[0], 0.8);
    EXPECT_LT(cv::mean(mask, test::SceneBorderMask(mask.size()))[0], 0.2);
}

TEST_F(PersonSegmenterTest, TheBlendKeepsTheFaceAndBlursTheBorderStrongly) {
    cv::Mat mask8;
    SceneMask().convertTo(mask8, CV_8U, 255.0);
    cv::Mat blurred = scene.clone();
    BlurScratch scratch;
    ComposeBackgroundBlur(blurred, mask8, scratch);

    cv::Mat diff;
    cv::absdiff(blurred, scene, diff);
    cv::Mat gray;
    cv::cvtColor(diff, gray, cv::COLOR_BGR2GRAY);
    EXPECT_LT(cv::mean(gray(test::SceneFace()))[0], 6.0);
    // The texture's pixels vary by about +-40 around their neighbours; blurred, they lie near
    // the local mean.
    EXPECT_GT(cv::mean(gray, test::SceneBorderMask(gray.size()))[0], 15.0);
    // The blurred texture is smooth: its high-frequency energy is a fraction of the input's.
    cv::Mat lapIn;
    cv::Mat lapOut;
    cv::Laplacian(scene(cv::Rect(0, 0, 640, 150)), lapIn, CV_32F);
    cv::Laplacian(blurred(cv::Rect(0, 0, 640, 150)), lapOut, CV_32F);
    EXPECT_LT(cv::norm(lapOut), 0.1 * cv::norm(lapIn));
}

TEST(BackgroundBlurCompose, AFullMaskKeepsTheFrameAndAnEmptyOneBlursAllOfIt) {
    cv::Mat frame(240, 320, CV_8UC3);
    cv::RNG(7).fill(frame, cv::RNG::UNIFORM, 0, 256);
    BlurScratch scratch;

    cv::Mat kept = frame.clone();
    ComposeBackgroundBlur(kept, cv::Mat(144, 256, CV_8U, cv::Scalar(255)), scratch);
    EXPECT_EQ(cv::norm(kept, frame, cv::NORM_INF), 0.0);

    // Another frame size than the blur's own 320 x 240, and an odd stride.
    cv::Mat wide(250, 402, CV_8UC3);
    cv::RNG(8).fill(wide, cv::RNG::UNIFORM, 0, 256);
    const cv::Mat wideBefore = wide.clone();
    cv::Mat view = wide(cv::Rect(1, 3, 400, 246));
    const cv::Mat before = view.clone();
    ComposeBackgroundBlur(view, cv::Mat(144, 256, CV_8U, cv::Scalar(0)), scratch);
    EXPECT_GT(cv::norm(view, before, cv::NORM_L1) / static_cast<double>(view.total() * 3), 30.0);
    // Nothing outside the frame's rows and columns is touched.
    EXPECT_EQ(cv::norm(wide.rowRange(0, 3), wideBefore.rowRange(0, 3), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(wide.col(0), wideBefore.col(0), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(wide.col(401), wideBefore.col(401), cv::NORM_INF), 0.0);
}

TEST(BackgroundBlurCompose, AnHdBackgroundLooksAsThroughTheSmallCopy) {
    // The scene at larger sizes, all background: the blur of the halved copy against the one of the
    // 320 x 240 copy the smaller frames use (measured: 0.3 to 0.5 levels apart on average, 5 at
    // most). KELO_BLUR_DUMP=folder writes both pictures there.
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720), cv::Size(1920, 1080),
                                cv::Size(1366, 768)}) {
        cv::Mat frame;
        cv::resize(test::PersonScene(), frame, size, 0, 0, cv::INTER_LINEAR);
        cv::Mat small;
        cv::resize(frame, small, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
        cv::blur(small, small, cv::Size(25, 25));
        cv::blur(small, small, cv::Size(25, 25));
        cv::Mat expected;
        cv::resize(small, expected, size, 0, 0, cv::INTER_LINEAR);

        BlurScratch scratch;
        ComposeBackgroundBlur(frame, cv::Mat(144, 256, CV_8U, cv::Scalar(0)), scratch);
        cv::Mat diff;
        cv::absdiff(frame, expected, diff);
        EXPECT_LT(cv::mean(diff)[0], 1.0) << size;
        double worst = 0;
        cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
        EXPECT_LT(worst, 12.0) << size;
        if (size == cv::Size(640, 480)) { // halved once: exactly the 320 x 240 copy
            EXPECT_EQ(worst, 0.0);
        }
        if (const char* dir = std::getenv("KELO_BLUR_DUMP")) {
            cv::imwrite(std::string(dir) + "/hd-blur-" + std::to_string(size.width) + ".png", frame);
            cv::imwrite(std::string(dir) + "/hd-blur-" + std::to_string(size.width) + "-before.png",
                        expected);
        }
    }
}

TEST(BackgroundBlurCompose, EveryByteIsTheRoundedMixOfFrameAndBlurredBackground) {
    // A mask of the frame's size with every value, on frames whose rows end inside a group of
    // sixteen bytes.
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(401, 7), cv::Size(5, 3)}) {
        cv::Mat frame(size, CV_8UC3);
        cv::RNG(9).fill(frame, cv::RNG::UNIFORM, 0, 256);
        cv::Mat mask(size, CV_8U);
        cv::RNG(10).fill(mask, cv::RNG::UNIFORM, 0, 256);
        mask.at<std::uint8_t>(0, 0) = 0;
        mask.at<std::uint8_t>(size.height - 1, size.width - 1) = 255;
        const cv::Mat before = frame.clone();
        BlurScratch scratch;
        ComposeBackgroundBlur(frame, mask, scratch);
        ASSERT_EQ(scratch.background.size(), size);
        int wrong = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const unsigned keep = mask.at<std::uint8_t>(y, x);
                    const unsigned mixed = before.at<cv::Vec3b>(y, x)[c] * keep +
                                           scratch.background.at<cv::Vec3b>(y, x)[c] * (255 - keep);
                    wrong += frame.at<cv::Vec3b>(y, x)[c] != (mixed + 127) / 255;
                }
        EXPECT_EQ(wrong, 0) << size;
    }
}

} // namespace
} // namespace kelo
