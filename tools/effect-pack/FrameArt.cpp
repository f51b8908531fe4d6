// The frame page: opaque photo frames around a magenta window (colour key) and translucent
// sticker scenes on magenta (the key at 60 %).
#include "EffectArt.h"

#include <algorithm>
#include <cmath>

namespace kelo::pack {

namespace {

const Rgb kLeaf{60, 150, 50};
const Rgb kDarkLeaf{30, 100, 35};
const Rgb kPetalYellow{255, 205, 30};
const Rgb kBrown{110, 70, 30};
const Rgb kPinkFrame{250, 150, 190};
const Rgb kHeartRed{225, 30, 70};
const Rgb kWhite{255, 255, 255};
const Rgb kGold{255, 200, 40};

// Points spread evenly along the edge of the picture, `inset` pixels in.
Point AlongEdge(double u, double inset) {
    const double w = 320 - 2 * inset, h = 240 - 2 * inset, perimeter = 2 * (w + h);
    double d = std::fmod(std::fmod(u, 1.0) + 1.0, 1.0) * perimeter;
    if (d < w)
        return {inset + d, inset};
    d -= w;
    if (d < h)
        return {320 - inset, inset + d};
    d -= h;
    if (d < w)
        return {320 - inset - d, 240 - inset};
    d -= w;
    return {inset, 240 - inset - d};
}

Animation Sunflowers() {
    enum : std::uint8_t { Green = 1, Petal, Heart, Dark };
    const Palette p = KeyPalette({kLeaf, kPetalYellow, kBrown, kDarkLeaf}, kLeaf);
    return KeyedAnimation(p, 8, 12, [](Canvas& c, int, double t) {
        FrameBorder(c, 30, 16, Green);
        for (int k = 0; k < 10; ++k) {
            const Point q = AlongEdge(k / 10.0 + 0.05, 15);
            c.Disc(q.x + 9, q.y + 6, 7, Dark);
            c.Flower(q.x, q.y, 26, 12, t * kPi / 6 * (k % 2 ? 1 : -1), Petal, Heart);
        }
    });
}

Animation PhoneScreen() {
    enum : std::uint8_t { Body = 1, Edge, Glass, Bar, Lit };
    const Palette p = KeyPalette(
        {{45, 45, 55}, {120, 120, 135}, {15, 15, 20}, {30, 30, 30}, {80, 230, 90}}, {45, 45, 55});
    return KeyedAnimation(p, 8, 20, [](Canvas& c, int f, double) {
        c.Fill(Glass);
        c.RoundRect(2, 2, 318, 238, 30, Edge);
        c.RoundRect(6, 6, 314, 234, 27, Body);
        c.Rect(40, 24, 280, 216, 0);  // the screen shows the video
        c.Rect(40, 24, 280, 36, Bar); // status bar
        for (int k = 0; k < 4; ++k)   // signal bars
            c.Rect(46 + k * 6, 33 - k * 2.5, 50 + k * 6, 34, k <= f % 5 ? Lit : Edge);
        c.Rect(254, 27, 272, 34, Edge); // battery, charging
        c.Rect(255, 28, 255 + 16 * ((f % 4) + 1) / 4.0, 33, Lit);
        c.RoundRect(17, 95, 23, 145, 3, Glass); // speaker slot
        c.Disc(300, 120, 9, Glass);             // home button
        c.Ring(300, 120, 9, 11, Edge);
        if (f % 2 == 0)
            c.Disc(20, 60, 3, Lit); // notification light
    });
}

Animation Laptop() {
    enum : std::uint8_t { Bezel = 1, Silver, Key, Led, Pad };
    const Palette p =
        KeyPalette({{25, 25, 30}, {190, 190, 200}, {60, 60, 70}, {60, 200, 255}, {160, 160, 170}},
                   {25, 25, 30});
    return KeyedAnimation(p, 8, 15, [](Canvas& c, int f, double) {
        c.Fill(Silver);
        c.RoundRect(10, 0, 310, 188, 10, Bezel);
        c.Rect(26, 14, 294, 176, 0);
        c.Disc(160, 7, 2.5, f % 2 ? Led : Key); // camera light
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 14; ++col)
                c.Rect(30 + col * 19 + row * 5, 194 + row * 11, 46 + col * 19 + row * 5,
                       203 + row * 11, Key);
        c.Rect(120, 228, 200, 238, Pad);
        if (f % 4 < 2)
            c.Disc(300, 232, 2.5, Led); // power light, blinking
    });
}

Animation Garden() {
    enum : std::uint8_t { Hedge = 1, Dark, Fence, Red, Yellow, Blue, Stem };
    const Palette p = KeyPalette({kLeaf,
                                  kDarkLeaf,
                                  {250, 250, 240},
                                  {230, 50, 60},
                                  kPetalYellow,
                                  {90, 110, 240},
                                  {40, 120, 40}},
                                 kLeaf);
    Animation a = KeyedAnimation(p, 10, 10, [](Canvas& c, int, double t) {
        FrameBorder(c, 24, 12, Hedge);
        for (int k = 0; k < 28; ++k) { // leafy edge
            const Point q = AlongEdge(k / 28.0, 22);
            c.Disc(q.x, q.y, 7, Dark);
        }
        for (int k = 0; k < 12; ++k) { // picket fence along the bottom
            const double x = 8 + k * 27;
            c.Polygon({{x, 240}, {x, 196}, {x + 8, 188}, {x + 16, 196}, {x + 16, 240}}, Fence);
        }
        c.Rect(0, 206, 320, 212, Fence);
        for (int k = 0; k < 8; ++k) { // flowers swaying in front of the fence
            const double x = 20 + k * 40, sway = 6 * Wave(t, k / 8.0);
            c.Line({x, 240}, {x + sway, 200}, 3, Stem);
            c.Flower(x + sway, 198, 16, 6, t * kPi, static_cast<std::uint8_t>(Red + k % 3), Yellow);
        }
    });
    a.interlaced = true;
    return a;
}

Animation Grass() {
    // Drawn at 256 x 192: the decoder scales it to the picture.
    enum : std::uint8_t { Grass = 1, Dark, Light, Vine };
    const Palette p =
        KeyPalette({{70, 170, 50}, {35, 110, 30}, {150, 220, 80}, {60, 130, 60}}, {70, 170, 50});
    Random rng(305);
    std::vector<double> heights;
    for (int i = 0; i < 64; ++i)
        heights.push_back(rng.Uniform(14, 34));
    return KeyedAnimation(
        p, 10, 8,
        [&](Canvas& c, int, double t) {
            FrameBorder(c, 14, 8, Grass);
            auto blade = [&](double x, double y, double h, double lean, std::uint8_t colour) {
                c.Polygon({{x - 3, y}, {x + 3, y}, {x + lean, y - h}}, colour);
            };
            for (int i = 0; i < 64; ++i) {
                const double x = i * 4.1, sway = 6 * Wave(t, i / 16.0);
                blade(x, 192, heights[i] + 10, sway, i % 3 ? Dark : Light);
            }
            for (int i = 0; i < 16; ++i) { // up the sides
                const double y = 190 - i * 10, sway = 4 * Wave(t, i / 8.0);
                c.Polygon({{0, y}, {0, y - 6}, {20 + sway, y - 10}}, Light);
                c.Polygon({{256, y}, {256, y - 6}, {236 + sway, y - 10}}, Light);
            }
            for (int i = 0; i < 20; ++i) // a vine along the top
                c.Disc(i * 13.5, 8 + 4 * std::sin(i + t * 2 * kPi), 5, Vine);
        },
        256, 192);
}

Animation Shackles() {
    enum : std::uint8_t { Steel = 1, Shade, Lock, Hole };
    const Palette p = KeyPalette({{170, 175, 185}, {90, 95, 105}, {200, 160, 50}, {40, 30, 10}});
    return KeyedAnimation(p, 10, 10, [](Canvas& c, int, double t) {
        const double swing = 10 * Wave(t);
        for (int side : {0, 1}) {
            const Point from{side ? 320.0 : 0.0, 0}, to{160 + swing, 168};
            for (int k = 0; k <= 11; ++k) {
                const double u = k / 11.0;
                const double x = from.x + (to.x - from.x) * u,
                             y = from.y + (to.y - from.y) * u + 40 * std::sin(kPi * u);
                const double angle =
                    std::atan2(to.y - from.y, to.x - from.x) + (k % 2 ? kPi / 2 : 0);
                c.Ellipse(x, y, 11, 6.5, angle, Steel);
                c.Ellipse(x, y, 6.5, 2.5, angle, 0);
                c.Ellipse(x + 1.5, y + 1.5, 11, 6.5, angle, Steel);
            }
        }
        // The padlock where the chains meet.
        c.Ring(160 + swing, 176, 12, 18, Steel);
        c.RoundRect(134 + swing, 180, 186 + swing, 226, 6, Lock);
        c.Disc(160 + swing, 198, 5, Hole);
        c.Rect(158 + swing, 198, 162 + swing, 214, Hole);
    });
}

Animation LoveBorder() {
    enum : std::uint8_t { Pink = 1, Red, Light };
    const Palette p = KeyPalette({kPinkFrame, kHeartRed, {255, 200, 220}}, kPinkFrame);
    return KeyedAnimation(p, 10, 8, [](Canvas& c, int, double t) {
        FrameBorder(c, 28, 20, Pink);
        for (int k = 0; k < 16; ++k) {
            const double beat = 0.8 + 0.25 * std::abs(Wave(t, k / 16.0));
            const Point q = AlongEdge(k / 16.0, 14);
            c.Heart(q.x, q.y, 11 * beat, k % 2 ? Red : Light);
        }
        c.Heart(160, 212, 20 + 4 * std::abs(Wave(t)), Red); // the big heart at the bottom
    });
}

Animation SpinningStars() {
    enum : std::uint8_t { Gold = 1, Light, Orange };
    const Palette p = KeyPalette({kGold, {255, 250, 170}, {255, 140, 30}});
    return KeyedAnimation(p, 12, 6, [](Canvas& c, int, double t) {
        for (int k = 0; k < 14; ++k) {
            const Point q = AlongEdge(k / 14.0 + t / 14.0 * 2, 18);
            const std::uint8_t colour = static_cast<std::uint8_t>(Gold + k % 3);
            c.Star(q.x, q.y, 16, 7, 5, t * 2 * kPi * (k % 2 ? 1 : -1), colour);
        }
    });
}

Animation LovePark() {
    enum : std::uint8_t { Trunk = 1, Leaves, Bench, Red, Pink, Grass };
    const Palette p =
        KeyPalette({kBrown, kLeaf, {160, 100, 50}, kHeartRed, kPinkFrame, {90, 180, 70}});
    return KeyedAnimation(p, 10, 10, [](Canvas& c, int, double t) {
        c.Rect(0, 226, 320, 240, Grass);
        c.Rect(22, 120, 40, 228, Trunk);
        c.Disc(31, 90, 42, Leaves);
        c.Disc(60, 110, 28, Leaves);
        c.Disc(8, 115, 25, Leaves);
        for (int k = 0; k < 3; ++k) // bench: slats, seat and legs
            c.Rect(214, 176 + k * 8, 306, 181 + k * 8, Bench);
        c.Rect(210, 200, 310, 206, Bench);
        c.Rect(216, 206, 222, 228, Bench);
        c.Rect(298, 206, 304, 228, Bench);
        for (int k = 0; k < 6; ++k) { // hearts rising between tree and bench
            const double u = std::fmod(t + k / 6.0, 1.0);
            c.Heart(90 + k * 22 + 8 * Wave(u), 210 - u * 200, 7 + (k % 3) * 2, k % 2 ? Red : Pink);
        }
    });
}

Animation RainbowFairy() {
    std::vector<Rgb> bands;
    for (int i = 0; i < 7; ++i)
        bands.push_back(Hsv(i * 270.0 / 6, 0.85, 1.0));
    enum : std::uint8_t { Dress = 8, Skin, Wing, Spark };
    Palette p = KeyPalette({});
    for (int i = 0; i < 7; ++i)
        p[1 + i] = bands[i];
    p[Dress] = {250, 120, 200};
    p[Skin] = {255, 215, 180};
    p[Wing] = {200, 240, 255};
    p[Spark] = {255, 250, 150};
    return KeyedAnimation(p, 10, 8, [](Canvas& c, int f, double t) {
        for (int band = 0; band < 7; ++band)
            c.Ring(160, 250, 215 - band * 9, 224 - band * 9, static_cast<std::uint8_t>(1 + band));
        c.Rect(0, 240 - 16, 320, 240, 0); // the arc ends at the picture's foot
        const double x = 40 + 240 * t, y = 80 - 30 * std::sin(kPi * t);
        const double flap = f % 2 ? 1.0 : 0.5;
        c.Ellipse(x - 10, y - 6, 12, 6 + 6 * flap, 0.6, Wing);
        c.Ellipse(x + 10, y - 6, 12, 6 + 6 * flap, -0.6, Wing);
        c.Polygon({{x, y - 10}, {x - 10, y + 16}, {x + 10, y + 16}}, Dress);
        c.Disc(x, y - 14, 6, Skin);
        for (int k = 1; k <= 5; ++k)
            c.Star(x - k * 12, y + 10 + 6 * std::sin(k + t * 10), 5 - k * 0.6, 2, 4, t * 6, Spark);
    });
}

Animation ButterflyAndFlower() {
    enum : std::uint8_t { Petal = 1, Centre, Stem, Leaf, Wing, Spot, Body };
    const Palette p = KeyPalette({{240, 80, 120},
                                  kPetalYellow,
                                  {50, 140, 50},
                                  kLeaf,
                                  {255, 160, 40},
                                  {90, 40, 160},
                                  {40, 30, 30}});
    return KeyedAnimation(p, 12, 8, [](Canvas& c, int f, double t) {
        c.Line({52, 240}, {60, 170}, 6, Stem);
        c.Ellipse(40, 214, 22, 9, -0.5, Leaf);
        c.Ellipse(76, 200, 22, 9, 0.5, Leaf);
        c.Flower(60, 160, 44, 8, 0.2, Petal, Centre);
        const double a = t * 2 * kPi;
        c.Butterfly(150 + 110 * std::cos(a), 110 + 60 * std::sin(2 * a), 22,
                    f % 3 == 0 ? 0.2 : (f % 3 == 1 ? 0.7 : 1.0), Wing, Spot, Body);
    });
}

Animation FlowerBush() {
    enum : std::uint8_t { Leaf = 1, Dark, Pink, White, Yellow, Purple };
    const Palette p =
        KeyPalette({kLeaf, kDarkLeaf, {250, 120, 170}, kWhite, kPetalYellow, {170, 90, 220}});
    Random rng(312);
    struct Bloom {
        double x, y, size;
        int colour;
    };
    std::vector<Bloom> blooms;
    for (int i = 0; i < 20; ++i)
        blooms.push_back(
            {rng.Uniform(0, 320), rng.Uniform(205, 235), rng.Uniform(12, 20), rng.Int(0, 2)});
    for (int i = 0; i < 6; ++i) // the top corners
        blooms.push_back({i < 3 ? rng.Uniform(0, 50) : rng.Uniform(270, 320), rng.Uniform(0, 40),
                          rng.Uniform(12, 18), rng.Int(0, 2)});
    return KeyedAnimation(p, 10, 10, [&](Canvas& c, int, double t) {
        for (int i = 0; i < 18; ++i)
            c.Ellipse(i * 19, 236, 18, 14, i * 0.4, i % 2 ? Leaf : Dark);
        c.Ellipse(0, 0, 60, 45, 0, Dark);
        c.Ellipse(320, 0, 60, 45, 0, Dark);
        for (std::size_t i = 0; i < blooms.size(); ++i) {
            const Bloom& b = blooms[i];
            const double sway = 3 * Wave(t, i / 7.0);
            c.Flower(b.x + sway, b.y, b.size, 5, t * kPi / 2,
                     static_cast<std::uint8_t>(Pink + (b.colour == 1   ? 1
                                                       : b.colour == 2 ? 3
                                                                       : 0)),
                     Yellow);
        }
    });
}

Animation DancingButterflies() {
    enum : std::uint8_t { Lilac = 1, Wing1, Wing2, Spot, Body, Edge };
    const Palette p = KeyPalette({{200, 170, 240},
                                  {250, 130, 60},
                                  {80, 170, 250},
                                  {255, 255, 255},
                                  {50, 40, 60},
                                  {150, 110, 200}},
                                 {200, 170, 240});
    Animation a = KeyedAnimation(p, 8, 9, [](Canvas& c, int f, double t) {
        FrameBorder(c, 34, 14, Lilac);
        for (int k = 0; k < 8; ++k) {
            const Point q = AlongEdge(k / 8.0 + 0.03 * Wave(t, k / 8.0), 17);
            const double open = ((f + k) % 4) / 3.0;
            c.Butterfly(q.x, q.y, 13, open, k % 2 ? Wing1 : Wing2, Spot, Body);
        }
    });
    for (std::size_t f = 1; f < a.frames.size(); ++f)
        a.frames[f].controlBlock = false;
    return a;
}

Animation CoolRabbit() {
    enum : std::uint8_t { Orange = 1, Fur, Inner, Glasses, Shine, Nose };
    const Palette p = KeyPalette({{250, 150, 50},
                                  {250, 250, 250},
                                  {250, 180, 190},
                                  {20, 20, 25},
                                  {120, 200, 255},
                                  {230, 90, 110}},
                                 {250, 150, 50});
    return KeyedAnimation(p, 10, 10, [](Canvas& c, int f, double t) {
        FrameBorder(c, 26, 18, Orange);
        for (int k = 0; k < 20; ++k) { // polka dots on the border
            const Point q = AlongEdge(k / 20.0, 13);
            c.Disc(q.x, q.y, 4, Fur);
        }
        const double cx = 62, cy = 192;
        const double wiggle = 0.25 * Wave(t);
        c.Ellipse(cx - 16, cy - 62, 11, 36, -0.25 + wiggle, Fur);
        c.Ellipse(cx + 16, cy - 62, 11, 36, 0.25 - wiggle, Fur);
        c.Ellipse(cx - 16, cy - 62, 5, 26, -0.25 + wiggle, Inner);
        c.Ellipse(cx + 16, cy - 62, 5, 26, 0.25 - wiggle, Inner);
        c.Ellipse(cx, cy, 40, 34, 0, Fur);
        c.RoundRect(cx - 34, cy - 14, cx - 3, cy + 2, 5, Glasses);
        c.RoundRect(cx + 3, cy - 14, cx + 34, cy + 2, 5, Glasses);
        c.Rect(cx - 4, cy - 10, cx + 4, cy - 7, Glasses);
        if (f % 5 < 2) // a glint runs over the glasses
            c.Line({cx - 28 + (f % 5) * 30, cy - 11}, {cx - 22 + (f % 5) * 30, cy - 2}, 2, Shine);
        c.Polygon({{cx - 5, cy + 8}, {cx + 5, cy + 8}, {cx, cy + 13}}, Nose);
    });
}

Animation FlowerField() {
    enum : std::uint8_t { Stem = 1, Red, Yellow, White, Violet, Centre };
    const Palette p = KeyPalette(
        {{60, 150, 50}, {230, 60, 70}, kPetalYellow, kWhite, {160, 100, 230}, {250, 170, 30}});
    Random rng(315);
    struct Bloom {
        double x, y, size;
        int colour;
    };
    std::vector<Bloom> blooms;
    for (int i = 0; i < 40; ++i) {
        const double y = rng.Uniform(165, 235);
        blooms.push_back({rng.Uniform(0, 320), y, 5 + (y - 160) / 9, rng.Int(0, 3)});
    }
    std::sort(blooms.begin(), blooms.end(),
              [](const Bloom& a, const Bloom& b) { return a.y < b.y; });
    return KeyedAnimation(p, 10, 10, [&](Canvas& c, int, double t) {
        for (std::size_t i = 0; i < blooms.size(); ++i) {
            const Bloom& b = blooms[i];
            const double sway = b.size * 0.4 * Wave(t, b.x / 320);
            c.Line({b.x, 240}, {b.x + sway, b.y}, 2, Stem);
            c.Flower(b.x + sway, b.y, b.size, 6, i, static_cast<std::uint8_t>(Red + b.colour),
                     Centre);
        }
    });
}

Animation FlashingBlueFlowers() {
    enum : std::uint8_t { Blue = 1, Flower, Centre, Leaf };
    auto palette = [](double glow) {
        return KeyPalette({{40, 70, 160},
                           {static_cast<std::uint8_t>(60 + 140 * glow),
                            static_cast<std::uint8_t>(120 + 110 * glow), 255},
                           {255, 250, static_cast<std::uint8_t>(150 + 100 * glow)},
                           {40, 120, 90}},
                          {40, 70, 160});
    };
    Animation a = KeyedAnimation(palette(0), 8, 10, [](Canvas& c, int, double) {
        FrameBorder(c, 30, 10, Blue);
        for (int k = 0; k < 14; ++k) {
            const Point q = AlongEdge(k / 14.0, 15);
            c.Ellipse(q.x + 8, q.y + 6, 9, 4, 0.7, Leaf);
            c.Flower(q.x, q.y, 22, 5, k * 0.5, Flower, Centre);
        }
    });
    // The flowers flash: every frame brings its own table with their brightness.
    for (std::size_t f = 0; f < a.frames.size(); ++f)
        a.frames[f].localTable = palette(Triangle(static_cast<double>(f) / a.frames.size()));
    return a;
}

} // namespace

Animation DrawFrameEffect(int number) {
    switch (number) {
    case 1:
        return Sunflowers();
    case 2:
        return PhoneScreen();
    case 3:
        return Laptop();
    case 4:
        return Garden();
    case 5:
        return Grass();
    case 6:
        return Shackles();
    case 7:
        return LoveBorder();
    case 8:
        return SpinningStars();
    case 9:
        return LovePark();
    case 10:
        return RainbowFairy();
    case 11:
        return ButterflyAndFlower();
    case 12:
        return FlowerBush();
    case 13:
        return DancingButterflies();
    case 14:
        return CoolRabbit();
    case 15:
        return FlowerField();
    default:
        return FlashingBlueFlowers();
    }
}

} // namespace kelo::pack
