// Building GIF files byte by byte for the decoder's tests, and reading its pictures back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kelo::test {

struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};

// Packs LZW codes least significant bit first, each with its own width: {code, bits}.
std::vector<std::uint8_t> PackCodes(const std::vector<std::pair<unsigned, unsigned>>& codes);

// A valid code stream that sends every index as a literal: a clear code before each run short
// enough that the code width never grows, then the end code.
std::vector<std::uint8_t> LiteralCodeStream(std::span<const std::uint8_t> indices,
                                            unsigned minCodeSize);

class GifBytes {
public:
    // "GIF89a", screen size, and the global table when it is not empty (its size is rounded up
    // to a power of two with black entries).
    GifBytes& Header(std::uint16_t width, std::uint16_t height,
                     const std::vector<Rgb>& globalTable);
    GifBytes& Gce(std::uint16_t delay, int transparentIndex = -1);
    // An image: descriptor, optional local table, minimum code size and the code bytes split
    // into sub-blocks of at most 255 bytes.
    GifBytes& Image(std::uint16_t width, std::uint16_t height, unsigned minCodeSize,
                    const std::vector<std::uint8_t>& codeBytes,
                    const std::vector<Rgb>& localTable = {}, bool interlaced = false);
    // An extension with the given label and sub-blocks (each at most 255 bytes).
    GifBytes& Extension(std::uint8_t label, const std::vector<std::vector<std::uint8_t>>& blocks);
    GifBytes& Raw(std::initializer_list<std::uint8_t> raw);
    GifBytes& Trailer();

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    void WriteTo(const std::filesystem::path& path) const;

private:
    void Table(const std::vector<Rgb>& table);
    std::vector<std::uint8_t> bytes_;
};

// A colour of an overlay picture at column x, row y counted from the top (the picture is
// stored bottom row first, blue-green-red).
Rgb PixelAt(const std::uint8_t* picture, int x, int yFromTop);

// A palette whose entry i has red i, so that the red byte of a picture gives back the index.
std::vector<Rgb> IndexPalette(int entries = 256);

} // namespace kelo::test
