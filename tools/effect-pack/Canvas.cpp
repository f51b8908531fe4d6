#include "Canvas.h"

#include <algorithm>
#include <cmath>

namespace kelo::pack {

namespace {

double SegmentDistance(double px, double py, Point a, Point b, double* along = nullptr) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    if (along)
        *along = t;
    const double qx = a.x + t * dx - px, qy = a.y + t * dy - py;
    return std::sqrt(qx * qx + qy * qy);
}

bool InsidePolygon(const std::vector<Point>& pts, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
        if ((pts[i].y > y) != (pts[j].y > y) &&
            x < (pts[j].x - pts[i].x) * (y - pts[i].y) / (pts[j].y - pts[i].y) + pts[i].x)
            inside = !inside;
    }
    return inside;
}

} // namespace

Canvas::Canvas(int width, int height, std::uint8_t fill)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, fill) {}

void Canvas::Fill(std::uint8_t c) {
    std::fill(pixels_.begin(), pixels_.end(), c);
}

void Canvas::Set(int x, int y, std::uint8_t c) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_)
        pixels_[static_cast<std::size_t>(y) * width_ + x] = c;
}

template <typename Inside>
void Canvas::Shape(double x0, double y0, double x1, double y1, Inside inside, std::uint8_t c) {
    const int ix0 = std::max(0, static_cast<int>(std::floor(x0)));
    const int iy0 = std::max(0, static_cast<int>(std::floor(y0)));
    const int ix1 = std::min(width_ - 1, static_cast<int>(std::ceil(x1)));
    const int iy1 = std::min(height_ - 1, static_cast<int>(std::ceil(y1)));
    for (int y = iy0; y <= iy1; ++y)
        for (int x = ix0; x <= ix1; ++x)
            if (inside(x + 0.5, y + 0.5))
                pixels_[static_cast<std::size_t>(y) * width_ + x] = c;
}

void Canvas::Rect(double x0, double y0, double x1, double y1, std::uint8_t c) {
    Shape(
        x0, y0, x1, y1, [&](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; },
        c);
}

void Canvas::Disc(double cx, double cy, double r, std::uint8_t c) {
    Shape(
        cx - r, cy - r, cx + r, cy + r,
        [&](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; }, c);
}

void Canvas::Ellipse(double cx, double cy, double rx, double ry, double angle, std::uint8_t c) {
    const double ca = std::cos(angle), sa = std::sin(angle);
    const double r = std::max(rx, ry);
    Shape(
        cx - r, cy - r, cx + r, cy + r,
        [&](double x, double y) {
            const double u = (x - cx) * ca + (y - cy) * sa;
            const double v = -(x - cx) * sa + (y - cy) * ca;
            return (u * u) / (rx * rx) + (v * v) / (ry * ry) <= 1.0;
        },
        c);
}

void Canvas::Ring(double cx, double cy, double r0, double r1, std::uint8_t c) {
    Shape(
        cx - r1, cy - r1, cx + r1, cy + r1,
        [&](double x, double y) {
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            return d2 >= r0 * r0 && d2 <= r1 * r1;
        },
        c);
}

void Canvas::Line(Point a, Point b, double thickness, std::uint8_t c) {
    const double h = thickness / 2;
    Shape(
        std::min(a.x, b.x) - h, std::min(a.y, b.y) - h, std::max(a.x, b.x) + h,
        std::max(a.y, b.y) + h,
        [&](double x, double y) { return SegmentDistance(x, y, a, b) <= h; }, c);
}

void Canvas::Polygon(const std::vector<Point>& points, std::uint8_t c) {
    if (points.size() < 3)
        return;
    double x0 = points[0].x, x1 = x0, y0 = points[0].y, y1 = y0;
    for (const Point& p : points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    Shape(
        x0, y0, x1, y1, [&](double x, double y) { return InsidePolygon(points, x, y); }, c);
}

void Canvas::RoundRect(double x0, double y0, double x1, double y1, double radius, std::uint8_t c) {
    Shape(
        x0, y0, x1, y1,
        [&](double x, double y) {
            if (x < x0 || x >= x1 || y < y0 || y >= y1)
                return false;
            const double qx = std::max({x0 + radius - x, 0.0, x - (x1 - radius)});
            const double qy = std::max({y0 + radius - y, 0.0, y - (y1 - radius)});
            return qx * qx + qy * qy <= radius * radius;
        },
        c);
}

void Canvas::Star(double cx, double cy, double outer, double inner, int points, double angle,
                  std::uint8_t c) {
    std::vector<Point> pts;
    for (int i = 0; i < points * 2; ++i) {
        const double r = i % 2 == 0 ? outer : inner;
        const double a = angle - kPi / 2 + i * kPi / points;
        pts.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    Polygon(pts, c);
}

void Canvas::Heart(double cx, double cy, double size, std::uint8_t c) {
    // The classic implicit heart (x^2 + y^2 - 1)^3 - x^2 y^3 <= 0, y pointing up.
    Shape(
        cx - size * 1.2, cy - size * 1.2, cx + size * 1.2, cy + size * 1.2,
        [&](double x, double y) {
            const double u = (x - cx) / size;
            const double v = -(y - cy) / size + 0.15;
            const double a = u * u + v * v - 1;
            return a * a * a - u * u * v * v * v <= 0;
        },
        c);
}

void Canvas::Flower(double cx, double cy, double size, int petals, double angle, std::uint8_t petal,
                    std::uint8_t centre) {
    for (int i = 0; i < petals; ++i) {
        const double a = angle + i * 2 * kPi / petals;
        Ellipse(cx + std::cos(a) * size * 0.55, cy + std::sin(a) * size * 0.55, size * 0.5,
                size * 0.25, a, petal);
    }
    Disc(cx, cy, size * 0.3, centre);
}

void Canvas::Butterfly(double cx, double cy, double size, double open, std::uint8_t wing,
                       std::uint8_t spot, std::uint8_t body) {
    const double span = size * (0.35 + 0.65 * open);
    for (int side : {-1, 1}) {
        Ellipse(cx + side * span * 0.55, cy - size * 0.25, span * 0.55, size * 0.45, side * 0.5,
                wing);
        Ellipse(cx + side * span * 0.45, cy + size * 0.35, span * 0.4, size * 0.3, -side * 0.5,
                wing);
        Disc(cx + side * span * 0.6, cy - size * 0.3, size * 0.14, spot);
    }
    Ellipse(cx, cy, size * 0.12, size * 0.6, 0, body);
    Line({cx, cy - size * 0.55}, {cx - size * 0.3, cy - size * 0.95}, size * 0.06 + 1, body);
    Line({cx, cy - size * 0.55}, {cx + size * 0.3, cy - size * 0.95}, size * 0.06 + 1, body);
}

LightCanvas::LightCanvas(int width, int height)
    : width_(width), height_(height), intensity_(static_cast<std::size_t>(width) * height, 0.0f),
      ramp_(static_cast<std::size_t>(width) * height, 0) {}

void LightCanvas::Put(int x, int y, int ramp, double intensity) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || intensity <= 0)
        return;
    const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
    if (intensity > intensity_[i]) {
        intensity_[i] = static_cast<float>(std::min(intensity, 1.0));
        ramp_[i] = static_cast<std::uint8_t>(ramp);
    }
}

void LightCanvas::Glow(double cx, double cy, double radius, int ramp, double strength) {
    const int x0 = static_cast<int>(std::floor(cx - radius)),
              x1 = static_cast<int>(std::ceil(cx + radius));
    const int y0 = static_cast<int>(std::floor(cy - radius)),
              y1 = static_cast<int>(std::ceil(cy + radius));
    for (int y = std::max(0, y0); y <= std::min(height_ - 1, y1); ++y)
        for (int x = std::max(0, x0); x <= std::min(width_ - 1, x1); ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy) / radius;
            if (d < 1)
                Put(x, y, ramp, strength * (1 - d) * (1 - d));
        }
}

void LightCanvas::GlowLine(Point a, Point b, double radius, int ramp, double strength,
                           bool fadeTail) {
    const int x0 = static_cast<int>(std::floor(std::min(a.x, b.x) - radius));
    const int x1 = static_cast<int>(std::ceil(std::max(a.x, b.x) + radius));
    const int y0 = static_cast<int>(std::floor(std::min(a.y, b.y) - radius));
    const int y1 = static_cast<int>(std::ceil(std::max(a.y, b.y) + radius));
    for (int y = std::max(0, y0); y <= std::min(height_ - 1, y1); ++y)
        for (int x = std::max(0, x0); x <= std::min(width_ - 1, x1); ++x) {
            double along = 0;
            const double d = SegmentDistance(x + 0.5, y + 0.5, a, b, &along) / radius;
            if (d < 1)
                Put(x, y, ramp, strength * (1 - d) * (fadeTail ? along : 1.0));
        }
}

void LightCanvas::GlowRing(double cx, double cy, double r, double thickness, int ramp,
                           double strength) {
    const double outer = r + thickness;
    for (int y = std::max(0, static_cast<int>(cy - outer));
         y <= std::min(height_ - 1, static_cast<int>(cy + outer)); ++y)
        for (int x = std::max(0, static_cast<int>(cx - outer));
             x <= std::min(width_ - 1, static_cast<int>(cx + outer)); ++x) {
            const double d = std::abs(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - r) / thickness;
            if (d < 1)
                Put(x, y, ramp, strength * (1 - d));
        }
}

void LightCanvas::Sparkle(double cx, double cy, double size, int ramp, double strength) {
    Glow(cx, cy, size * 0.45, ramp, strength);
    GlowLine({cx - size, cy}, {cx + size, cy}, size * 0.12 + 0.8, ramp, strength * 0.9);
    GlowLine({cx, cy - size}, {cx, cy + size}, size * 0.12 + 0.8, ramp, strength * 0.9);
}

std::vector<std::uint8_t> LightCanvas::Quantize() const {
    std::vector<std::uint8_t> out(intensity_.size(), 0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int level = static_cast<int>(intensity_[i] * kRampLevels + 0.5);
        if (level > 0)
            out[i] = static_cast<std::uint8_t>(1 + ramp_[i] * kRampLevels +
                                               std::min(level, kRampLevels) - 1);
    }
    return out;
}

Palette LightPalette(const std::vector<Rgb>& colours) {
    Palette p{};
    for (std::size_t r = 0; r < colours.size() && r < LightCanvas::kMaxRamps; ++r)
        for (int l = 1; l <= LightCanvas::kRampLevels; ++l) {
            // Dark to full colour over the first two thirds, then towards white.
            const double t = static_cast<double>(l) / LightCanvas::kRampLevels;
            const double up = std::min(1.0, t * 1.5);
            const double white = std::max(0.0, (t - 0.67) / 0.33) * 0.8;
            auto channel = [&](std::uint8_t c) {
                return static_cast<std::uint8_t>(
                    std::lround(std::min(255.0, c * up * (1 - white) + 255 * white)));
            };
            p[1 + r * LightCanvas::kRampLevels + l - 1] = {
                channel(colours[r].r), channel(colours[r].g), channel(colours[r].b)};
        }
    p[255] = {0, 0, 0};
    return p;
}

Rgb Hsv(double hue, double saturation, double value) {
    hue = std::fmod(std::fmod(hue, 360.0) + 360.0, 360.0);
    const double c = value * saturation;
    const double x = c * (1 - std::abs(std::fmod(hue / 60.0, 2.0) - 1));
    const double m = value - c;
    double r = 0, g = 0, b = 0;
    if (hue < 60) {
        r = c;
        g = x;
    } else if (hue < 120) {
        r = x;
        g = c;
    } else if (hue < 180) {
        g = c;
        b = x;
    } else if (hue < 240) {
        g = x;
        b = c;
    } else if (hue < 300) {
        r = x;
        b = c;
    } else {
        r = c;
        b = x;
    }
    auto to8 = [&](double v) { return static_cast<std::uint8_t>(std::lround((v + m) * 255)); };
    return {to8(r), to8(g), to8(b)};
}

} // namespace kelo::pack
