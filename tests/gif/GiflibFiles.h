// giflib on both sides of the decoder's tests: encoding known index arrays into GIF bytes, and
// reading files with DGifSlurp as an independent opinion of what they hold.
#pragma once

#include "gif/GifBytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelo::test {

struct GiflibImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices; // top row first
    std::vector<Rgb> localTable;       // empty: none
    bool interlaced = false;           // rows are then sent in the four passes
    int delay = -1;                    // < 0: no graphic control block
};

// Encodes a GIF89a with giflib (EGifOpen to memory). Throws on a giflib error.
std::vector<std::uint8_t> EncodeWithGiflib(int screenWidth, int screenHeight,
                                           const std::vector<Rgb>& globalTable,
                                           const std::vector<GiflibImage>& images);

// What giflib reads in a file.
struct SlurpedImage {
    int width = 0, height = 0;
    bool interlaced = false;
    bool localTable = false;
    bool controlBlock = false;
    int delay = 0;                    // of its own control block, 0 without one
    std::vector<std::uint8_t> raster; // de-interlaced, top row first
    std::vector<Rgb> colours;         // the table giflib pairs with it (local, else global)
};
struct SlurpedGif {
    bool ok = false; // DGifSlurp succeeded
    bool globalTable = false;
    std::vector<SlurpedImage> images;
};
SlurpedGif SlurpWithGiflib(const std::vector<std::uint8_t>& bytes);
SlurpedGif SlurpFileWithGiflib(const std::string& path);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

} // namespace kelo::test
