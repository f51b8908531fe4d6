// Drawing surfaces of the effect-pack generator: an indexed canvas for opaque and keyed art,
// and a light canvas where glows add up on black (for the screen-blended effects).
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace kelo::pack {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

using Palette = std::array<Rgb, 256>;

inline constexpr Rgb kMagenta{255, 0, 255}; // the colour key of the overlay filter
inline constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x = 0, y = 0;
};

// A deterministic random source: the pack is the same on every build.
class Random {
public:
    explicit Random(std::uint32_t start) : engine_(start) {}
    double Uniform(double low, double high) {
        return low + (high - low) * (static_cast<double>(engine_()) / 4294967296.0);
    }
    int Int(int low, int high) { // low..high inclusive
        return low + static_cast<int>(engine_() % static_cast<std::uint32_t>(high - low + 1));
    }

private:
    std::mt19937 engine_;
};

// An 8-bit picture drawn in palette indices; (0, 0) is the top-left pixel.
class Canvas {
public:
    Canvas(int width, int height, std::uint8_t fill = 0);
    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }
    std::uint8_t At(int x, int y) const {
        return pixels_[static_cast<std::size_t>(y) * width_ + x];
    }

    void Fill(std::uint8_t c);
    void Set(int x, int y, std::uint8_t c);
    void Rect(double x0, double y0, double x1, double y1, std::uint8_t c);
    void Disc(double cx, double cy, double r, std::uint8_t c);
    void Ellipse(double cx, double cy, double rx, double ry, double angle, std::uint8_t c);
    void Ring(double cx, double cy, double r0, double r1, std::uint8_t c);
    void Line(Point a, Point b, double thickness, std::uint8_t c);
    void Polygon(const std::vector<Point>& points, std::uint8_t c);
    void RoundRect(double x0, double y0, double x1, double y1, double radius, std::uint8_t c);
    // A star of `points` tips, turned by angle (radians).
    void Star(double cx, double cy, double outer, double inner, int points, double angle,
              std::uint8_t c);
    // A heart whose width is about 2 * size, centred on (cx, cy).
    void Heart(double cx, double cy, double size, std::uint8_t c);
    void Flower(double cx, double cy, double size, int petals, double angle, std::uint8_t petal,
                std::uint8_t centre);
    // Wings open by `open` (0..1): drawn flapping from frame to frame.
    void Butterfly(double cx, double cy, double size, double open, std::uint8_t wing,
                   std::uint8_t spot, std::uint8_t body);

private:
    template <typename Inside>
    void Shape(double x0, double y0, double x1, double y1, Inside inside, std::uint8_t c);

    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};

// Light on black: every pixel keeps the brightest light that reached it and which colour ramp
// that light belongs to. Quantize turns it into indices of a palette made by LightPalette:
// index 0 black, then ramps of kRampLevels entries from dark to a white-hot core.
class LightCanvas {
public:
    static constexpr int kRampLevels = 31;
    static constexpr int kMaxRamps = 8;

    LightCanvas(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }

    // A soft round glow: full strength at the centre, fading to nothing at radius.
    void Glow(double cx, double cy, double radius, int ramp, double strength = 1.0);
    // A glowing segment (meteor trails, bolts, beams): fades with distance from the segment and,
    // when fadeTail is set, along it from b (bright) to a (dark).
    void GlowLine(Point a, Point b, double radius, int ramp, double strength = 1.0,
                  bool fadeTail = false);
    void GlowRing(double cx, double cy, double r, double thickness, int ramp,
                  double strength = 1.0);
    // A four-point twinkle: a core and two crossed rays.
    void Sparkle(double cx, double cy, double size, int ramp, double strength = 1.0);
    // Light from a function of the pixel (beams, waves): value 0..1, drawn where it is brighter.
    template <typename F> void Field(int ramp, F value) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                Put(x, y, ramp, value(x + 0.5, y + 0.5));
    }
    void Put(int x, int y, int ramp, double intensity);

    std::vector<std::uint8_t> Quantize() const;

private:
    int width_;
    int height_;
    std::vector<float> intensity_;
    std::vector<std::uint8_t> ramp_;
};

// Palette for a LightCanvas: ramps of the given colours; entry 255 (shown past a scaled
// image) is black, so it stays transparent under the screen blend.
Palette LightPalette(const std::vector<Rgb>& colours);
// A colour from hue (0..360), saturation and value (0..1).
Rgb Hsv(double hue, double saturation, double value);

} // namespace kelo::pack
