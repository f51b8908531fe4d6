// The drawings of the 48 effects. Each family is drawn for the blend rule its effects use:
// light on black (screen blend), opaque photo frames around a magenta centre (colour key), and
// stickers on magenta shown at 60 % (translucent colour key).
#pragma once

#include "Animation.h"
#include "effects/gif/EffectCatalog.h"

#include <initializer_list>

namespace kelo::pack {

// The animation of one catalogue entry.
Animation DrawEffect(const EffectEntry& effect);

Animation DrawLightEffect(int number);
Animation DrawCartoonEffect(int number);
Animation DrawFrameEffect(int number);

// --- helpers shared by the three families ---

// Frames of light on black: draw(canvas, frame, t) with t = frame / frames, so that the last
// frame leads smoothly back to the first.
template <typename Draw>
Animation LightAnimation(const std::vector<Rgb>& colours, int frames, int delay, Draw draw,
                         int width = 320, int height = 240) {
    Animation a;
    a.width = width;
    a.height = height;
    a.globalTable = LightPalette(colours);
    for (int f = 0; f < frames; ++f) {
        LightCanvas canvas(width, height);
        draw(canvas, f, static_cast<double>(f) / frames);
        a.frames.push_back({canvas.Quantize(), delay, true, std::nullopt});
    }
    return a;
}

// A palette for keyed art: entry 0 is the magenta key, then the colours in order from entry 1.
// Entry 255 (shown past a scaled image) is `outside`.
Palette KeyPalette(std::initializer_list<Rgb> colours, Rgb outside = kMagenta);

// Frames of keyed art on magenta (entry 0): draw(canvas, frame, t).
template <typename Draw>
Animation KeyedAnimation(const Palette& palette, int frames, int delay, Draw draw, int width = 320,
                         int height = 240) {
    Animation a;
    a.width = width;
    a.height = height;
    a.globalTable = palette;
    for (int f = 0; f < frames; ++f) {
        Canvas canvas(width, height, 0);
        draw(canvas, f, static_cast<double>(f) / frames);
        a.frames.push_back({canvas.pixels(), delay, true, std::nullopt});
    }
    return a;
}

// A photo frame: everything `border`, with a rounded magenta window inset by `inset` pixels.
void FrameBorder(Canvas& canvas, double inset, double radius, std::uint8_t border);

// 0..1..0 over one cycle of t.
double Triangle(double t);
// sin(2 pi (t + phase)).
double Wave(double t, double phase = 0);

} // namespace kelo::pack
