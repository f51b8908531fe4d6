// The studio and the bridge together, as a user runs them: `kelocam --headless --test-devices`
// (the preview engine on a moving test pattern, writing every processed frame into the block)
// and kelocam-vcam writing Y4M to a pipe that this test reads as a viewer would.
#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/probe/BridgeProcess.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"
#include "tools/kelocam-vcam/probe/Y4mReader.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <thread>

namespace kelo::vcam {
namespace {

using namespace std::chrono_literals;
using probe::BridgeProcess;
using probe::Y4mReader;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

class StudioEndToEndTest : public ::testing::Test {
protected:
    BridgeProcess::Environment Environment() const {
        return {{"XDG_RUNTIME_DIR", dir_.path().string()}};
    }
    void StartBridge(BridgeProcess& bridge) {
        ASSERT_TRUE(bridge.Start({"--y4m", "-"}, Environment()));
    }
    // The studio without its window, in this test's folder (its own data.ini).
    void StartStudio(BridgeProcess& studio) {
        ASSERT_TRUE(studio.StartProgram(KELOCAM_STUDIO_PATH, {"--headless", "--test-devices"},
                                        Environment(), dir_.path()));
    }

    static void ReadHeader(Y4mReader& reader) {
        const auto header = reader.ReadHeader(10s);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->width, kWidth);
        EXPECT_EQ(header->height, kHeight);
        EXPECT_EQ(header->rateNumerator, 15);
        EXPECT_EQ(header->rateDenominator, 1);
    }

    // Reads until a frame that is not black arrives; true when it shows the caption upright.
    static std::optional<bool> NextStudioFrameIsUpright(Y4mReader& reader,
                                                        std::chrono::seconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto frame = reader.ReadFrame(5s);
            if (!frame)
                return std::nullopt;
            if (!probe::IsBlackI420(frame->i420.data(), kWidth, kHeight))
                return probe::CaptionStandsAtTheBottomLeft(frame->i420.data());
        }
        return std::nullopt;
    }

    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
};

TEST_F(StudioEndToEndTest, ThePreviewArrivesUprightAndTheBridgeOutlivesEngineRebuilds) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);

    // Before the engine starts: black.
    for (int i = 0; i < 3; ++i) {
        const auto frame = reader.ReadFrame(5s);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(probe::IsBlackI420(frame->i420.data(), kWidth, kHeight));
    }

    {
        BridgeProcess studio;
        StartStudio(studio);
        EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << studio.Stderr();

        // At 15 frames a second, whatever pace the engine runs at.
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(reader.ReadFrame(5s));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GT(seconds, 1.2);
        EXPECT_LT(seconds, 4.0);

        // The engine is destroyed (the studio stops): its teardown clears the block.
        EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
    }
    EXPECT_TRUE(reader.WaitForBlackFrame(10s, 5s));

    // A new engine: the picture returns through the same bridge.
    BridgeProcess studio;
    StartStudio(studio);
    EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << studio.Stderr();
    EXPECT_TRUE(bridge.running());
    EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(StudioEndToEndTest, BridgesComeAndGoWhileTheEngineRuns) {
    // The engine runs first; it finds no block and retries on every frame.
    BridgeProcess studio;
    StartStudio(studio);
    std::this_thread::sleep_for(1s);

    {
        BridgeProcess bridge;
        StartBridge(bridge);
        Y4mReader reader(bridge.stdoutFd());
        ReadHeader(reader);
        EXPECT_EQ(NextStudioFrameIsUpright(reader), true);

        // A second bridge is refused and the first carries on.
        BridgeProcess second;
        StartBridge(second);
        EXPECT_EQ(second.Wait(10s), 1);
        EXPECT_EQ(NextStudioFrameIsUpright(reader), true);
        EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
    }

    // Stopped and started again: the engine's frames, with no restart of the engine.
    BridgeProcess again;
    StartBridge(again);
    Y4mReader reader(again.stdoutFd());
    ReadHeader(reader);
    EXPECT_EQ(NextStudioFrameIsUpright(reader), true);
    EXPECT_TRUE(studio.running()) << studio.Stderr();
    EXPECT_EQ(again.Stop(), 0);
    EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
}

// The studio at 640 x 480 (a size the test camera offers): the HD block carries the frame at
// that size, the 320 x 240 block the same picture scaled down, and a bridge started beside it
// delivers 640 x 480.
TEST_F(StudioEndToEndTest, AStudioAt640x480FillsTheHdBlockAtItsSizeAndTheBridgeFollows) {
    BridgeProcess studio;
    ASSERT_TRUE(studio.StartProgram(KELOCAM_STUDIO_PATH,
                                    {"--headless", "--test-devices", "--video-size", "640x480"},
                                    Environment(), dir_.path()));
    SharedMemoryView hd;
    HdFeedFrame frame;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool taken = false;
    while (!taken && std::chrono::steady_clock::now() < deadline && studio.running()) {
        if (hd.isMapped() || SUCCEEDED(hd.OpenExisting(HdFeedObjectName(), kHdFeedHeaderBytes))) {
            HdFeedReader reader;
            auto result = reader.Read(hd, 0, &frame);
            if (result == HdFeedReader::Result::Remap && SUCCEEDED(hd.Grow(0)))
                result = reader.Read(hd, 0, &frame);
            taken = result == HdFeedReader::Result::Frame;
        }
        if (!taken)
            std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(taken) << studio.Stderr();
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    EXPECT_EQ(frame.fpsNumerator, 15);

    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    const auto header = reader.ReadHeader(10s);
    ASSERT_TRUE(header) << bridge.Stderr();
    EXPECT_EQ(header->width, 640);
    EXPECT_EQ(header->height, 480);
    bool picture = false;
    for (int i = 0; i < 30 && !picture; ++i) {
        const auto out = reader.ReadFrame(5s);
        ASSERT_TRUE(out) << bridge.Stderr();
        picture = !probe::IsBlackI420(out->i420.data(), 640, 480);
    }
    EXPECT_TRUE(picture) << bridge.Stderr();

    // The 320 x 240 block (made by the bridge, written by the studio) holds the picture too:
    // its overall colour is the HD frame's, averaged down.
    SharedMemoryView small;
    ASSERT_EQ(small.OpenExisting(FeedObjectName(), kFeedBytes), S_OK);
    // The studio finds the block the bridge made at its next frames.
    const auto written = std::chrono::steady_clock::now() + 20s;
    while (std::all_of(small.data(), small.data() + kFeedBytes,
                       [](std::uint8_t b) { return b == 0; }) &&
           std::chrono::steady_clock::now() < written)
        std::this_thread::sleep_for(50ms);
    double smallSum[3] = {};
    double hdSum[3] = {};
    for (std::size_t i = 0; i < kFeedBytes; ++i)
        smallSum[i % 3] += small.data()[i];
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width * 3; ++x)
            hdSum[x % 3] += frame.pixels[frame.rowStride * y + x];
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(smallSum[c] / (320 * 240), hdSum[c] / (640 * 480), 12.0) << "channel " << c;
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
    EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
}

TEST_F(StudioEndToEndTest, AKilledStudioLeavesNoFrozenPictureTheBridgeTurnsBlack) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    BridgeProcess studio;
    StartStudio(studio);
    EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << studio.Stderr();

    // Killed: nothing clears the block, which keeps the last frame. The bridge turns black two
    // seconds later (the deadline here is generous; without the mend it never does).
    studio.Signal(SIGKILL);
    EXPECT_TRUE(studio.Wait(10s));
    EXPECT_TRUE(reader.WaitForBlackFrame(10s, 5s)) << bridge.Stderr();
    // And stays black; a new studio brings the picture back.
    for (int i = 0; i < 5; ++i) {
        const auto frame = reader.ReadFrame(5s);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(probe::IsBlackI420(frame->i420.data(), kWidth, kHeight)) << i;
    }
    BridgeProcess again;
    StartStudio(again);
    EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << again.Stderr();
    EXPECT_EQ(again.Stop(), 0) << again.Stderr();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

} // namespace
} // namespace kelo::vcam
