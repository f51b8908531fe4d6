// The preview chain running on the test pattern: frames reach the surface upright, the feed holds
// the processed frame bottom-up, photos are written, runtime errors stop the graph and reach the
// owner once.
#include "engine/CaptureEngine.h"
#include "EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace kelo {
namespace {

using namespace std::chrono_literals;
using test::Devices;
using test::MakeTestRegistry;
using test::RecordingOwner;
using test::RecordingSurface;

bool IsCaptionRed(const std::uint8_t* pixel) {
    return pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 255;
}

class CaptureEnginePreview : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
        registry = MakeTestRegistry(Devices({"Test Camera"}, {"Test Microphone"}));
        engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, *registry);
        ASSERT_EQ(engine->BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kVideoAndAudio);
        ASSERT_EQ(engine->ConnectPreview(), S_OK);
        ASSERT_EQ(engine->Run(), S_OK);
    }

    bool FeedHasFrame() const { return test::FeedHasPicture(feedView); }

    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    RecordingOwner owner;
    RecordingSurface surface{324, 244};
    std::unique_ptr<ClassRegistry> registry;
    std::unique_ptr<CaptureEngine> engine;
};

TEST_F(CaptureEnginePreview, FramesReachTheSurfaceUprightAndTheFeedBottomUpWithTheCaption) {
    ASSERT_TRUE(
        owner.WaitUntil([&] { return surface.framesPresented() >= 3 && FeedHasFrame(); }, 10s));
    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> upright = surface.lastFrame(&width, &height);
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 240);

    // The caption is drawn near the start of the feed's memory (the bottom of the picture) and
    // shows at the bottom of the upright frame: row r of the feed is row 239 - r on screen.
    const std::uint8_t* block = feedView.data();
    int redInFeed = 0;
    int mismatches = 0;
    for (int r = 0; r < 60; ++r) {
        for (int x = 0; x < 320; ++x) {
            const bool feedRed = IsCaptionRed(block + r * kFeedRowBytes + x * 3);
            const bool screenRed = IsCaptionRed(upright.data() + (239 - r) * kFeedRowBytes + x * 3);
            redInFeed += feedRed;
            mismatches += feedRed != screenRed;
        }
    }
    EXPECT_GT(redInFeed, 50);
    EXPECT_EQ(mismatches, 0);
    int redAtTheTop = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 320; ++x)
            redAtTheTop += IsCaptionRed(upright.data() + y * kFeedRowBytes + x * 3);
    }
    EXPECT_EQ(redAtTheTop, 0);
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(CaptureEnginePreview, ARequestedSnapshotWritesOneJpeg) {
    const std::filesystem::path photos = dir.path() / "photos";
    std::filesystem::create_directory(photos);
    engine->RequestSnapshot(photos.string() + "/", 320, 240);
    ASSERT_TRUE(owner.WaitUntil([&] { return !owner.snapshots.empty(); }, 10s));
    ASSERT_TRUE(owner.snapshots[0].ok()) << owner.snapshots[0].errorText;

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(photos))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".jpg");
    EXPECT_EQ(files[0], std::filesystem::path(owner.snapshots[0].path));
    std::ifstream in(files[0], std::ios::binary);
    unsigned char soi[2] = {};
    in.read(reinterpret_cast<char*>(soi), 2);
    EXPECT_EQ(soi[0], 0xFF);
    EXPECT_EQ(soi[1], 0xD8);
    // One request, one photo.
    owner.WaitUntil([] { return false; }, 300ms);
    EXPECT_EQ(owner.snapshots.size(), 1u);
}

TEST_F(CaptureEnginePreview, TeardownLeavesTheFeedAllZeros) {
    ASSERT_TRUE(owner.WaitUntil([&] { return FeedHasFrame(); }, 10s));
    engine.reset();
    EXPECT_FALSE(FeedHasFrame());
}

TEST_F(CaptureEnginePreview, ARuntimeErrorStopsTheGraphAndReachesTheOwnerOnce) {
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 1; }, 10s));
    // What a device that is unplugged reports.
    GstElement* device = engine->videoSourceFilter()->element();
    for (int i = 0; i < 2; ++i) {
        GErrorPtr error(
            g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Device unplugged"));
        gst_element_post_message(device,
                                 gst_message_new_error(GST_OBJECT(device), error.get(), "test"));
    }
    ASSERT_TRUE(owner.WaitUntil([&] { return !owner.errors.empty(); }, 10s));
    EXPECT_EQ(owner.errors[0], "video capture: Device unplugged");

    auto control = std::dynamic_pointer_cast<IMediaControl>(engine->filterGraph());
    FilterState state = FilterState::Running;
    ASSERT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);
    const int frames = surface.framesPresented();
    owner.WaitUntil([] { return false; }, 300ms);
    EXPECT_EQ(surface.framesPresented(), frames);
    EXPECT_EQ(owner.errors.size(), 1u);
}

TEST_F(CaptureEnginePreview, AnErrorPostedAfterTheEngineIsGoneIsDropped) {
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 1; }, 10s));
    GstElement* device = engine->videoSourceFilter()->element();
    GErrorPtr error(
        g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Device unplugged"));
    gst_element_post_message(device,
                             gst_message_new_error(GST_OBJECT(device), error.get(), "test"));
    // The task is queued on the owner's thread, but the engine goes first.
    engine.reset();
    owner.RunPendingTasks();
    EXPECT_TRUE(owner.errors.empty());
}

} // namespace
} // namespace kelo
