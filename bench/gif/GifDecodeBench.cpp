// Decodes the 48 files of the effect pack with GifAnimation and, in the same run, with giflib's
// DGifSlurp plus a palette lookup to 24-bit colour; prints the medians and their ratio, and the
// time of the slowest single effect (the page decodes it on the window thread when a button is
// pressed). Usage: gif_decode_bench [EFFECT_DIR] [REPETITIONS]
#include "bench/support/BenchMeasure.h"
#include "effects/gif/EffectCatalog.h"
#include "effects/gif/GifAnimation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gif_lib.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

using kelo::bench::Median;

using Clock = std::chrono::steady_clock;

struct File {
    std::string path;
    std::vector<std::uint8_t> bytes;
};

struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
    auto* in = static_cast<Reader*>(gif->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(length), in->bytes->size() - in->pos);
    std::memcpy(out, in->bytes->data() + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

// giflib's way: slurp every image, then look each index up in its colour table (24-bit).
std::size_t DecodeWithGiflib(const std::vector<std::uint8_t>& bytes,
                             std::vector<std::uint8_t>& rgb) {
    Reader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    if (!gif)
        return 0;
    std::size_t images = 0;
    if (DGifSlurp(gif) == GIF_OK) {
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& image = gif->SavedImages[i];
            const ColorMapObject* map =
                image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
            const std::size_t pixels =
                static_cast<std::size_t>(image.ImageDesc.Width) * image.ImageDesc.Height;
            rgb.resize(pixels * 3);
            for (std::size_t p = 0; p < pixels; ++p) {
                const GifColorType& c = map->Colors[image.RasterBits[p]];
                rgb[p * 3] = c.Blue;
                rgb[p * 3 + 1] = c.Green;
                rgb[p * 3 + 2] = c.Red;
            }
            ++images;
        }
    }
    DGifCloseFile(gif, &error);
    return images;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : KELO_EFFECT_DIR;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;

    std::vector<File> files;
    for (const kelo::EffectEntry& e : kelo::AllEffects()) {
        std::string relative = kelo::EffectRelativePath(e);
        File f{dir + "/" + relative.substr(std::strlen("Effect/")), {}};
        std::ifstream in(f.path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", f.path.c_str());
            return 1;
        }
        f.bytes.assign(std::istreambuf_iterator<char>(in), {});
        files.push_back(std::move(f));
    }

    std::vector<double> ours, theirs;
    std::vector<std::vector<double>> perFile(files.size());
    std::size_t oursFrames = 0, theirsFrames = 0;
    std::vector<std::uint8_t> rgb;
    // One decoder for the whole pack, as an effect page keeps one: its pictures are reused from
    // file to file, as giflib's side reuses `rgb`.
    kelo::GifAnimation animation;
    for (int r = 0; r < repetitions; ++r) {
        // Alternate the order so that neither side always runs on a warm cache.
        for (int side = 0; side < 2; ++side) {
            const bool oursFirst = r % 2 == 0;
            if ((side == 0) == oursFirst) {
                const auto start = Clock::now();
                std::size_t frames = 0;
                for (std::size_t i = 0; i < files.size(); ++i) {
                    const auto fileStart = Clock::now();
                    animation.LoadBytes(files[i].bytes);
                    frames += static_cast<std::size_t>(animation.GetFrameCount());
                    perFile[i].push_back(Ms(Clock::now() - fileStart));
                }
                ours.push_back(Ms(Clock::now() - start));
                oursFrames = frames;
            } else {
                const auto start = Clock::now();
                std::size_t frames = 0;
                for (const File& f : files)
                    frames += DecodeWithGiflib(f.bytes, rgb);
                theirs.push_back(Ms(Clock::now() - start));
                theirsFrames = frames;
            }
        }
    }

    // The slowest effect, loaded from its file as the page does it.
    std::size_t slowest = 0;
    for (std::size_t i = 1; i < files.size(); ++i)
        if (Median(perFile[i]) > Median(perFile[slowest]))
            slowest = i;
    std::vector<double> load;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = Clock::now();
        animation.Load(files[slowest].path);
        load.push_back(Ms(Clock::now() - start));
    }

    const double a = Median(ours), b = Median(theirs);
    std::printf("effect pack: %zu files, %zu frames (giflib: %zu images), %d repetitions\n",
                files.size(), oursFrames, theirsFrames, repetitions);
    std::printf("GifAnimation (decode + scale to 320x240 + colour)  median %8.2f ms\n", a);
    std::printf("giflib DGifSlurp + palette lookup to 24-bit         median %8.2f ms\n", b);
    std::printf(
        "ratio ours / giflib                                        %8.2f  (target <= 1.00)\n",
        a / b);
    std::printf("slowest effect: %s\n  decode median %.2f ms, Load from file median %.2f ms  "
                "(target < 50 ms)\n",
                files[slowest].path.c_str(), Median(perFile[slowest]), Median(load));
    return 0;
}
