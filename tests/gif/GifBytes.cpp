#include "gif/GifBytes.h"

#include "effects/gif/GifFrame.h"

#include <fstream>
#include <stdexcept>

namespace kelo::test {

std::vector<std::uint8_t> PackCodes(const std::vector<std::pair<unsigned, unsigned>>& codes) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    unsigned bits = 0;
    for (auto [code, width] : codes) {
        acc |= code << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc & 0xFF));
    return out;
}

std::vector<std::uint8_t> LiteralCodeStream(std::span<const std::uint8_t> indices,
                                            unsigned minCodeSize) {
    const unsigned clear = 1u << minCodeSize;
    const unsigned width = minCodeSize + 1;
    // The width grows once 2^m - 1 codes follow a clear code; stay below that.
    const std::size_t run = clear - 2;
    std::vector<std::pair<unsigned, unsigned>> codes;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % run == 0)
            codes.push_back({clear, width});
        codes.push_back({indices[i], width});
    }
    codes.push_back({clear + 1, width});
    return PackCodes(codes);
}

GifBytes& GifBytes::Header(std::uint16_t width, std::uint16_t height,
                           const std::vector<Rgb>& globalTable) {
    const char* sig = "GIF89a";
    bytes_.assign(sig, sig + 6);
    bytes_.push_back(width & 0xFF);
    bytes_.push_back(width >> 8);
    bytes_.push_back(height & 0xFF);
    bytes_.push_back(height >> 8);
    std::uint8_t packed = 0x70; // colour resolution 8 bits
    if (!globalTable.empty()) {
        unsigned sizeBits = 1;
        while ((1u << sizeBits) < globalTable.size())
            ++sizeBits;
        packed |= 0x80 | (sizeBits - 1);
    }
    bytes_.push_back(packed);
    bytes_.push_back(0); // background
    bytes_.push_back(0); // aspect
    Table(globalTable);
    return *this;
}

void GifBytes::Table(const std::vector<Rgb>& table) {
    if (table.empty())
        return;
    std::size_t size = 2;
    while (size < table.size())
        size *= 2;
    for (std::size_t i = 0; i < size; ++i) {
        Rgb c = i < table.size() ? table[i] : Rgb{};
        bytes_.push_back(c.red);
        bytes_.push_back(c.green);
        bytes_.push_back(c.blue);
    }
}

GifBytes& GifBytes::Gce(std::uint16_t delay, int transparentIndex) {
    Raw({0x21, 0xF9, 0x04, static_cast<std::uint8_t>(transparentIndex >= 0 ? 1 : 0),
         static_cast<std::uint8_t>(delay & 0xFF), static_cast<std::uint8_t>(delay >> 8),
         static_cast<std::uint8_t>(transparentIndex >= 0 ? transparentIndex : 0), 0x00});
    return *this;
}

GifBytes& GifBytes::Image(std::uint16_t width, std::uint16_t height, unsigned minCodeSize,
                          const std::vector<std::uint8_t>& codeBytes,
                          const std::vector<Rgb>& localTable, bool interlaced) {
    Raw({0x2C, 0, 0, 0, 0, static_cast<std::uint8_t>(width & 0xFF),
         static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(height & 0xFF),
         static_cast<std::uint8_t>(height >> 8)});
    std::uint8_t packed = interlaced ? 0x40 : 0;
    if (!localTable.empty()) {
        unsigned sizeBits = 1;
        while ((1u << sizeBits) < localTable.size())
            ++sizeBits;
        packed |= 0x80 | (sizeBits - 1);
    }
    bytes_.push_back(packed);
    Table(localTable);
    bytes_.push_back(static_cast<std::uint8_t>(minCodeSize));
    for (std::size_t at = 0; at < codeBytes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, codeBytes.size() - at);
        bytes_.push_back(static_cast<std::uint8_t>(n));
        bytes_.insert(bytes_.end(), codeBytes.begin() + at, codeBytes.begin() + at + n);
    }
    bytes_.push_back(0);
    return *this;
}

GifBytes& GifBytes::Extension(std::uint8_t label,
                              const std::vector<std::vector<std::uint8_t>>& blocks) {
    Raw({0x21, label});
    for (const auto& block : blocks) {
        bytes_.push_back(static_cast<std::uint8_t>(block.size()));
        bytes_.insert(bytes_.end(), block.begin(), block.end());
    }
    bytes_.push_back(0);
    return *this;
}

GifBytes& GifBytes::Raw(std::initializer_list<std::uint8_t> raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
}

GifBytes& GifBytes::Trailer() {
    return Raw({0x3B});
}

void GifBytes::WriteTo(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

Rgb PixelAt(const std::uint8_t* picture, int x, int yFromTop) {
    const std::uint8_t* p =
        picture + static_cast<std::size_t>(kOverlayHeight - 1 - yFromTop) * kOverlayStride + x * 3;
    return Rgb{p[2], p[1], p[0]};
}

std::vector<Rgb> IndexPalette(int entries) {
    std::vector<Rgb> table;
    for (int i = 0; i < entries; ++i)
        table.push_back(Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                            static_cast<std::uint8_t>((i * 37) & 0xFF)});
    return table;
}

} // namespace kelo::test
