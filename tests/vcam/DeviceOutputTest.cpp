// The device path without a device: the same pipeline ends in an appsink, which receives what
// v4l2sink would write to the loopback device.
#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <vector>

#include "platform/contracts/FeedLayout.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/DeviceOutput.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"

namespace kelo::vcam {
namespace {

struct Received {
    GstVideoInfo info{};
    std::vector<std::uint8_t> bytes;
};

ElementPtr MakeAppSink(const char* capsText) {
    EnsureGstInitialized();
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("appsink", nullptr));
    EXPECT_TRUE(sink) << "GStreamer's appsink is missing";
    if (!sink)
        return sink;
    g_object_set(sink.get(), "sync", FALSE, nullptr);
    if (capsText) {
        CapsPtr caps(gst_caps_from_string(capsText));
        g_object_set(sink.get(), "caps", caps.get(), nullptr);
    }
    return sink;
}

std::optional<Received> Pull(GstElement* sink) {
    SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND));
    if (!sample)
        return std::nullopt;
    Received r;
    if (!gst_video_info_from_caps(&r.info, gst_sample_get_caps(sample.get())))
        return std::nullopt;
    BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (!map.ok())
        return std::nullopt;
    r.bytes.assign(map.data(), map.data() + map.size());
    return r;
}

TEST(DeviceOutput, DeliversUprightYuy2At15FramesPerSecondByDefault) {
    ElementPtr sink = MakeAppSink(nullptr);
    ASSERT_TRUE(sink);
    GstElement* sinkRaw = sink.get();
    DeviceOutput output(PixelFormat::YUY2, {}, 15);
    ASSERT_EQ(output.OpenWithSink(std::move(sink)), S_OK) << output.error();

    std::vector<std::uint8_t> feed(kFeedBytes);
    probe::PaintTestPicture(feed.data(), 4242);
    ASSERT_EQ(output.Deliver(feed.data()), S_OK) << output.error();
    const auto frame = Pull(sinkRaw);
    ASSERT_TRUE(frame);
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&frame->info), GST_VIDEO_FORMAT_YUY2);
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&frame->info), 320);
    EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&frame->info), 240);
    EXPECT_EQ(GST_VIDEO_INFO_FPS_N(&frame->info), 15);
    EXPECT_EQ(GST_VIDEO_INFO_FPS_D(&frame->info), 1);

    // Passed through untouched: exactly what the converter makes.
    std::vector<std::uint8_t> expected(FrameBytes(PixelFormat::YUY2, {}));
    FeedConverter(PixelFormat::YUY2, {}).Convert(feed.data(), expected.data());
    EXPECT_EQ(frame->bytes, expected);
    output.Close();
}

TEST(DeviceOutput, ScaledI420AndASinkFixedToAnotherFormatBothGetTheUprightPicture) {
    std::vector<std::uint8_t> feed(kFeedBytes);
    probe::PaintTestPicture(feed.data(), 99);
    {
        ElementPtr sink = MakeAppSink(nullptr);
        ASSERT_TRUE(sink);
        GstElement* sinkRaw = sink.get();
        DeviceOutput output(PixelFormat::I420, {640, 480}, 15);
        ASSERT_EQ(output.OpenWithSink(std::move(sink)), S_OK) << output.error();
        ASSERT_EQ(output.Deliver(feed.data()), S_OK) << output.error();
        const auto frame = Pull(sinkRaw);
        ASSERT_TRUE(frame);
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&frame->info), GST_VIDEO_FORMAT_I420);
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&frame->info), 640);
        EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&frame->info), 480);
        EXPECT_TRUE(probe::LooksUpright(frame->bytes.data(), 640, 480, 640));
        EXPECT_EQ(probe::ReadStamp(frame->bytes.data(), 640, 480, 640), 99u);
    }
    {
        // A device an earlier writer left at another format and size: the converters adapt.
        ElementPtr sink = MakeAppSink("video/x-raw,format=GRAY8,width=160,height=120");
        ASSERT_TRUE(sink);
        GstElement* sinkRaw = sink.get();
        DeviceOutput output(PixelFormat::YUY2, {}, 15);
        ASSERT_EQ(output.OpenWithSink(std::move(sink)), S_OK) << output.error();
        ASSERT_EQ(output.Deliver(feed.data()), S_OK) << output.error();
        const auto frame = Pull(sinkRaw);
        ASSERT_TRUE(frame);
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&frame->info), 160);
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&frame->info, 0);
        // GRAY8 is full range: compare the quadrants' order, not their exact values.
        const auto q = probe::MeasureQuadrantLuma(frame->bytes.data(), 160, 120, stride);
        EXPECT_LT(q.bottomLeft, q.topLeft);   // blue darker than red
        EXPECT_LT(q.topLeft, q.topRight);     // red darker than green
        EXPECT_LT(q.topRight, q.bottomRight); // green darker than white
    }
}

TEST(DeviceOutput, ADeviceThatCannotBeOpenedIsAnErrorWithItsPath) {
    test::IsolatedDirectory dir;
    const std::string path = (dir.path() / "video99").string();
    DeviceOutput output(PixelFormat::YUY2, {}, 15);
    EXPECT_EQ(output.Open(path), E_FAIL);
    EXPECT_NE(output.error().find(path), std::string::npos) << output.error();
    std::vector<std::uint8_t> feed(kFeedBytes, 0);
    EXPECT_EQ(output.Deliver(feed.data()), E_FAIL);
}

} // namespace
} // namespace kelo::vcam
