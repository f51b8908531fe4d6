// gif-frames FILE OUTDIR: decodes FILE exactly as the studio does (GifAnimation) and writes
// each overlay picture upright as OUTDIR/frame-NNN.png, with one line per frame on standard
// output: the PNG's name and the frame's delay in hundredths of a second. For effect authors
// to check their files.
#include "effects/gif/GifAnimation.h"

#include <cstdio>
#include <filesystem>
#include <QImage>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1];
    const fs::path outDir = argv[2];

    kelo::GifAnimation animation;
    if (animation.Load(file) != 1) {
        std::fprintf(stderr, "%s: cannot open %s\n", argv[0], file.c_str());
        return 1;
    }
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], outDir.c_str(),
                     ec.message().c_str());
        return 1;
    }

    for (int i = 0; i < animation.GetFrameCount(); ++i) {
        const std::uint8_t* bits = animation.GetFrameBits(i);
        QImage image(kelo::kOverlayWidth, kelo::kOverlayHeight, QImage::Format_RGB888);
        for (int y = 0; y < kelo::kOverlayHeight; ++y) {
            // The picture is stored bottom row first, blue-green-red.
            const std::uint8_t* src = bits + (kelo::kOverlayHeight - 1 - y) * kelo::kOverlayStride;
            std::uint8_t* dst = image.scanLine(y);
            for (int x = 0; x < kelo::kOverlayWidth; ++x) {
                dst[x * 3] = src[x * 3 + 2];
                dst[x * 3 + 1] = src[x * 3 + 1];
                dst[x * 3 + 2] = src[x * 3];
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "frame-%03d.png", i);
        const fs::path path = outDir / name;
        if (!image.save(QString::fromStdString(path.string()), "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
        std::printf("%s delay %d\n", name, animation.GetFrameDelay(i));
    }
    return 0;
}
