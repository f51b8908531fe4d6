// An effect animation as the generator builds it, and its encoding with giflib.
#pragma once

#include "Canvas.h"

#include <optional>
#include <string>
#include <vector>

namespace kelo::pack {

struct AnimationFrame {
    std::vector<std::uint8_t> indices; // width x height, top row first
    int delay = 8;                     // hundredths of a second
    // Whether the frame has its own graphic control block; without one it takes the delay of
    // the block before it.
    bool controlBlock = true;
    std::optional<Palette> localTable;
};

struct Animation {
    int width = 320;
    int height = 240;
    std::optional<Palette> globalTable;
    bool interlaced = false;
    std::string comment;
    std::vector<AnimationFrame> frames;

    // The palette in force for frame i (the last table seen, as the studio's decoder keeps it).
    const Palette& PaletteOf(std::size_t frame) const;
};

// Writes a looping GIF89a. Returns an empty string on success, else what went wrong.
std::string WriteGif(const std::string& path, const Animation& animation);

} // namespace kelo::pack
