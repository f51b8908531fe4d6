// The virtual camera feed: a real POSIX shared-memory object under a name of this test's own,
// written directly and from FrameCallback inside a real pipeline.
#include "engine/VirtualCameraFeed.h"

#include "effects/EffectFilterControl.h"
#include "effects/ProxyTransFilter.h"
#include "engine/FramePipeline.h"
#include "platform/FeedLayout.h"
#include "platform/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "TestGraph.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace kelo {
namespace {

FrameImage FrameOver(std::vector<std::uint8_t>& bytes, int width, int height) {
    FrameImage frame;
    frame.width = width;
    frame.height = height;
    frame.origin = kFrameOriginBottomLeft;
    frame.imageData = bytes.data();
    frame.widthStep = width * 3;
    frame.imageSize = frame.widthStep * height;
    return frame;
}

bool AllEqual(const std::uint8_t* p, std::size_t n, std::uint8_t value) {
    return std::all_of(p, p + n, [value](std::uint8_t b) { return b == value; });
}

// An object of any size made by "another program".
void CreateObject(const std::string& name, std::size_t bytes, std::uint8_t fill) {
    SharedMemoryView creator;
    ASSERT_EQ(creator.OpenOrCreate(name, bytes), S_OK);
    std::memset(creator.data(), fill, creator.size());
}

TEST(VirtualCameraFeed, AbsentObjectIsRetriedEveryFrameAndWrittenOnceItExists) {
    test::ScopedFeedName name;
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 9);
    FrameImage frame = FrameOver(bytes, 320, 240);
    EXPECT_EQ(feed.Write(frame), 0u);
    EXPECT_EQ(feed.Write(frame), 0u);
    EXPECT_FALSE(feed.isOpen());

    CreateObject(name.name(), kFeedBytes, 0);
    EXPECT_EQ(feed.Write(frame), kFeedBytes);
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 9));
}

TEST(VirtualCameraFeed, CloseLeavesAFrameOfZerosAndTheNextWriteOpensAgain) {
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes + 100, 0xAB);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 5);
    FrameImage frame = FrameOver(bytes, 320, 240);
    ASSERT_EQ(feed.Write(frame), kFeedBytes);
    feed.Close();
    EXPECT_FALSE(feed.isOpen());
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 0));
    // 230400 bytes are cleared, not the creator's extra bytes.
    EXPECT_TRUE(AllEqual(reader.data() + kFeedBytes, 100, 0xAB));
    feed.Close(); // closing twice is harmless

    EXPECT_EQ(feed.Write(frame), kFeedBytes);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 5));
}

TEST(VirtualCameraFeed, SmallerFrameWritesOnlyItsOwnBytes) {
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes, 0x11);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(160 * 120 * 3, 0x22);
    FrameImage frame = FrameOver(bytes, 160, 120);
    EXPECT_EQ(feed.Write(frame), bytes.size());
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), bytes.size(), 0x22));
    EXPECT_TRUE(AllEqual(reader.data() + bytes.size(), kFeedBytes - bytes.size(), 0x11));
}

TEST(VirtualCameraFeed, NothingIsWrittenPastTheObjectsRealSize) {
    test::ScopedFeedName name;
    // A larger frame than a feed frame is cut to the object.
    CreateObject(name.name(), kFeedBytes, 0);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> large(640 * 480 * 3, 0x33);
    FrameImage frame = FrameOver(large, 640, 480);
    EXPECT_EQ(feed.Write(frame), kFeedBytes);
    feed.Close();

    // An object made smaller than a frame by another program: writes and the clear stop at its
    // end (the writes would fault past the mapped pages otherwise).
    test::ScopedFeedName smallName;
    CreateObject(smallName.name(), 1000, 0x44);
    VirtualCameraFeed smallFeed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 0x55);
    FrameImage feedFrame = FrameOver(bytes, 320, 240);
    EXPECT_EQ(smallFeed.Write(feedFrame), 1000u);
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(smallName.name()), S_OK);
    EXPECT_EQ(reader.size(), 1000u);
    EXPECT_TRUE(AllEqual(reader.data(), 1000, 0x55));
    smallFeed.Close();
    EXPECT_TRUE(AllEqual(reader.data(), 1000, 0));
}

TEST(VirtualCameraFeed, ObjectThatCannotBeMappedIsNotWrittenAndNotReopenedUntilClose) {
    test::ScopedFeedName name;
    // An empty object opens but cannot be mapped.
    int fd = shm_open(name.name().c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 0x66);
    FrameImage frame = FrameOver(bytes, 320, 240);
    EXPECT_EQ(feed.Write(frame), 0u);
    EXPECT_TRUE(feed.isOpen());
    // Grown meanwhile: still not written until the feed is closed and opened again.
    CreateObject(name.name(), kFeedBytes, 0);
    EXPECT_EQ(feed.Write(frame), 0u);
    feed.Close();
    EXPECT_EQ(feed.Write(frame), kFeedBytes);
}

// FrameCallback registered with the ProxyTrans filter in a running pipeline: the feed object
// appears while frames flow and is written from then on without any restart; closing after the
// pipeline stopped leaves zeros.
TEST(VirtualCameraFeed, FrameCallbackInARunningPipelineStartsWritingWhenTheObjectAppears) {
    test::ScopedFeedName name;
    auto proxy = ProxyTransFilter::Create();
    ASSERT_TRUE(proxy);
    ASSERT_EQ(proxy->RegisterCallback(FrameCallback, 0), S_OK);
    {
        test::TestGraph graph("pattern=ball num-buffers=60", 320, 240, {proxy->element()});
        ASSERT_TRUE(graph.Play()) << graph.Error();
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(graph.Pull()) << graph.Error();
        EXPECT_FALSE(ProcessVirtualCameraFeed().isOpen());

        CreateObject(name.name(), kFeedBytes, 0);
        std::optional<test::TestFrame> last;
        while (auto frame = graph.Pull())
            last = std::move(frame);
        ASSERT_TRUE(last);
        EXPECT_TRUE(ProcessVirtualCameraFeed().isOpen());
        // The last frame that passed the filter is the one the feed holds, caption included.
        SharedMemoryView reader;
        ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
        ASSERT_EQ(last->bytes.size(), kFeedBytes);
        EXPECT_EQ(std::memcmp(reader.data(), last->bytes.data(), kFeedBytes), 0);
        EXPECT_FALSE(AllEqual(reader.data(), kFeedBytes, 0));
    }
    // The graph reached NULL (destroyed): the engine's teardown closes the feed.
    CloseVirtualCameraFeed();
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 0));
}

} // namespace
} // namespace kelo
