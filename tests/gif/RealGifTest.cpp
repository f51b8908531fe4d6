// GIF files that nobody here made (Debian's apache2-data icons and gdk-pixbuf's GIF test suite,
// malformed files included), fetched by the test fixture into <build>/real-gifs.
#include "effects/gif/GifAnimation.h"
#include "gif/GiflibFiles.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> GifsIn(const std::string& folder) {
    const fs::path dir = test::BinaryDir() / "real-gifs" / folder;
    std::vector<fs::path> files;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".gif")
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Loads every file; where giflib reads a file whole, our frames are its images one for one with
// the same delays (carried to images without a control block, as the effect files rely on).
// Returns the number of files giflib read.
int CheckAgainstGiflib(const std::vector<fs::path>& files, bool expectFrames) {
    int agreed = 0;
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        GifAnimation anim;
        EXPECT_EQ(1, anim.Load(path.string()));
        const auto bytes = test::ReadFileBytes(path.string());
        // Never more frames than image separators in the file.
        EXPECT_LE(anim.GetFrameCount(), std::count(bytes.begin(), bytes.end(), 0x2C));
        if (expectFrames) {
            EXPECT_GE(anim.GetFrameCount(), 1);
        }
        const test::SlurpedGif slurped = test::SlurpWithGiflib(bytes);
        if (!slurped.ok)
            continue;
        ++agreed;
        EXPECT_EQ(static_cast<int>(slurped.images.size()), anim.GetFrameCount());
        int delay = 0;
        for (std::size_t i = 0;
             i < slurped.images.size() && static_cast<int>(i) < anim.GetFrameCount(); ++i) {
            if (slurped.images[i].controlBlock)
                delay = slurped.images[i].delay;
            EXPECT_EQ(delay, anim.GetFrameDelay(static_cast<int>(i))) << "frame " << i;
            EXPECT_NE(nullptr, anim.GetFrameBits(static_cast<int>(i)));
        }
    }
    return agreed;
}

TEST(RealGifTest, ApacheIconsAllDecode) {
    const auto files = GifsIn("apache2");
    ASSERT_GE(files.size(), 100u) << "the fixture fetches apache2-data's icons";
    EXPECT_EQ(static_cast<int>(files.size()), CheckAgainstGiflib(files, true));
}

TEST(RealGifTest, GdkPixbufSuiteDecodesLikeGiflib) {
    const auto files = GifsIn("gdk-pixbuf");
    ASSERT_GE(files.size(), 80u) << "the fixture fetches gdk-pixbuf-tests";
    EXPECT_GE(CheckAgainstGiflib(files, false), 60);
}

TEST(RealGifTest, MalformedFilesLoadWithoutHarm) {
    const auto files = GifsIn("gdk-pixbuf-fail");
    ASSERT_GE(files.size(), 5u) << "the fixture fetches gdk-pixbuf-tests";
    CheckAgainstGiflib(files, false);
    // Loading a broken file after a good one replaces the frames; nothing of the old stays.
    GifAnimation anim;
    ASSERT_EQ(1, anim.Load(GifsIn("apache2").front().string()));
    for (const fs::path& path : files) {
        ASSERT_EQ(1, anim.Load(path.string()));
        for (int i = 0; i < anim.GetFrameCount(); ++i)
            ASSERT_NE(nullptr, anim.GetFrameBits(i));
    }
}

} // namespace
} // namespace kelo
