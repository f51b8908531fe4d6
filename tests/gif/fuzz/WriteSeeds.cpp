// Writes small hand-made GIF files (the decoder's edge cases) into a folder: seeds for the
// fuzzer.
#include "gif/GifBytes.h"

#include <cstdio>
#include <filesystem>
#include <numeric>

using namespace kelo::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::vector<Rgb> four{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    std::vector<std::uint8_t> ramp(64);
    std::iota(ramp.begin(), ramp.end(), 0);
    const std::vector<std::uint8_t> netscape{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};

    GifBytes()
        .Header(2, 2, four)
        .Gce(5)
        .Image(2, 2, 2, LiteralCodeStream(std::vector<std::uint8_t>{0, 1, 2, 3}, 2))
        .Image(2, 2, 2, LiteralCodeStream(std::vector<std::uint8_t>{3, 2, 1, 0}, 2))
        .Trailer()
        .WriteTo(dir / "two-frames.gif");
    GifBytes()
        .Header(7, 1, {{255, 0, 0}, {255, 255, 255}})
        .Image(7, 1, 2, PackCodes({{4, 3}, {1, 3}, {0, 3}, {6, 3}, {8, 4}, {5, 4}}))
        .Trailer()
        .WriteTo(dir / "table-codes.gif");
    GifBytes()
        .Header(8, 8, {})
        .Extension(0xFF, {netscape, {1, 0, 0}})
        .Extension(0xFE, {{'h', 'i'}, {'!'}})
        .Gce(7, 1)
        .Image(8, 8, 6, LiteralCodeStream(ramp, 6), IndexPalette(64), true)
        .Trailer()
        .WriteTo(dir / "interlaced-local.gif");
    GifBytes()
        .Header(4, 4, four)
        .Image(4, 4, 2, PackCodes({{4, 3}, {3, 3}, {3, 3}, {3, 3}}))
        .WriteTo(dir / "early-end.gif");
    GifBytes()
        .Header(1, 1, four)
        .Image(0, 5, 2, LiteralCodeStream(std::vector<std::uint8_t>{1}, 2))
        .Image(1, 1, 9, {0})
        .Image(65535, 65535, 2, {})
        .Image(1, 1, 2, LiteralCodeStream(std::vector<std::uint8_t>{2}, 2))
        .Trailer()
        .WriteTo(dir / "bad-images.gif");
    GifBytes()
        .Header(16, 4, IndexPalette(256))
        .Extension(0x01, {std::vector<std::uint8_t>(12, 0), {'T'}})
        .Image(16, 4, 8, LiteralCodeStream(ramp, 8))
        .Raw({0x00})
        .WriteTo(dir / "plain-text.gif");
    return 0;
}
