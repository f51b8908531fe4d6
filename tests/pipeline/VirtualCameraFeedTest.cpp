// The virtual camera feed: a real POSIX shared-memory object under a name of this test's own,
// written directly and from FrameCallback inside a real pipeline.
#include "engine/VirtualCameraFeed.h"

#include "effects/filters/EffectFilterControl.h"
#include "effects/filters/ProxyTransFilter.h"
#include "engine/FramePipeline.h"
#include "engine/HdCameraFeed.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "TestGraph.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelo {
namespace {

bool AllEqual(const std::uint8_t* p, std::size_t n, std::uint8_t value) {
    return std::all_of(p, p + n, [value](std::uint8_t b) { return b == value; });
}

// An object of any size made by "another program".
void CreateObject(const std::string& name, std::size_t bytes, std::uint8_t fill) {
    SharedMemoryView creator;
    ASSERT_EQ(creator.OpenOrCreate(name, bytes), S_OK);
    std::memset(creator.data(), fill, creator.size());
}

// Writes the frame until something is written, at most `frames` times; returns how many
// writes it took (frames + 1 when nothing was written).
int WritesUntilDelivered(VirtualCameraFeed& feed, const FrameImage& frame, int frames) {
    for (int i = 1; i <= frames; ++i) {
        if (feed.Write(frame) > 0)
            return i;
    }
    return frames + 1;
}

TEST(VirtualCameraFeed, AbsentObjectIsLookedForAgainWithinAFewFramesAndWrittenOnceItExists) {
    test::ScopedFeedName name;
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 9);
    FrameImage frame = test::BottomUpFrame(bytes, 320, 240);
    EXPECT_EQ(WritesUntilDelivered(feed, frame, 2 * VirtualCameraFeed::kMissingLookFrames),
              2 * VirtualCameraFeed::kMissingLookFrames + 1);
    EXPECT_FALSE(feed.isOpen());

    CreateObject(name.name(), kFeedBytes, 0);
    EXPECT_LE(WritesUntilDelivered(feed, frame, VirtualCameraFeed::kMissingLookFrames),
              VirtualCameraFeed::kMissingLookFrames);
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 9));
}

TEST(VirtualCameraFeed, CloseLeavesAFrameOfZerosAndTheNextWriteOpensAgain) {
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes + 100, 0xAB);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 5);
    FrameImage frame = test::BottomUpFrame(bytes, 320, 240);
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

// A frame smaller than the block (a 176 x 144 camera) fills the whole block: its 4:3 middle
// enlarged, so readers get the picture rather than its bytes laid out in rows of 320.
TEST(VirtualCameraFeed, ASmallerFrameIsEnlargedToFillTheBlock) {
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes, 0x11);
    VirtualCameraFeed feed;
    // 176 x 144 is taller than 4:3: the cut is the full width and the middle 132 rows. Left
    // half dark, right half light; the six rows at top and bottom (cut off) bright.
    constexpr int kWidth = 176;
    constexpr int kHeight = 144;
    std::vector<std::uint8_t> bytes(kWidth * kHeight * 3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            std::fill_n(bytes.begin() + (y * kWidth + x) * 3, 3,
                        static_cast<std::uint8_t>(y < 6 || y >= kHeight - 6 ? 0xEE
                                                  : x < kWidth / 2          ? 0x20
                                                                            : 0xC0));
    FrameImage frame = test::BottomUpFrame(bytes, kWidth, kHeight);
    EXPECT_EQ(feed.Write(frame), kFeedBytes);
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    const std::uint8_t* block = reader.data();
    auto at = [block](int x, int y) { return block[(y * kFeedWidth + x) * 3]; };
    // Every row of the block holds the same two halves (the 0xEE rows were cut off).
    for (int y : {0, 1, 120, 238, 239}) {
        EXPECT_EQ(at(0, y), 0x20) << y;
        EXPECT_EQ(at(150, y), 0x20) << y;
        EXPECT_EQ(at(170, y), 0xC0) << y;
        EXPECT_EQ(at(319, y), 0xC0) << y;
    }
}

TEST(VirtualCameraFeed, NothingIsWrittenPastTheObjectsRealSize) {
    test::ScopedFeedName name;
    // A larger frame than a feed frame is cut to the object.
    CreateObject(name.name(), kFeedBytes, 0);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> large(640 * 480 * 3, 0x33);
    FrameImage frame = test::BottomUpFrame(large, 640, 480);
    EXPECT_EQ(feed.Write(frame), kFeedBytes);
    feed.Close();

    // An object smaller than a frame is one its creator has not sized yet: not written.
    test::ScopedFeedName smallName;
    CreateObject(smallName.name(), 1000, 0x44);
    VirtualCameraFeed smallFeed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 0x55);
    FrameImage feedFrame = test::BottomUpFrame(bytes, 320, 240);
    EXPECT_EQ(smallFeed.Write(feedFrame), 0u);
    EXPECT_FALSE(smallFeed.isOpen());
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(smallName.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), 1000, 0x44));
}

// An object without room for a frame: one the bridge has created but not sized yet, or one made
// smaller by another program while the feed writes (the frame is dropped without a fault:
// nothing but the guarded copy looks at its size on every frame). Either is taken, without any
// restart, within about a second of frames after it has its size.
TEST(VirtualCameraFeed, AnObjectWithoutAFramesRoomIsTakenOnceItHasItsSize) {
    for (const bool cutShort : {false, true}) {
        SCOPED_TRACE(cutShort ? "cut short while written" : "still being created");
        test::ScopedFeedName name;
        VirtualCameraFeed feed;
        std::vector<std::uint8_t> bytes(kFeedBytes, cutShort ? 0x5A : 0x66);
        FrameImage frame = test::BottomUpFrame(bytes, 320, 240);
        int fd = shm_open(name.name().c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        if (cutShort) {
            ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
            ASSERT_EQ(feed.Write(frame), kFeedBytes);
            ASSERT_EQ(ftruncate(fd, 1000), 0);
        }
        EXPECT_EQ(feed.Write(frame), 0u);
        EXPECT_FALSE(feed.isOpen()) << "an object too small for a frame is not kept";
        ASSERT_EQ(ftruncate(fd, kFeedBytes), 0);
        close(fd);
        EXPECT_LE(WritesUntilDelivered(feed, frame, VirtualCameraFeed::kRecheckFrames),
                  VirtualCameraFeed::kRecheckFrames);
        SharedMemoryView reader;
        ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
        EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, bytes[0]));
    }
}

TEST(VirtualCameraFeed, AnObjectRemovedAndMadeAgainIsFollowed) {
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes, 0);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 0x77);
    FrameImage frame = test::BottomUpFrame(bytes, 320, 240);
    ASSERT_EQ(feed.Write(frame), kFeedBytes);

    // A clean-up of /dev/shm, then the bridge makes the object again: a new one.
    ASSERT_EQ(shm_unlink(name.name().c_str()), 0);
    CreateObject(name.name(), kFeedBytes, 0);
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    for (int i = 0; i <= VirtualCameraFeed::kRecheckFrames && reader.data()[0] != 0x77; ++i)
        feed.Write(frame);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 0x77));
}

TEST(VirtualCameraFeed, ABlockOthersCouldReadOrWriteIsRefused) {
    // Planted before the studio started, readable by every local user.
    test::ScopedFeedName name;
    CreateObject(name.name(), kFeedBytes, 0x12);
    int fd = shm_open(name.name().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0644), 0);
    VirtualCameraFeed feed;
    std::vector<std::uint8_t> bytes(kFeedBytes, 0x34);
    FrameImage frame = test::BottomUpFrame(bytes, 320, 240);
    testing::internal::CaptureStderr();
    EXPECT_EQ(WritesUntilDelivered(feed, frame, 3 * VirtualCameraFeed::kRecheckFrames),
              3 * VirtualCameraFeed::kRecheckFrames + 1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(feed.refusedObject());
    EXPECT_FALSE(feed.isOpen());
    // One message, naming the object.
    EXPECT_NE(said.find(name.name()), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;

    // Made private again (by its owner): used from a later frame on.
    ASSERT_EQ(fchmod(fd, 0600), 0);
    close(fd);
    EXPECT_LE(WritesUntilDelivered(feed, frame, VirtualCameraFeed::kRecheckFrames),
              VirtualCameraFeed::kRecheckFrames);
    EXPECT_FALSE(feed.refusedObject());
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 0x34));
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
        // The HD block beside it holds the same frame, upright (the graph's rows are bottom-up).
        SharedMemoryView hd;
        ASSERT_EQ(hd.OpenExisting(HdFeedObjectName()), S_OK);
        HdFeedFrame taken;
        ASSERT_EQ(HdFeedReader().Read(hd, 0, &taken), HdFeedReader::Result::Frame);
        ASSERT_EQ(taken.width, 320);
        ASSERT_EQ(taken.height, 240);
        for (int y = 0; y < 240; ++y)
            ASSERT_EQ(std::memcmp(taken.pixels.data() + taken.rowStride * y,
                                  last->bytes.data() + kFeedRowBytes * (239 - y), kFeedRowBytes),
                      0)
                << "row " << y;
    }
    // The graph reached NULL (destroyed): the engine's teardown closes the feed.
    CloseVirtualCameraFeed();
    CloseHdCameraFeed();
    SharedMemoryView reader;
    ASSERT_EQ(reader.OpenExisting(name.name()), S_OK);
    EXPECT_TRUE(AllEqual(reader.data(), kFeedBytes, 0));
}

} // namespace
} // namespace kelo
