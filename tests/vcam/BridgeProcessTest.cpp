// kelocam-vcam as the user runs it: a child process writing Y4M to a pipe (or a file), this
// test playing the studio (writing stamped frames into the block as the preview engine does) and
// the viewer (reading the stream). Time bounds are generous: they catch a stalled or runaway
// bridge, not a slow machine.
#include "tools/kelocam-vcam/probe/BridgeProcess.h"

#include "engine/HdCameraFeed.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/contracts/FrameImage.h"
#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"
#include "tools/kelocam-vcam/probe/StudioFeedWriter.h"
#include "tools/kelocam-vcam/probe/Y4mReader.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelo::vcam {
namespace {

using namespace std::chrono_literals;
using probe::BridgeProcess;
using probe::StudioFeedWriter;
using probe::Y4mReader;

class BridgeProcessTest : public ::testing::Test {
protected:
    // Starts a bridge with this test's feed name and a private runtime folder for its lock.
    void StartBridge(BridgeProcess& bridge, std::vector<std::string> args = {"--y4m", "-"}) {
        ASSERT_TRUE(bridge.Start(args, {{"XDG_RUNTIME_DIR", dir_.path().string()}}));
    }

    static void ReadHeader(Y4mReader& reader, int width = 320, int height = 240) {
        const auto header = reader.ReadHeader(10s);
        ASSERT_TRUE(header) << "no Y4M header";
        EXPECT_EQ(header->width, width);
        EXPECT_EQ(header->height, height);
        EXPECT_EQ(header->rateNumerator, 15);
        EXPECT_EQ(header->rateDenominator, 1);
    }

    // Reads frames until one carries a stamp above `after` (and checks it is upright), or the
    // time runs out. Returns the stamp.
    static std::optional<std::uint32_t> WaitForStudioFrame(Y4mReader& reader,
                                                           std::uint32_t after = 0,
                                                           std::chrono::seconds limit = 10s) {
        const int w = reader.header().width;
        const int h = reader.header().height;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto frame = reader.ReadFrame(2s);
            if (!frame)
                return std::nullopt;
            const auto stamp = probe::ReadStamp(frame->i420.data(), w, h, w);
            if (stamp && *stamp > after) {
                EXPECT_TRUE(probe::LooksUpright(frame->i420.data(), w, h, w))
                    << "frame " << *stamp << " is not upright";
                return stamp;
            }
        }
        return std::nullopt;
    }

    bool BlockExists() const {
        struct stat st {};
        const int fd = shm_open(feed_.name().c_str(), O_RDONLY, 0);
        if (fd < 0)
            return false;
        const bool ok = fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) == kFeedBytes;
        close(fd);
        return ok;
    }

    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
};

TEST_F(BridgeProcessTest, CreatesAZeroBlockAndSendsBlackUntilTheStudioWrites) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    for (int i = 0; i < 3; ++i) {
        const auto frame = reader.ReadFrame(5s);
        ASSERT_TRUE(frame);
        EXPECT_TRUE(probe::IsBlackI420(frame->i420.data(), 320, 240)) << "frame " << i;
    }
    EXPECT_TRUE(BlockExists());

    // The studio, started after the bridge, finds the block on its own next frame.
    StudioFeedWriter studio(feed_.name());
    studio.Start();
    EXPECT_TRUE(WaitForStudioFrame(reader));
    EXPECT_EQ(studio.opens(), 1);
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, DeliversUprightFramesAtItsOwnPaceThroughEngineRebuilds) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    StudioFeedWriter studio(feed_.name());
    studio.Start();
    const auto first = WaitForStudioFrame(reader);
    ASSERT_TRUE(first);

    // Every one of 30 frames carries a newer or the same studio frame (never an older one),
    // and the bridge keeps the studio's pace: the studio's counter, written 15 times a second,
    // moves about one step a frame (not a wall-clock window, which a loaded machine breaks).
    std::uint32_t last = *first;
    for (int i = 0; i < 30; ++i) {
        const auto frame = reader.ReadFrame(5s);
        ASSERT_TRUE(frame) << "frame " << i;
        if (const auto stamp = probe::ReadStamp(frame->i420.data(), 320, 240, 320)) {
            EXPECT_GE(*stamp, last);
            last = *stamp;
        }
    }
    EXPECT_GT(last, *first);
    EXPECT_GE(last - *first, 10u) << "the bridge runs far faster than 15 frames a second";
    EXPECT_LE(last - *first, 90u) << "the bridge runs far slower than 15 frames a second";

    // Engine teardown clears the block: black frames; the next engine fills it again and the
    // same bridge carries on.
    studio.Stop();
    EXPECT_TRUE(reader.WaitForBlackFrame(10s, 2s));
    studio.Start();
    EXPECT_TRUE(WaitForStudioFrame(reader, last));
    EXPECT_EQ(studio.opens(), 2);

    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, StopsCleanlyLeavingTheBlockForTheStudioAndTheNextBridge) {
    StudioFeedWriter studio(feed_.name());
    studio.Start(); // an engine already running, retrying the block on every frame
    std::uint32_t seen = 0;
    {
        BridgeProcess bridge;
        StartBridge(bridge);
        Y4mReader reader(bridge.stdoutFd());
        ReadHeader(reader);
        const auto stamp = WaitForStudioFrame(reader);
        ASSERT_TRUE(stamp) << "the running studio's frames never arrived";
        seen = *stamp;
        EXPECT_EQ(bridge.Stop(), 0);
        EXPECT_NE(bridge.Stderr().find("left in place"), std::string::npos) << bridge.Stderr();
    }
    EXPECT_TRUE(BlockExists());

    // SIGINT (Ctrl+C) stops it the same way; the studio was never restarted.
    BridgeProcess again;
    StartBridge(again);
    Y4mReader reader(again.stdoutFd());
    ReadHeader(reader);
    EXPECT_TRUE(WaitForStudioFrame(reader, seen));
    again.Signal(SIGINT);
    EXPECT_EQ(again.Wait(10s), 0);
    EXPECT_TRUE(BlockExists());
    EXPECT_EQ(studio.opens(), 1);
}

TEST_F(BridgeProcessTest, ASecondBridgeIsRefusedAndTheFirstCarriesOn) {
    StudioFeedWriter studio(feed_.name());
    studio.Start();
    BridgeProcess first;
    StartBridge(first);
    Y4mReader reader(first.stdoutFd());
    ReadHeader(reader);
    const auto before = WaitForStudioFrame(reader);
    ASSERT_TRUE(before);

    const auto secondOutput = dir_.path() / "second.y4m";
    BridgeProcess second;
    StartBridge(second, {"--y4m", secondOutput.string()});
    EXPECT_EQ(second.Wait(10s), 1);
    EXPECT_NE(second.Stderr().find("already"), std::string::npos) << second.Stderr();
    EXPECT_FALSE(std::filesystem::exists(secondOutput)) << "the refused bridge opened its output";

    EXPECT_TRUE(WaitForStudioFrame(reader, *before)) << "the first bridge was disturbed";
    EXPECT_TRUE(first.running());
    EXPECT_EQ(first.Stop(), 0);
}

TEST_F(BridgeProcessTest, WritesAScaledY4mFileAndStopsAfterTheFramesAsked) {
    StudioFeedWriter studio(feed_.name());
    studio.Start();
    const auto path = dir_.path() / "out.y4m";
    BridgeProcess bridge;
    // The first frames may be black until the studio finds the block the bridge creates.
    StartBridge(bridge, {"--y4m", path.string(), "--size", "640x480", "--frames", "20"});
    ASSERT_EQ(bridge.Wait(20s), 0) << bridge.Stderr();

    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    Y4mReader reader(fd);
    ReadHeader(reader, 640, 480);
    int frames = 0;
    int stamped = 0;
    while (const auto frame = reader.ReadFrame(1s)) {
        ++frames;
        if (probe::ReadStamp(frame->i420.data(), 640, 480, 640)) {
            ++stamped;
            EXPECT_TRUE(probe::LooksUpright(frame->i420.data(), 640, 480, 640));
        }
    }
    ::close(fd);
    EXPECT_EQ(frames, 20);
    EXPECT_GT(stamped, 10);
}

TEST_F(BridgeProcessTest, AStopIsNotHeldUpByAViewerThatStoppedReading) {
    BridgeProcess bridge;
    StartBridge(bridge);
    // Nobody reads: the pipe fills within a frame or two and the bridge blocks in write().
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(bridge.Stop(5s), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, EndsQuietlyWhenTheViewerGoesAway) {
    BridgeProcess bridge;
    StartBridge(bridge);
    {
        Y4mReader reader(bridge.stdoutFd());
        ReadHeader(reader);
        ASSERT_TRUE(reader.ReadFrame(5s));
    }
    bridge.CloseStdout(); // the viewer goes away
    EXPECT_EQ(bridge.Wait(10s), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, BadCommandLinesAndUnusableDevicesAreReported) {
    BridgeProcess usage;
    StartBridge(usage, {"--y4m", "-", "--size", "321x240"});
    EXPECT_EQ(usage.Wait(10s), 2);
    EXPECT_NE(usage.Stderr().find("even width"), std::string::npos) << usage.Stderr();

    const auto device = dir_.path() / "video42";
    BridgeProcess noDevice;
    StartBridge(noDevice, {"--device", device.string()});
    EXPECT_EQ(noDevice.Wait(20s), 1);
    EXPECT_NE(noDevice.Stderr().find(device.string()), std::string::npos) << noDevice.Stderr();

    // The failed bridge held the lock only while it ran.
    BridgeProcess next;
    StartBridge(next, {"--y4m", "-", "--frames", "1"});
    Y4mReader reader(next.stdoutFd());
    ReadHeader(reader);
    EXPECT_TRUE(reader.ReadFrame(5s));
    EXPECT_EQ(next.Wait(10s), 0) << next.Stderr();
}

// The studio's own feed writer (the engine's VirtualCameraFeed, and with `withHd` its
// HdCameraFeed beside it), 15 stamped frames a second.
class EngineFeed {
public:
    explicit EngineFeed(bool withHd = false) : bytes_(kFeedBytes), withHd_(withHd) {}
    ~EngineFeed() { Stop(); }
    void Start() {
        thread_ = std::thread([this] {
            std::uint32_t counter = 1;
            FrameImage frame;
            frame.width = 320;
            frame.height = 240;
            frame.origin = kFrameOriginBottomLeft;
            frame.widthStep = 960;
            frame.imageSize = static_cast<int>(kFeedBytes);
            frame.imageData = bytes_.data();
            while (!stop_.load()) {
                probe::PaintTestPicture(bytes_.data(), counter++);
                feed_.Write(frame);
                if (withHd_)
                    hd_.Write(frame);
                ++frames_;
                std::this_thread::sleep_for(std::chrono::microseconds(1'000'000 / 15));
            }
        });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        feed_.Close();
        hd_.Close();
    }

    int frames() const { return frames_.load(); }

private:
    VirtualCameraFeed feed_;
    HdCameraFeed hd_;
    std::atomic<int> frames_{0};
    std::vector<std::uint8_t> bytes_;
    bool withHd_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(BridgeProcessTest, TheStudioTakesABlockTheBridgeWasStillCreating) {
    // The bridge creates the block and then sizes it; a studio frame in between finds it empty
    // (made here by hand, as the bridge leaves it for that moment).
    const int fd = shm_open(feed_.name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EngineFeed studio;
    studio.Start();
    while (studio.frames() < 5) // a few frames meet the empty block
        std::this_thread::sleep_for(10ms);

    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    EXPECT_TRUE(WaitForStudioFrame(reader, 0, 20s)) << "the feed stayed dark";
    studio.Stop();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, TheStudioFollowsABlockTheBridgeMadeAgain) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    EngineFeed studio;
    studio.Start();
    const auto before = WaitForStudioFrame(reader, 0, 20s);
    ASSERT_TRUE(before);

    // A clean-up of /dev/shm: the bridge makes the block again, and the running studio must
    // write into the new one.
    ASSERT_EQ(shm_unlink(feed_.name().c_str()), 0);
    EXPECT_TRUE(WaitForStudioFrame(reader, *before + 30, 30s)) << bridge.Stderr();
    studio.Stop();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(BridgeProcessTest, ABlockOthersCouldReadIsRefusedWithOneMessage) {
    // Planted by another local user before anything started, readable by all.
    const int fd = shm_open(feed_.name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
    ASSERT_EQ(fchmod(fd, 0644), 0);
    close(fd);
    BridgeProcess bridge;
    StartBridge(bridge);
    const auto status = bridge.Wait(20s);
    ASSERT_TRUE(status) << "the bridge went on with the block";
    EXPECT_EQ(*status, 1);
    const std::string said = bridge.Stderr();
    EXPECT_NE(said.find(feed_.name()), std::string::npos) << said;
    EXPECT_NE(said.find("another user or others may read or write"), std::string::npos) << said;
}

TEST_F(BridgeProcessTest, ABlockShrunkAndRegrownInALoopCrashesNeitherSideAndFramesResume) {
    BridgeProcess bridge;
    StartBridge(bridge);
    Y4mReader reader(bridge.stdoutFd());
    ReadHeader(reader);
    EngineFeed studio(true); // in this process: a fault in its copy would end the test
    studio.Start();
    auto before = WaitForStudioFrame(reader, 0, 20s);
    ASSERT_TRUE(before);
    // The bridge finds the HD block within about a second and follows it.
    const std::string followingHd = "following " + HdFeedObjectName();
    for (int i = 0; i < 60 && bridge.Stderr().find(followingHd) == std::string::npos; ++i) {
        before = WaitForStudioFrame(reader, *before, 5s);
        ASSERT_TRUE(before);
    }
    ASSERT_NE(bridge.Stderr().find(followingHd), std::string::npos) << bridge.Stderr();

    // Another program of the same user cuts the block to nothing and grows it back, over and
    // over, while both sides copy. Frames read meanwhile are whatever they are.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop.load() && reader.ReadFrame(5s)) {
        }
    });
    // Both blocks: the 320 x 240 one and the HD one, which the bridge follows while it is
    // written (each grown back to its own size).
    const int fd = shm_open(feed_.name().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    const int hdFd = shm_open(HdFeedObjectName().c_str(), O_RDWR, 0);
    ASSERT_GE(hdFd, 0);
    struct stat hd {};
    ASSERT_EQ(fstat(hdFd, &hd), 0);
    const int startFrames = studio.frames();
    while (studio.frames() < startFrames + 45) { // three seconds of the studio's frames
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(ftruncate(hdFd, 0), 0);
        ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
        ASSERT_EQ(ftruncate(hdFd, hd.st_size), 0);
    }
    close(fd);
    close(hdFd);
    stop = true;
    drain.join();

    EXPECT_FALSE(bridge.Wait(0s)) << "the bridge ended: " << bridge.Stderr();
    auto after = WaitForStudioFrame(reader, *before + 1, 30s);
    ASSERT_TRUE(after) << bridge.Stderr();
    // The studio opens the HD block again and the bridge follows it again (its last word
    // about the block), with newer frames.
    const auto followsHd = [&] {
        const std::string said = bridge.Stderr();
        const auto following = said.rfind(followingHd);
        const auto left = said.rfind(HdFeedObjectName() + " is not being written");
        return following != std::string::npos && (left == std::string::npos || left < following);
    };
    for (int i = 0; i < 60 && !followsHd(); ++i) {
        after = WaitForStudioFrame(reader, *after, 5s);
        ASSERT_TRUE(after) << bridge.Stderr();
    }
    EXPECT_TRUE(followsHd()) << bridge.Stderr();
    EXPECT_TRUE(WaitForStudioFrame(reader, *after, 30s)) << bridge.Stderr();
    studio.Stop();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

} // namespace
} // namespace kelo::vcam
