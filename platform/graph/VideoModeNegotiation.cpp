#include "platform/graph/VideoModeNegotiation.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kelo {

namespace {

// Sizes and rates cameras commonly offer, read from ranges (sizes: width x height).
constexpr std::pair<int, int> kCommonSizes[] = {
    {160, 120},  {176, 144},  {320, 180},  {320, 240},  {352, 288},   {424, 240},   {640, 360},
    {640, 480},  {800, 448},  {800, 600},  {848, 480},  {960, 540},   {1024, 576},  {1024, 768},
    {1280, 720}, {1280, 960}, {1366, 768}, {1600, 900}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
constexpr int kCommonRates[] = {60, 50, 30, 25, 24, 20, 15, 10, 7, 5, 1};

// Whether the field value (absent: anything) holds the integer.
bool HoldsInt(const GValue* value, int x) {
    if (!value)
        return true;
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value) == x;
    if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        const int low = gst_value_get_int_range_min(value);
        const int high = gst_value_get_int_range_max(value);
        const int step = std::max(1, gst_value_get_int_range_step(value));
        return x >= low && x <= high && (x - low) % step == 0;
    }
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            if (HoldsInt(gst_value_list_get_value(value, i), x))
                return true;
    }
    return false;
}

// Whole frames per second of a fraction (29.97 counts as 30).
int RoundRate(int numerator, int denominator) {
    return denominator > 0 ? static_cast<int>(std::lround(double(numerator) / denominator)) : 0;
}

bool HoldsRate(const GValue* value, int fps) {
    if (!value)
        return true;
    if (GST_VALUE_HOLDS_FRACTION(value))
        return RoundRate(gst_value_get_fraction_numerator(value),
                         gst_value_get_fraction_denominator(value)) == fps;
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const GValue* low = gst_value_get_fraction_range_min(value);
        const GValue* high = gst_value_get_fraction_range_max(value);
        const double lo = double(gst_value_get_fraction_numerator(low)) /
                          std::max(1, gst_value_get_fraction_denominator(low));
        const double hi = double(gst_value_get_fraction_numerator(high)) /
                          std::max(1, gst_value_get_fraction_denominator(high));
        return fps >= lo - 1e-6 && fps <= hi + 1e-6;
    }
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            if (HoldsRate(gst_value_list_get_value(value, i), fps))
                return true;
    }
    return false;
}

// The integers a field names directly (a fixed value or a list of them); empty for ranges.
void CollectInts(const GValue* value, std::vector<int>* out) {
    if (!value)
        return;
    if (G_VALUE_HOLDS_INT(value))
        out->push_back(g_value_get_int(value));
    else if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            CollectInts(gst_value_list_get_value(value, i), out);
}

void CollectRates(const GValue* value, std::vector<int>* out) {
    if (!value)
        return;
    if (GST_VALUE_HOLDS_FRACTION(value))
        out->push_back(RoundRate(gst_value_get_fraction_numerator(value),
                                 gst_value_get_fraction_denominator(value)));
    else if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            CollectRates(gst_value_list_get_value(value, i), out);
}

bool SameAspect(int width, int height, VideoMode mode) {
    return static_cast<long long>(width) * mode.height ==
           static_cast<long long>(height) * mode.width;
}

} // namespace

std::vector<OfferedMode> ListOfferedModes(const GstCaps* caps, VideoMode requested) {
    std::vector<OfferedMode> modes;
    if (!caps)
        return modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        const bool raw = gst_structure_has_name(s, "video/x-raw");
        const bool jpeg = gst_structure_has_name(s, "image/jpeg");
        if (!raw && !jpeg)
            continue;
        const GValue* width = gst_structure_get_value(s, "width");
        const GValue* height = gst_structure_get_value(s, "height");
        const GValue* rate = gst_structure_get_value(s, "framerate");

        std::vector<std::pair<int, int>> sizes;
        std::vector<int> widths;
        std::vector<int> heights;
        CollectInts(width, &widths);
        CollectInts(height, &heights);
        if (!widths.empty() && !heights.empty()) {
            for (int w : widths)
                for (int h : heights)
                    sizes.emplace_back(w, h);
        } else {
            sizes.emplace_back(requested.width, requested.height);
            sizes.insert(sizes.end(), std::begin(kCommonSizes), std::end(kCommonSizes));
        }
        std::vector<int> rates;
        CollectRates(rate, &rates);
        if (rates.empty()) {
            rates.push_back(requested.framesPerSecond);
            rates.insert(rates.end(), std::begin(kCommonRates), std::end(kCommonRates));
        }
        for (auto [w, h] : sizes) {
            if (w <= 0 || h <= 0 || !HoldsInt(width, w) || !HoldsInt(height, h))
                continue;
            for (int fps : rates) {
                if (fps <= 0 || !HoldsRate(rate, fps))
                    continue;
                OfferedMode mode{w, h, fps, jpeg};
                if (std::find(modes.begin(), modes.end(), mode) == modes.end())
                    modes.push_back(mode);
            }
        }
    }
    return modes;
}

ModeChoice ChooseVideoMode(const std::vector<OfferedMode>& offered, VideoMode requested) {
    ModeChoice choice;
    // Exactly as asked: raw before compressed.
    for (bool compressed : {false, true}) {
        for (const OfferedMode& m : offered) {
            if (m.compressed == compressed && m.width == requested.width &&
                m.height == requested.height && m.framesPerSecond == requested.framesPerSecond) {
                choice.found = true;
                choice.exact = true;
                choice.mode = m;
                return choice;
            }
        }
    }
    // Same aspect, largest area not above the request, then the highest rate not above it,
    // then raw before compressed.
    const long long requestedArea = static_cast<long long>(requested.width) * requested.height;
    auto better = [](const OfferedMode& a, const OfferedMode& b) {
        const long long areaA = static_cast<long long>(a.width) * a.height;
        const long long areaB = static_cast<long long>(b.width) * b.height;
        if (areaA != areaB)
            return areaA > areaB;
        if (a.framesPerSecond != b.framesPerSecond)
            return a.framesPerSecond > b.framesPerSecond;
        return !a.compressed && b.compressed;
    };
    for (const OfferedMode& m : offered) {
        if (!SameAspect(m.width, m.height, requested) ||
            static_cast<long long>(m.width) * m.height > requestedArea ||
            m.framesPerSecond > requested.framesPerSecond)
            continue;
        if (!choice.found || better(m, choice.mode)) {
            choice.found = true;
            choice.mode = m;
        }
    }
    return choice;
}

} // namespace kelo
