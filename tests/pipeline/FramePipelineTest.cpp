// The per-frame steps of the studio on real images: face cover on a real photograph, colour
// adjustment, the caption, and their order inside ProcessFrame / FrameCallback.
#include "engine/FramePipeline.h"

#include "engine/ColorAdjust.h"
#include "engine/EffectState.h"
#include "engine/FaceCover.h"
#include "FrameTestImages.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/AssetPaths.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

namespace kelo {
namespace {

using test::FrameOver;

const cv::Vec3b kRed(0, 0, 255);

int CountPixels(const cv::Mat& image, const cv::Vec3b& colour) {
    int n = 0;
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x)
            n += image.at<cv::Vec3b>(y, x) == colour;
    return n;
}

// The caption as the classic C call draws it on an image header with the given origin.
cv::Mat ClassicCaption(const cv::Mat& source, int origin) {
    cv::Mat out = source.clone();
    IplImage header = cvIplImage(out);
    header.origin = origin;
    CvFont font;
    cvInitFont(&font, CV_FONT_HERSHEY_DUPLEX, 0.5, 0.5, 0, 2, 12);
    cvPutText(&header, kCaptionText, cvPoint(60, 20), &font, cvScalar(0, 0, 255, 0));
    return out;
}

TEST(FramePipeline, WithEverySwitchOffTheFrameGetsTheRedCaptionAndGoesToTheFeed) {
    test::ScopedFeedName feedName;
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenOrCreate(feedName.name(), kFeedBytes), S_OK);

    cv::Mat photo = test::BottomUp(test::AstronautPhoto());
    ASSERT_FALSE(photo.empty());
    cv::Mat frameMat = photo.clone();
    FrameImage frame = FrameOver(frameMat, kFrameOriginBottomLeft);
    VirtualCameraFeed feed;
    ProcessFrame(&frame, EffectState::Values{}, feed);

    // Exactly what cvPutText gives on a bottom-left image, and nothing else changed.
    cv::Mat expected = ClassicCaption(photo, 1);
    EXPECT_EQ(test::MaxDifference(frameMat, expected), 0.0);
    cv::Mat changed;
    cv::compare(frameMat, photo, changed, cv::CMP_NE);
    cv::Mat changedAny;
    cv::reduce(changed.reshape(1, frameMat.rows * frameMat.cols), changedAny, 1, cv::REDUCE_MAX);
    int changedPixels = cv::countNonZero(changedAny);
    EXPECT_GT(changedPixels, 200);

    // On screen (rows reversed) the caption stands near the bottom left: every changed pixel
    // lies in the lowest 40 rows, right of x 55. Line type 12 blends the glyph edges, so the
    // changed pixels are pure red in the strokes and mixed at their edges.
    cv::Mat onScreen = test::BottomUp(frameMat);
    cv::Mat changedOnScreen = test::BottomUp(changedAny.reshape(1, frameMat.rows));
    cv::Rect box = cv::boundingRect(changedOnScreen);
    EXPECT_GE(box.y, 200);
    EXPECT_GE(box.x, 55);
    EXPECT_GT(CountPixels(onScreen, kRed), 300);

    // Upright: the same caption drawn with a top-left origin on the upright picture has glyphs
    // of the same size (mirrored rendering may differ by a row at the edges).
    cv::Mat upright = test::AstronautPhoto();
    cv::Mat uprightCaption = ClassicCaption(upright, 0);
    cv::Mat changedUpright;
    cv::compare(uprightCaption, upright, changedUpright, cv::CMP_NE);
    cv::reduce(changedUpright.reshape(1, upright.rows * upright.cols), changedUpright, 1,
               cv::REDUCE_MAX);
    cv::Rect uprightBox = cv::boundingRect(changedUpright.reshape(1, upright.rows));
    EXPECT_NEAR(box.width, uprightBox.width, 1);
    EXPECT_NEAR(box.height, uprightBox.height, 1);
    // ...and there it stands near the top left: the bottom-left origin is what moves it.
    EXPECT_LT(uprightBox.y + uprightBox.height, 40);

    // The feed holds the frame's bytes verbatim.
    ASSERT_EQ(static_cast<std::size_t>(frame.imageSize), kFeedBytes);
    EXPECT_EQ(std::memcmp(reader.data(), frameMat.data, kFeedBytes), 0);
}

TEST(FramePipeline, FaceNumbersPickTheirColourModuloEight) {
    cv::Mat image(240, 320, CV_8UC3, cv::Scalar(128, 128, 128));
    FrameImage frame = FrameOver(image, kFrameOriginTopLeft);
    std::vector<FrameRect> faces;
    for (int i = 0; i < 9; ++i)
        faces.push_back(FrameRect{5 + 26 * (i % 5), 20 + 80 * (i / 5), 20, 20});
    CoverFaces(&frame, faces);
    for (int i = 0; i < 9; ++i) {
        FaceCircle c = FaceCircleFor(faces[static_cast<std::size_t>(i)]);
        const FaceColor& colour = kFaceColors[static_cast<std::size_t>(i % 8)];
        EXPECT_EQ(image.at<cv::Vec3b>(c.centerY, c.centerX),
                  cv::Vec3b(colour.blue, colour.green, colour.red))
            << "face " << i;
    }
    EXPECT_EQ(kFaceColors[0].red, 255);
    EXPECT_EQ(image.at<cv::Vec3b>(FaceCircleFor(faces[8]).centerY, FaceCircleFor(faces[8]).centerX),
              kRed);
}

TEST(FramePipeline, FaceRectangleMapsToCircleInFramePixels) {
    FaceCircle c = FaceCircleFor(FrameRect{40, 30, 60, 60});
    EXPECT_EQ(c.centerX, 91);
    EXPECT_EQ(c.centerY, 78);
    EXPECT_EQ(c.radius, 39);
    // The filled circle is drawn as the classic call draws it (8-connected, no shift).
    cv::Mat image(240, 320, CV_8UC3, cv::Scalar::all(0));
    FrameImage frame = FrameOver(image, kFrameOriginTopLeft);
    CoverFaces(&frame, {FrameRect{40, 30, 60, 60}});
    cv::Mat expected(240, 320, CV_8UC3, cv::Scalar::all(0));
    cv::circle(expected, cv::Point(91, 78), 39, cv::Scalar(0, 0, 255, 0), -1, 8, 0);
    EXPECT_EQ(test::MaxDifference(image, expected), 0.0);
}

TEST(FramePipeline, FaceOnTheAstronautPhotographIsCoveredByARedFilledCircle) {
    ASSERT_FALSE(FindCascadeFile(kFaceCascadeFileName).empty())
        << "the face cascade is missing (package opencv-data)";
    cv::Mat upright = test::AstronautPhoto();
    ASSERT_FALSE(upright.empty());

    // As the graph hands it over: bottom-up bytes, origin bottom-left.
    cv::Mat frameMat = test::BottomUp(upright);
    FrameImage frame = FrameOver(frameMat, kFrameOriginBottomLeft);
    EXPECT_GE(DetectAndCoverFaces(&frame), 1);
    EXPECT_TRUE(FaceCascadeLoaded());

    // Viewed upright, the face (around x 140, y 75 of the photograph) lies under red.
    cv::Mat onScreen = test::BottomUp(frameMat);
    for (cv::Point p : {cv::Point(140, 75), cv::Point(130, 65), cv::Point(150, 90)})
        EXPECT_EQ(onScreen.at<cv::Vec3b>(p), kRed) << p;
    int red = CountPixels(onScreen, kRed) - CountPixels(upright, kRed);
    EXPECT_GT(red, 2000); // a face-sized disc, not a speck
    EXPECT_LT(red, 20000);
    // Far from the face nothing changed (the helmet at the lower right, the flag's corner).
    EXPECT_EQ(onScreen.at<cv::Vec3b>(230, 300), upright.at<cv::Vec3b>(230, 300));
    EXPECT_EQ(onScreen.at<cv::Vec3b>(5, 5), upright.at<cv::Vec3b>(5, 5));
}

TEST(FramePipeline, DetectionLeavesEachFrameInTheRowOrderItCameIn) {
    cv::Mat upright = test::AstronautPhoto();
    // Top-left frame: processed upright.
    cv::Mat topDown = upright.clone();
    FrameImage topFrame = FrameOver(topDown, kFrameOriginTopLeft);
    int facesTop = DetectAndCoverFaces(&topFrame);
    // The same picture bottom-up with a bottom-left origin: the same faces, the same circles,
    // and the bytes leave bottom-up.
    cv::Mat bottomUp = test::BottomUp(upright);
    FrameImage bottomFrame = FrameOver(bottomUp, kFrameOriginBottomLeft);
    int facesBottom = DetectAndCoverFaces(&bottomFrame);
    EXPECT_EQ(facesTop, facesBottom);
    EXPECT_GE(facesTop, 1);
    EXPECT_EQ(test::MaxDifference(test::BottomUp(bottomUp), topDown), 0.0);

    // A frame without faces passes unchanged in either order.
    cv::Mat plain(240, 320, CV_8UC3);
    cv::randu(plain, 0, 255);
    cv::Mat copy = plain.clone();
    FrameImage plainFrame = FrameOver(plain, kFrameOriginBottomLeft);
    EXPECT_EQ(DetectAndCoverFaces(&plainFrame), 0);
    EXPECT_EQ(test::MaxDifference(plain, copy), 0.0);
}

TEST(FramePipeline, CoverFollowsTheFaceAcrossThePanAndUpToTheFrameEdge) {
    cv::Mat larger;
    cv::resize(test::AstronautPhoto(), larger, cv::Size(384, 288), 0, 0, cv::INTER_LINEAR);
    // The face camera's pan from one end to the other, then the face pushed up against the top
    // edge, where its circle is cut off (in a bottom-up frame: at the last rows in memory).
    struct Shot {
        cv::Rect crop;
        cv::Point face; // where the face lies in the upright frame
    };
    std::vector<Shot> shots;
    for (int step : {0, 8, 16})
        shots.push_back(
            {cv::Rect(step * 4, step * 3, 320, 240), cv::Point(168 - step * 4, 90 - step * 3)});
    shots.push_back({cv::Rect(32, 48, 320, 240), cv::Point(136, 42)});
    for (const Shot& shot : shots) {
        cv::Mat upright = larger(shot.crop).clone();
        cv::Mat topDown = upright.clone();
        FrameImage topFrame = FrameOver(topDown, kFrameOriginTopLeft);
        cv::Mat bottomUp = test::BottomUp(upright);
        FrameImage bottomFrame = FrameOver(bottomUp, kFrameOriginBottomLeft);
        EXPECT_GE(DetectAndCoverFaces(&bottomFrame), 1) << shot.crop;
        EXPECT_EQ(test::BottomUp(bottomUp).at<cv::Vec3b>(shot.face), kRed) << shot.crop;
        // Either row order gives the same picture on screen, clipped circles included.
        (void)DetectAndCoverFaces(&topFrame); // the count was checked on the other order
        EXPECT_EQ(test::MaxDifference(test::BottomUp(bottomUp), topDown), 0.0) << shot.crop;
    }
}

TEST(FramePipeline, UnreadableCascadeDrawsNothingAndIsLoadedOnceItIsThere) {
    ASSERT_FALSE(FaceCascadeLoaded()) << "ctest runs each case in its own process";
    test::IsolatedDirectory dir;
    {
        std::ofstream broken(dir.path() / kFaceCascadeFileName);
        broken << "<opencv_storage>not a cascade";
    }
    cv::Mat frameMat = test::BottomUp(test::AstronautPhoto());
    cv::Mat before = frameMat.clone();
    FrameImage frame = FrameOver(frameMat, kFrameOriginBottomLeft);
    EXPECT_EQ(DetectAndCoverFaces(&frame), 0);
    EXPECT_EQ(DetectAndCoverFaces(&frame), 0);
    EXPECT_FALSE(FaceCascadeLoaded());
    EXPECT_EQ(test::MaxDifference(frameMat, before), 0.0);

    // The file in the working directory comes first; once it is a real cascade, the next frame
    // loads it and covers the face.
    std::filesystem::remove(dir.path() / kFaceCascadeFileName);
    std::filesystem::copy_file(FindCascadeFile(kFaceCascadeFileName),
                               dir.path() / kFaceCascadeFileName);
    EXPECT_GE(DetectAndCoverFaces(&frame), 1);
    EXPECT_TRUE(FaceCascadeLoaded());
}

TEST(FramePipeline, LightnessShiftOfThreeHundredTurnsEveryPixelWhiteAndMinusThreeHundredBlack) {
    for (int shift : {300, -300}) {
        cv::Mat image = test::AstronautPhoto();
        FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
        EffectState::Values values;
        values.colorAdjustOn = 1;
        values.lightnessShift = shift;
        AdjustColors(&frame, values);
        cv::Scalar expected = cv::Scalar::all(shift > 0 ? 255 : 0);
        EXPECT_EQ(cv::norm(image, cv::Mat(image.size(), image.type(), expected), cv::NORM_INF), 0)
            << shift;
    }
}

TEST(FramePipeline, ChannelOffsetsSaturate) {
    cv::Mat image(4, 4, CV_8UC3, cv::Scalar(20, 128, 200));
    FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
    EXPECT_EQ(ApplyChannelOffsets(&frame, -50, 7, 100), S_OK);
    EXPECT_EQ(image.at<cv::Vec3b>(3, 3), cv::Vec3b(0, 135, 255));
    // Extreme values do not wrap.
    EXPECT_EQ(ApplyChannelOffsets(&frame, INT32_MAX, INT32_MIN, 0), S_OK);
    EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 255));
}

TEST(FramePipeline, AdjustmentWithZerosChangesOnlyByConversionRounding) {
    cv::Mat photo = test::AstronautPhoto();
    cv::Mat image = photo.clone();
    FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
    EffectState::Values values;
    values.colorAdjustOn = 1;
    AdjustColors(&frame, values);
    // The same round trip done directly with the RGB-order pair of codes.
    cv::Mat roundTrip;
    cv::cvtColor(photo, roundTrip, cv::COLOR_RGB2HLS);
    cv::cvtColor(roundTrip, roundTrip, cv::COLOR_HLS2RGB);
    EXPECT_EQ(test::MaxDifference(image, roundTrip), 0.0);
    EXPECT_LE(test::MaxDifference(image, photo), 8.0);
    cv::Mat diff;
    cv::absdiff(image, photo, diff);
    EXPECT_LT(cv::mean(diff)[0], 1.0);
}

// The adjustment as its steps read: the conversion pair, a table on lightness and saturation,
// back, a table per channel.
cv::Mat AdjustedByConversion(const cv::Mat& source, const EffectState::Values& v) {
    const auto clampByte = [](int value) { return cv::saturate_cast<std::uint8_t>(value); };
    cv::Mat hlsTable(1, 256, CV_8UC3), offsetTable(1, 256, CV_8UC3);
    for (int i = 0; i < 256; ++i) {
        hlsTable.at<cv::Vec3b>(i) = cv::Vec3b(static_cast<std::uint8_t>(i),
                                              clampByte(i + std::clamp(v.lightnessShift, -256, 256)),
                                              clampByte(i + std::clamp(v.saturationShift, -256, 256)));
        offsetTable.at<cv::Vec3b>(i) = cv::Vec3b(clampByte(i + std::clamp(v.blueOffset, -256, 256)),
                                                 clampByte(i + std::clamp(v.greenOffset, -256, 256)),
                                                 clampByte(i + std::clamp(v.redOffset, -256, 256)));
    }
    cv::Mat out;
    cv::cvtColor(source, out, cv::COLOR_RGB2HLS);
    cv::LUT(out, hlsTable, out);
    cv::cvtColor(out, out, cv::COLOR_HLS2RGB);
    cv::LUT(out, offsetTable, out);
    return out;
}

TEST(FramePipeline, ColourAdjustmentGivesTheConversionPairsBytesForEveryColourAndWidth) {
    RecordProperty("vectorised", ColorAdjustVectorised() ? "yes" : "no");
    // Every 8-bit colour once, in rows of 4096 (whole groups of eight pixels).
    cv::Mat every(4096, 4096, CV_8UC3);
    for (int i = 0; i < (1 << 24); ++i) {
        std::uint8_t* p = every.data + 3 * static_cast<std::size_t>(i);
        p[0] = static_cast<std::uint8_t>(i);
        p[1] = static_cast<std::uint8_t>(i >> 8);
        p[2] = static_cast<std::uint8_t>(i >> 16);
    }
    struct Setting {
        int lightness, saturation, blue, green, red;
    };
    for (const Setting& s : {Setting{0, 0, 0, 0, 0}, Setting{10, 0, 0, 0, 20},
                             Setting{-40, 70, -5, 9, 255}, Setting{300, -300, INT32_MIN, -255, 3}}) {
        EffectState::Values values;
        values.colorAdjustOn = 1;
        values.lightnessShift = s.lightness;
        values.saturationShift = s.saturation;
        values.blueOffset = s.blue;
        values.greenOffset = s.green;
        values.redOffset = s.red;
        const cv::Mat expected = AdjustedByConversion(every, values);
        cv::Mat image = every.clone();
        FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
        AdjustColors(&frame, values);
        EXPECT_EQ(test::MaxDifference(image, expected), 0.0) << s.lightness << " " << s.saturation;
        // The same colours in rows of eight: on a CPU with AVX-512 the rows above go sixteen
        // pixels at a time, these eight at a time.
        cv::Mat narrow = every.reshape(3, 1 << 21).clone();
        FrameImage narrowFrame = FrameOver(narrow, kFrameOriginBottomLeft);
        AdjustColors(&narrowFrame, values);
        EXPECT_EQ(test::MaxDifference(narrow.reshape(3, 4096), expected), 0.0) << s.lightness;

        // Widths that leave a few pixels of each row over (OpenCV converts those with its scalar
        // code) after groups of sixteen and of eight, rows padded to 4 bytes, and a frame
        // narrower than one group.
        for (const cv::Size size : {cv::Size(1366, 24), cv::Size(187, 9), cv::Size(5, 3)}) {
            cv::Mat padded(size.height, size.width * 3 + 3, CV_8UC1, cv::Scalar(7));
            cv::Mat picture = padded(cv::Rect(0, 0, size.width * 3, size.height)).reshape(3);
            every(cv::Rect(811, 1000, size.width, size.height)).copyTo(picture);
            const cv::Mat source = picture.clone();
            FrameImage odd = FrameOver(picture, kFrameOriginTopLeft);
            AdjustColors(&odd, values);
            EXPECT_EQ(test::MaxDifference(picture, AdjustedByConversion(source, values)), 0.0)
                << size << " " << s.lightness;
            EXPECT_EQ(padded.at<std::uint8_t>(size.height - 1, size.width * 3 + 2), 7);
        }
    }
}

TEST(FramePipeline, HlsShiftsClampAndRespectTheRegionOfInterest) {
    // 8-bit: lightness and saturation clamp, hue stays.
    cv::Mat hls(10, 10, CV_8UC3, cv::Scalar(90, 250, 10));
    FrameImage frame = FrameOver(hls, kFrameOriginTopLeft);
    frame.roi = FrameRect{2, 2, 3, 3};
    EXPECT_EQ(AdjustHls(&frame, 20, -20), S_OK);
    EXPECT_EQ(hls.at<cv::Vec3b>(3, 3), cv::Vec3b(90, 255, 0));
    EXPECT_EQ(hls.at<cv::Vec3b>(0, 0), cv::Vec3b(90, 250, 10));
    EXPECT_EQ(hls.at<cv::Vec3b>(5, 5), cv::Vec3b(90, 250, 10));

    // 32-bit float: clamped to 0..1.
    cv::Mat hlsF(2, 2, CV_32FC3, cv::Scalar(120.0, 0.5, 0.5));
    FrameImage frameF = FrameOver(hlsF, kFrameOriginTopLeft);
    EXPECT_EQ(AdjustHls(&frameF, 1, -1), S_OK);
    EXPECT_EQ(hlsF.at<cv::Vec3f>(1, 1), cv::Vec3f(120.0f, 1.0f, 0.0f));

    // Another depth: unchanged, failure reported.
    cv::Mat deep(2, 2, CV_16UC3, cv::Scalar(1000, 1000, 1000));
    FrameImage frame16 = FrameOver(deep, kFrameOriginTopLeft);
    frame16.depth = 16;
    EXPECT_EQ(AdjustHls(&frame16, 100, 100), E_FAIL);
    EXPECT_EQ(deep.at<cv::Vec3w>(0, 0), cv::Vec3w(1000, 1000, 1000));
}

TEST(FramePipeline, FramesOfUnexpectedShapePassWithoutHarm) {
    test::ScopedFeedName feedName;
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenOrCreate(feedName.name(), kFeedBytes), S_OK);
    EffectState::Values all;
    all.faceDetectionOn = 1;
    all.colorAdjustOn = 1;
    all.lightnessShift = 40;
    all.redOffset = 10;

    // 16-bit frame: nothing drawn or adjusted; its bytes still go to the feed.
    cv::Mat deep(240, 320, CV_16UC3, cv::Scalar(1, 2, 3));
    cv::Mat deepCopy = deep.clone();
    FrameImage frame16 = FrameOver(deep, kFrameOriginBottomLeft);
    frame16.depth = 16;
    VirtualCameraFeed feed;
    ProcessFrame(&frame16, all, feed);
    EXPECT_EQ(test::MaxDifference(deep, deepCopy), 0.0);
    EXPECT_EQ(std::memcmp(reader.data(), deep.data, kFeedBytes), 0);

    // A header whose stride is too short for its width: left alone.
    cv::Mat small(240, 320, CV_8UC3, cv::Scalar(5, 5, 5));
    FrameImage broken = FrameOver(small, kFrameOriginBottomLeft);
    broken.widthStep = 100;
    broken.imageSize = 100 * 240;
    ProcessFrame(&broken, all, feed);
    EXPECT_EQ(cv::countNonZero(small.reshape(1) != 5), 0);

    // Null frame, null data.
    ProcessFrame(nullptr, all, feed);
    FrameImage empty;
    ProcessFrame(&empty, all, feed);
}

TEST(FramePipeline, FloatFramesAreAdjustedAndCaptioned) {
    cv::Mat image(240, 320, CV_32FC3, cv::Scalar(0.2, 0.4, 0.6));
    FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
    EffectState::Values values;
    values.colorAdjustOn = 1;
    values.lightnessShift = 1;
    VirtualCameraFeed feed;
    ProcessFrame(&frame, values, feed);
    EXPECT_NEAR(image.at<cv::Vec3f>(200, 300)[0], 1.0f, 1e-5);
    EXPECT_NEAR(image.at<cv::Vec3f>(200, 300)[2], 1.0f, 1e-5);
}

TEST(FramePipeline, FrameCallbackUsesTheProcessWideStateAndSetters) {
    EffectState& state = ProcessEffectState();
    EffectState::Values start = state.Load();
    EXPECT_EQ(start.faceDetectionOn, 0);
    EXPECT_EQ(start.colorAdjustOn, 0);
    EXPECT_EQ(start.redOffset, 0);
    state.ToggleFaceDetection();
    EXPECT_EQ(state.Load().faceDetectionOn, 1);
    state.ToggleFaceDetection();
    EXPECT_EQ(state.Load().faceDetectionOn, 0);

    state.SetColorAdjustOn(5);
    state.SetLightnessShift(-300);
    cv::Mat image = test::AstronautPhoto();
    FrameImage frame = FrameOver(image, kFrameOriginBottomLeft);
    FrameCallback(&frame);
    // Black from the adjustment, then the red caption on top (the caption comes after it).
    EXPECT_EQ(image.at<cv::Vec3b>(120, 160), cv::Vec3b(0, 0, 0));
    EXPECT_GT(CountPixels(image, kRed), 300);
    std::vector<cv::Mat> channels;
    cv::split(image, channels);
    EXPECT_EQ(cv::countNonZero(channels[0]), 0);
    EXPECT_EQ(cv::countNonZero(channels[1]), 0);
    state.SetColorAdjustOn(0);
    state.SetLightnessShift(0);
}

// HD and odd frame sizes (16:9, a laptop's 1366 x 768 with rows padded to 4 bytes, 176 x 144):
// the face is found on the reduced copy and covered where it lies in the frame, the caption
// grows with the height and stands where it does at 320 x 240, and the feed gets a 320 x 240
// block averaged from the frame.
// The caption's effect is found once per frame size and row order and then looked up: on any
// content, size, row padding and row order it must be exactly what drawing the glyphs gives.
TEST(FramePipeline, TheCaptionIsExactlyTheDrawnGlyphsAtAnySizeAndRowOrder) {
    cv::RNG rng(24);
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(1280, 720), cv::Size(1366, 768),
                                cv::Size(176, 144), cv::Size(320, 240)}) {
        for (const int origin : {kFrameOriginBottomLeft, kFrameOriginTopLeft}) {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                         " origin " + std::to_string(origin));
            cv::Mat noise(size, CV_8UC3);
            rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
            const double k = size.height / 240.0;
            cv::Mat expected = noise.clone();
            cv::putText(expected, kCaptionText,
                        cv::Point(int(std::lround(kCaptionX * k)), int(std::lround(kCaptionY * k))),
                        cv::FONT_HERSHEY_DUPLEX, 0.5 * k, cv::Scalar(0, 0, 255, 0),
                        std::max(1, int(std::lround(2 * k))), 12, origin != kFrameOriginTopLeft);
            const int stride = (size.width * 3 + 3) / 4 * 4;
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * size.height, 7);
            cv::Mat frameMat(size, CV_8UC3, bytes.data(), stride);
            noise.copyTo(frameMat);
            FrameImage frame = FrameOver(frameMat, origin);
            StampCaption(&frame);
            EXPECT_EQ(test::MaxDifference(frameMat, expected), 0.0);
            if (stride > size.width * 3) {
                EXPECT_EQ(bytes[static_cast<std::size_t>(stride) - 1], 7);
            }
        }
    }
}

TEST(FramePipeline, LargeAndOddFramesAreCoveredCaptionedAndFedAtTheirSize) {
    ASSERT_FALSE(FindCascadeFile(kFaceCascadeFileName).empty());
    test::ScopedFeedName name;
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(name.name(), kFeedBytes), S_OK);
    const cv::Mat photo = test::AstronautPhoto();
    for (const cv::Size size : {cv::Size(1280, 720), cv::Size(1366, 768), cv::Size(176, 144)}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        // The photograph scaled with the height, centred on grey (cut at the sides of a narrow
        // frame); rows padded to a multiple of 4 bytes.
        const double k = size.height / 240.0;
        cv::Mat scaled;
        cv::resize(photo, scaled, cv::Size(int(320 * k), size.height), 0, 0, cv::INTER_LINEAR);
        const int ox = (size.width - scaled.cols) / 2;
        cv::Mat upright(size, CV_8UC3, cv::Scalar(128, 128, 128));
        const cv::Rect into = cv::Rect(ox, 0, scaled.cols, size.height) & cv::Rect({}, size);
        scaled(cv::Rect(into.x - ox, 0, into.width, size.height)).copyTo(upright(into));
        const int stride = (size.width * 3 + 3) / 4 * 4;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * size.height, 7);
        cv::Mat frameMat(size, CV_8UC3, bytes.data(), stride);
        test::BottomUp(upright).copyTo(frameMat);
        FrameImage frame = FrameOver(frameMat, kFrameOriginBottomLeft);
        EffectState::Values values;
        values.faceDetectionOn = 1;
        VirtualCameraFeed feed;
        ProcessFrame(&frame, values, feed);

        cv::Mat onScreen = test::BottomUp(frameMat);
        const double sx = k;
        const double sy = k;
        if (size.width > 320) {
            // The face (x 140, y 75 of the 320 x 240 photograph) lies under red.
            EXPECT_EQ(onScreen.at<cv::Vec3b>(cv::Point(ox + int(140 * k), int(75 * k))), kRed);
            const int red = CountPixels(onScreen, kRed) - CountPixels(upright, kRed);
            EXPECT_GT(red, 2000 * k * k);
            EXPECT_LT(red, 20000 * k * k);
        }
        // The caption's red lies in the band it has at 320 x 240, scaled: near the bottom left.
        const cv::Rect band(0, size.height - int(40 * sy), int(200 * sx), int(40 * sy));
        EXPECT_GT(CountPixels(onScreen(band), kRed) - CountPixels(upright(band), kRed),
                  50 * sx * sy);
        // The padding bytes after each row are never written.
        if (stride > size.width * 3) {
            EXPECT_EQ(bytes[static_cast<std::size_t>(stride) - 1], 7);
        }
        if (size.width > 320) {
            // The feed's block is the frame averaged down (bottom-up like the frame).
            cv::Mat block(kFeedHeight, kFeedWidth, CV_8UC3, feedView.data(), kFeedRowBytes);
            cv::Mat expected;
            const int cutWidth = size.height * 4 / 3;
            cv::resize(frameMat(cv::Rect((size.width - cutWidth) / 2, 0, cutWidth, size.height)),
                       expected, cv::Size(kFeedWidth, kFeedHeight), 0, 0, cv::INTER_AREA);
            EXPECT_EQ(test::MaxDifference(block, expected), 0);
        }
    }
}

} // namespace
} // namespace kelo
