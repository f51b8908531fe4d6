// The "Background Blur" element in real pipelines: off it is in passthrough and frames leave it
// byte for byte as they came; on, with the person scene as bottom-up frames (the graph's row
// order), the room is blurred and the person kept once the worker's mask arrives.
#include "effects/filters/BackgroundBlurFilter.h"

#include "BlurTestImages.h"
#include "platform/system/Handles.h"
#include "support/TestSupport.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace kelo {
namespace {

// A pipeline of gst-launch text with a "blur" element and an appsink named "sink".
class BlurPipeline {
public:
    explicit BlurPipeline(const std::string& description) {
        RegisterEffectElements();
        GError* raw = nullptr;
        pipeline_ = ElementPtr::RefSink(gst_parse_launch(description.c_str(), &raw));
        GErrorPtr error(raw);
        if (!pipeline_)
            return;
        blur_ = ElementPtr(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "blur"));
        sink_ = ElementPtr(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
    }
    ~BlurPipeline() {
        if (pipeline_)
            gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
    bool ok() const { return pipeline_ && blur_ && sink_; }
    GstElement* blur() const { return blur_.get(); }
    BackgroundBlurProcessor* processor() const {
        return static_cast<BackgroundBlurProcessor*>(EffectElementProcessor(blur_.get()));
    }
    bool Play() {
        return gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) !=
               GST_STATE_CHANGE_FAILURE;
    }
    // The next frame's bytes (rows of width * 3), or empty at the end or after 10 s.
    cv::Mat Pull() {
        SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), 10 * GST_SECOND));
        if (!sample)
            return {};
        GstCaps* caps = gst_sample_get_caps(sample.get());
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        int width = 0;
        int height = 0;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        if (!map.ok())
            return {};
        const std::size_t stride = map.size() / static_cast<std::size_t>(height);
        return cv::Mat(height, width, CV_8UC3, map.data(), stride).clone();
    }

private:
    ElementPtr pipeline_;
    ElementPtr blur_;
    ElementPtr sink_;
};

// What entered the element, frame by frame (a copy made on the streaming thread).
struct SinkPadLog {
    std::mutex mutex;
    std::vector<cv::Mat> frames;

    static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo* info, gpointer self) {
        auto* log = static_cast<SinkPadLog*>(self);
        BufferMap map(GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ);
        if (map.ok()) {
            std::lock_guard lock(log->mutex);
            log->frames.push_back(cv::Mat(240, 320, CV_8UC3, map.data()).clone());
        }
        return GST_PAD_PROBE_OK;
    }
};

class BackgroundBlurFilterTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1); }
    void TearDown() override { unsetenv("KELOCAM_DATA_DIR"); }
    test::IsolatedDirectory dir;
};

TEST_F(BackgroundBlurFilterTest, OffTheElementIsInPassthroughAndFramesLeaveItUnchanged) {
    BlurPipeline p("videotestsrc pattern=ball num-buffers=12 ! "
                   "video/x-raw,format=BGR,width=320,height=240,framerate=15/1 ! "
                   "kelobackgroundblur name=blur ! appsink name=sink sync=false");
    ASSERT_TRUE(p.ok());
    std::atomic<std::int32_t> off{0};
    p.processor()->blurSwitch.store(&off);
    SinkPadLog in;
    PadPtr sinkPad(gst_element_get_static_pad(p.blur(), "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, &SinkPadLog::OnBuffer, &in,
                      nullptr);
    ASSERT_TRUE(p.Play());

    std::vector<cv::Mat> out;
    for (cv::Mat frame = p.Pull(); !frame.empty(); frame = p.Pull())
        out.push_back(frame);
    ASSERT_EQ(out.size(), 12u);
    EXPECT_TRUE(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(p.blur())));
    std::lock_guard lock(in.mutex);
    ASSERT_EQ(in.frames.size(), out.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(cv::norm(in.frames[i], out[i], cv::NORM_INF), 0.0) << "frame " << i;
    EXPECT_EQ(p.processor()->masksMade(), 0u); // no worker was ever started
}

TEST_F(BackgroundBlurFilterTest, OnThePersonStaysAndTheRoomIsBlurredAndOffAgainPassesThrough) {
    cv::Mat scene;
    cv::resize(test::PersonScene(), scene, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
    const auto file = dir.path() / "scene.png";
    ASSERT_TRUE(cv::imwrite(file.string(), scene));
    // Bottom-up frames, as in the studio's graph.
    BlurPipeline p("filesrc location=" + file.string() +
                   " ! pngdec ! videoconvert ! video/x-raw,format=BGR ! imagefreeze ! "
                   "video/x-raw,framerate=15/1 ! videoflip video-direction=vert ! "
                   "kelobackgroundblur name=blur ! appsink name=sink sync=false max-buffers=2");
    ASSERT_TRUE(p.ok());
    std::atomic<std::int32_t> on{1};
    p.processor()->blurSwitch.store(&on);
    ASSERT_TRUE(p.Play());

    cv::Mat frame;
    for (int i = 0; i < 3000 && p.processor()->masksMade() < 2; ++i)
        ASSERT_FALSE((frame = p.Pull()).empty());
    ASSERT_GE(p.processor()->masksMade(), 2u) << "no mask: is the model in the build folder?";
    frame = p.Pull();
    ASSERT_FALSE(frame.empty());
    EXPECT_FALSE(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(p.blur())));

    cv::Mat upright;
    cv::flip(frame, upright, 0);
    cv::Mat diff;
    cv::absdiff(upright, scene, diff);
    cv::cvtColor(diff, diff, cv::COLOR_BGR2GRAY);
    EXPECT_LT(cv::mean(diff(test::SceneFace(0.5)))[0], 8.0);
    EXPECT_GT(cv::mean(diff, test::SceneBorderMask(diff.size()))[0], 12.0);

    // Off again: passthrough from the next frame on, the picture as it came.
    on.store(0);
    for (int i = 0; i < 6; ++i) // those already past the element when the switch changed
        frame = p.Pull();
    ASSERT_FALSE(frame.empty());
    EXPECT_TRUE(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(p.blur())));
    cv::flip(frame, upright, 0);
    EXPECT_EQ(cv::norm(upright, scene, cv::NORM_INF), 0.0);
}

} // namespace
} // namespace kelo
