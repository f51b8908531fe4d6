// The cartoon page: mostly light on black (screen blend), three translucent stickers on magenta
// and one opaque frame.
#include "EffectArt.h"

#include <cmath>

namespace kelo::pack {

namespace {

const Rgb kStarWhite{240, 240, 255};
const Rgb kMoon{255, 235, 160};
const Rgb kPinkLight{255, 110, 170};
const Rgb kRedHeart{255, 50, 80};
const Rgb kFairy{200, 160, 255};
const Rgb kFirefly{200, 255, 90};
const Rgb kSnow{225, 240, 255};

// The parametric heart outline, about 2 * size wide, centred on (cx, cy).
Point HeartPoint(double cx, double cy, double size, double a) {
    const double s = std::sin(a);
    return {cx + size * s * s * s, cy - size / 16 *
                                            (13 * std::cos(a) - 5 * std::cos(2 * a) -
                                             2 * std::cos(3 * a) - std::cos(4 * a)) /
                                            1.0};
}

void GlowHeart(LightCanvas& c, double cx, double cy, double size, int ramp, double strength) {
    for (int k = 0; k < 48; ++k) {
        const Point p = HeartPoint(cx, cy, size, k * 2 * kPi / 48);
        c.Glow(p.x, p.y, size * 0.22 + 2, ramp, strength);
    }
}

Animation StarrySky() {
    Random rng(201);
    struct Star {
        double x, y, size, phase;
    };
    std::vector<Star> stars;
    for (int i = 0; i < 70; ++i)
        stars.push_back(
            {rng.Uniform(0, 320), rng.Uniform(0, 240), rng.Uniform(1.5, 3.5), rng.Uniform(0, 1)});
    Animation a = LightAnimation({kStarWhite, kMoon}, 10, 10, [&](LightCanvas& c, int, double t) {
        for (std::size_t i = 0; i < stars.size(); ++i) {
            const Star& s = stars[i];
            const double b = 0.55 + 0.45 * Wave(t, s.phase);
            if (i % 9 == 0)
                c.Sparkle(s.x, s.y, s.size * 2.5, 0, b);
            else
                c.Glow(s.x, s.y, s.size, 0, b);
        }
        // A crescent moon: a disc with a second disc taken out of it.
        c.Field(1, [](double x, double y) {
            const double d1 = std::hypot(x - 260, y - 50), d2 = std::hypot(x - 272, y - 42);
            if (d1 < 26 && d2 > 22)
                return 0.85;
            return d1 < 40 && d2 > 22 ? 0.25 * (1 - (d1 - 26) / 14) : 0.0;
        });
    });
    a.interlaced = true;
    return a;
}

Animation MeteorFairy() {
    return LightAnimation({kFairy, kStarWhite, kPinkLight}, 12, 6,
                          [](LightCanvas& c, int, double t) {
                              auto path = [](double u) {
                                  return Point{160 + 130 * std::sin(2 * kPi * u),
                                               120 + 80 * std::sin(4 * kPi * u + 0.5)};
                              };
                              for (int k = 14; k >= 0; --k) {
                                  const Point p = path(t - k * 0.012);
                                  const double fade = 1.0 - k / 15.0;
                                  c.Sparkle(p.x + (k % 3 - 1) * 4, p.y + (k % 2) * 5, 3 + 5 * fade,
                                            k % 3 == 0 ? 2 : 0, fade);
                              }
                              const Point head = path(t);
                              c.Glow(head.x, head.y, 14, 1, 1.0);
                              c.Sparkle(head.x, head.y, 16, 1, 1.0);
                          });
}

Animation RisingHearts() {
    Random rng(203);
    struct Heart {
        double x, phase, size;
        int ramp;
    };
    std::vector<Heart> hearts;
    for (int i = 0; i < 6; ++i)
        hearts.push_back(
            {30 + i * 52 + rng.Uniform(-10, 10), rng.Uniform(0, 1), rng.Uniform(12, 22), i % 2});
    return LightAnimation({kPinkLight, kRedHeart}, 10, 10, [&](LightCanvas& c, int, double t) {
        for (const Heart& h : hearts) {
            const double u = std::fmod(t + h.phase, 1.0);
            GlowHeart(c, h.x + 8 * Wave(u), 260 - u * 290, h.size, h.ramp, 0.9);
        }
    });
}

Animation Fountain() {
    Random rng(204);
    struct Drop {
        double vx, vy, phase;
        int ramp;
    };
    std::vector<Drop> drops;
    for (int i = 0; i < 60; ++i)
        drops.push_back(
            {rng.Uniform(-90, 90), rng.Uniform(-260, -190), rng.Uniform(0, 1), rng.Int(0, 5)});
    std::vector<Rgb> colours;
    for (int i = 0; i < 6; ++i)
        colours.push_back(Hsv(i * 60.0, 0.8, 1.0));
    return LightAnimation(colours, 10, 6, [&](LightCanvas& c, int, double t) {
        for (const Drop& d : drops) {
            const double u = std::fmod(t + d.phase, 1.0) * 1.4;
            const double x = 160 + d.vx * u, y = 240 + d.vy * u + 170 * u * u;
            c.Glow(x, y, 4, d.ramp, 1.0 - u * 0.5);
            c.GlowLine({x - d.vx * 0.04, y - (d.vy + 340 * u) * 0.04}, {x, y}, 1.8, d.ramp, 0.6,
                       true);
        }
        c.Glow(160, 240, 30, 0, 0.7);
    });
}

Animation CatSticker() {
    enum : std::uint8_t { Fur = 1, Dark, Pink, White, Eye };
    const Palette p =
        KeyPalette({{245, 160, 60}, {70, 45, 30}, {250, 150, 170}, {255, 255, 255}, {60, 150, 60}});
    return KeyedAnimation(p, 10, 10, [](Canvas& c, int f, double t) {
        const double cx = 235 + 20 * Wave(t), cy = 165 + 4 * std::abs(Wave(t * 2));
        c.Polygon({{cx - 48, cy - 20}, {cx - 40, cy - 72}, {cx - 12, cy - 38}}, Fur);
        c.Polygon({{cx + 48, cy - 20}, {cx + 40, cy - 72}, {cx + 12, cy - 38}}, Fur);
        c.Polygon({{cx - 40, cy - 28}, {cx - 37, cy - 60}, {cx - 20, cy - 38}}, Pink);
        c.Polygon({{cx + 40, cy - 28}, {cx + 37, cy - 60}, {cx + 20, cy - 38}}, Pink);
        c.Ellipse(cx, cy, 52, 44, 0, Fur);
        c.Ellipse(cx, cy + 14, 26, 18, 0, White);
        const bool blink = f == 4 || f == 9;
        for (int side : {-1, 1}) {
            if (blink) {
                c.Line({cx + side * 26 - 9, cy - 8}, {cx + side * 26 + 9, cy - 8}, 3, Dark);
            } else {
                c.Ellipse(cx + side * 20, cy - 8, 9, 12, 0, Eye);
                c.Ellipse(cx + side * 20, cy - 8, 3, 9, 0, Dark);
            }
            for (int w = -1; w <= 1; ++w)
                c.Line({cx + side * 18, cy + 14 + w * 5}, {cx + side * 62, cy + 8 + w * 9}, 1.5,
                       Dark);
        }
        c.Polygon({{cx - 6, cy + 4}, {cx + 6, cy + 4}, {cx, cy + 11}}, Pink);
        c.Line({cx, cy + 11}, {cx - 7, cy + 19}, 2, Dark);
        c.Line({cx, cy + 11}, {cx + 7, cy + 19}, 2, Dark);
    });
}

Animation PleaseSticker() {
    enum : std::uint8_t { Face = 1, Dark, Blush, Hand, HeartRed };
    const Palette p =
        KeyPalette({{255, 215, 80}, {80, 50, 20}, {255, 130, 130}, {255, 190, 120}, {235, 40, 70}});
    return KeyedAnimation(p, 8, 12, [](Canvas& c, int f, double t) {
        const double cx = 80, cy = 150 + 8 * Wave(t);
        c.Disc(cx, cy, 50, Face);
        for (int side : {-1, 1}) {
            // Closed, pleading eyes: small arcs.
            for (int k = 0; k < 7; ++k) {
                const double a = kPi * (0.15 + k * 0.1);
                c.Disc(cx + side * 18 + 9 * std::cos(a), cy - 10 + 5 * std::sin(a), 1.8, Dark);
            }
            c.Ellipse(cx + side * 30, cy + 10, 9, 5, 0, Blush);
        }
        c.Ellipse(cx, cy + 20, 8, 5, 0, Dark);
        // Hands pressed together below the chin, rubbing.
        const double rub = 3 * Wave(t * 2);
        c.Ellipse(cx - 9 + rub, cy + 58, 12, 22, 0.25, Hand);
        c.Ellipse(cx + 9 - rub, cy + 58, 12, 22, -0.25, Hand);
        c.Line({cx, cy + 40}, {cx, cy + 78}, 1.5, Dark);
        // Little hearts popping up beside the face.
        for (int k = 0; k < 3; ++k) {
            const double u = std::fmod(t + k / 3.0, 1.0);
            c.Heart(cx + 62 + k * 14, cy - 20 - u * 70, 6 + 5 * u, HeartRed);
        }
        (void)f;
    });
}

Animation CyclingSticker() {
    enum : std::uint8_t { Metal = 1, Tyre, Shirt, Skin, Pants, Road };
    const Palette p = KeyPalette({{40, 120, 220},
                                  {40, 40, 40},
                                  {230, 60, 60},
                                  {250, 200, 160},
                                  {50, 50, 120},
                                  {120, 120, 120}});
    return KeyedAnimation(p, 12, 8, [](Canvas& c, int, double t) {
        // The rider pedals on the spot while the road markings run past.
        const double x = 225 + 6 * Wave(t), ground = 222;
        for (int k = 0; k < 6; ++k) {
            const double dash = std::fmod(k * 64 + 320 - t * 64, 384) - 32;
            c.Rect(dash, 232, dash + 30, 236, Road);
        }
        const Point back{x - 32, ground - 24}, front{x + 32, ground - 24};
        for (const Point& w : {back, front}) {
            c.Ring(w.x, w.y, 19, 23, Tyre);
            for (int k = 0; k < 4; ++k) { // spokes turning with the ride
                const double a = k * kPi / 4 - t * 12 * kPi;
                c.Line({w.x - 19 * std::cos(a), w.y - 19 * std::sin(a)},
                       {w.x + 19 * std::cos(a), w.y + 19 * std::sin(a)}, 1.5, Metal);
            }
        }
        const Point pedal{x - 2, ground - 24}, seat{x - 10, ground - 58}, bar{x + 24, ground - 62};
        c.Line(back, pedal, 4, Metal);
        c.Line(pedal, seat, 4, Metal);
        c.Line(seat, {bar.x - 6, bar.y + 8}, 4, Metal);
        c.Line(pedal, {bar.x - 6, bar.y + 8}, 4, Metal);
        c.Line({bar.x - 6, bar.y + 8}, front, 4, Metal);
        c.Line({bar.x - 6, bar.y + 8}, bar, 3, Tyre);
        // Rider: legs on the turning pedals, body, arms and head.
        const double a = t * 12 * kPi;
        const Point foot1{pedal.x + 10 * std::cos(a), pedal.y + 10 * std::sin(a)};
        const Point foot2{pedal.x - 10 * std::cos(a), pedal.y - 10 * std::sin(a)};
        const Point hip{seat.x, seat.y - 4};
        c.Line(hip, {(hip.x + foot1.x) / 2 + 8, (hip.y + foot1.y) / 2}, 6, Pants);
        c.Line({(hip.x + foot1.x) / 2 + 8, (hip.y + foot1.y) / 2}, foot1, 5, Pants);
        c.Line(hip, foot2, 5, Pants);
        const Point shoulder{x + 6, ground - 92};
        c.Line(hip, shoulder, 12, Shirt);
        c.Line(shoulder, bar, 4, Skin);
        c.Disc(shoulder.x + 8, shoulder.y - 16, 12, Skin);
    });
}

Animation PulsingHeart() {
    return LightAnimation({kRedHeart, kPinkLight}, 8, 8, [](LightCanvas& c, int, double t) {
        const double beat = 0.5 + 0.5 * std::pow(std::abs(Wave(t)), 3);
        const double size = 55 + 12 * beat;
        c.Field(0, [&](double x, double y) {
            const double u = (x - 160) / size, v = -(y - 125) / size + 0.15;
            const double a = u * u + v * v - 1;
            const double h = a * a * a - u * u * v * v * v;
            return h <= 0 ? 0.35 + 0.3 * beat : 0.0;
        });
        GlowHeart(c, 160, 120, size * 1.05, 1, 0.9);
    });
}

Animation Halo() {
    Animation a = LightAnimation({kMoon, kFairy}, 10, 8, [](LightCanvas& c, int, double t) {
        for (int k = 0; k < 10; ++k) {
            const double ang = k * 2 * kPi / 10 + t * 2 * kPi / 10 * 2;
            const double x = 160 + 90 * std::cos(ang), y = 50 + 22 * std::sin(ang);
            const double b = 0.6 + 0.4 * std::sin(ang);
            c.Sparkle(x, y, 6 + 6 * b, k % 2, b);
        }
    });
    for (std::size_t f = 1; f < a.frames.size(); ++f)
        a.frames[f].controlBlock = false;
    return a;
}

Animation Confetti() {
    Random rng(210);
    struct Bit {
        double x, y, phase, size;
        int ramp;
    };
    std::vector<Bit> bits;
    for (int i = 0; i < 45; ++i)
        bits.push_back({rng.Uniform(0, 320), rng.Uniform(0, 240), rng.Uniform(0, 1),
                        rng.Uniform(3, 5), rng.Int(0, 5)});
    std::vector<Rgb> colours;
    for (int i = 0; i < 6; ++i)
        colours.push_back(Hsv(i * 60.0 + 20, 0.85, 1.0));
    return LightAnimation(colours, 10, 6, [&](LightCanvas& c, int, double t) {
        for (const Bit& b : bits) {
            const double y = std::fmod(b.y + t * 240, 250) - 5;
            const double x = b.x + 10 * Wave(t, b.phase);
            const double turn = std::abs(Wave(t * 2, b.phase));
            c.GlowLine({x - b.size * turn, y - b.size * 0.4}, {x + b.size * turn, y + b.size * 0.4},
                       2.5, b.ramp, 1.0);
        }
    });
}

Animation CloudFrame() {
    enum : std::uint8_t { Sky = 1, Cloud, Sun, Ray };
    const Palette p = KeyPalette({{120, 190, 250}, {255, 255, 255}, {255, 210, 40}, {255, 160, 30}},
                                 {120, 190, 250});
    return KeyedAnimation(p, 8, 12, [](Canvas& c, int, double t) {
        FrameBorder(c, 26, 18, Sky);
        for (int k = 0; k < 9; ++k) { // clouds along the edges, drifting
            const double x = std::fmod(k * 40 + t * 40, 360) - 20;
            c.Disc(x, 14, 14, Cloud);
            c.Disc(x + 14, 10, 11, Cloud);
            c.Disc(x + 8, 232, 13, Cloud);
            c.Disc(x + 22, 228, 10, Cloud);
        }
        for (int k = 0; k < 12; ++k) {
            const double a = k * kPi / 6 + t * kPi / 3;
            c.Line({290 + 22 * std::cos(a), 30 + 22 * std::sin(a)},
                   {290 + 34 * std::cos(a), 30 + 34 * std::sin(a)}, 4, Ray);
        }
        c.Disc(290, 30, 18, Sun);
    });
}

Animation Snowfall() {
    // Drawn at 200 x 150; the decoder scales it up.
    Random rng(212);
    struct Flake {
        double x, y, size, phase;
    };
    std::vector<Flake> flakes;
    for (int i = 0; i < 55; ++i)
        flakes.push_back(
            {rng.Uniform(0, 200), rng.Uniform(0, 150), rng.Uniform(1.2, 3.2), rng.Uniform(0, 1)});
    return LightAnimation(
        {kSnow, Rgb{170, 210, 255}}, 12, 8,
        [&](LightCanvas& c, int, double t) {
            for (std::size_t i = 0; i < flakes.size(); ++i) {
                const Flake& f = flakes[i];
                const double y = std::fmod(f.y + t * 150 * (0.6 + f.size / 8), 160) - 5;
                const double x = f.x + 5 * Wave(t * 2, f.phase);
                if (i % 7 == 0)
                    c.Sparkle(x, y, f.size * 2.2, 1, 0.9);
                else
                    c.Glow(x, y, f.size, 0, 0.95);
            }
        },
        200, 150);
}

Animation Fireflies() {
    Random rng(213);
    struct Fly {
        double x, y, ax, ay, phase;
    };
    std::vector<Fly> flies;
    for (int i = 0; i < 14; ++i)
        flies.push_back({rng.Uniform(30, 290), rng.Uniform(30, 210), rng.Uniform(15, 40),
                         rng.Uniform(10, 30), rng.Uniform(0, 1)});
    return LightAnimation(
        {kFirefly, Rgb{255, 230, 90}}, 10, 10, [&](LightCanvas& c, int, double t) {
            for (std::size_t i = 0; i < flies.size(); ++i) {
                const Fly& f = flies[i];
                const double x = f.x + f.ax * Wave(t, f.phase),
                             y = f.y + f.ay * Wave(t, f.phase + 0.25) * (i % 2 ? 1 : -1);
                const double b = 0.35 + 0.65 * std::max(0.0, Wave(t, f.phase * 2));
                c.Glow(x, y, 12, static_cast<int>(i % 2), b * 0.8);
                c.Glow(x, y, 3, 1, b);
            }
        });
}

Animation MusicNotes() {
    Random rng(214);
    struct Note {
        double x, phase;
        int ramp;
        bool pair;
    };
    std::vector<Note> notes;
    for (int i = 0; i < 7; ++i)
        notes.push_back({25 + i * 45 + rng.Uniform(-8, 8), rng.Uniform(0, 1), i % 3, i % 2 == 0});
    return LightAnimation({kPinkLight, kFairy, Rgb{120, 230, 255}}, 10, 8,
                          [&](LightCanvas& c, int, double t) {
                              for (const Note& n : notes) {
                                  const double u = std::fmod(t + n.phase, 1.0);
                                  const double x = n.x + 10 * Wave(u), y = 260 - u * 290;
                                  c.Glow(x, y, 7, n.ramp, 1.0);
                                  c.GlowLine({x + 5, y}, {x + 5, y - 28}, 2, n.ramp, 1.0);
                                  if (n.pair) {
                                      c.Glow(x + 20, y - 4, 7, n.ramp, 1.0);
                                      c.GlowLine({x + 25, y - 4}, {x + 25, y - 32}, 2, n.ramp, 1.0);
                                      c.GlowLine({x + 5, y - 28}, {x + 25, y - 32}, 3, n.ramp, 1.0);
                                  } else {
                                      c.GlowLine({x + 5, y - 28}, {x + 14, y - 18}, 2, n.ramp, 1.0);
                                  }
                              }
                          });
}

Animation ShimmeringRainbow() {
    std::vector<Rgb> colours;
    for (int i = 0; i < 7; ++i)
        colours.push_back(Hsv(i * 270.0 / 6, 0.9, 1.0));
    return LightAnimation(colours, 8, 10, [](LightCanvas& c, int, double t) {
        // Each pixel near the arc belongs to the band whose radius it is closest to.
        for (int y = 0; y < 236; ++y)
            for (int x = 0; x < c.width(); ++x) {
                const double d = std::hypot(x + 0.5 - 160, y + 0.5 - 250);
                const int band = static_cast<int>(std::lround((200 - d) / 9));
                if (band < 0 || band > 6)
                    continue;
                const double across = std::abs(d - (200 - band * 9)) / 5;
                if (across >= 1)
                    continue;
                const double along = std::atan2(y + 0.5 - 250, x + 0.5 - 160);
                c.Put(x, y, band, (1 - across) * (0.55 + 0.45 * std::sin(along * 6 - t * 2 * kPi)));
            }
    });
}

Animation ThreeFlowers() {
    const Point centres[3] = {{70, 170}, {160, 150}, {250, 170}};
    return LightAnimation(
        {kPinkLight, Rgb{255, 220, 90}, Rgb{120, 255, 150}, kFairy}, 10, 10,
        [&](LightCanvas& c, int, double t) {
            for (int k = 0; k < 3; ++k) {
                const double open = 0.3 + 0.7 * Triangle(t + k / 3.0);
                const Point p = centres[k];
                c.GlowLine({p.x, p.y}, {p.x + 6 * Wave(t, k / 3.0), 240}, 2.5, 2, 0.7);
                for (int petal = 0; petal < 6; ++petal) {
                    const double a = petal * kPi / 3 + k;
                    c.Glow(p.x + std::cos(a) * 22 * open, p.y + std::sin(a) * 22 * open,
                           10 + 6 * open, k == 1 ? 3 : 0, 0.9);
                }
                c.Glow(p.x, p.y, 9, 1, 1.0);
            }
        });
}

} // namespace

Animation DrawCartoonEffect(int number) {
    switch (number) {
    case 1:
        return StarrySky();
    case 2:
        return MeteorFairy();
    case 3:
        return RisingHearts();
    case 4:
        return Fountain();
    case 5:
        return CatSticker();
    case 6:
        return PleaseSticker();
    case 7:
        return CyclingSticker();
    case 8:
        return PulsingHeart();
    case 9:
        return Halo();
    case 10:
        return Confetti();
    case 11:
        return CloudFrame();
    case 12:
        return Snowfall();
    case 13:
        return Fireflies();
    case 14:
        return MusicNotes();
    case 15:
        return ShimmeringRainbow();
    default:
        return ThreeFlowers();
    }
}

} // namespace kelo::pack
