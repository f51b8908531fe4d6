// The generated effect pack: all 48 files under the table's names, each a real animation that
// decodes as giflib reads it, drawn for the blend rule of its overlay code.
#include "effects/gif/EffectCatalog.h"
#include "effects/gif/GifAnimation.h"
#include "gif/GifBytes.h"
#include "gif/GiflibFiles.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <QImage>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using test::PixelAt;
using test::Rgb;

fs::path PackFile(const EffectEntry& e) {
    return test::BinaryDir() / EffectRelativePath(e);
}

bool IsMagenta(Rgb c) {
    return c.red == 255 && c.green == 0 && c.blue == 255;
}
bool IsBlack(Rgb c) {
    return c.red == 0 && c.green == 0 && c.blue == 0;
}

TEST(EffectCatalogTest, FortyEightEffectsSixteenPerPage) {
    ASSERT_EQ(48u, AllEffects().size());
    for (EffectFamily family : {EffectFamily::Frame, EffectFamily::Light, EffectFamily::Cartoon}) {
        const auto effects = EffectsOf(family);
        ASSERT_EQ(16u, effects.size());
        for (int n = 1; n <= 16; ++n) {
            EXPECT_EQ(&effects[n - 1], FindEffect(family, n));
            EXPECT_EQ(n, effects[n - 1].number);
            EXPECT_EQ(family, effects[n - 1].family);
        }
        EXPECT_EQ(nullptr, FindEffect(family, 0));
        EXPECT_EQ(nullptr, FindEffect(family, 17));
    }
    const EffectEntry& light4 = *FindEffect(EffectFamily::Light, 4);
    EXPECT_EQ("//Effect//light//004七色烟花.gif", EffectPathSuffix(light4));
    EXPECT_EQ("Effect/light/004七色烟花.gif", EffectRelativePath(light4));
    EXPECT_EQ(1059, light4.buttonId);
    EXPECT_EQ(112, FindEffect(EffectFamily::Cartoon, 5)->overlayCode);
    EXPECT_EQ(111, FindEffect(EffectFamily::Cartoon, 11)->overlayCode);
    EXPECT_EQ(1040, FindEffect(EffectFamily::Frame, 1)->buttonId);
    EXPECT_STREQ("", FindEffect(EffectFamily::Frame, 1)->caption);
    EXPECT_STREQ("流星雨", FindEffect(EffectFamily::Light, 1)->caption);
}

TEST(EffectPackTest, EveryFileDecodesAsGiflibReadsIt) {
    for (const EffectEntry& e : AllEffects()) {
        const fs::path path = PackFile(e);
        SCOPED_TRACE(path.string());
        ASSERT_TRUE(fs::exists(path));
        GifAnimation anim;
        ASSERT_EQ(1, anim.Load(path.string()));
        const test::SlurpedGif slurped = test::SlurpFileWithGiflib(path.string());
        ASSERT_TRUE(slurped.ok);
        // A real animation: at least 8 frames, each shown 4 to 20 hundredths.
        ASSERT_GE(anim.GetFrameCount(), 8);
        ASSERT_EQ(static_cast<int>(slurped.images.size()), anim.GetFrameCount());
        int carriedDelay = 0;
        const std::vector<Rgb>* table = nullptr;
        for (int f = 0; f < anim.GetFrameCount(); ++f) {
            const test::SlurpedImage& image = slurped.images[f];
            if (image.controlBlock)
                carriedDelay = image.delay;
            EXPECT_EQ(carriedDelay, anim.GetFrameDelay(f)) << "frame " << f;
            EXPECT_GE(anim.GetFrameDelay(f), 4);
            EXPECT_LE(anim.GetFrameDelay(f), 20);
            // The pack sends every frame whole: a local table on every frame, or on none.
            table = &image.colours;
            // Compare each source pixel where the picture shows it unscaled or enlarged.
            const std::uint8_t* bits = anim.GetFrameBits(f);
            int wrong = 0;
            for (int r = 0; r < image.height; ++r)
                for (int c = 0; c < image.width; ++c) {
                    const int x = static_cast<int>(std::lround(c * 320.0 / image.width));
                    const int up = static_cast<int>(
                        std::lround((image.height - 1 - r) * 240.0 / image.height));
                    const Rgb expected =
                        (*table)[image.raster[static_cast<std::size_t>(r) * image.width + c]];
                    wrong += !(PixelAt(bits, x, 239 - up) == expected);
                }
            EXPECT_EQ(0, wrong) << "frame " << f;
        }
    }
}

TEST(EffectPackTest, ThePackExercisesTheDecoder) {
    int smaller = 0, interlaced = 0, localTables = 0, withoutControlBlock = 0,
        withoutGlobalTable = 0;
    for (const EffectEntry& e : AllEffects()) {
        const test::SlurpedGif slurped = test::SlurpFileWithGiflib(PackFile(e).string());
        ASSERT_TRUE(slurped.ok) << PackFile(e);
        withoutGlobalTable += !slurped.globalTable;
        const test::SlurpedImage& first = slurped.images.front();
        smaller += first.width < 320 || first.height < 240;
        interlaced += first.interlaced;
        localTables += first.localTable;
        for (const auto& image : slurped.images)
            withoutControlBlock += !image.controlBlock ? 1 : 0;
    }
    EXPECT_GE(smaller, 3);
    EXPECT_GE(interlaced, 3);
    EXPECT_GE(localTables, 3);
    EXPECT_GE(withoutControlBlock, 3);
    EXPECT_GE(withoutGlobalTable, 1);
}

// Light on black for the screen blend, opaque frames around a keyed centre, keyed stickers.
TEST(EffectPackTest, ArtIsDrawnForItsBlendRule) {
    for (const EffectEntry& e : AllEffects()) {
        SCOPED_TRACE(PackFile(e).string());
        GifAnimation anim;
        ASSERT_EQ(1, anim.Load(PackFile(e).string()));
        for (int f = 0; f < anim.GetFrameCount(); ++f) {
            const std::uint8_t* bits = anim.GetFrameBits(f);
            int black = 0, magenta = 0, bright = 0;
            for (int y = 0; y < 240; ++y)
                for (int x = 0; x < 320; ++x) {
                    const Rgb c = PixelAt(bits, x, y);
                    black += IsBlack(c);
                    magenta += IsMagenta(c);
                    bright += std::max({c.red, c.green, c.blue}) > 160;
                }
            const int all = 320 * 240;
            switch (e.overlayCode) {
            case kOverlayScreen:
                EXPECT_EQ(0, magenta) << "frame " << f;
                EXPECT_GT(black, all / 3) << "frame " << f;
                EXPECT_GT(bright, 20) << "frame " << f;
                break;
            case kOverlayKey:
                EXPECT_TRUE(IsMagenta(PixelAt(bits, 160, 120))) << "frame " << f;
                for (auto [x, y] :
                     {std::pair{0, 0}, {319, 0}, {0, 239}, {319, 239}, {160, 2}, {2, 120}})
                    EXPECT_FALSE(IsMagenta(PixelAt(bits, x, y)))
                        << "frame " << f << " at " << x << "," << y;
                EXPECT_GT(magenta, all / 3) << "frame " << f;
                break;
            case kOverlayKeyFaded:
                EXPECT_GT(magenta, all / 3) << "frame " << f;
                EXPECT_GT(all - magenta, all / 50) << "frame " << f;
                break;
            default:
                ADD_FAILURE() << "overlay code " << e.overlayCode;
            }
        }
    }
}

// Each effect has its button's picture at the button's size and at twice that for dense screens
// (Qt's "@2x" name), both of the same frame.
TEST(EffectPackTest, EveryEffectHasAThumbnailAtOneAndTwoTimesTheButtonSize) {
    for (const EffectEntry& e : AllEffects()) {
        QImage plain, dense;
        const fs::path path = test::BinaryDir() / ThumbnailRelativePath(e);
        const fs::path path2x = test::BinaryDir() / ThumbnailRelativePath(e, 2);
        EXPECT_EQ(path2x.stem().string(), path.stem().string() + "@2x");
        ASSERT_TRUE(plain.load(QString::fromStdString(path.string()))) << path;
        ASSERT_TRUE(dense.load(QString::fromStdString(path2x.string()))) << path2x;
        EXPECT_EQ(QSize(kThumbnailWidth, kThumbnailHeight), plain.size());
        EXPECT_EQ(plain.size() * 2, dense.size());
        // The same picture: the dense one scaled down is close to the plain one.
        const QImage down =
            dense.scaled(plain.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(plain.format());
        long difference = 0;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x)
                difference += std::abs(qGray(plain.pixel(x, y)) - qGray(down.pixel(x, y)));
        EXPECT_LT(difference / (plain.width() * plain.height()), 24) << path;
    }
}

// gif-frames writes the pictures upright and a line per frame.
TEST(GifFramesToolTest, WritesEveryPictureUprightAndItsDelay) {
    test::TempDir out;
    const EffectEntry& e = *FindEffect(EffectFamily::Light, 3);
    const fs::path tool = test::BinaryDir() / "tools/gif-frames/gif-frames";
    const fs::path listing = out.path() / "listing.txt";
    const std::string command = "'" + tool.string() + "' '" + PackFile(e).string() + "' '" +
                                (out.path() / "frames").string() + "' > '" + listing.string() + "'";
    ASSERT_EQ(0, std::system(command.c_str()));

    GifAnimation anim;
    ASSERT_EQ(1, anim.Load(PackFile(e).string()));
    const auto text = test::ReadFileBytes(listing.string());
    std::string expected;
    for (int f = 0; f < anim.GetFrameCount(); ++f) {
        char line[64];
        std::snprintf(line, sizeof line, "frame-%03d.png delay %d\n", f, anim.GetFrameDelay(f));
        expected += line;
        QImage png;
        const fs::path picture = out.path() / "frames" / std::string(line, 13); // "frame-NNN.png"
        ASSERT_TRUE(png.load(QString::fromStdString(picture.string()))) << picture;
        ASSERT_EQ(320, png.width());
        ASSERT_EQ(240, png.height());
        for (auto [x, y] : {std::pair{0, 0}, {319, 239}, {100, 30}, {200, 200}, {41, 187}}) {
            const Rgb c = PixelAt(anim.GetFrameBits(f), x, y);
            const QRgb p = png.pixel(x, y);
            EXPECT_EQ(c.red, qRed(p));
            EXPECT_EQ(c.green, qGreen(p));
            EXPECT_EQ(c.blue, qBlue(p));
        }
    }
    EXPECT_EQ(expected, std::string(text.begin(), text.end()));

    // A file that cannot be opened: status 1 and a message on standard error.
    const fs::path errors = out.path() / "errors.txt";
    const std::string missing = "'" + tool.string() + "' '" +
                                (out.path() / "missing.gif").string() + "' '" +
                                (out.path() / "none").string() + "' 2> '" + errors.string() + "'";
    const int status = std::system(missing.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_FALSE(test::ReadFileBytes(errors.string()).empty());
    EXPECT_FALSE(fs::exists(out.path() / "none"));
}

} // namespace
} // namespace kelo
