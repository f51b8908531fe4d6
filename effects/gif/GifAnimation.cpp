#include "effects/gif/GifAnimation.h"

#include "platform/system/InputFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace kelo {

namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
// Palette entry shown where scaling reaches past the source image.
constexpr std::uint8_t kOutsideIndex = 0xFF;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Walks a chain of data sub-blocks (size byte, data, ..., size 0) starting at pos. Returns the
// position behind the terminator, or 0 when the chain runs past the data.
std::size_t SkipSubBlocks(std::span<const std::uint8_t> data, std::size_t pos) {
    while (pos < data.size()) {
        const std::size_t n = data[pos];
        pos += 1;
        if (n == 0)
            return pos;
        pos += n;
    }
    return 0;
}

// For each picture row counted from the top, the row of the decoded stream that holds it: the
// identity, or the four passes of an interlaced image (rows 0, 8, 16...; 4, 12...; 2, 6...;
// 1, 3, 5...), each taking the next rows of the stream.
std::vector<std::uint32_t> StreamRowsOfPictureRows(std::uint32_t height, bool interlaced) {
    std::vector<std::uint32_t> rows(height);
    if (!interlaced) {
        for (std::uint32_t y = 0; y < height; ++y)
            rows[y] = y;
        return rows;
    }
    static constexpr std::uint32_t kStart[4] = {0, 4, 2, 1};
    static constexpr std::uint32_t kStep[4] = {8, 8, 4, 2};
    std::uint32_t streamRow = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (std::uint32_t y = kStart[pass]; y < height; y += kStep[pass])
            rows[y] = streamRow++;
    return rows;
}

// Nearest-neighbour source position of every output position: floor(i / scale + 0.5) with the
// scale held as a 32-bit float, as the effect files were always drawn for; -1 past the source.
std::vector<int> NearestSourcePositions(int outputSize, int sourceSize) {
    std::vector<int> map(outputSize);
    const float scale = static_cast<float>(outputSize) / static_cast<float>(sourceSize);
    for (int i = 0; i < outputSize; ++i) {
        const float position = static_cast<float>(i) / scale;
        const int source = static_cast<int>(std::floor(static_cast<double>(position) + 0.5));
        map[i] = source < sourceSize ? source : -1;
    }
    return map;
}

} // namespace

GifAnimation::GifAnimation()
    : codeTable_(kCodeTableSize), firstChar_(kCodeTableSize), entryStart_(kCodeTableSize),
      entryLength_(kCodeTableSize) {}

GifAnimation::~GifAnimation() = default;

int GifAnimation::Load(const std::string& path) {
    // Only a regular file, opened without waiting: a pipe put there would hold the window.
    std::vector<std::uint8_t> data;
    if (ReadInputFile(path, kMaxFileBytes, &data) != InputFileStatus::Ok)
        return 0;
    const std::size_t length = data.size();
    // One zero byte behind the data, which also ends the block loop of a file without trailer.
    data.push_back(0);
    LoadBytes(std::span<const std::uint8_t>(data.data(), length));
    return 1;
}

void GifAnimation::LoadBytes(std::span<const std::uint8_t> file) {
    for (GifFrame& frame : frames_)
        sparePictures_.push_back(frame.TakePicture());
    frames_.clear();
    pixelsDecoded_ = 0;
    // Entries that no colour table of this file sets are black.
    palette_ = {};
    colorCount_ = 0;
    currentDelay_ = 0;
    currentTransparentIndex_ = 0xFFFF;
    currentImage_ = {};

    // Signature, version and logical screen descriptor; only the packed byte is used.
    constexpr std::size_t kHeaderBytes = 13;
    if (file.size() < kHeaderBytes)
        return;
    const std::uint8_t packed = file[10];
    colorCount_ = static_cast<std::uint16_t>(1u << ((packed & 7) + 1));
    std::size_t pos = kHeaderBytes;
    if (packed & 0x80) {
        const std::size_t tableBytes = std::size_t{colorCount_} * 3;
        if (file.size() - pos < tableBytes)
            return;
        ReadColorTable(file.data() + pos, colorCount_);
        pos += tableBytes;
    }

    // Block loop: each block tells how far it reaches; anything unrecognised (the trailer 0x3B
    // included) ends decoding, and the frames decoded so far stay.
    while (pos < file.size() && frames_.size() < kMaxFrames) {
        std::size_t next = 0;
        const std::uint8_t introducer = file[pos];
        if (introducer == kImageSeparator) {
            const std::size_t length = ParseImage(file, pos);
            next = length ? pos + length : 0;
        } else if (introducer == kExtensionIntroducer && pos + 1 < file.size()) {
            const std::uint8_t label = file[pos + 1];
            if (label == kGraphicControlLabel && pos + 2 < file.size() && file[pos + 2] == 4) {
                // 21 F9 04 flags delay-lo delay-hi transparent 00
                if (file.size() - pos < 8)
                    break;
                const std::uint8_t* block = file.data() + pos;
                currentTransparentIndex_ = 0xFFFF;
                if (block[3] & 1)
                    currentTransparentIndex_ = block[6];
                currentDelay_ = Le16(block + 4);
                next = pos + 8;
            } else {
                // Plain text, application, comment and any other extension: skipped through
                // all of its sub-blocks (a fixed header block, when it has one, is the first).
                next = SkipSubBlocks(file, pos + 2);
            }
        }
        if (next == 0)
            break;
        pos = next;
    }
}

void GifAnimation::ReadColorTable(const std::uint8_t* rgb, std::size_t count) {
    for (std::size_t i = 0; i < count && i < palette_.size(); ++i) {
        palette_[i].red = rgb[i * 3];
        palette_[i].green = rgb[i * 3 + 1];
        palette_[i].blue = rgb[i * 3 + 2];
        palette_[i].reserved = 0;
    }
}

std::size_t GifAnimation::ParseImage(std::span<const std::uint8_t> data, std::size_t pos) {
    // 2C left top width height packed [local table] min-code-size sub-blocks... 00
    constexpr std::size_t kDescriptorBytes = 10;
    if (data.size() - pos < kDescriptorBytes + 1)
        return 0;
    const std::uint8_t* d = data.data() + pos;
    currentImage_.left = Le16(d + 1);
    currentImage_.top = Le16(d + 3);
    currentImage_.width = Le16(d + 5);
    currentImage_.height = Le16(d + 7);
    const std::uint8_t packed = d[9];
    currentImage_.interlaced = (packed & 0x40) != 0;
    std::size_t p = pos + kDescriptorBytes;
    if (packed & 0x80) {
        // A local table overwrites the first palette entries and stays for the next images.
        const std::size_t count = std::size_t{1} << ((packed & 7) + 1);
        if (data.size() - p < count * 3)
            return 0;
        ReadColorTable(data.data() + p, count);
        p += count * 3;
    }
    if (p >= data.size())
        return 0;
    const unsigned minCodeSize = data[p];
    p += 1;

    // Join the sub-blocks. A chain cut short by the end of the file keeps what is there: the
    // image is decoded from it and decoding ends after it.
    std::vector<std::uint8_t> codes;
    bool truncated = false;
    {
        std::size_t q = p;
        std::size_t total = 0;
        while (true) {
            if (q >= data.size()) {
                truncated = true;
                break;
            }
            const std::size_t n = data[q];
            if (n == 0)
                break;
            total += std::min(n, data.size() - q - 1);
            q += 1 + n;
        }
        // Four zero bytes behind the data: a code is read from up to three bytes.
        codes.reserve(total + 4);
        q = p;
        while (q < data.size() && data[q] != 0) {
            const std::size_t n = std::min<std::size_t>(data[q], data.size() - q - 1);
            codes.insert(codes.end(), data.begin() + q + 1, data.begin() + q + 1 + n);
            q += 1 + data[q];
        }
        p = q + 1; // behind the terminator
    }
    const std::size_t joinedLength = codes.size();
    codes.resize(joinedLength + 4, 0);

    // Images that cannot be decoded give no picture; the blocks after them are still read.
    // Valid minimum code sizes are 2..8 (clear code 4..256, first width 3..9 bits).
    const std::size_t width = currentImage_.width;
    const std::size_t height = currentImage_.height;
    const bool decodable = minCodeSize >= 2 && minCodeSize <= 8 && width > 0 && height > 0 &&
                           width * height <= kMaxImagePixels;
    if (decodable && width * height > kMaxTotalPixels - pixelsDecoded_)
        return 0; // this file has had all the decoding it gets
    if (decodable && frames_.size() < kMaxFrames) {
        pixelsDecoded_ += width * height;
        // Zero-filled: pixels that the code stream does not reach stay palette entry 0.
        indices_.assign(width * height, 0);
        DecodeLzw(std::span<const std::uint8_t>(codes.data(), joinedLength), minCodeSize, indices_);
        AppendFrame(indices_);
    }
    if (truncated)
        return 0;
    return p - pos;
}

void GifAnimation::DecodeLzw(std::span<const std::uint8_t> codes, unsigned minCodeSize,
                             std::vector<std::uint8_t>& indices) {
    // The caller pads codes with zero bytes behind codes.size(), so a code read near the end
    // sees zeros past the data.
    const std::uint8_t* bytes = codes.data();
    const std::size_t length = codes.size();
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    const unsigned first = clear + 2;
    CodeEntry* table = codeTable_.data();
    std::uint16_t* firstChar = firstChar_.data();
    std::uint8_t* out = indices.data();
    const std::size_t outSize = indices.size();
    std::size_t outPos = 0;

    std::size_t count = 0; // entries collected since the last clear code
    unsigned nextCode = first;
    unsigned codeWidth = minCodeSize + 1;
    std::size_t bitPos = 0;

    // Codes are collected between clear codes and written out here. Entry j stands for code
    // first + j: the string of its own code followed by its next character, which is the first
    // character of entry j + 1. So the string of code first + t is exactly the output of entry t
    // and the byte after it: it is copied from there (the one overlap, a code naming the entry it
    // completes, copies forward byte by byte). Returns false when the index buffer is full (more
    // output than the image holds ends the image).
    std::size_t* start = entryStart_.data();
    std::uint32_t* stringLength = entryLength_.data();
    auto expand = [&]() -> bool {
        for (std::size_t j = 0; j < count; ++j) {
            const unsigned code = table[j].code;
            start[j] = outPos;
            if (code < clear) {
                if (outPos >= outSize)
                    return false;
                out[outPos++] = static_cast<std::uint8_t>(code);
                stringLength[j] = 1;
                continue;
            }
            const std::size_t t = code - first;
            const std::size_t n = std::size_t{stringLength[t]} + 1;
            const std::size_t fits = std::min(n, outSize - outPos);
            const std::uint8_t* src = out + start[t];
            std::uint8_t* dst = out + outPos;
            if (src + fits <= dst) {
                std::memcpy(dst, src, fits);
            } else {
                for (std::size_t i = 0; i < fits; ++i)
                    dst[i] = src[i];
            }
            outPos += fits;
            stringLength[j] = static_cast<std::uint32_t>(n);
            if (fits < n)
                return false;
        }
        return true;
    };

    while (true) {
        // End of data: the last code read reached past the joined sub-blocks.
        if (bitPos / 8 > length) {
            expand();
            return;
        }
        const std::size_t at = bitPos / 8;
        const std::uint32_t window =
            bytes[at] | (std::uint32_t{bytes[at + 1]} << 8) | (std::uint32_t{bytes[at + 2]} << 16);
        const unsigned x = (window >> (bitPos % 8)) & ((1u << codeWidth) - 1);
        bitPos += codeWidth;

        if (x == clear) {
            if (!expand())
                return;
            count = 0;
            nextCode = first;
            codeWidth = minCodeSize + 1;
            continue;
        }
        if (x == end) {
            expand();
            return;
        }
        if (count == kCodeTableSize) {
            // More codes between two clear codes than the table holds.
            expand();
            return;
        }
        if (x < clear) {
            table[count] = {static_cast<std::uint16_t>(x), 0};
            firstChar[count] = static_cast<std::uint16_t>(x);
            if (count > 0)
                table[count - 1].next = static_cast<std::uint16_t>(x);
        } else {
            if (count == 0)
                continue; // a table code with no table yet is ignored
            // Only entries 0..count-1 are defined (count-1 is the one this code completes); a
            // code naming a later entry would send the first-character walk round for ever.
            std::size_t t = x - first;
            if (t >= count) {
                expand();
                return;
            }
            table[count] = {static_cast<std::uint16_t>(x), 0};
            // The first character of code x: found by walking back through the codes of the
            // entries to a literal, and kept per entry so that the walk is done once. Every
            // stored table code names an earlier entry, so such a walk always ends.
            firstChar[count] = firstChar[t];
            table[count - 1].next = firstChar[t];
        }
        count += 1;
        nextCode += 1;
        // Code width grows to j + 1 bits when the next code reaches 2^j + 1, up to 12 bits.
        if (nextCode >= 3 && nextCode <= 2049 && std::has_single_bit(nextCode - 1))
            codeWidth = static_cast<unsigned>(std::bit_width(nextCode - 1));
    }
}

void GifAnimation::AppendFrame(const std::vector<std::uint8_t>& indices) {
    const int width = currentImage_.width;
    const int height = currentImage_.height;
    // The de-interlacing and the upside-down copy are folded into one row lookup: picture rows
    // are counted bottom row first, in the source as in the output.
    const std::vector<std::uint32_t> streamRows =
        StreamRowsOfPictureRows(static_cast<std::uint32_t>(height), currentImage_.interlaced);
    std::vector<int> columns;
    std::vector<int> rows;
    if (width == kOverlayWidth && height == kOverlayHeight) {
        columns.resize(kOverlayWidth);
        rows.resize(kOverlayHeight);
        for (int j = 0; j < kOverlayWidth; ++j)
            columns[j] = j;
        for (int i = 0; i < kOverlayHeight; ++i)
            rows[i] = i;
    } else {
        columns = NearestSourcePositions(kOverlayWidth, width);
        rows = NearestSourcePositions(kOverlayHeight, height);
    }

    // Every byte of the picture is written below, so a reused one needs no clearing.
    std::vector<std::uint8_t> picture;
    if (!sparePictures_.empty() && sparePictures_.back().size() == kOverlayPictureBytes) {
        picture = std::move(sparePictures_.back());
        sparePictures_.pop_back();
    } else {
        picture.resize(kOverlayPictureBytes);
    }
    std::uint8_t* dst = picture.data();
    for (int i = 0; i < kOverlayHeight; ++i) {
        const int bottomUpRow = rows[i];
        if (bottomUpRow < 0) {
            const PaletteEntry& c = palette_[kOutsideIndex];
            for (int j = 0; j < kOverlayWidth; ++j, dst += 3) {
                dst[0] = c.blue;
                dst[1] = c.green;
                dst[2] = c.red;
            }
            continue;
        }
        const std::size_t streamRow =
            streamRows[static_cast<std::size_t>(height - 1 - bottomUpRow)];
        const std::uint8_t* src = indices.data() + streamRow * static_cast<std::size_t>(width);
        for (int j = 0; j < kOverlayWidth; ++j, dst += 3) {
            const int column = columns[j];
            const PaletteEntry& c = palette_[column < 0 ? kOutsideIndex : src[column]];
            dst[0] = c.blue;
            dst[1] = c.green;
            dst[2] = c.red;
        }
    }
    frames_.emplace_back(static_cast<float>(currentDelay_), std::move(picture));
}

int GifAnimation::GetFrameCount() const {
    return static_cast<int>(frames_.size());
}

const std::uint8_t* GifAnimation::GetFrameBits(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= frames_.size())
        return nullptr;
    return frames_[static_cast<std::size_t>(index)].bits();
}

int GifAnimation::GetFrameDelay(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= frames_.size())
        return 0;
    return static_cast<int>(frames_[static_cast<std::size_t>(index)].delay());
}

} // namespace kelo
