// The test cameras beyond the plain pattern. A camera that delivers only JPEG pictures, as many
// USB cameras do: the preview, the virtual camera feed, a photo and an AVI recording all show
// the picture the right way up. The face camera: face cover finds and hides its face.
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace kelo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The moving test pattern has bright colour bars over its upper two thirds and a dark strip at
// the bottom; it moves sideways only, so each row's average stays put. `rowOf(y)` gives the
// bytes of picture row y (counted from the top) of a 320 x 240 picture, 3 bytes a pixel.
template <typename RowOf> bool BrightAboveDark(RowOf rowOf) {
    auto mean = [&](int from, int to) {
        long sum = 0;
        for (int y = from; y < to; ++y) {
            const std::uint8_t* row = rowOf(y);
            for (int i = 0; i < 960; ++i)
                sum += row[i];
        }
        return sum / ((to - from) * 960);
    };
    // Rows 185..205 miss the caption, which stands lower.
    const long top = mean(20, 60);
    const long bottom = mean(185, 205);
    return top > bottom + 25;
}

class JpegCamera : public ::testing::Test {
protected:
    void SetUp() override {
        TestDevices devices;
        devices.video.push_back({"USB Camera", {}, TestPicture::JpegPattern});
        devices.audio.push_back({"Test Microphone", {}});
        registry = test::MakeTestRegistry(devices);
        ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    }

    std::unique_ptr<CaptureEngine> Build() {
        auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, *registry);
        EXPECT_EQ(engine->BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kVideoAndAudio);
        return engine;
    }

    bool FeedHasFrame() const { return test::FeedHasPicture(feedView); }

    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    std::unique_ptr<ClassRegistry> registry;
};

TEST_F(JpegCamera, PreviewFeedAndPhotoAreUpright) {
    auto engine = Build();
    ASSERT_EQ(engine->ConnectPreview(), S_OK);
    ASSERT_EQ(engine->Run(), S_OK);
    ASSERT_TRUE(
        owner.WaitUntil([&] { return surface.framesPresented() >= 3 && FeedHasFrame(); }, 30s));
    const fs::path photos = dir.path() / "photos";
    fs::create_directories(photos);
    engine->RequestSnapshot(photos.string() + "/", 320, 240);
    ASSERT_TRUE(owner.WaitUntil([&] { return !owner.snapshots.empty(); }, 30s));
    engine.reset();
    ASSERT_TRUE(owner.errors.empty()) << owner.errors.front();

    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> shown = surface.lastFrame(&width, &height);
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 240);
    EXPECT_TRUE(BrightAboveDark([&](int y) { return shown.data() + y * 960; })) << "preview";

    // The feed was cleared by the teardown; the bottom-up frame is checked while it runs in the
    // next test's recording. Here: the photo, decoded as any viewer would.
    ASSERT_TRUE(owner.snapshots[0].ok()) << owner.snapshots[0].errorText;
    const std::vector<unsigned char> photo =
        test::DecodePicture(owner.snapshots[0].path, 0, 320, 240);
    ASSERT_EQ(photo.size(), 230400u);
    EXPECT_TRUE(BrightAboveDark([&](int y) { return photo.data() + y * 960; })) << "photo";
}

TEST_F(JpegCamera, RecordingAndFeedAreUpright) {
    auto engine = Build();
    ASSERT_EQ(engine->BuildRecordGraph(RecordKind::AviVideo, dir.path().string() + "/"), S_OK);
    const std::string file = engine->recordFileName();
    ASSERT_EQ(engine->Run(), S_OK);
    // About two seconds of stream: 30 frames at 15 per second.
    ASSERT_TRUE(
        owner.WaitUntil([&] { return surface.framesPresented() >= 30 && FeedHasFrame(); }, 60s));
    // The block holds the processed frame bottom-up: picture row y is block row 239 - y.
    EXPECT_TRUE(BrightAboveDark([&](int y) { return feedView.data() + (239 - y) * 960; }))
        << "virtual camera feed";
    engine.reset();
    ASSERT_TRUE(owner.errors.empty()) << owner.errors.front();

    const std::vector<unsigned char> picture = test::DecodePicture(file, 0.5, 320, 240);
    ASSERT_EQ(picture.size(), 230400u);
    EXPECT_TRUE(BrightAboveDark([&](int y) { return picture.data() + y * 960; })) << "recording";
}

TEST(FaceCamera, FaceCoverFindsAndHidesTheFace) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    TestDevices devices;
    devices.video.push_back({"Face Camera",
                             {},
                             TestPicture::Face,
                             (test::SourceDir() / "tests/data/astronaut-320x240.jpg").string()});
    auto registry = test::MakeTestRegistry(devices);
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine->BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine->ConnectPreview(), S_OK);
    ASSERT_EQ(engine->Run(), S_OK);

    // The face is covered by a filled circle of the first face colour, pure red, far larger
    // than the caption (also pure red, at the bottom): counted above the caption.
    auto coveredPixels = [&] {
        int width = 0;
        int height = 0;
        const std::vector<std::uint8_t> shown = surface.lastFrame(&width, &height);
        if (width != 320 || height != 240)
            return 0;
        int red = 0;
        for (std::size_t i = 0; i < 200u * 960u; i += 3)
            red += shown[i] == 0 && shown[i + 1] == 0 && shown[i + 2] == 255;
        return red;
    };
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 3; }, 30s));
    EXPECT_LT(coveredPixels(), 100) << "the photograph itself has no pure red";

    EffectState& effects = ProcessEffectState();
    effects.ToggleFaceDetection();
    const bool covered = owner.WaitUntil([&] { return coveredPixels() > 2000; }, 30s);
    effects.ToggleFaceDetection();
    engine.reset();
    EXPECT_TRUE(covered) << "no face was covered (" << coveredPixels() << " red pixels)";
}

} // namespace
} // namespace kelo
