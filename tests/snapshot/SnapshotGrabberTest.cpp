#include "engine/SnapshotGrabber.h"

#include "SnapshotTestImages.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::time_t kFixedTime = 1'796'652'309; // some moment in December 2026

// Collects the outcomes that the streaming thread reports.
class OutcomeLog {
public:
    SnapshotOutcomeFn Callback() {
        return [this](const SnapshotOutcome& outcome) {
            std::lock_guard<std::mutex> lock(mutex_);
            outcomes_.push_back(outcome);
            changed_.notify_all();
        };
    }
    std::vector<SnapshotOutcome> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return outcomes_;
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return outcomes_.size() >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SnapshotOutcome> outcomes_;
};

class SnapshotGrabberTest : public ::testing::Test {
protected:
    SnapshotGrabberTest() {
        fs::create_directories(photos_);
        grabber_.SetOutcomeCallback(log_.Callback());
    }

    HRESULT Feed(std::vector<std::uint8_t>& frame, double time = 1.0) {
        return grabber_.BufferCB(time, frame.data(), static_cast<long>(frame.size()));
    }
    fs::path ExpectedPhoto() const { return photos_ / SnapshotGrabber::PhotoFileName(kFixedTime); }

    test::IsolatedDirectory dir_;
    fs::path photos_ = dir_.path() / "photos";
    std::string folder_ = photos_.string() + "/";
    OutcomeLog log_;
    SnapshotGrabber grabber_{[] { return kFixedTime; }, {}};
};

// Each destination pixel that is white in all three bytes (the source frame has no 255 byte).
std::vector<bool> WhitePixels(const std::vector<std::uint8_t>& dib, int width, int height) {
    const std::size_t stride = SnapshotGrabber::DibStride(width, 24);
    std::vector<bool> white(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = dib.data() + y * stride + x * 3;
            white[static_cast<std::size_t>(y) * width + x] =
                p[0] == 255 && p[1] == 255 && p[2] == 255;
        }
    return white;
}

TEST(SnapshotFileName, IsTheLocalTimeWithSecondsMonthDayAndYear) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    // 14:05:09 on 7 December 2026, UTC.
    EXPECT_EQ(SnapshotGrabber::PhotoFileName(1796652309), "14-05-09 12.07.2026.jpg");
    setenv("TZ", "Asia/Shanghai", 1); // local time, not UTC
    tzset();
    EXPECT_EQ(SnapshotGrabber::PhotoFileName(1796652309), "22-05-09 12.07.2026.jpg");
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(ScaleNearest, EnlargedPhotosGetWhiteRightColumnsAndTopRowsAsTheSizeTableSays) {
    const std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    struct Case {
        int width, height;
        std::vector<int> whiteColumns, whiteRows;
    };
    const std::vector<Case> cases = {
        {160, 120, {}, {}},
        {320, 240, {}, {}},
        {640, 480, {639}, {479}},
        {1280, 720, {1278, 1279}, {719}},
        {1920, 1080, {1917, 1918, 1919}, {1078, 1079}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        std::vector<std::uint8_t> dst(SnapshotGrabber::DibStride(c.width, 24) * c.height, 0);
        SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, dst.data(), c.width, c.height);
        const std::vector<bool> white = WhitePixels(dst, c.width, c.height);
        auto listed = [](const std::vector<int>& list, int i) {
            return std::find(list.begin(), list.end(), i) != list.end();
        };
        int wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool expected = listed(c.whiteColumns, x) || listed(c.whiteRows, y);
                if (white[static_cast<std::size_t>(y) * c.width + x] != expected && ++wrong <= 3)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") white=" << !expected;
            }
    }
}

TEST(ScaleNearest, HalfSizeTakesEverySecondPixelOfEverySecondRowFromTheFirst) {
    const std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    std::vector<std::uint8_t> half(160 * 3 * 120);
    SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, half.data(), 160, 120);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
            ASSERT_EQ(std::memcmp(half.data() + (y * 160 + x) * 3,
                                  frame.data() + (2 * y * 320 + 2 * x) * 3, 3),
                      0)
                << "pixel (" << x << ", " << y << ")";

    std::vector<std::uint8_t> same(frame.size());
    SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, same.data(), 320, 240);
    EXPECT_EQ(same, frame);
}

TEST(ScaleNearest, RowPaddingOfOddSizesIsLeftUnwritten) {
    const std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    // 100 pixels make 300 bytes, already a multiple of 4; 102 make 306, padded to 308.
    EXPECT_EQ(SnapshotGrabber::DibStride(100, 24), 300u);
    ASSERT_EQ(SnapshotGrabber::DibStride(102, 24), 308u);
    std::vector<std::uint8_t> dst(308 * 77, 0xAB);
    SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, dst.data(), 102, 77);
    for (int y = 0; y < 77; ++y) {
        EXPECT_EQ(dst[y * 308 + 306], 0xAB) << "row " << y;
        EXPECT_EQ(dst[y * 308 + 307], 0xAB) << "row " << y;
    }
    // 8-bit pictures follow the same rule with one byte a pixel.
    std::vector<std::uint8_t> grey(4 * 2, 7); // 3 x 2, stride 4
    std::vector<std::uint8_t> big(8 * 4, 0);  // 6 x 4, stride 8
    SnapshotGrabber::ScaleNearest(grey.data(), 3, 2, 8, big.data(), 6, 4);
    EXPECT_EQ(big[0], 7);
    EXPECT_EQ(big[5], 255);     // column 5 rounds to source column 3: white
    EXPECT_EQ(big[3 * 8], 255); // row 3 rounds to source row 2: white
}

TEST_F(SnapshotGrabberTest, WithoutARequestFramesAreIgnored) {
    // Not even the buffer is looked at.
    EXPECT_EQ(grabber_.BufferCB(0.0, nullptr, 230400), S_OK);
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    EXPECT_EQ(Feed(frame), S_OK);
    EXPECT_EQ(grabber_.SampleCB(0.0, nullptr), S_OK);
    EXPECT_TRUE(test::FilesIn(photos_).empty());
    EXPECT_TRUE(log_.Take().empty());
}

TEST_F(SnapshotGrabberTest, APhotoAtCaptureSizeIsTheGrabbedFrameUpright) {
    grabber_.Request(folder_, 320, 240);
    EXPECT_TRUE(grabber_.snapshotPending());
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    EXPECT_EQ(Feed(frame, 2.5), S_OK);
    EXPECT_FALSE(grabber_.snapshotPending());

    const std::vector<SnapshotOutcome> outcomes = log_.Take();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, SnapshotStatus::Written);
    EXPECT_EQ(outcomes[0].path, ExpectedPhoto().string());
    EXPECT_EQ(outcomes[0].errorText, "");
    EXPECT_EQ(outcomes[0].sampleTime, 2.5);

    test::DecodedJpeg photo = test::DecodeJpeg(ExpectedPhoto());
    ASSERT_TRUE(photo.ok) << photo.error;
    EXPECT_EQ(photo.width, 320);
    EXPECT_EQ(photo.height, 240);
    EXPECT_EQ(photo.components, 3);
    EXPECT_FALSE(photo.progressive);
    EXPECT_EQ(photo.frameMarker, 0xC0); // baseline

    std::vector<std::uint8_t> expected(photo.rgb.size());
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const test::Rgb c = test::GrabbedFramePixel(x, y);
            std::uint8_t* p = expected.data() + (y * 320 + x) * 3;
            p[0] = static_cast<std::uint8_t>(c.r);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.b);
        }
    EXPECT_GT(test::Psnr(photo.rgb, expected), 30.0);
    // The red marker is in the top-left corner and red, not blue, not at the bottom.
    const test::Rgb marker = photo.At(8, 8);
    EXPECT_GT(marker.r, 200);
    EXPECT_LT(marker.b, 60);
    EXPECT_LT(photo.At(8, 231).r, 100);
    // Further frames take no photo.
    EXPECT_EQ(Feed(frame), S_OK);
    EXPECT_EQ(log_.Take().size(), 1u);
}

TEST_F(SnapshotGrabberTest, OddPhotoSizesDropTheirRowPaddingInTheFile) {
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    for (auto [width, height] : {std::pair{100, 75}, std::pair{102, 77}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        grabber_.Request(folder_, width, height);
        ASSERT_EQ(Feed(frame), S_OK);
        test::DecodedJpeg photo = test::DecodeJpeg(ExpectedPhoto());
        fs::remove(ExpectedPhoto()); // the next one takes the same name again
        ASSERT_TRUE(photo.ok) << photo.error;
        ASSERT_EQ(photo.width, width);
        ASSERT_EQ(photo.height, height);

        // The scaled DIB, turned upright by hand: a photo that kept the padding would shear.
        std::vector<std::uint8_t> dib(SnapshotGrabber::DibStride(width, 24) * height);
        SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, dib.data(), width, height);
        std::vector<std::uint8_t> expected(static_cast<std::size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* s =
                    dib.data() + (height - 1 - y) * SnapshotGrabber::DibStride(width, 24) + x * 3;
                std::uint8_t* d = expected.data() + (y * width + x) * 3;
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        EXPECT_GT(test::Psnr(photo.rgb, expected), 30.0);
    }
}

TEST_F(SnapshotGrabberTest, OneRequestWithFramesFromAStreamingThreadGivesOnePhoto) {
    std::atomic<bool> stop{false};
    std::atomic<int> framesSeen{0};
    std::thread streaming([&] {
        std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
        double time = 0;
        while (!stop.load()) {
            EXPECT_EQ(Feed(frame, time += 1.0 / 15), S_OK);
            framesSeen.fetch_add(1);
            std::this_thread::sleep_for(1ms);
        }
    });
    while (framesSeen.load() < 5)
        std::this_thread::sleep_for(1ms);
    grabber_.Request(folder_, 160, 120);
    ASSERT_TRUE(log_.WaitFor(1));
    const int after = framesSeen.load();
    while (framesSeen.load() < after + 20)
        std::this_thread::sleep_for(1ms);
    stop = true;
    streaming.join();

    ASSERT_EQ(log_.Take().size(), 1u);
    EXPECT_TRUE(log_.Take()[0].ok());
    EXPECT_EQ(test::FilesIn(photos_),
              std::vector<std::string>{SnapshotGrabber::PhotoFileName(kFixedTime)});
}

TEST_F(SnapshotGrabberTest, PhotosInOneSecondEachKeepTheirOwnFile) {
    // Green, blue, red within one second: three files, none replaced, numbered from the second.
    const std::vector<test::Rgb> colours = {{20, 200, 20}, {20, 20, 200}, {200, 20, 20}};
    for (const test::Rgb& colour : colours) {
        std::vector<std::uint8_t> frame = test::MakeUniformFrame(colour);
        grabber_.Request(folder_, 320, 240);
        ASSERT_EQ(Feed(frame), S_OK);
    }
    std::string stem = SnapshotGrabber::PhotoFileName(kFixedTime);
    stem.resize(stem.size() - 4);
    const std::vector<std::string> names = {stem + ".jpg", stem + "-2.jpg", stem + "-3.jpg"};
    std::vector<std::string> files = test::FilesIn(photos_);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{names[1], names[2], names[0]}));
    const std::vector<SnapshotOutcome> outcomes = log_.Take();
    ASSERT_EQ(outcomes.size(), 3u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(outcomes[i].path, (photos_ / names[i]).string());
        test::DecodedJpeg photo = test::DecodeJpeg(photos_ / names[i]);
        ASSERT_TRUE(photo.ok) << photo.error;
        const test::Rgb c = photo.At(160, 120);
        EXPECT_NEAR(c.b, colours[i].b, 8) << names[i];
        EXPECT_NEAR(c.r, colours[i].r, 8) << names[i];
    }
}

TEST_F(SnapshotGrabberTest, ASecondRequestBeforeAFrameOnlyReplacesFolderAndSize) {
    const fs::path other = dir_.path() / "other";
    fs::create_directories(other);
    grabber_.Request(folder_, 1920, 1080);
    grabber_.Request(other.string() + "/", 160, 120);
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    ASSERT_EQ(Feed(frame), S_OK);
    EXPECT_TRUE(test::FilesIn(photos_).empty());
    test::DecodedJpeg photo = test::DecodeJpeg(other / SnapshotGrabber::PhotoFileName(kFixedTime));
    ASSERT_TRUE(photo.ok) << photo.error;
    EXPECT_EQ(photo.width, 160);
    EXPECT_EQ(log_.Take().size(), 1u);
}

TEST_F(SnapshotGrabberTest, AMissingFolderGivesNoFileAndAReportedFailure) {
    const std::string missing = (dir_.path() / "gone").string() + "/";
    grabber_.Request(missing, 320, 240);
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    EXPECT_EQ(Feed(frame), S_OK); // the grabber's result does not depend on the photo
    EXPECT_FALSE(fs::exists(dir_.path() / "gone"));
    EXPECT_FALSE(grabber_.snapshotPending()); // one request, one attempt

    const std::vector<SnapshotOutcome> outcomes = log_.Take();
    ASSERT_EQ(outcomes.size(), 1u);
    const std::string path = missing + SnapshotGrabber::PhotoFileName(kFixedTime);
    EXPECT_EQ(outcomes[0].status, SnapshotStatus::CannotOpen);
    EXPECT_EQ(outcomes[0].path, path);
    EXPECT_EQ(outcomes[0].errorText, "JpegFile :\nCan't open " + path + "\n");
}

TEST_F(SnapshotGrabberTest, AShortFrameIsReadOnlyToItsEndAndTheRestOfThePictureIsWhite) {
    // First a whole frame, so that the kept copy is larger than the short one that follows.
    std::vector<std::uint8_t> whole = test::MakeUniformFrame({30, 30, 30});
    grabber_.Request(folder_, 320, 240);
    ASSERT_EQ(Feed(whole), S_OK);
    fs::remove(ExpectedPhoto()); // the short frame's photo takes the same name

    // Eight rows of dark blue: the bottom of the picture.
    std::vector<std::uint8_t> shortFrame(8 * 960);
    for (std::size_t i = 0; i < shortFrame.size(); i += 3) {
        shortFrame[i] = 160;
        shortFrame[i + 1] = 20;
        shortFrame[i + 2] = 20;
    }
    grabber_.Request(folder_, 320, 240);
    ASSERT_EQ(Feed(shortFrame), S_OK);
    test::DecodedJpeg photo = test::DecodeJpeg(ExpectedPhoto());
    ASSERT_TRUE(photo.ok) << photo.error;
    const test::Rgb bottom = photo.At(160, 236);
    EXPECT_NEAR(bottom.b, 160, 20);
    EXPECT_LT(bottom.r, 50);
    for (int y : {0, 120, 200}) {
        const test::Rgb c = photo.At(160, y);
        EXPECT_GT(c.r, 245) << "row " << y;
        EXPECT_GT(c.g, 245) << "row " << y;
        EXPECT_GT(c.b, 245) << "row " << y;
    }
}

TEST_F(SnapshotGrabberTest, NullOrNegativeFramesKeepTheRequest) {
    grabber_.Request(folder_, 320, 240);
    EXPECT_EQ(grabber_.BufferCB(0.0, nullptr, 230400), E_POINTER);
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    EXPECT_EQ(grabber_.BufferCB(0.0, frame.data(), -1), E_INVALIDARG);
    EXPECT_TRUE(grabber_.snapshotPending());
    EXPECT_TRUE(log_.Take().empty());
    EXPECT_EQ(Feed(frame), S_OK);
    EXPECT_TRUE(fs::exists(ExpectedPhoto()));
}

// Allocations go through a counting allocator that can be told to fail for one size.
struct ScriptedAllocator {
    std::mutex mutex;
    std::map<std::size_t, int> calls;
    std::size_t failSize = 0;
    int failuresLeft = 0;

    SnapshotGrabber::AllocateFn Fn() {
        return [this](std::size_t bytes) -> std::unique_ptr<std::uint8_t[]> {
            std::lock_guard<std::mutex> lock(mutex);
            ++calls[bytes];
            if (bytes == failSize && failuresLeft > 0) {
                --failuresLeft;
                return nullptr;
            }
            return std::make_unique<std::uint8_t[]>(bytes);
        };
    }
};

TEST_F(SnapshotGrabberTest, SizesOutsideTheLimitsAreRefusedBeforeAnythingIsAllocated) {
    // data.ini may say anything: a huge photo would stall the streaming thread and take
    // gigabytes, so it is refused with its size, and the grabber goes on working.
    ScriptedAllocator allocator;
    SnapshotGrabber grabber([] { return kFixedTime; }, allocator.Fn());
    std::vector<SnapshotOutcome> outcomes;
    grabber.SetOutcomeCallback([&](const SnapshotOutcome& o) { outcomes.push_back(o); });
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    for (auto [width, height] : {std::pair{40000, 40000}, std::pair{70000, 1}, std::pair{7681, 240},
                                 std::pair{320, 7681}, std::pair{0, 240}, std::pair{320, -1}}) {
        grabber.Request(folder_, width, height);
        EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].status, SnapshotStatus::InvalidSize);
        EXPECT_EQ(outcomes[0].errorText, "The photo size " + std::to_string(width) + " x " +
                                             std::to_string(height) + " is not valid");
        outcomes.clear();
    }
    EXPECT_TRUE(test::FilesIn(photos_).empty());
    for (const auto& [bytes, count] : allocator.calls)
        EXPECT_EQ(bytes, 230400u) << "only the frame copy may be allocated";

    grabber.Request(folder_, 7680, 1);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].ok()) << outcomes[0].errorText;
}

TEST_F(SnapshotGrabberTest, TheScaledPictureOfAPhotoAboveFullHdIsGivenBack) {
    ScriptedAllocator allocator;
    SnapshotGrabber grabber([] { return kFixedTime; }, allocator.Fn());
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    const std::size_t fullHd = SnapshotGrabber::DibStride(1920, 24) * 1080;
    const std::size_t large = SnapshotGrabber::DibStride(2560, 24) * 1440;
    for (int i = 0; i < 2; ++i) {
        grabber.Request(folder_, 1920, 1080);
        EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    }
    EXPECT_EQ(allocator.calls[fullHd], 1) << "a full HD picture is kept for the next photo";
    for (int i = 0; i < 2; ++i) {
        grabber.Request(folder_, 2560, 1440);
        EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    }
    EXPECT_EQ(allocator.calls[large], 2) << "a larger one is allocated for each photo";
    grabber.Request(folder_, 1920, 1080);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    EXPECT_EQ(allocator.calls[fullHd], 2);
}

TEST_F(SnapshotGrabberTest, TheFrameCopyIsAllocatedOnceAndRetriedWhenAllocationFails) {
    ScriptedAllocator allocator;
    allocator.failSize = 230400;
    allocator.failuresLeft = 1;
    SnapshotGrabber grabber([] { return kFixedTime; }, allocator.Fn());
    grabber.SetOutcomeCallback(log_.Callback());
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();

    grabber.Request(folder_, 160, 120);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), E_OUTOFMEMORY);
    EXPECT_TRUE(grabber.snapshotPending());
    EXPECT_TRUE(log_.Take().empty());
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK); // the next frame succeeds
    EXPECT_TRUE(log_.Take().at(0).ok());

    for (int i = 0; i < 3; ++i) {
        grabber.Request(folder_, 160, 120);
        EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    }
    EXPECT_EQ(allocator.calls[230400], 2);        // the failed one and the one kept since
    EXPECT_EQ(allocator.calls[160 * 3 * 120], 1); // the scaled picture is kept as well

    // A longer frame grows the copy; a shorter one reuses it.
    std::vector<std::uint8_t> longer(230400 + 960, 40);
    grabber.Request(folder_, 160, 120);
    EXPECT_EQ(grabber.BufferCB(0, longer.data(), static_cast<long>(longer.size())), S_OK);
    grabber.Request(folder_, 160, 120);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    EXPECT_EQ(allocator.calls[230400 + 960], 1);
    EXPECT_EQ(allocator.calls[230400], 2);
    EXPECT_EQ(log_.Take().size(), 6u);
}

TEST_F(SnapshotGrabberTest, AScaledPictureThatCannotBeAllocatedGivesAReportedFailure) {
    ScriptedAllocator allocator;
    allocator.failSize = SnapshotGrabber::DibStride(1920, 24) * 1080;
    allocator.failuresLeft = 1;
    SnapshotGrabber grabber([] { return kFixedTime; }, allocator.Fn());
    grabber.SetOutcomeCallback(log_.Callback());
    std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();

    grabber.Request(folder_, 1920, 1080);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    EXPECT_FALSE(grabber.snapshotPending());
    EXPECT_TRUE(test::FilesIn(photos_).empty());
    std::vector<SnapshotOutcome> outcomes = log_.Take();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, SnapshotStatus::OutOfMemory);
    EXPECT_EQ(outcomes[0].errorText, "Not enough memory for a 1920 x 1080 photo");

    grabber.Request(folder_, 1920, 1080);
    EXPECT_EQ(grabber.BufferCB(0, frame.data(), 230400), S_OK);
    EXPECT_EQ(test::FilesIn(photos_).size(), 1u);
}

TEST_F(SnapshotGrabberTest, EachPhotoKeepsTheFolderAndSizeOfOneRequest) {
    // Requests alternate between two folders with different sizes while frames stream in.
    const fs::path small = dir_.path() / "small";
    const fs::path large = dir_.path() / "large";
    fs::create_directories(small);
    fs::create_directories(large);
    std::atomic<std::time_t> clock{kFixedTime};
    SnapshotGrabber grabber([&] { return clock.fetch_add(1); }, {});
    grabber.SetOutcomeCallback(log_.Callback());

    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
        while (!stop.load())
            (void)grabber.BufferCB(
                0, frame.data(),
                static_cast<long>(
                    frame.size())); // the graph never looks at it; outcomes are logged
    });
    for (int i = 0; i < 40; ++i) {
        if (i % 2 == 0)
            grabber.Request(small.string() + "/", 100, 75);
        else
            grabber.Request(large.string() + "/", 640, 480);
        std::this_thread::sleep_for(std::chrono::microseconds(500 * (i % 5)));
    }
    while (grabber.snapshotPending())
        std::this_thread::sleep_for(1ms);
    stop = true;
    streaming.join();

    int photos = 0;
    for (const auto& [folder, width, height] :
         {std::tuple{small, 100, 75}, std::tuple{large, 640, 480}})
        for (const std::string& name : test::FilesIn(folder)) {
            test::DecodedJpeg photo = test::DecodeJpeg(folder / name);
            ASSERT_TRUE(photo.ok) << photo.error;
            EXPECT_EQ(photo.width, width) << folder / name;
            EXPECT_EQ(photo.height, height) << folder / name;
            ++photos;
        }
    EXPECT_GE(photos, 1);
    EXPECT_EQ(static_cast<std::size_t>(photos), log_.Take().size());
}

} // namespace
} // namespace kelo

namespace kelo {
namespace {

// A 1280 x 720 frame (bottom-up BGR): white outside the middle 4:3 (columns 160 to 1119), red,
// green and blue in thirds of that middle, and the top 180 picture rows black.
std::vector<std::uint8_t> MakeHdFrame() {
    constexpr int kWidth = 1280;
    constexpr int kHeight = 720;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth) * 3 * kHeight);
    for (int row = 0; row < kHeight; ++row) {
        const int fromTop = kHeight - 1 - row;
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &frame[(static_cast<std::size_t>(row) * kWidth + x) * 3];
            test::Rgb c{255, 255, 255};
            if (fromTop < 180)
                c = {0, 0, 0};
            else if (x >= 160 && x < 480)
                c = {220, 20, 20};
            else if (x >= 480 && x < 800)
                c = {20, 220, 20};
            else if (x >= 800 && x < 1120)
                c = {20, 20, 220};
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return frame;
}

bool Near(test::Rgb a, test::Rgb b) {
    return std::abs(a.r - b.r) < 40 && std::abs(a.g - b.g) < 40 && std::abs(a.b - b.b) < 40;
}

TEST_F(SnapshotGrabberTest, AnHdFrameGivesThePhotoSizeCutFromItsMiddleUpright) {
    std::vector<std::uint8_t> frame = MakeHdFrame();
    // 4:3 from 16:9 (averaged down), the frame's own size, and larger than the frame (bilinear).
    const std::pair<int, int> sizes[] = {{640, 480}, {0, 0}, {1440, 1080}};
    for (auto [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        fs::remove_all(photos_);
        fs::create_directories(photos_);
        const std::size_t before = log_.Take().size();
        grabber_.Request(folder_, width, height);
        ASSERT_EQ(grabber_.FrameCB(1.0, frame.data(), static_cast<long>(frame.size()), 1280, 720),
                  S_OK);
        ASSERT_TRUE(log_.WaitFor(before + 1));
        ASSERT_TRUE(log_.Take().back().ok()) << log_.Take().back().errorText;
        const test::DecodedJpeg photo = test::DecodeJpeg(ExpectedPhoto());
        ASSERT_TRUE(photo.ok) << photo.error;
        const int expectedWidth = width ? width : 1280;
        const int expectedHeight = height ? height : 720;
        EXPECT_EQ(photo.width, expectedWidth);
        EXPECT_EQ(photo.height, expectedHeight);
        const int bottom = expectedHeight - 4;
        // Upright: the black band at the top.
        EXPECT_TRUE(Near(photo.At(expectedWidth / 2, 3), {0, 0, 0}));
        EXPECT_TRUE(Near(photo.At(expectedWidth / 2, bottom), {20, 220, 20}));
        if (width == 0)
            continue; // the whole frame: its white sides included
        // Cut, not stretched: the sides are the middle's red and blue, never the white.
        EXPECT_TRUE(Near(photo.At(3, bottom), {220, 20, 20}));
        EXPECT_TRUE(Near(photo.At(expectedWidth - 4, bottom), {20, 20, 220}));
    }
}

} // namespace
} // namespace kelo
