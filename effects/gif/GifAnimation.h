// Decoder of the animated GIF effect files. Every image of a file becomes one ready-made
// 320 x 240 overlay picture (no canvas is composed: each image alone is scaled to fill the
// picture) together with the delay that was in force when the image was read.
//
// Our own decoder from the first byte to the last (no giflib): the effect pages call it on the
// window thread when a button is pressed, and it must never crash, hang or overrun on a damaged
// file. What one file may make us allocate is capped (see the limits below).
#pragma once

#include "effects/gif/GifFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelo {

class GifAnimation {
public:
    // Limits on what one file may make us hold and do. At most kMaxFileBytes of file data,
    // kMaxFrames pictures (230400 bytes each, about 113 MiB together) and the index buffer of one
    // image of at most kMaxImagePixels pixels (4 MiB): under 160 MiB in all for the worst file.
    // Images over the size cap give no picture; decoding ends once the images decoded add up
    // to kMaxTotalPixels, so that a small hostile file cannot keep the window thread busy.
    static constexpr std::size_t kMaxFileBytes = 32u << 20;
    static constexpr std::size_t kMaxFrames = 512;
    static constexpr std::size_t kMaxImagePixels = 4u << 20;  // e.g. 2048 x 2048
    static constexpr std::size_t kMaxTotalPixels = 32u << 20; // e.g. 100 frames of 640 x 480
    // Size of the LZW code table: codes between two clear codes.
    static constexpr std::size_t kCodeTableSize = 5200;

    GifAnimation();
    GifAnimation(const GifAnimation&) = delete;
    GifAnimation& operator=(const GifAnimation&) = delete;
    ~GifAnimation();

    // Reads the file whole and decodes it: 1 once the file was read (whatever it held; a file
    // with no image gives 0 frames), 0 when it cannot be opened or read, is not a regular file
    // or is larger than kMaxFileBytes; then the frames held so far stay untouched.
    int Load(const std::string& path);
    // Decodes a file already in memory; replaces all frames. Load ends here.
    void LoadBytes(std::span<const std::uint8_t> file);

    int GetFrameCount() const;
    // The picture of frame index (0-based), nullptr when out of range. Valid until a later Load
    // reads a file or the decoder is destroyed.
    const std::uint8_t* GetFrameBits(int index) const;
    // The delay of frame index in hundredths of a second (truncated), 0 when out of range.
    int GetFrameDelay(int index) const;

private:
    struct CodeEntry {
        std::uint16_t code = 0;
        std::uint16_t next = 0;
    };
    struct PaletteEntry {
        std::uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    };
    struct ImageDescriptor {
        std::uint16_t left = 0, top = 0, width = 0, height = 0;
        bool interlaced = false;
    };

    // Each returns the number of bytes the block takes at pos, or 0 to end decoding.
    std::size_t ParseImage(std::span<const std::uint8_t> data, std::size_t pos);
    void ReadColorTable(const std::uint8_t* rgb, std::size_t count);
    // Decodes the joined sub-block data into indices (width x height bytes, zero-filled).
    void DecodeLzw(std::span<const std::uint8_t> codes, unsigned minCodeSize,
                   std::vector<std::uint8_t>& indices);
    void AppendFrame(const std::vector<std::uint8_t>& indices);

    std::vector<GifFrame> frames_;
    // Pictures of the previous file's frames, reused for the next file's (a fresh 230400-byte
    // block per frame costs its page faults at every load). Owned by the decoder.
    std::vector<std::vector<std::uint8_t>> sparePictures_;
    std::vector<std::uint8_t> indices_; // one image's palette indices, reused across images
    std::size_t pixelsDecoded_ = 0; // sum of the sizes of the images decoded from this file
    std::array<PaletteEntry, 256> palette_{};
    std::uint16_t colorCount_ = 0;
    std::uint16_t currentDelay_ = 0;
    std::uint16_t currentTransparentIndex_ = 0xFFFF; // read and kept; overlays do not use it
    ImageDescriptor currentImage_{};
    std::vector<CodeEntry> codeTable_;
    // Per table entry: the first character of its code's string, and where and how long that
    // string was written when the entries were expanded.
    std::vector<std::uint16_t> firstChar_;
    std::vector<std::size_t> entryStart_;
    std::vector<std::uint32_t> entryLength_;
};

} // namespace kelo
