#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

#include "SnapshotTestImages.h"
#include "engine/JpegFile.h"
#include "support/SmallFileSystem.h"
#include "support/TestSupport.h"

namespace kelo {
namespace {

namespace fs = std::filesystem;

// A DIB whose every byte is distinct enough to show where it went: byte value = index % 251.
std::vector<std::uint8_t> CountingBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i % 251);
    return bytes;
}

TEST(JpegFile, PackFlipAndSwapTurnAPaddedBottomUpDibIntoTopDownRgb) {
    // 5 pixels a row = 15 bytes, padded to 16; 3 rows.
    constexpr int width = 5;
    constexpr int height = 3;
    ASSERT_EQ(JpegFile::DibStride(width), 16u);
    std::vector<std::uint8_t> dib = CountingBytes(16 * height);

    std::unique_ptr<std::uint8_t[]> packed = JpegFile::PackRows(dib.data(), width, height);
    ASSERT_TRUE(packed);
    for (int row = 0; row < height; ++row)
        for (int i = 0; i < width * 3; ++i)
            ASSERT_EQ(packed[row * 15 + i], dib[row * 16 + i]) << "row " << row << " byte " << i;

    JpegFile::FlipVertically(packed.get(), width * 3, height); // odd: the middle row stays
    JpegFile::SwapRedBlue(packed.get(), width, height);
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* source = dib.data() + (height - 1 - row) * 16;
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(packed[row * 15 + x * 3 + 0], source[x * 3 + 2]);
            EXPECT_EQ(packed[row * 15 + x * 3 + 1], source[x * 3 + 1]);
            EXPECT_EQ(packed[row * 15 + x * 3 + 2], source[x * 3 + 0]);
        }
    }

    // An even number of rows swaps pairwise.
    std::vector<std::uint8_t> rows = {1, 1, 2, 2, 3, 3, 4, 4};
    JpegFile::FlipVertically(rows.data(), 2, 4);
    EXPECT_EQ(rows, (std::vector<std::uint8_t>{4, 4, 3, 3, 2, 2, 1, 1}));

    EXPECT_FALSE(JpegFile::PackRows(nullptr, width, height));
    EXPECT_FALSE(JpegFile::PackRows(dib.data(), 0, height));
}

TEST(JpegFile, AFileThatCannotBeCreatedIsReportedWithItsPath) {
    test::IsolatedDirectory dir;
    JpegFile writer;
    EXPECT_EQ(writer.errorText(), "No Error");
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::None);

    const std::string path = (dir.path() / "missing" / "photo.jpg").string();
    std::vector<std::uint8_t> rgb(8 * 8 * 3, 100);
    EXPECT_EQ(writer.WriteJpeg(path, rgb.data(), 8, 8, 75), 0);
    EXPECT_EQ(writer.errorText(), "JpegFile :\nCan't open " + path + "\n");
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::CannotOpen);
    EXPECT_FALSE(fs::exists(path));

    // No pixels or no size: nothing is created.
    const std::string good = (dir.path() / "good.jpg").string();
    EXPECT_EQ(writer.WriteJpeg(good, nullptr, 8, 8, 75), 0);
    EXPECT_EQ(writer.WriteJpeg(good, rgb.data(), 0, 8, 75), 0);
    EXPECT_EQ(writer.SaveDib(good, rgb.data(), 8, -1, 75), 0);
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::BadInput);
    EXPECT_FALSE(fs::exists(good));

    // The writer is usable again after failures.
    EXPECT_EQ(writer.WriteJpeg(good, rgb.data(), 8, 8, 75), 1);
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::None);
    test::DecodedJpeg decoded = test::DecodeJpeg(good);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.width, 8);
    EXPECT_EQ(decoded.height, 8);
}

// Every file in the folder, hidden ones included.
std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(JpegFile, ALibraryFatalErrorIsCaughtAndLeavesNoFileBehind) {
    test::IsolatedDirectory dir;
    JpegFile writer;
    // Wider than JPEG allows: libjpeg stops in jpeg_start_compress after the file was opened.
    constexpr int tooWide = 70000;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(tooWide) * 3, 50);
    const std::string path = (dir.path() / "wide.jpg").string();
    EXPECT_EQ(writer.WriteJpeg(path, rgb.data(), tooWide, 1, 75), 0);
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::Fatal);
    EXPECT_EQ(writer.errorText(), "Maximum supported image dimension is 65500 pixels");
    EXPECT_EQ(writer.systemError(), 0);
    EXPECT_TRUE(FilesIn(dir.path()).empty()) << "neither the photo nor its temporary file";

    // The jump left no state behind: the same writer writes the next file, and only that.
    std::vector<std::uint8_t> big(640 * 480 * 3);
    std::iota(big.begin(), big.end(), 0);
    const std::string next = (dir.path() / "next.jpg").string();
    EXPECT_EQ(writer.WriteJpeg(next, big.data(), 640, 480, 75), 1);
    test::DecodedJpeg decoded = test::DecodeJpeg(next);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.width, 640);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"next.jpg"});
}

TEST(JpegFile, AFailedPhotoSaysWhyAndNeverLeavesATruncatedFileUnderItsName) {
    test::IsolatedDirectory dir;
    std::vector<std::uint8_t> noise(1280 * 720 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13); // does not compress
    JpegFile writer;

    // No such folder.
    EXPECT_EQ(writer.WriteJpeg((dir.path() / "gone" / "a.jpg").string(), noise.data(), 8, 8), 0);
    EXPECT_EQ(writer.lastFailure(), JpegFile::Failure::CannotOpen);
    EXPECT_EQ(writer.systemError(), ENOENT);

    // A disk that fills up while the picture is written: the earlier photo of the same name
    // (a second photo in the same second) stays as it was, and no temporary file is left.
    const fs::path small = dir.path() / "small";
    fs::create_directory(small);
    std::string error;
    const int result = test::RunOnSmallFileSystem(
        small, 256 * 1024,
        [&] {
            const std::string path = (small / "photo.jpg").string();
            JpegFile inner;
            if (inner.WriteJpeg(path, noise.data(), 64, 48) != 1)
                return 10;
            const auto before = fs::file_size(path);
            if (inner.WriteJpeg(path, noise.data(), 1280, 720) != 0)
                return 11;
            if (inner.lastFailure() != JpegFile::Failure::CannotWrite ||
                inner.systemError() != ENOSPC)
                return 12;
            if (fs::file_size(path) != before || !test::DecodeJpeg(path).ok)
                return 13;
            if (FilesIn(small) != std::vector<std::string>{"photo.jpg"})
                return 14;
            return 0;
        },
        &error);
    ASSERT_NE(result, -1) << error;
    EXPECT_EQ(result, 0) << "step " << result << " of the full-disk photo failed";
}

TEST(JpegFile, SaveDibWritesABaselineColourJpegOfTheUprightPicture) {
    test::IsolatedDirectory dir;
    const std::vector<std::uint8_t> frame = test::MakeGrabbedFrame();
    JpegFile writer;
    const std::string path = (dir.path() / "frame.jpg").string();
    ASSERT_EQ(writer.SaveDib(path, frame.data(), 320, 240), 1);

    test::DecodedJpeg decoded = test::DecodeJpeg(path);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.width, 320);
    EXPECT_EQ(decoded.height, 240);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_FALSE(decoded.progressive);
    EXPECT_EQ(decoded.frameMarker, 0xC0);

    std::vector<std::uint8_t> expected(320 * 240 * 3);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            test::Rgb c = test::GrabbedFramePixel(x, y);
            std::uint8_t* p = expected.data() + (y * 320 + x) * 3;
            p[0] = static_cast<std::uint8_t>(c.r);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.b);
        }
    EXPECT_GT(test::Psnr(decoded.rgb, expected), 30.0);
}

TEST(JpegFile, SaveDibWritesTheSameFileAsTheStepsOneAfterTheOther) {
    // An odd width, so the DIB's rows carry padding (306 bytes of pixels in 308).
    test::IsolatedDirectory dir;
    constexpr int width = 102;
    constexpr int height = 77;
    std::vector<std::uint8_t> dib(JpegFile::DibStride(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            dib[y * JpegFile::DibStride(width) + x] = static_cast<std::uint8_t>(x * 2 + y * 3);
    for (int y = 0; y < height; ++y) // padding that must not reach the picture
        dib[y * JpegFile::DibStride(width) + 306] = dib[y * JpegFile::DibStride(width) + 307] = 255;

    JpegFile writer;
    const fs::path direct = dir.path() / "direct.jpg";
    ASSERT_EQ(writer.SaveDib(direct.string(), dib.data(), width, height), 1);

    std::unique_ptr<std::uint8_t[]> rgb = JpegFile::PackRows(dib.data(), width, height);
    ASSERT_TRUE(rgb);
    JpegFile::FlipVertically(rgb.get(), width * 3, height);
    JpegFile::SwapRedBlue(rgb.get(), width, height);
    const fs::path stepwise = dir.path() / "stepwise.jpg";
    ASSERT_EQ(writer.WriteJpeg(stepwise.string(), rgb.get(), width, height, 75), 1);

    std::ifstream a(direct, std::ios::binary), b(stepwise, std::ios::binary);
    const std::string bytesA((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    const std::string bytesB((std::istreambuf_iterator<char>(b)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytesA.size(), 100u);
    EXPECT_TRUE(bytesA == bytesB) << "the two files differ";
}

} // namespace
} // namespace kelo
