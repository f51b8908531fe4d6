#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/BridgeLock.h"
#include "tools/kelocam-vcam/BridgeOptions.h"
#include "tools/kelocam-vcam/FeedSource.h"
#include "tools/kelocam-vcam/HdFeedSource.h"
#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/HdFeedBlock.h"
#include "tools/kelocam-vcam/OutputChoice.h"
#include "tools/kelocam-vcam/PipeWireOutput.h"

namespace kelo::vcam {
namespace {

ParsedOptions Parse(std::vector<std::string> args) {
    return ParseBridgeOptions(args);
}

TEST(BridgeOptions, DefaultsAndBothSpellingsOfValues) {
    const auto parsed = Parse({"--device", "/dev/video10", "--y4m=-"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->devicePath, "/dev/video10");
    EXPECT_EQ(parsed.options->y4mPath, "-");
    EXPECT_EQ(parsed.options->size, (FrameSize{320, 240}));
    EXPECT_EQ(parsed.options->deviceFormat, PixelFormat::YUY2);
    EXPECT_EQ(parsed.options->frameLimit, 0);

    const auto other =
        Parse({"--y4m", "out.y4m", "--size=640x480", "--format", "i420", "--frames", "30"});
    ASSERT_TRUE(other.options) << other.error;
    EXPECT_EQ(other.options->size, (FrameSize{640, 480}));
    EXPECT_EQ(other.options->deviceFormat, PixelFormat::I420);
    EXPECT_EQ(other.options->frameLimit, 30);
}

TEST(BridgeOptions, NoOutputNamedLeavesTheChoiceToTheBridge) {
    const auto none = Parse({"--size", "640x480"});
    ASSERT_TRUE(none.options) << none.error;
    EXPECT_TRUE(none.options->chooseOutput());
    const auto pipewire = Parse({"--pipewire", "--format=i420"});
    ASSERT_TRUE(pipewire.options) << pipewire.error;
    EXPECT_TRUE(pipewire.options->pipewire);
    EXPECT_FALSE(pipewire.options->chooseOutput());
    EXPECT_FALSE(Parse({"--pipewire=yes"}).options); // a switch, not an option with a value
}

TEST(BridgeOptions, RefusesWhatCannotBeDelivered) {
    // Unknown options, missing values.
    EXPECT_FALSE(Parse({"--y4m", "-", "--colour"}).options);
    EXPECT_FALSE(Parse({"--y4m"}).options);
    EXPECT_FALSE(Parse({"--y4m", "-", "--format", "rgb"}).options);
    EXPECT_FALSE(Parse({"--y4m", "-", "--frames", "0"}).options);
    EXPECT_TRUE(Parse({"--help"}).options->showHelp);

    // Sizes: an even width (a pixel pair shares its chroma), sides 2..4096, digits only.
    EXPECT_TRUE(ParseFrameSize("2x2"));
    EXPECT_TRUE(ParseFrameSize("4096x4096"));
    EXPECT_TRUE(ParseFrameSize("640X479"));
    for (const char* bad : {"321x240", "0x240", "640x0", "4098x480", "640x4097", "640", "x480",
                            "640x", "-640x480", "640x-2", "64 0x480", "640x480x2", "abcxdef"})
        EXPECT_FALSE(ParseFrameSize(bad)) << bad;
}

class BridgePartsTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1); }
    void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }

    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
};

TEST_F(BridgePartsTest, OneLockPerFeedObjectReleasedWhenItsHolderGoes) {
    EXPECT_EQ(BridgeLock::LockPathFor("/KeloVCam"),
              (dir_.path() / "kelocam-vcam-KeloVCam.lock").string());

    BridgeLock first;
    ASSERT_EQ(first.Acquire(feed_.name()), BridgeLock::Result::Acquired) << first.error();
    {
        BridgeLock second;
        EXPECT_EQ(second.Acquire(feed_.name()), BridgeLock::Result::HeldByOther);
        BridgeLock otherFeed; // another block is another bridge's business
        EXPECT_EQ(otherFeed.Acquire(feed_.name() + "-other"), BridgeLock::Result::Acquired);
    }
    first.Release();
    BridgeLock third;
    EXPECT_EQ(third.Acquire(feed_.name()), BridgeLock::Result::Acquired);
}

TEST_F(BridgePartsTest, ALockPathPlantedAsALinkIsRefusedAndItsTargetLeftAlone) {
    const auto target = dir_.path() / "precious.txt";
    std::ofstream(target) << "keep me";
    std::filesystem::create_symlink(target, BridgeLock::LockPathFor(feed_.name()));
    BridgeLock lock;
    EXPECT_EQ(lock.Acquire(feed_.name()), BridgeLock::Result::Failed);
    EXPECT_NE(lock.error().find(lock.path()), std::string::npos) << lock.error();
    std::ifstream in(target);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(BridgePartsTest, FeedSourceKeepsAnExistingBlockAndGrowsIt) {
    // Left by someone else, smaller than a frame, with bytes in it.
    {
        const int fd = shm_open(feed_.name().c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 1000), 0);
        ASSERT_EQ(pwrite(fd, "\x07\x07\x07", 3, 0), 3);
        close(fd);
    }
    FeedSource source;
    ASSERT_EQ(source.Open(feed_.name()), S_OK);
    const std::uint8_t* frame = source.Snapshot();
    EXPECT_EQ(frame[0], 7);
    EXPECT_EQ(frame[999], 0);
    EXPECT_EQ(frame[kFeedBytes - 1], 0);

    SharedMemoryView studio;
    ASSERT_EQ(studio.OpenExisting(feed_.name()), S_OK);
    EXPECT_EQ(studio.size(), kFeedBytes);
    studio.data()[kFeedBytes - 1] = 9;
    EXPECT_EQ(source.Snapshot()[kFeedBytes - 1], 9);
}

TEST_F(BridgePartsTest, FeedSourceMendsABlockThatWasShrunkOrRemoved) {
    FeedSource source;
    ASSERT_EQ(source.Open(feed_.name()), S_OK);

    // Shrunk under the bridge: reading the old length would fault; it is grown again.
    {
        const int fd = shm_open(feed_.name().c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 100), 0);
        close(fd);
    }
    source.Snapshot();
    EXPECT_NE(source.notice().find("smaller"), std::string::npos) << source.notice();
    struct stat st {};
    {
        const int fd = shm_open(feed_.name().c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fstat(fd, &st), 0);
        close(fd);
    }
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), kFeedBytes);
    source.ClearNotice();

    // Removed: within about a second the name exists again, and the studio finds it.
    ASSERT_EQ(shm_unlink(feed_.name().c_str()), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (source.notice().find("removed") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        source.Snapshot();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(source.notice().find("removed"), std::string::npos) << source.notice();
    SharedMemoryView studio;
    ASSERT_EQ(studio.OpenExisting(feed_.name()), S_OK);
    std::memset(studio.data(), 0x42, kFeedBytes);
    EXPECT_EQ(source.Snapshot()[12345], 0x42);
}

TEST_F(BridgePartsTest, FindsTheLoopbackDeviceByItsLabel) {
    const auto classFolder = dir_.path() / "video4linux";
    auto addDevice = [&](const std::string& node, const std::string& label) {
        std::filesystem::create_directories(classFolder / node);
        std::ofstream(classFolder / node / "name") << label << "\n";
    };
    EXPECT_EQ(FindLoopbackDevice(classFolder), ""); // no such folder: no device
    addDevice("video0", "Integrated Camera");
    addDevice("video2", "Kelo Virtual Camera Two");
    EXPECT_EQ(FindLoopbackDevice(classFolder), "");
    addDevice("video12", "Kelo Virtual Camera");
    addDevice("video10", "Kelo Virtual Camera");
    addDevice("vbi10", "Kelo Virtual Camera");
    EXPECT_EQ(FindLoopbackDevice(classFolder), "/dev/video10");
}

TEST_F(BridgePartsTest, ChoosesPipeWireFirstThenTheLoopbackDeviceThenExplains) {
    const auto pipewire = ChooseOutput("/run/user/1000/pipewire-0", "/dev/video10");
    EXPECT_EQ(pipewire.kind, OutputChoice::Kind::PipeWire);
    EXPECT_NE(pipewire.message.find("/run/user/1000/pipewire-0"), std::string::npos);
    const auto loopback = ChooseOutput("", "/dev/video10");
    EXPECT_EQ(loopback.kind, OutputChoice::Kind::Loopback);
    EXPECT_EQ(loopback.devicePath, "/dev/video10");
    EXPECT_EQ(ChooseOutput("", "").kind, OutputChoice::Kind::None);
}

TEST_F(BridgePartsTest, FindsThePipeWireSocketAsPipeWireClientsDo) {
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");
    EXPECT_EQ(PipeWireSocketPath(), (dir_.path() / "pipewire-0").string()); // XDG_RUNTIME_DIR
    setenv("PIPEWIRE_RUNTIME_DIR", "/run/pw", 1);
    setenv("PIPEWIRE_REMOTE", "pipewire-1", 1);
    EXPECT_EQ(PipeWireSocketPath(), "/run/pw/pipewire-1");
    setenv("PIPEWIRE_REMOTE", "/elsewhere/socket", 1);
    EXPECT_EQ(PipeWireSocketPath(), "/elsewhere/socket");
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");

    // A socket file left by a daemon that died does not answer.
    EXPECT_FALSE(PipeWireDaemonAnswers());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, PipeWireSocketPath().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_FALSE(PipeWireDaemonAnswers());
    ASSERT_EQ(listen(fd, 1), 0);
    EXPECT_TRUE(PipeWireDaemonAnswers());
    close(fd);
}

} // namespace
} // namespace kelo::vcam

namespace kelo::vcam {
namespace {

// The bridge's side of the HD block: found once the studio made it, followed while frames come,
// and refused (said once) when it is open to others or of another user.
TEST(HdFeedSource, FollowsTheStudiosBlockAndRefusesOneThatIsNotPrivate) {
    test::ScopedFeedName feed;
    const std::string name = HdFeedObjectName();
    HdFeedSource source(name);
    std::int64_t now = HdFeedClockNanos();
    EXPECT_FALSE(source.HasNewFrame(now)); // not made yet
    EXPECT_FALSE(source.Live(now));

    SharedMemoryView studioView;
    ASSERT_EQ(studioView.OpenOrCreate(name, kHdFeedHeaderBytes), S_OK);
    HdFeedPublisher studio;
    ASSERT_EQ(studio.Attach(&studioView), S_OK);
    std::vector<std::uint8_t> bgr(64 * 48 * 3, 200);
    ASSERT_EQ(studio.Publish({bgr.data(), 64 * 3, 64, 48}, 30, 1, HdFeedClockNanos()), S_OK);
    now += 1'100'000'000; // the source looks for a missing block about once a second
    source.HasNewFrame(now);
    EXPECT_TRUE(source.isOpen());
    const HdFeedFrame* frame = source.Take(); // the frame found when it opened
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 64);
    EXPECT_FALSE(source.HasNewFrame(now));
    // The studio grows the block for a larger frame: the source maps it again.
    std::vector<std::uint8_t> large(1280 * 720 * 3, 90);
    ASSERT_EQ(studio.Publish({large.data(), 1280 * 3, 1280, 720}, 30, 1, HdFeedClockNanos()), S_OK);
    EXPECT_TRUE(source.HasNewFrame(now));
    EXPECT_TRUE(source.Live(now));
    frame = source.Take();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 1280);
    EXPECT_EQ(frame->pixels[frame->rowStride * 719 + 3 * 1279], 90);
    // No new frame for a second: the bridge goes back to the 320 x 240 block.
    EXPECT_FALSE(source.Live(now + HdFeedSource::kLiveNanos + 1));

    const int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    std::vector<std::pair<mode_t, uid_t>> cases = {{0644, geteuid()}, {0660, geteuid()}};
    if (geteuid() == 0)
        cases.push_back({0600, 65534});
    for (const auto& [mode, owner] : cases) {
        ASSERT_EQ(fchmod(fd, mode), 0);
        ASSERT_EQ(fchown(fd, owner, static_cast<gid_t>(-1)), 0);
        HdFeedSource other(name);
        const std::int64_t t = HdFeedClockNanos();
        EXPECT_FALSE(other.HasNewFrame(t)) << std::oct << mode << " uid " << owner;
        EXPECT_FALSE(other.isOpen());
        EXPECT_NE(other.notice().find(name), std::string::npos) << other.notice();
        other.ClearNotice();
        EXPECT_FALSE(other.HasNewFrame(t + 2'000'000'000));
        EXPECT_TRUE(other.notice().empty()) << "said once: " << other.notice();
    }
    ASSERT_EQ(fchown(fd, geteuid(), static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(fchmod(fd, 0600), 0);
    close(fd);
}

// An HD frame converted at its own size and scaled down: upright either way.
TEST(FeedConverter, AnHdFrameIsConvertedAtItsOwnSizeOrScaledUpright) {
    const int width = 1280;
    const int height = 720;
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3, 0);
    for (int y = 0; y < height / 2; ++y) // top half white, bottom half black
        std::memset(bgr.data() + static_cast<std::size_t>(y) * width * 3, 255, width * 3);
    for (const FrameSize size : {FrameSize{1280, 720}, FrameSize{640, 360}}) {
        FeedConverter converter(PixelFormat::I420, size);
        std::vector<std::uint8_t> out(converter.outputBytes());
        converter.Convert(BgrPicture{bgr.data(), width * 3, width, height}, out.data());
        EXPECT_EQ(out[0], 235) << size.width; // white luma, top left
        EXPECT_EQ(out[static_cast<std::size_t>(size.width) * (size.height - 1)], 16) << size.width;
    }
}

} // namespace
} // namespace kelo::vcam
