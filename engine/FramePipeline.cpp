#include "engine/FramePipeline.h"

#include "engine/ColorAdjust.h"
#include "engine/FaceCover.h"
#include "engine/FrameMat.h"
#include "engine/HdCameraFeed.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <map>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace kelo {

namespace {

constexpr int kCaptionFont = cv::FONT_HERSHEY_DUPLEX;
constexpr double kCaptionScale = 0.5;
constexpr int kCaptionThickness = 2;
constexpr int kCaptionLineType = 12; // neither 8 nor anti-aliased 16: drawn as 8-connected
const cv::Scalar kCaptionColor(0, 0, 255, 0);

} // namespace

namespace {

// Draws the caption into a matrix of the frame's size.
void DrawCaption(cv::Mat& mat, bool bottomUp) {
    // Scaled with the frame height: the caption covers the same share of any frame.
    const double size = static_cast<double>(mat.rows) / kCaptionFrameHeight;
    const cv::Point at(static_cast<int>(std::lround(kCaptionX * size)),
                       static_cast<int>(std::lround(kCaptionY * size)));
    const int thickness = std::max(1, static_cast<int>(std::lround(kCaptionThickness * size)));
    cv::putText(mat, kCaptionText, at, kCaptionFont, kCaptionScale * size, kCaptionColor, thickness,
                kCaptionLineType, bottomUp);
}

// What drawing the caption does to frames of one size and row order, pixel by pixel. Drawing
// the glyphs cost more than all the rest of a 320 x 240 frame's work, yet what it does to a
// pixel's byte depends only on that byte (strokes set it, their edges blend it towards the
// colour): so each covered byte's result is found once for all 256 values, by drawing on 256
// even frames, and every frame after that only looks its bytes up.
struct CaptionByte {
    int offset = 0; // from the row start: 3 * x + channel
    int row = 0;
    std::uint16_t table = 0; // into CaptionMap::tables
};

struct CaptionMap {
    int width = 0;
    int height = 0;
    bool bottomUp = false;
    std::vector<CaptionByte> bytes;
    std::vector<std::array<std::uint8_t, 256>> tables; // the distinct ones
};

void BuildCaptionMap(CaptionMap& map, int width, int height, bool bottomUp) {
    map = CaptionMap{};
    // Where the caption lies: its strokes on a blank frame, one pixel around them to spare.
    cv::Mat probe = cv::Mat::zeros(height, width, CV_8UC3);
    DrawCaption(probe, bottomUp);
    cv::Mat covered;
    cv::cvtColor(probe, covered, cv::COLOR_BGR2GRAY);
    cv::threshold(covered, covered, 0, 255, cv::THRESH_BINARY);
    cv::dilate(covered, covered, cv::Mat());
    std::vector<cv::Point> pixels;
    cv::findNonZero(covered, pixels);
    if (pixels.empty())
        return;
    const cv::Rect box = cv::boundingRect(pixels);
    // results[(pixel * 3 + channel) * 256 + value]: the byte after drawing on an even frame.
    std::vector<std::uint8_t> results(pixels.size() * 3 * 256);
    for (int value = 0; value < 256; ++value) {
        probe(box).setTo(cv::Scalar(value, value, value));
        DrawCaption(probe, bottomUp);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const std::uint8_t* p = probe.ptr<std::uint8_t>(pixels[i].y) + 3 * pixels[i].x;
            for (std::size_t c = 0; c < 3; ++c)
                results[(i * 3 + c) * 256 + static_cast<std::size_t>(value)] = p[c];
        }
    }
    std::map<std::array<std::uint8_t, 256>, std::uint16_t> known;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        for (std::size_t c = 0; c < 3; ++c) {
            std::array<std::uint8_t, 256> table{};
            bool identity = true;
            for (std::size_t v = 0; v < 256; ++v) {
                table[v] = results[(i * 3 + c) * 256 + v];
                identity = identity && table[v] == v;
            }
            if (identity)
                continue;
            auto [at, added] =
                known.try_emplace(table, static_cast<std::uint16_t>(map.tables.size()));
            if (added) {
                if (map.tables.size() >= 0xffff)
                    return; // never at a caption's scale; the frames are drawn on instead
                map.tables.push_back(table);
            }
            map.bytes.push_back({3 * pixels[i].x + static_cast<int>(c), pixels[i].y, at->second});
        }
    map.width = width;
    map.height = height;
    map.bottomUp = bottomUp;
}

// One per streaming thread: no lock on the frame path. Null when it cannot be built.
const CaptionMap* CaptionMapFor(int width, int height, bool bottomUp) {
    thread_local CaptionMap map;
    if (map.width != width || map.height != height || map.bottomUp != bottomUp)
        BuildCaptionMap(map, width, height, bottomUp);
    return map.width == width ? &map : nullptr;
}

} // namespace

void StampCaption(FrameImage* frame) {
    if (!frame)
        return;
    cv::Mat mat = FrameMat(*frame);
    if (mat.empty())
        return;
    const bool bottomUp = frame->origin != kFrameOriginTopLeft;
    try {
        const CaptionMap* map =
            mat.type() == CV_8UC3 ? CaptionMapFor(mat.cols, mat.rows, bottomUp) : nullptr;
        if (!map) {
            DrawCaption(mat, bottomUp);
            return;
        }
        for (const CaptionByte& b : map->bytes) {
            std::uint8_t& byte = mat.ptr<std::uint8_t>(b.row)[b.offset];
            byte = map->tables[b.table][byte];
        }
    } catch (const cv::Exception&) {
    }
}

void ProcessFrame(FrameImage* frame, const EffectState::Values& values, VirtualCameraFeed& feed) {
    if (!frame)
        return;
    // Called from a C streaming thread: nothing may escape.
    try {
        if (values.faceDetectionOn != 0)
            DetectAndCoverFaces(frame, std::chrono::steady_clock::now());
        if (values.colorAdjustOn != 0)
            AdjustColors(frame, values);
        StampCaption(frame);
        feed.Write(*frame);
    } catch (const std::exception&) {
    }
}

void FrameCallback(FrameImage* frame) {
    ProcessFrame(frame, ProcessEffectState().Load(), ProcessVirtualCameraFeed());
    // The same finished frame at its own size, for readers that take more than 320 x 240.
    if (frame)
        ProcessHdCameraFeed().Write(*frame);
}

} // namespace kelo
