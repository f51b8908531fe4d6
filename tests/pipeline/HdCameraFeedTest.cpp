// The HD block: its sequence protocol between a writer and a reader on two mappings of one real
// shared-memory object, and HdCameraFeed, the studio's writer, with its ownership rules.
#include "engine/HdCameraFeed.h"

#include "platform/contracts/HdFeedLayout.h"
#include "platform/system/HdFeedBlock.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kelo {
namespace {

// The byte the test writer puts at (x, y, channel) of frame n: every frame differs from its
// neighbours in every byte, so a copy mixing two frames shows.
std::uint8_t PatternByte(std::uint64_t n, int x, int y, int channel) {
    return static_cast<std::uint8_t>(n * 37 + static_cast<std::uint64_t>(y) * 11 +
                                     static_cast<std::uint64_t>(x) * 3 + channel);
}

std::vector<std::uint8_t> PatternFrame(std::uint64_t n, int width, int height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                bytes[(static_cast<std::size_t>(y) * width + x) * 3 + c] = PatternByte(n, x, y, c);
    return bytes;
}

// The pattern repeats every 256 frames: the frames of each test size, made once, so that both
// sides spend their time on the block rather than on the pattern.
constexpr int kSizes[][2] = {{48, 32}, {64, 48}, {66, 50}, {80, 60}};
const std::vector<std::uint8_t>& Pattern(int sizeIndex, std::uint64_t n) {
    static const auto frames = [] {
        std::vector<std::vector<std::uint8_t>> all;
        for (const auto& size : kSizes)
            for (std::uint64_t i = 0; i < 256; ++i)
                all.push_back(PatternFrame(i, size[0], size[1]));
        return all;
    }();
    return frames[static_cast<std::size_t>(sizeIndex) * 256 + n % 256];
}

// Whether the frame taken is exactly frame `frame.sequence` of the pattern.
bool IsWholePatternFrame(const HdFeedFrame& frame) {
    int sizeIndex = 0;
    while (sizeIndex < 4 && kSizes[sizeIndex][0] != frame.width)
        ++sizeIndex;
    if (sizeIndex == 4 || kSizes[sizeIndex][1] != frame.height)
        return false;
    const std::uint8_t* expected = Pattern(sizeIndex, frame.sequence).data();
    const std::size_t rowBytes = static_cast<std::size_t>(frame.width) * 3;
    for (int y = 0; y < frame.height; ++y)
        if (std::memcmp(frame.pixels.data() + frame.rowStride * y, expected + rowBytes * y,
                        rowBytes) != 0)
            return false;
    return true;
}

// The two ways of reading a frame: a copy (Read), or in place (ReadInPlace), where the taker
// reads the block's pixels as a converter does (plain loads) and the frame's number is looked
// at after it.
enum class Way { Copy, InPlace };

HdFeedReader::Result ReadFollowingGrowth(SharedMemoryView& view, std::uint64_t last,
                                         HdFeedFrame* frame, Way way = Way::Copy,
                                         int* uses = nullptr) {
    HdFeedReader reader;
    auto readOnce = [&] {
        if (way == Way::Copy)
            return reader.Read(view, last, frame);
        return reader.ReadInPlace(view, last, frame, [&](const BgrPicture& picture) {
            frame->pixels.resize(static_cast<std::size_t>(picture.rowStride) * picture.height);
            std::memcpy(frame->pixels.data(), picture.topRow, frame->pixels.size());
            if (uses)
                ++*uses;
        });
    };
    HdFeedReader::Result result = readOnce();
    if (result == HdFeedReader::Result::Remap) {
        EXPECT_EQ(view.Grow(0), S_OK);
        result = readOnce();
    }
    return result;
}

// A writer publishing as fast as it can, growing the frame now and then (the slots move), and
// a reader taking 10 000 frames each way: every frame taken is one whole frame, in increasing
// order.
TEST(HdFeedProtocol, AReaderNeverTakesATornFrameFromAWriterAtFullSpeed) {
    for (const Way way : {Way::Copy, Way::InPlace}) {
        SCOPED_TRACE(way == Way::Copy ? "copied" : "read in place");
        test::ScopedFeedName name;
        const std::string hdName = HdFeedObjectName();
        SharedMemoryView writerView;
        ASSERT_EQ(writerView.OpenOrCreate(hdName, kHdFeedHeaderBytes), S_OK);
        HdFeedPublisher publisher;
        ASSERT_EQ(publisher.Attach(&writerView), S_OK);

        // Small frames: the reader checks every byte, under ThreadSanitizer too.
        (void)Pattern(0, 0);
        std::atomic<bool> stop{false};
        std::atomic<bool> writerFailed{false};
        std::thread writer([&] {
            for (std::uint64_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
                const int sizeIndex = static_cast<int>((n / 500) % 4);
                const auto& size = kSizes[sizeIndex];
                const std::vector<std::uint8_t>& bytes = Pattern(sizeIndex, n);
                const BgrPicture picture{bytes.data(), size[0] * 3, size[0], size[1]};
                if (publisher.Publish(picture, 30, 1, static_cast<std::int64_t>(n)) != S_OK) {
                    writerFailed = true;
                    return;
                }
            }
        });

        // 10 000 reads, each made while a newer frame than the last one taken is there: a read
        // either takes a whole frame or, overtaken every time, takes none (Busy). Read in place, a
        // frame overtaken during its use is used again from the newer one (uses > taken).
        SharedMemoryView readerView;
        ASSERT_EQ(readerView.OpenExisting(hdName), S_OK);
        int taken = 0;
        int busy = 0;
        int torn = 0;
        int uses = 0;
        std::uint64_t last = 0;
        bool ordered = true;
        HdFeedFrame frame;
        for (int read = 0; read < 10'000 && !writerFailed; ++read) {
            while (HdFeedReader::NewestSequence(readerView) == last && !writerFailed)
                std::this_thread::yield();
            const HdFeedReader::Result result =
                ReadFollowingGrowth(readerView, last, &frame, way, &uses);
            if (result == HdFeedReader::Result::Busy) {
                ++busy;
                continue;
            }
            ASSERT_EQ(result, HdFeedReader::Result::Frame);
            ++taken;
            if (!IsWholePatternFrame(frame) ||
                frame.timestampNs != static_cast<std::int64_t>(frame.sequence))
                ++torn;
            ordered = ordered && frame.sequence > last;
            last = frame.sequence;
        }
        stop = true;
        writer.join();
        std::printf("10000 reads %s: %d frames taken, %d overtaken, %d uses in place; the writer "
                    "reached frame %llu\n",
                    way == Way::Copy ? "copied" : "in place", taken, busy, uses,
                    static_cast<unsigned long long>(publisher.lastSequence()));
        EXPECT_FALSE(writerFailed);
        EXPECT_GT(taken, 0);
        EXPECT_EQ(torn, 0);
        EXPECT_TRUE(ordered);
        EXPECT_EQ(frame.fpsNumerator, 30);
    }
}

// A block cut short by another process while a frame is used where it lies (a conversion
// reading it): the read ends as Lost instead of a fault, and the view says so.
TEST(HdFeedProtocol, ABlockCutShortDuringAReadInPlaceIsLostWithoutAFault) {
    test::ScopedFeedName name;
    const std::string hdName = HdFeedObjectName();
    SharedMemoryView writerView;
    ASSERT_EQ(writerView.OpenOrCreate(hdName, kHdFeedHeaderBytes), S_OK);
    HdFeedPublisher publisher;
    ASSERT_EQ(publisher.Attach(&writerView), S_OK);
    const std::vector<std::uint8_t>& bytes = Pattern(1, 1);
    ASSERT_EQ(
        publisher.Publish({bytes.data(), kSizes[1][0] * 3, kSizes[1][0], kSizes[1][1]}, 30, 1, 1),
        S_OK);

    SharedMemoryView readerView;
    ASSERT_EQ(readerView.OpenExisting(hdName), S_OK);
    const int fd = shm_open(hdName.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    int uses = 0;
    unsigned sum = 0;
    HdFeedFrame frame;
    const HdFeedReader::Result result =
        HdFeedReader().ReadInPlace(readerView, 0, &frame, [&](const BgrPicture& picture) {
            ++uses;
            ASSERT_EQ(ftruncate(fd, 0), 0);
            for (int y = 0; y < picture.height; ++y)
                sum += picture.topRow[picture.rowStride * y];
        });
    close(fd);
    EXPECT_EQ(result, HdFeedReader::Result::Lost) << sum;
    EXPECT_EQ(uses, 1);
    EXPECT_TRUE(readerView.lost());
}

TEST(HdFeedProtocol, ANewWriterGoesOnCountingAndABlockOfAnotherLayoutIsLaidOutAfresh) {
    test::ScopedFeedName name;
    const std::string hdName = HdFeedObjectName();
    {
        // Garbage from something else: not a valid block until a writer lays it out.
        SharedMemoryView other;
        ASSERT_EQ(other.OpenOrCreate(hdName, 4096), S_OK);
        std::memset(other.data(), 0x5A, other.size());
        EXPECT_EQ(HdFeedReader::NewestSequence(other), 0u);
    }
    std::vector<std::uint8_t> bytes = PatternFrame(1, 32, 16);
    const BgrPicture picture{bytes.data(), 32 * 3, 32, 16};
    std::uint64_t first = 0;
    {
        SharedMemoryView view;
        ASSERT_EQ(view.OpenOrCreate(hdName, kHdFeedHeaderBytes), S_OK);
        HdFeedPublisher publisher;
        ASSERT_EQ(publisher.Attach(&view), S_OK);
        ASSERT_EQ(publisher.Publish(picture, 15, 1, 1), S_OK);
        ASSERT_EQ(publisher.Publish(picture, 15, 1, 2), S_OK);
        first = publisher.lastSequence();
        EXPECT_EQ(first, 2u);
        EXPECT_EQ(publisher.Publish({bytes.data(), 0, 0, 16}, 15, 1, 3), E_INVALIDARG);
        EXPECT_EQ(publisher.Publish({bytes.data(), 0, 5000, 16}, 15, 1, 3), E_INVALIDARG);
    }
    SharedMemoryView view;
    ASSERT_EQ(view.OpenOrCreate(hdName, kHdFeedHeaderBytes), S_OK);
    HdFeedPublisher publisher;
    ASSERT_EQ(publisher.Attach(&view), S_OK);
    ASSERT_EQ(publisher.PublishBlack(32, 16, 15, 1, 4), S_OK);
    EXPECT_EQ(HdFeedReader::NewestSequence(view), first + 1);
    HdFeedFrame frame;
    ASSERT_EQ(HdFeedReader().Read(view, 0, &frame), HdFeedReader::Result::Frame);
    EXPECT_EQ(frame.width, 32);
    EXPECT_EQ(frame.height, 16);
    EXPECT_EQ(frame.rowStride, HdFeedRowStride(32));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32 * 3; ++x)
            ASSERT_EQ(frame.pixels[frame.rowStride * y + x], 0);
    EXPECT_EQ(HdFeedReader().Read(view, frame.sequence, &frame), HdFeedReader::Result::Unchanged);
}

// The studio's writer: makes the block private, turns the bottom-up frame upright, carries the
// frame's own size and the engine's rate, and leaves black behind when it closes.
TEST(HdCameraFeed, PublishesTheFrameUprightAtItsOwnSizeAndClosesToBlack) {
    test::ScopedFeedName name;
    HdCameraFeed feed;
    feed.SetFrameRate(30);
    const int width = 1280;
    const int height = 720;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3, 0);
    // Memory row 0 is the picture's bottom row: blue there, red in the last memory row (top).
    for (int x = 0; x < width; ++x) {
        bytes[x * 3 + 0] = 255;
        bytes[(static_cast<std::size_t>(height - 1) * width + x) * 3 + 2] = 255;
    }
    FrameImage frame = test::BottomUpFrame(bytes, width, height);
    ASSERT_TRUE(feed.Write(frame));
    ASSERT_TRUE(feed.Write(frame));
    EXPECT_EQ(feed.lastSequence(), 2u);

    SharedMemoryView view;
    ASSERT_EQ(view.OpenExisting(HdFeedObjectName()), S_OK);
    struct stat st {};
    ASSERT_EQ(fstat(view.fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    HdFeedFrame taken;
    ASSERT_EQ(HdFeedReader().Read(view, 0, &taken), HdFeedReader::Result::Frame);
    EXPECT_EQ(taken.sequence, 2u);
    EXPECT_EQ(taken.width, width);
    EXPECT_EQ(taken.height, height);
    EXPECT_EQ(taken.fpsNumerator, 30);
    EXPECT_EQ(taken.pixels[2], 255); // top row red
    EXPECT_EQ(taken.pixels[0], 0);
    EXPECT_EQ(taken.pixels[taken.rowStride * (height - 1)], 255); // bottom row blue

    feed.Close();
    EXPECT_FALSE(feed.isOpen());
    ASSERT_EQ(HdFeedReader().Read(view, 2, &taken), HdFeedReader::Result::Frame);
    EXPECT_EQ(taken.sequence, 3u);
    EXPECT_EQ(taken.pixels[2], 0);

    // The next engine at another size opens it again and goes on counting.
    std::vector<std::uint8_t> small(320 * 240 * 3, 7);
    FrameImage smallFrame = test::BottomUpFrame(small, 320, 240);
    ASSERT_TRUE(feed.Write(smallFrame));
    ASSERT_EQ(HdFeedReader().Read(view, 3, &taken), HdFeedReader::Result::Frame);
    EXPECT_EQ(taken.sequence, 4u);
    EXPECT_EQ(taken.width, 320);
    EXPECT_EQ(taken.pixels[0], 7);
}

// A block planted by someone else: open to others, or of another user. The studio writes
// nothing into it, says so once, and takes it once it is private again.
TEST(HdCameraFeed, ABlockOpenToOthersOrOfAnotherUserIsRefused) {
    test::ScopedFeedName name;
    const std::string hdName = HdFeedObjectName();
    const int fd = shm_open(hdName.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    std::vector<std::uint8_t> bytes(64 * 48 * 3, 1);
    FrameImage frame = test::BottomUpFrame(bytes, 64, 48);

    struct Case {
        const char* what;
        mode_t mode;
        uid_t owner;
    };
    std::vector<Case> cases = {{"readable by others", 0644, geteuid()},
                               {"writable by the group", 0620, geteuid()}};
    if (geteuid() == 0)
        cases.push_back({"of another user", 0600, 65534});
    for (const Case& c : cases) {
        ASSERT_EQ(fchmod(fd, c.mode), 0) << c.what;
        ASSERT_EQ(fchown(fd, c.owner, static_cast<gid_t>(-1)), 0) << c.what;
        HdCameraFeed feed;
        testing::internal::CaptureStderr();
        for (int i = 0; i < 2 * HdCameraFeed::kRecheckFrames; ++i)
            EXPECT_FALSE(feed.Write(frame)) << c.what;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(feed.refusedObject()) << c.what;
        EXPECT_NE(said.find(hdName), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        struct stat st {};
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_EQ(st.st_size, 4096) << c.what << ": written into";
    }
    if (geteuid() != 0)
        GTEST_LOG_(INFO) << "not root: the block of another user was not tried";

    ASSERT_EQ(fchown(fd, geteuid(), static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(fchmod(fd, 0600), 0);
    close(fd);
    HdCameraFeed feed;
    EXPECT_TRUE(feed.Write(frame));
    EXPECT_FALSE(feed.refusedObject());
}

} // namespace
} // namespace kelo
