// The light page: glowing light on black, laid over the video with the screen blend.
#include "EffectArt.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kelo::pack {

namespace {

const Rgb kIceBlue{150, 200, 255};
const Rgb kGold{255, 210, 120};
const Rgb kWhiteish{235, 235, 255};
const Rgb kPink{255, 120, 190};
const Rgb kRedLight{255, 40, 30};
const Rgb kOrange{255, 130, 30};
const Rgb kCyan{60, 230, 255};
const Rgb kViolet{190, 120, 255};
const Rgb kGreenLight{90, 255, 120};

std::vector<Rgb> Rainbow(int count, double saturation = 0.9) {
    std::vector<Rgb> colours;
    for (int i = 0; i < count; ++i)
        colours.push_back(Hsv(i * 360.0 / count, saturation, 1.0));
    return colours;
}

Animation MeteorShower() {
    Random rng(101);
    struct Meteor {
        double x, y, length, offset;
        int ramp;
    };
    std::vector<Meteor> meteors;
    for (int i = 0; i < 12; ++i)
        meteors.push_back({rng.Uniform(80, 520), rng.Uniform(-200, 120), rng.Uniform(40, 90),
                           rng.Uniform(0, 1), rng.Int(0, 1)});
    std::vector<Point> stars;
    for (int i = 0; i < 30; ++i)
        stars.push_back({rng.Uniform(0, 320), rng.Uniform(0, 240)});
    const double dx = -0.8, dy = 0.6; // down to the left
    return LightAnimation({kIceBlue, kGold}, 10, 6, [&](LightCanvas& c, int, double t) {
        for (const Point& s : stars)
            c.Glow(s.x, s.y, 2.0, 0, 0.45);
        for (const Meteor& m : meteors) {
            const double travel = std::fmod(m.offset + t, 1.0) * 420;
            const Point head{m.x + dx * travel, m.y + dy * travel};
            const Point tail{head.x - dx * m.length, head.y - dy * m.length};
            c.GlowLine(tail, head, 2.5, m.ramp, 0.9, true);
            c.Glow(head.x, head.y, 6, m.ramp, 1.0);
        }
    });
}

Animation FlashingBars() {
    Animation a = LightAnimation(Rainbow(6), 8, 8, [](LightCanvas& c, int f, double) {
        for (int i = 0; i < 8; ++i) {
            const bool lit = (i + f) % 4 == 0 || (i + 2 * f) % 8 == 3;
            const double x = 20 + i * 40;
            c.GlowLine({x, 0}, {x, 240}, lit ? 14 : 6, i % 6, lit ? 1.0 : 0.35);
        }
    });
    a.interlaced = true;
    return a;
}

Animation Starlight() {
    // Drawn at half size: the decoder doubles it to fill the picture.
    Random rng(103);
    struct Star {
        double x, y, size, phase;
        int ramp;
    };
    std::vector<Star> stars;
    for (int i = 0; i < 26; ++i)
        stars.push_back({rng.Uniform(4, 156), rng.Uniform(4, 116), rng.Uniform(2.5, 6),
                         rng.Uniform(0, 1), rng.Int(0, 2)});
    return LightAnimation(
        {kWhiteish, kGold, kIceBlue}, 12, 10,
        [&](LightCanvas& c, int, double t) {
            for (const Star& s : stars) {
                const double b = 0.5 + 0.5 * Wave(t, s.phase);
                c.Sparkle(s.x, s.y, s.size * (0.5 + 0.5 * b), s.ramp, 0.3 + 0.7 * b);
            }
        },
        160, 120);
}

Animation Fireworks() {
    Random rng(104);
    struct Burst {
        double x, y, phase, radius;
        int ramp;
    };
    std::vector<Burst> bursts;
    for (int i = 0; i < 4; ++i)
        bursts.push_back(
            {rng.Uniform(60, 260), rng.Uniform(50, 150), i / 4.0, rng.Uniform(55, 80), i});
    Animation a = LightAnimation(Rainbow(7), 12, 8, [&](LightCanvas& c, int, double t) {
        for (const Burst& b : bursts) {
            const double age = std::fmod(t + b.phase, 1.0);
            const double r = b.radius * std::sqrt(age);
            const double fade = 1.0 - age * 0.85;
            for (int k = 0; k < 20; ++k) {
                const double angle = k * 2 * kPi / 20;
                const Point tip{b.x + std::cos(angle) * r,
                                b.y + std::sin(angle) * r + age * age * 25};
                const Point back{b.x + std::cos(angle) * r * 0.6,
                                 b.y + std::sin(angle) * r * 0.6 + age * age * 15};
                c.GlowLine(back, tip, 2.0, b.ramp, fade * 0.7, true);
                c.Glow(tip.x, tip.y, 3.5, b.ramp, fade);
            }
        }
    });
    // Every frame brings its own table, the seven colours turned one step further.
    for (std::size_t f = 0; f < a.frames.size(); ++f) {
        std::vector<Rgb> turned;
        for (int i = 0; i < 7; ++i)
            turned.push_back(Hsv((i + static_cast<int>(f)) * 360.0 / 7, 0.9, 1.0));
        a.frames[f].localTable = LightPalette(turned);
    }
    return a;
}

// Angle and distance of every pixel seen from one point, worked out once for all frames.
struct PolarTable {
    PolarTable(double ox, double oy, int width = 320, int height = 240) : width(width) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                angle.push_back(std::atan2(y + 0.5 - oy, x + 0.5 - ox));
                distance.push_back(std::hypot(x + 0.5 - ox, y + 0.5 - oy));
            }
    }
    std::size_t At(double x, double y) const {
        return static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
    }
    int width;
    std::vector<double> angle, distance;
};

Animation Searchlights() {
    const PolarTable polar(160, 270);
    return LightAnimation(
        {kCyan, kPink, kGold, kGreenLight}, 10, 8, [&](LightCanvas& c, int, double t) {
            for (int k = 0; k < 4; ++k) {
                const double beam =
                    -kPi / 2 + 0.7 * Wave(t, k * 0.25) * (k % 2 ? 1 : -1) + (k - 1.5) * 0.35;
                c.Field(k, [&](double x, double y) {
                    const std::size_t i = polar.At(x, y);
                    const double off = std::abs(polar.angle[i] - beam);
                    return off < 0.09
                               ? (1 - off / 0.09) * std::max(0.0, 1 - polar.distance[i] / 330)
                               : 0.0;
                });
            }
        });
}

Animation DriftingPetals() {
    Random rng(106);
    struct Petal {
        double x, y, phase, size;
        int ramp;
    };
    std::vector<Petal> petals;
    for (int i = 0; i < 18; ++i)
        petals.push_back({rng.Uniform(0, 320), rng.Uniform(0, 240), rng.Uniform(0, 1),
                          rng.Uniform(5, 9), rng.Int(0, 1)});
    return LightAnimation({kPink, Rgb{255, 190, 150}}, 10, 10, [&](LightCanvas& c, int, double t) {
        for (const Petal& p : petals) {
            const double y = std::fmod(p.y + t * 240, 260) - 10;
            const double x = p.x + 12 * Wave(t, p.phase);
            for (int k = 0; k < 5; ++k) {
                const double a = k * 2 * kPi / 5 + t * 2 * kPi;
                c.Glow(x + std::cos(a) * p.size * 0.6, y + std::sin(a) * p.size * 0.6,
                       p.size * 0.55, p.ramp, 0.8);
            }
            c.Glow(x, y, p.size * 0.4, 1, 1.0);
        }
    });
}

Animation LensFlare() {
    return LightAnimation({kGold, kCyan, kViolet}, 10, 6, [](LightCanvas& c, int, double t) {
        const double a = t * 2 * kPi;
        const Point light{160 + 110 * std::cos(a), 120 + 70 * std::sin(a)};
        c.Sparkle(light.x, light.y, 40, 0, 1.0);
        c.Glow(light.x, light.y, 30, 0, 1.0);
        // Flare circles along the line through the centre.
        for (int k = 1; k <= 4; ++k) {
            const double s = 1.0 - k * 0.55;
            const double x = 160 + (light.x - 160) * s, y = 120 + (light.y - 120) * s;
            if (k % 2)
                c.GlowRing(x, y, 8 + k * 5, 4, k % 3, 0.6);
            else
                c.Glow(x, y, 10 + k * 3, 1 + k % 2, 0.5);
        }
    });
}

Animation LightWaves() {
    return LightAnimation({kCyan, kViolet, kGreenLight}, 8, 8, [](LightCanvas& c, int, double t) {
        for (int k = 0; k < 3; ++k) {
            const double base = 60 + k * 60, amp = 18 + k * 6, length = 160 + k * 50;
            for (int x = 0; x < c.width(); ++x) {
                const double centre =
                    base + amp * std::sin(2 * kPi * ((x + 0.5) / length + t + k / 3.0));
                for (int y = static_cast<int>(centre) - 27; y <= static_cast<int>(centre) + 27;
                     ++y) {
                    const double d = (y + 0.5 - centre) / 9.0;
                    c.Put(x, y, k, std::exp(-d * d));
                }
            }
        }
    });
}

Animation RedSpotlights() {
    const PolarTable polar[3] = {PolarTable(60, -20), PolarTable(160, -20), PolarTable(260, -20)};
    return LightAnimation({kRedLight, kOrange}, 10, 8, [&](LightCanvas& c, int, double t) {
        for (int k = 0; k < 3; ++k) {
            const double ox = 60 + k * 100;
            const double dir = kPi / 2 + 0.45 * Wave(t, k / 3.0);
            c.Field(k == 1 ? 1 : 0, [&](double x, double y) {
                const std::size_t i = polar[k].At(x, y);
                const double off = std::abs(polar[k].angle[i] - dir);
                return off < 0.2 ? (1 - off / 0.2) * std::max(0.0, 1 - polar[k].distance[i] / 300)
                                 : 0.0;
            });
            c.Glow(ox, 0, 25, 0, 1.0);
        }
    });
}

Animation CornerRings() {
    return LightAnimation(
        {kCyan, kPink, kGold, kGreenLight}, 9, 7, [](LightCanvas& c, int, double t) {
            const Point corners[4] = {{0, 0}, {320, 0}, {0, 240}, {320, 240}};
            for (int k = 0; k < 4; ++k)
                for (int ring = 0; ring < 3; ++ring) {
                    const double age = std::fmod(t + ring / 3.0, 1.0);
                    c.GlowRing(corners[k].x, corners[k].y, 20 + age * 170, 6, k, 1.0 - age);
                }
        });
}

Animation Thunderbolt() {
    Random rng(111);
    // A bolt by midpoint displacement, branching once.
    auto bolt = [&](Point from, Point to, std::vector<std::pair<Point, Point>>& segments) {
        std::vector<Point> pts{from, to};
        for (int level = 0; level < 5; ++level) {
            std::vector<Point> next;
            for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
                next.push_back(pts[i]);
                const double spread = 40.0 / (level + 1);
                next.push_back({(pts[i].x + pts[i + 1].x) / 2 + rng.Uniform(-spread, spread),
                                (pts[i].y + pts[i + 1].y) / 2});
            }
            next.push_back(pts.back());
            pts = next;
        }
        for (std::size_t i = 0; i + 1 < pts.size(); ++i)
            segments.push_back({pts[i], pts[i + 1]});
        return pts[pts.size() / 2];
    };
    std::vector<std::vector<std::pair<Point, Point>>> bolts(3);
    for (int b = 0; b < 3; ++b) {
        const double x = 60 + b * 100 + rng.Uniform(-20, 20);
        const Point mid = bolt({x, 0}, {x + rng.Uniform(-60, 60), 240}, bolts[b]);
        bolt(mid, {mid.x + rng.Uniform(-90, 90), mid.y + 90}, bolts[b]);
    }
    // Strike, afterglow, darkness: the delays follow the rhythm.
    const int strikeOf[10] = {0, 0, -1, -1, 1, 1, -1, 2, -1, -1};
    const double glowOf[10] = {1.0, 0.5, 0.15, 0.0, 1.0, 0.4, 0.1, 1.0, 0.3, 0.0};
    const int delayOf[10] = {5, 4, 6, 20, 5, 4, 12, 5, 8, 20};
    std::vector<Point> rain;
    for (int i = 0; i < 40; ++i)
        rain.push_back({rng.Uniform(0, 340), rng.Uniform(0, 240)});
    int lastStrike = 0;
    Animation a = LightAnimation(
        {kWhiteish, kViolet, Rgb{120, 150, 255}}, 10, 5, [&](LightCanvas& c, int f, double t) {
            for (const Point& drop : rain) { // rain falls all the time
                const double y = std::fmod(drop.y + t * 480, 250) - 10;
                c.GlowLine({drop.x, y}, {drop.x - 4, y + 14}, 1.2, 2, 0.75, true);
            }
            if (strikeOf[f] >= 0)
                lastStrike = strikeOf[f];
            if (glowOf[f] <= 0)
                return;
            for (const auto& [p, q] : bolts[lastStrike]) {
                c.GlowLine(p, q, 7, 1, glowOf[f] * 0.8);
                c.GlowLine(p, q, 2, 0, glowOf[f]);
            }
        });
    for (int f = 0; f < 10; ++f)
        a.frames[f].delay = delayOf[f];
    return a;
}

Animation ColourChangingBorder() {
    Animation a = LightAnimation({kWhiteish, kWhiteish}, 8, 10, [](LightCanvas& c, int f, double) {
        c.Field(0, [&](double x, double y) {
            const double edge = std::min({x, y, 320 - x, 240 - y});
            return edge < 30 ? std::pow(1 - edge / 30, 1.6) : 0.0;
        });
        for (int k = 0; k < 10; ++k) {
            const double x = 16 + k * 32;
            c.Sparkle(x, (k + f) % 2 ? 12 : 228, 10, 1, 1.0);
        }
    });
    // No global table: each frame brings its own, in a new colour.
    a.globalTable.reset();
    for (std::size_t f = 0; f < a.frames.size(); ++f)
        a.frames[f].localTable =
            LightPalette({Hsv(f * 45.0, 0.85, 1.0), Hsv(f * 45.0 + 180, 0.6, 1.0)});
    return a;
}

Animation Bubbles() {
    Random rng(113);
    struct Bubble {
        double x, y, r, phase;
        int ramp;
    };
    std::vector<Bubble> bubbles;
    for (int i = 0; i < 16; ++i)
        bubbles.push_back({rng.Uniform(10, 310), rng.Uniform(0, 260), rng.Uniform(6, 16),
                           rng.Uniform(0, 1), rng.Int(0, 1)});
    Animation a = LightAnimation({kCyan, kViolet}, 10, 8, [&](LightCanvas& c, int, double t) {
        for (const Bubble& b : bubbles) {
            const double y = std::fmod(b.y - t * 260 + 520, 260) - 10;
            const double x = b.x + 6 * Wave(t * 2, b.phase);
            c.GlowRing(x, y, b.r, 2.5, b.ramp, 0.8);
            c.Glow(x - b.r * 0.4, y - b.r * 0.4, b.r * 0.35, b.ramp, 0.9);
        }
    });
    // Only the first frame has a control block; the others take its delay.
    for (std::size_t f = 1; f < a.frames.size(); ++f)
        a.frames[f].controlBlock = false;
    return a;
}

Animation BlueBall() {
    return LightAnimation({Rgb{60, 120, 255}, kIceBlue}, 12, 6, [](LightCanvas& c, int, double t) {
        const double x = 45 + 230 * Triangle(t);
        const double y = 200 - 150 * std::abs(std::sin(2 * kPi * t));
        c.Glow(x, 232, 40, 0, 0.25); // the glow on the floor
        c.Glow(x, y, 48, 0, 1.0);
        c.Glow(x - 10, y - 10, 16, 1, 1.0);
    });
}

Animation RotatingRedLight() {
    return LightAnimation({kRedLight, kOrange}, 12, 5, [](LightCanvas& c, int, double t) {
        const double a = t * 2 * kPi, ca = std::cos(a), sa = std::sin(a);
        auto sharpen = [](double v) { // v^24: a narrow beam
            const double v2 = v * v, v4 = v2 * v2, v8 = v4 * v4;
            return v8 * v8 * v8;
        };
        c.Field(0, [&](double x, double y) {
            const double dx = x - 160, dy = y - 120, d = std::hypot(dx, dy);
            if (d >= 260 || d == 0)
                return 0.0;
            const double along = (dx * ca + dy * sa) / d; // cos of the angle to the beam
            const double fade = 1 - d / 260;
            return along > 0 ? sharpen(along) * fade : sharpen(-along) * fade * 0.7;
        });
        c.Glow(160, 120, 22, 1, 1.0);
    });
}

Animation FlashLamp() {
    Random rng(116);
    std::vector<Point> spots;
    for (int i = 0; i < 8; ++i)
        spots.push_back({rng.Uniform(40, 280), rng.Uniform(30, 210)});
    return LightAnimation({kWhiteish, kGold}, 8, 12, [&](LightCanvas& c, int f, double) {
        const Point p = spots[f];
        c.Glow(p.x, p.y, 70, 0, 1.0);
        c.Sparkle(p.x, p.y, 60, 0, 1.0);
        c.Sparkle(spots[(f + 3) % 8].x, spots[(f + 3) % 8].y, 18, 1, 0.6);
    });
}

} // namespace

Animation DrawLightEffect(int number) {
    switch (number) {
    case 1:
        return MeteorShower();
    case 2:
        return FlashingBars();
    case 3:
        return Starlight();
    case 4:
        return Fireworks();
    case 5:
        return Searchlights();
    case 6:
        return DriftingPetals();
    case 7:
        return LensFlare();
    case 8:
        return LightWaves();
    case 9:
        return RedSpotlights();
    case 10:
        return CornerRings();
    case 11:
        return Thunderbolt();
    case 12:
        return ColourChangingBorder();
    case 13:
        return Bubbles();
    case 14:
        return BlueBall();
    case 15:
        return RotatingRedLight();
    default:
        return FlashLamp();
    }
}

} // namespace kelo::pack
