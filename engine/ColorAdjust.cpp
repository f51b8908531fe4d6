#include "engine/ColorAdjust.h"

#include "engine/FrameMat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kelo {

namespace {

// The colour codes of the conversion pair. They are the RGB-order pair although the bytes are
// blue, green, red: only lightness and saturation change, so the result equals that of the
// BGR-order pair, and keeping these codes keeps the frames identical to earlier releases.
constexpr int kRgbToHls = cv::COLOR_RGB2HLS; // 53
constexpr int kHlsToRgb = cv::COLOR_HLS2RGB; // 61

using Lut = std::array<std::uint8_t, 256>;

Lut OffsetLut(long long offset) {
    Lut lut{};
    for (int v = 0; v < 256; ++v)
        lut[static_cast<std::size_t>(v)] =
            static_cast<std::uint8_t>(std::clamp<long long>(v + offset, 0, 255));
    return lut;
}

} // namespace

HRESULT AdjustHls(FrameImage* frame, int lightnessShift, int saturationShift) {
    if (!frame)
        return E_POINTER;
    cv::Mat whole = FrameMat(*frame);
    if (whole.empty() || whole.channels() < 3)
        return E_FAIL;
    cv::Mat mat = whole(FrameRoi(*frame));
    const int channels = mat.channels();
    if (mat.depth() == CV_8U) {
        if (lightnessShift == 0 && saturationShift == 0)
            return S_OK; // both tables are the identity
        // One table per channel, hue unchanged; cv::LUT runs it over whole rows.
        cv::Mat luts(1, 256, CV_8UC(channels));
        const Lut lightness = OffsetLut(lightnessShift);
        const Lut saturation = OffsetLut(saturationShift);
        for (int v = 0; v < 256; ++v) {
            std::uint8_t* entry = luts.ptr<std::uint8_t>(0) + v * channels;
            for (int c = 0; c < channels; ++c)
                entry[c] = static_cast<std::uint8_t>(v);
            entry[1] = lightness[static_cast<std::size_t>(v)];
            entry[2] = saturation[static_cast<std::size_t>(v)];
        }
        cv::LUT(mat, luts, mat);
        return S_OK;
    }
    if (mat.depth() == CV_32F) {
        const float dl = static_cast<float>(lightnessShift);
        const float ds = static_cast<float>(saturationShift);
        for (int y = 0; y < mat.rows; ++y) {
            float* p = mat.ptr<float>(y);
            for (int x = 0; x < mat.cols; ++x, p += channels) {
                p[1] = std::clamp(p[1] + dl, 0.0f, 1.0f);
                p[2] = std::clamp(p[2] + ds, 0.0f, 1.0f);
            }
        }
        return S_OK;
    }
    return E_FAIL;
}

HRESULT ApplyChannelOffsets(FrameImage* frame, int blueOffset, int greenOffset, int redOffset) {
    if (!frame)
        return E_POINTER;
    cv::Mat mat = FrameMat(*frame);
    if (mat.empty() || mat.channels() < 3)
        return E_FAIL;
    const int channels = mat.channels();
    if (mat.depth() == CV_8U) {
        if (blueOffset == 0 && greenOffset == 0 && redOffset == 0)
            return S_OK; // every table is the identity
        const std::array<Lut, 3> luts = {OffsetLut(blueOffset), OffsetLut(greenOffset),
                                         OffsetLut(redOffset)};
        // One table per channel (a fourth channel keeps its bytes); cv::LUT runs it over rows.
        cv::Mat table(1, 256, CV_8UC(channels));
        for (int v = 0; v < 256; ++v) {
            std::uint8_t* entry = table.ptr<std::uint8_t>(0) + v * channels;
            for (int c = 0; c < channels; ++c)
                entry[c] = c < 3 ? luts[static_cast<std::size_t>(c)][static_cast<std::size_t>(v)]
                                 : static_cast<std::uint8_t>(v);
        }
        cv::LUT(mat, table, mat);
        return S_OK;
    }
    if (mat.depth() == CV_32F) {
        const float offsets[3] = {static_cast<float>(blueOffset), static_cast<float>(greenOffset),
                                  static_cast<float>(redOffset)};
        for (int y = 0; y < mat.rows; ++y) {
            float* p = mat.ptr<float>(y);
            for (int x = 0; x < mat.cols; ++x, p += channels) {
                p[0] += offsets[0];
                p[1] += offsets[1];
                p[2] += offsets[2];
            }
        }
        return S_OK;
    }
    return E_FAIL;
}

void AdjustColors(FrameImage* frame, const EffectState::Values& values) {
    if (!frame)
        return;
    cv::Mat whole = FrameMat(*frame);
    if (whole.empty() || whole.channels() != 3)
        return;
    try {
        cv::Mat roi = whole(FrameRoi(*frame));
        if (roi.empty())
            return;
        cv::cvtColor(roi, roi, kRgbToHls);
        // Both report only a depth they leave alone; the frame passes on unchanged then.
        (void)AdjustHls(frame, values.lightnessShift, values.saturationShift);
        cv::cvtColor(roi, roi, kHlsToRgb);
        (void)ApplyChannelOffsets(frame, values.blueOffset, values.greenOffset, values.redOffset);
    } catch (const cv::Exception&) {
        // The frame passes on as far as it got.
    }
}

} // namespace kelo
