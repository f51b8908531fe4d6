// The capture mode: what the test cameras give for a requested mode (the accessor the window
// and the headless studio show), and an HD preview end to end: frames of that size reach the
// surface, the feed gets its 320 x 240 block, and a photo of the frame's own size is written.
#include "engine/CaptureEngine.h"
#include "EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace kelo {
namespace {

using namespace std::chrono_literals;

struct ModeCase {
    const char* name;
    TestDevice camera;
    VideoMode requested;
    VideoMode negotiated;
};

const ModeCase kModes[] = {
    {"TestCameraAt720p30", {"Test Camera", {}}, {1280, 720, 30}, {1280, 720, 30}},
    {"TestCameraAtTheDefault", {"Test Camera", {}}, {320, 240, 15}, {320, 240, 15}},
    {"TestCameraHasNo1366x768", {"Test Camera", {}}, {1366, 768, 30}, {640, 480, 30}},
    {"JpegCameraAt720p30",
     {"USB Camera", {}, TestPicture::JpegPattern},
     {1280, 720, 30},
     {1280, 720, 30}},
    {"JpegCameraAsked1080pGives720p",
     {"USB Camera", {}, TestPicture::JpegPattern},
     {1920, 1080, 30},
     {1280, 720, 30}},
    // Its raw frames where they reach the rate (the source switches from JPEG to raw).
    {"JpegCameraRawAt10",
     {"USB Camera", {}, TestPicture::JpegPattern},
     {640, 480, 10},
     {640, 480, 10}},
    {"VgaCameraKeepsItsOwnMode",
     {"Old Camera", kTestVgaCameraModes},
     {1280, 720, 30},
     {640, 480, 30}},
};

class CaptureEngineMode : public testing::TestWithParam<ModeCase> {
protected:
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
};

TEST_P(CaptureEngineMode, TheCameraIsSetToTheNegotiatedModeAndFramesHaveItsSize) {
    const ModeCase& c = GetParam();
    TestDevices devices;
    devices.video.push_back(c.camera);
    auto registry = test::MakeTestRegistry(devices);
    CaptureEngine engine(c.requested.width, c.requested.height, c.requested.framesPerSecond, &owner,
                         *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    const VideoMode got = engine.negotiatedMode();
    EXPECT_EQ(got, c.negotiated) << got.width << "x" << got.height << "@" << got.framesPerSecond;
    ASSERT_EQ(engine.ConnectPreview(), S_OK);
    ASSERT_EQ(engine.Run(), S_OK);
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 2; }, 20s));
    int width = 0;
    int height = 0;
    (void)surface.lastFrame(&width, &height);
    EXPECT_EQ(width, c.negotiated.width);
    EXPECT_EQ(height, c.negotiated.height);
    EXPECT_TRUE(owner.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Cameras, CaptureEngineMode, testing::ValuesIn(kModes),
                         [](const testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(CaptureEngineHd, TheFeedGetsItsBlockAndAPhotoHasTheFramesOwnSize) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    auto registry = test::MakeTestRegistry(test::Devices({"Test Camera"}, {}));
    CaptureEngine engine(1280, 720, 30, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine.ConnectPreview(), S_OK);
    ASSERT_EQ(engine.Run(), S_OK);
    const auto feedHasFrame = [&] { return test::FeedHasPicture(feedView); };
    ASSERT_TRUE(owner.WaitUntil(feedHasFrame, 20s));

    const std::filesystem::path photos = dir.path() / "photos";
    std::filesystem::create_directories(photos);
    engine.RequestSnapshot(photos.string() + "/", 0, 0); // the frame as captured
    ASSERT_TRUE(owner.WaitUntil([&] { return !owner.snapshots.empty(); }, 20s));
    ASSERT_TRUE(owner.snapshots.front().ok()) << owner.snapshots.front().errorText;
    // The JPEG's frame header: its height and width follow the 0xFFC0 marker.
    std::ifstream in(owner.snapshots.front().path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[sof + i]); };
    EXPECT_EQ(at(5) * 256 + at(6), 720);
    EXPECT_EQ(at(7) * 256 + at(8), 1280);
}

} // namespace
} // namespace kelo
