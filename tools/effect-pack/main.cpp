// kelo-effect-pack OUTDIR: draws the 48 overlay effects and writes them as animated GIF files
// under OUTDIR/{frame,light,cartoon} with the names of the effect table, and one small PNG
// thumbnail per effect under OUTDIR/<family>/thumbs for the page buttons, at the button's size
// and at twice that ("@2x", for dense screens). The build runs it.
#include "EffectArt.h"
#include "effects/gif/EffectCatalog.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <QImage>
#include <string>

namespace fs = std::filesystem;
using namespace kelo;
using namespace kelo::pack;

namespace {

// A button-sized picture of one frame: each thumbnail pixel averages its block of the frame.
// Keyed magenta (which the overlay shows as video) is drawn as a quiet grey.
bool WriteThumbnail(const fs::path& path, const Animation& animation, std::size_t frame,
                    int scale) {
    const int kThumbWidth = kThumbnailWidth * scale;
    const int kThumbHeight = kThumbnailHeight * scale;
    const Palette& palette = animation.PaletteOf(frame);
    const auto& indices = animation.frames[frame].indices;
    QImage image(kThumbWidth, kThumbHeight, QImage::Format_RGB888);
    for (int ty = 0; ty < kThumbHeight; ++ty)
        for (int tx = 0; tx < kThumbWidth; ++tx) {
            const int x0 = tx * animation.width / kThumbWidth,
                      x1 = (tx + 1) * animation.width / kThumbWidth;
            const int y0 = ty * animation.height / kThumbHeight,
                      y1 = (ty + 1) * animation.height / kThumbHeight;
            long r = 0, g = 0, b = 0, n = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    Rgb c = palette[indices[static_cast<std::size_t>(y) * animation.width + x]];
                    if (c.r == 255 && c.g == 0 && c.b == 255)
                        c = {128, 128, 128};
                    r += c.r;
                    g += c.g;
                    b += c.b;
                    ++n;
                }
            n = n ? n : 1;
            image.setPixel(
                tx, ty,
                qRgb(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)));
        }
    return image.save(QString::fromStdString(path.string()), "PNG");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const fs::path out = argv[1];
    int written = 0;
    for (const EffectEntry& effect : AllEffects()) {
        const fs::path gifPath =
            out / fs::path(EffectRelativePath(effect)).lexically_relative("Effect");
        const fs::path thumbPath =
            out / fs::path(ThumbnailRelativePath(effect)).lexically_relative("Effect");
        std::error_code ec;
        fs::create_directories(thumbPath.parent_path(), ec);
        if (ec) {
            std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0],
                         thumbPath.parent_path().c_str(), ec.message().c_str());
            return 1;
        }
        Animation animation = DrawEffect(effect);
        animation.comment = std::string("Kelo effect ") + FamilyFolder(effect.family) + " " +
                            std::to_string(effect.number);
        const std::string error = WriteGif(gifPath.string(), animation);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s: %s\n", argv[0], gifPath.c_str(), error.c_str());
            return 1;
        }
        for (const int scale : {1, 2}) {
            const fs::path scaled =
                out / fs::path(ThumbnailRelativePath(effect, scale)).lexically_relative("Effect");
            if (!WriteThumbnail(scaled, animation, animation.frames.size() / 2, scale)) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0], scaled.c_str());
                return 1;
            }
        }
        ++written;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("%d effects written to %s in %lld ms\n", written, out.c_str(),
                static_cast<long long>(ms.count()));
    return 0;
}
