#include "EffectArt.h"

#include <cmath>

namespace kelo::pack {

Animation DrawEffect(const EffectEntry& effect) {
    switch (effect.family) {
    case EffectFamily::Light:
        return DrawLightEffect(effect.number);
    case EffectFamily::Cartoon:
        return DrawCartoonEffect(effect.number);
    case EffectFamily::Frame:
        return DrawFrameEffect(effect.number);
    }
    return {};
}

Palette KeyPalette(std::initializer_list<Rgb> colours, Rgb outside) {
    Palette p{};
    p[0] = kMagenta;
    std::size_t i = 1;
    for (const Rgb& c : colours)
        p[i++] = c;
    p[255] = outside;
    return p;
}

void FrameBorder(Canvas& canvas, double inset, double radius, std::uint8_t border) {
    canvas.Fill(border);
    canvas.RoundRect(inset, inset, canvas.width() - inset, canvas.height() - inset, radius, 0);
}

double Triangle(double t) {
    const double u = t - std::floor(t);
    return u < 0.5 ? u * 2 : 2 - u * 2;
}

double Wave(double t, double phase) {
    return std::sin(2 * kPi * (t + phase));
}

} // namespace kelo::pack
