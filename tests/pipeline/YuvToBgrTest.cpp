// The Color Space Converter's own YUV -> BGR stage against videoconvert: for every format,
// colour matrix, range, chroma siting, size and row order the stage takes over, frames of
// noise and frames holding every Y/U/V combination come out byte for byte as videoconvert
// (with the row flip behind it) makes them, with the same caps; what it does not take over
// passes it for videoconvert unchanged.
#include "platform/filters/RowFlipElement.h"
#include "platform/filters/YuvToBgrElement.h"
#include "platform/filters/YuvToBgrRows.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace kelo {
namespace {

using Frame = std::vector<std::uint8_t>;

struct Output {
    std::vector<Frame> rows; // each frame's visible bytes, row by row (padding left out)
    std::string caps;
};

// Collects the frames on the streaming thread (copies of pool memory are read where they
// were written) and hands them over under a mutex.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Frame> frames;
    std::string caps;
    bool ended = false;
};

GstFlowReturn TakeSample(GstAppSink* sink, gpointer data) {
    auto* collector = static_cast<Collector*>(data);
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    GstVideoInfo info;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return GST_FLOW_ERROR;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
        return GST_FLOW_ERROR;
    const int rowBytes = info.width * 3;
    Frame rows(static_cast<std::size_t>(rowBytes) * info.height);
    for (int y = 0; y < info.height; ++y)
        std::memcpy(rows.data() + static_cast<std::size_t>(y) * rowBytes,
                    static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                        static_cast<std::ptrdiff_t>(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                    rowBytes);
    gst_video_frame_unmap(&frame);
    std::unique_ptr<gchar, GFree> caps(gst_caps_to_string(gst_sample_get_caps(sample.get())));
    std::lock_guard lock(collector->mutex);
    collector->frames.push_back(std::move(rows));
    collector->caps = caps.get();
    return GST_FLOW_OK;
}

void TakeEnd(GstAppSink*, gpointer data) {
    auto* collector = static_cast<Collector*>(data);
    std::lock_guard lock(collector->mutex);
    collector->ended = true;
    collector->changed.notify_all();
}

// The converter as it was (videoconvert, then the row flip) or as it is now.
Output Convert(const std::string& capsText, const std::vector<Frame>& frames, bool ours,
               bool flip) {
    const std::string flipText = flip ? "true" : "false";
    const std::string chain =
        ours ? std::string(kYuvToBgrFactory) + " name=yuv flip=" + flipText +
                   " ! videoconvert ! video/x-raw,format=BGR ! kelorowflip name=rows flip=false"
             : "videoconvert ! video/x-raw,format=BGR ! kelorowflip flip=" + flipText;
    GError* error = nullptr;
    ElementPtr pipeline =
        ElementPtr::RefSink(gst_parse_launch(("appsrc name=src format=time caps=\"" + capsText +
                                              "\" ! " + chain + " ! appsink name=sink sync=false")
                                                 .c_str(),
                                             &error));
    if (error)
        g_error_free(error);
    Output output;
    if (!pipeline)
        return output;
    ElementPtr source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    if (ours) {
        ElementPtr convert(gst_bin_get_by_name(GST_BIN(pipeline.get()), "yuv"));
        ElementPtr rows(gst_bin_get_by_name(GST_BIN(pipeline.get()), "rows"));
        g_object_set(convert.get(), "follower", rows.get(), nullptr);
    }
    Collector collector;
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = TakeEnd;
    callbacks.new_sample = TakeSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, &collector, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstClockTime time = 0;
    for (const Frame& frame : frames) {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_PTS(buffer) = time;
        time += GST_SECOND / 30;
        gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
    {
        std::unique_lock lock(collector.mutex);
        collector.changed.wait_for(lock, std::chrono::seconds(120),
                                   [&] { return collector.ended; });
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    output.rows = std::move(collector.frames);
    output.caps = collector.caps;
    return output;
}

std::vector<Frame> NoiseFrames(const GstVideoInfo& info, int count, unsigned noiseStart) {
    std::mt19937 random(noiseStart);
    std::vector<Frame> frames(count, Frame(info.size));
    for (Frame& frame : frames)
        for (auto& byte : frame)
            byte = static_cast<std::uint8_t>(random());
    return frames;
}

// Every (Y, U, V) triple: each chroma sample's pixels (a pair in YUY2, a 2 x 2 block in I420)
// take consecutive luma values, so 65536 chroma pairs times 256 luma values fill a few frames.
std::vector<Frame> EveryCombination(const GstVideoInfo& info) {
    const bool yuy2 = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_YUY2;
    const int lumaPerSample = yuy2 ? 2 : 4;
    const int samplesPerFrame = (info.width / 2) * (yuy2 ? info.height : info.height / 2);
    const long total = 65536L * 256 / lumaPerSample;
    std::vector<Frame> frames;
    for (long first = 0; first < total; first += samplesPerFrame) {
        Frame frame(info.size, 128);
        for (int s = 0; s < samplesPerFrame; ++s) {
            const long n = (first + s) % total;
            const int chroma = static_cast<int>(n / (256 / lumaPerSample));
            const int luma = static_cast<int>(n % (256 / lumaPerSample)) * lumaPerSample;
            const auto u = static_cast<std::uint8_t>(chroma >> 8);
            const auto v = static_cast<std::uint8_t>(chroma & 0xFF);
            const int columns = info.width / 2;
            const int cx = s % columns, cy = s / columns;
            if (yuy2) {
                std::uint8_t* pair = frame.data() + info.offset[0] +
                                     static_cast<std::size_t>(cy) * info.stride[0] + 4 * cx;
                pair[0] = static_cast<std::uint8_t>(luma);
                pair[1] = u;
                pair[2] = static_cast<std::uint8_t>(luma + 1);
                pair[3] = v;
            } else {
                for (int i = 0; i < 4; ++i)
                    frame[info.offset[0] +
                          static_cast<std::size_t>(2 * cy + i / 2) * info.stride[0] + 2 * cx +
                          i % 2] = static_cast<std::uint8_t>(luma + i);
                frame[info.offset[1] + static_cast<std::size_t>(cy) * info.stride[1] + cx] = u;
                frame[info.offset[2] + static_cast<std::size_t>(cy) * info.stride[2] + cx] = v;
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// The same frames through both converters, in both row orders: same caps, same bytes.
void ExpectSameAsVideoconvert(const std::string& capsText, const std::vector<Frame>& frames,
                              bool takenOver) {
    CapsPtr caps(gst_caps_from_string(capsText.c_str()));
    ASSERT_TRUE(caps) << capsText;
    EXPECT_EQ(YuvToBgrTakesCaps(caps.get()), takenOver) << capsText;
    for (const bool flip : {false, true}) {
        const Output before = Convert(capsText, frames, false, flip);
        const Output after = Convert(capsText, frames, true, flip);
        ASSERT_EQ(before.rows.size(), frames.size()) << capsText;
        ASSERT_EQ(after.rows.size(), frames.size()) << capsText;
        EXPECT_EQ(after.caps, before.caps) << capsText;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Frame& a = before.rows[i];
            const Frame& b = after.rows[i];
            ASSERT_EQ(a.size(), b.size());
            const auto differ = std::mismatch(a.begin(), a.end(), b.begin());
            ASSERT_TRUE(differ.first == a.end())
                << capsText << (flip ? " flipped" : " upright") << ": frame " << i << " byte "
                << (differ.first - a.begin()) << " is " << int(*differ.second) << ", videoconvert "
                << int(*differ.first);
        }
    }
}

std::string CapsText(const char* format, int width, int height, const char* extra) {
    return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(width) +
           ",height=" + std::to_string(height) +
           ",framerate=30/1,pixel-aspect-ratio=1/1,interlace-mode=progressive" + extra;
}

GstVideoInfo InfoOf(const std::string& capsText) {
    CapsPtr caps(gst_caps_from_string(capsText.c_str()));
    GstVideoInfo info;
    gst_video_info_init(&info);
    EXPECT_TRUE(caps && gst_video_info_from_caps(&info, caps.get())) << capsText;
    return info;
}

class YuvToBgr : public ::testing::Test {
protected:
    void SetUp() override { EnsureGstInitialized(); }
};

// The colorimetries cameras and decoders state (and none: the defaults by frame height), with
// the chroma sitings that change YUY2's widening.
const char* const kColorimetries[] = {
    "",                                      // default: BT.601 or BT.709 by height
    ",colorimetry=bt601",                    // limited BT.601, siting unknown (centred)
    ",colorimetry=bt709,chroma-site=mpeg2",  // limited BT.709, co-sited
    ",colorimetry=1:4:0:0,chroma-site=jpeg", // full-range BT.601 (JPEG decoders)
    ",colorimetry=1:3:5:1",                  // full-range BT.709
};

TEST_F(YuvToBgr, EveryCombinationOfYuvComesOutAsVideoconvertMakesIt) {
    for (const char* format : {"I420", "YUY2"})
        for (const char* colorimetry : kColorimetries) {
            const std::string caps = CapsText(format, 1920, 1080, colorimetry);
            ExpectSameAsVideoconvert(caps, EveryCombination(InfoOf(caps)), true);
        }
}

TEST_F(YuvToBgr, NoiseAtEverySizeAndRowOrderComesOutAsVideoconvertMakesIt) {
    const int sizes[][2] = {{1280, 720}, {1920, 1080}, {320, 240}, {176, 144},
                            {1366, 768}, {321, 241},   {34, 3},    {1, 1},
                            {2, 2},      {3, 5},       {5, 1},     {1, 4}};
    unsigned noiseStart = 1;
    for (const char* format : {"YUY2", "I420"})
        for (const auto& size : sizes)
            for (const char* colorimetry : kColorimetries) {
                const std::string caps = CapsText(format, size[0], size[1], colorimetry);
                // YUY2 one row high stays videoconvert's (see PlanFor).
                const bool takenOver = size[1] > 1 || std::string(format) == "I420";
                ExpectSameAsVideoconvert(caps, NoiseFrames(InfoOf(caps), 2, noiseStart++),
                                         takenOver);
            }
}

// Caps as the test camera and the JPEG decoder state them, every field they carry.
TEST_F(YuvToBgr, CapsAsCamerasAndDecodersGiveThemComeOutAsVideoconvertMakesThem) {
    const std::string cases[] = {
        "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, "
        "framerate=(fraction)30/1, multiview-mode=(string)mono, pixel-aspect-ratio=(fraction)1/1, "
        "interlace-mode=(string)progressive",
        "video/x-raw, format=(string)I420, width=(int)1280, height=(int)720, "
        "interlace-mode=(string)progressive, multiview-mode=(string)mono, "
        "multiview-flags=(GstVideoMultiviewFlagsSet)0:ffffffff:/right-view-first/left-flipped/"
        "left-flopped/right-flipped/right-flopped/half-aspect/mixed-mono, "
        "pixel-aspect-ratio=(fraction)1/1, chroma-site=(string)jpeg, "
        "colorimetry=(string)1:4:0:0, framerate=(fraction)30/1",
    };
    for (const std::string& caps : cases)
        ExpectSameAsVideoconvert(caps, NoiseFrames(InfoOf(caps), 2, 11), true);
}

// Formats and matrices it does not compute are videoconvert's, as before; BGR only has its
// rows turned.
TEST_F(YuvToBgr, WhatItDoesNotTakeOverIsVideoconvertsAsBefore) {
    const std::string cases[] = {
        CapsText("NV12", 640, 480, ""),
        CapsText("UYVY", 322, 240, ",colorimetry=bt601"),
        CapsText("YUY2", 640, 480, ",colorimetry=bt2020"),
        CapsText("I420", 640, 480, ",colorimetry=smpte240m"),
        CapsText("BGR", 322, 240, ""),
        CapsText("BGRx", 320, 240, ""),
    };
    for (const std::string& caps : cases) {
        const bool computed =
            caps.find("bt2020") != std::string::npos || caps.find("smpte240m") != std::string::npos;
        ExpectSameAsVideoconvert(caps, NoiseFrames(InfoOf(caps), 2, 7), computed);
    }
}

// The row flip's change notice climbs to its bin and takes the bin's lock on the way, while a
// state change of the bin holds that lock and takes each child's: the converter must not hold
// its own lock while it sets the flip, or a caps change meeting a state change hangs both.
TEST_F(YuvToBgr, SetsTheRowFlipWithoutHoldingItsOwnLock) {
    GError* error = nullptr;
    ElementPtr bin = ElementPtr::RefSink(gst_parse_launch(
        (std::string(kYuvToBgrFactory) + " name=yuv ! kelorowflip name=rows").c_str(), &error));
    if (error)
        g_error_free(error);
    ASSERT_TRUE(bin);
    ElementPtr convert(gst_bin_get_by_name(GST_BIN(bin.get()), "yuv"));
    ElementPtr rows(gst_bin_get_by_name(GST_BIN(bin.get()), "rows"));
    struct Seen {
        GstObject* converter = nullptr;
        int notices = 0;
        int whileLocked = 0;
    } seen;
    seen.converter = GST_OBJECT(convert.get());
    const auto onNotice = +[](GstObject*, GstObject*, GParamSpec*, gpointer data) {
        auto* seen = static_cast<Seen*>(data);
        ++seen->notices;
        if (g_mutex_trylock(GST_OBJECT_GET_LOCK(seen->converter)))
            g_mutex_unlock(GST_OBJECT_GET_LOCK(seen->converter));
        else
            ++seen->whileLocked;
    };
    g_signal_connect(bin.get(), "deep-notify::flip", G_CALLBACK(onNotice), &seen);
    g_object_set(convert.get(), "follower", rows.get(), nullptr);
    g_object_set(convert.get(), "flip", TRUE, nullptr);
    EXPECT_GE(seen.notices, 2);
    EXPECT_EQ(seen.whileLocked, 0);
}

// Each vector level gives the scalar code's bytes, at every width from 1 to 100 (the block
// boundaries and both edges), for both sitings.
TEST(YuvToBgrRows, EveryVectorLevelMatchesTheScalarCode) {
    YuvToBgrCoefficients k;
    ASSERT_TRUE(YuvToBgrCoefficientsFor(0.2126, 0.0722, YuvRange::Limited, &k));
    std::mt19937 random(3);
    std::vector<std::uint8_t> yuy2(4 * 50), y(100), u(50), v(50);
    for (int round = 0; round < 50; ++round) {
        for (auto* plane : {&yuy2, &y, &u, &v})
            for (auto& byte : *plane)
                byte = static_cast<std::uint8_t>(random());
        for (int width = 1; width <= 100; ++width)
            for (const SimdLevel level : {SimdLevel::Ssse3, SimdLevel::Avx2}) {
                if (static_cast<int>(level) > static_cast<int>(BestSimdLevel()))
                    continue;
                std::vector<std::uint8_t> expected(3 * width), actual(3 * width);
                for (const ChromaSiting siting : {ChromaSiting::Centred, ChromaSiting::Cosited}) {
                    Yuy2RowToBgr(yuy2.data(), width, siting, k, expected.data(), SimdLevel::Scalar);
                    Yuy2RowToBgr(yuy2.data(), width, siting, k, actual.data(), level);
                    ASSERT_EQ(actual, expected) << "YUY2 width " << width;
                }
                I420RowToBgr(y.data(), u.data(), v.data(), width, k, expected.data(),
                             SimdLevel::Scalar);
                I420RowToBgr(y.data(), u.data(), v.data(), width, k, actual.data(), level);
                ASSERT_EQ(actual, expected) << "I420 width " << width;
            }
    }
}

} // namespace
} // namespace kelo
