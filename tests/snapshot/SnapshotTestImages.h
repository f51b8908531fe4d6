// Pictures for the photo tests: grabbed frames drawn in the graph's layout (bottom-up BGR), and
// JPEG files read back through libjpeg.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelo::test {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

// A smooth 320 x 240 picture (horizontal red ramp, vertical green ramp, blue from both) with a
// 16 x 16 pure red marker in its top-left corner, as the grabber receives it: bottom row first,
// bytes blue, green, red. No byte is 255, so white pixels in a photo come from the scaling.
std::vector<std::uint8_t> MakeGrabbedFrame();
// The colour of that picture at (x, y) counted from the top-left corner.
Rgb GrabbedFramePixel(int x, int yFromTop);

// A frame of one colour (bottom-up BGR, 320 x 240).
std::vector<std::uint8_t> MakeUniformFrame(Rgb colour);

struct DecodedJpeg {
    bool ok = false;
    std::string error;
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    int frameMarker = 0;           // the start-of-frame marker's code: 0xC0 for baseline
    std::vector<std::uint8_t> rgb; // top-down, width * 3 bytes a row

    Rgb At(int x, int yFromTop) const;
};

// Decodes a JPEG file with libjpeg into top-down RGB; `ok` is false (with `error`) when the file
// is missing or not a complete JPEG.
DecodedJpeg DecodeJpeg(const std::filesystem::path& path);

// Peak signal-to-noise ratio in dB between two pictures of the same size (top-down RGB bytes).
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// The files in a folder (names only), sorted.
std::vector<std::string> FilesIn(const std::filesystem::path& folder);

} // namespace kelo::test
