// The background blur in the studio's running preview on the test devices: with the switch on,
// frames go on leaving the blur at the camera's 15 per second (counted by their timestamps) and
// reach the virtual camera's feed, without a backlog building up behind the element.
#include "effects/filters/BackgroundBlurFilter.h"
#include "engine/CaptureEngine.h"
#include "engine/EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gst/base/gstbasetransform.h>
#include <gtest/gtest.h>
#include <mutex>

namespace kelo {
namespace {

using namespace std::chrono_literals;

// Timestamps of the buffers leaving an element, and how late each left (running time of the
// pipeline's clock when it passed minus its timestamp).
struct DepartureLog {
    std::mutex mutex;
    std::vector<GstClockTime> stamps;
    std::vector<GstClockTimeDiff> lateness;

    static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
        auto* log = static_cast<DepartureLog*>(self);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        ElementPtr element(gst_pad_get_parent_element(pad));
        ClockPtr clock(element ? gst_element_get_clock(element.get()) : nullptr);
        if (!clock || !GST_BUFFER_PTS_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        const GstClockTime running =
            gst_clock_get_time(clock.get()) - gst_element_get_base_time(element.get());
        std::lock_guard lock(log->mutex);
        log->stamps.push_back(GST_BUFFER_PTS(buffer));
        log->lateness.push_back(GST_CLOCK_DIFF(GST_BUFFER_PTS(buffer), running));
        return GST_PAD_PROBE_OK;
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return stamps.size();
    }
};

TEST(BlurPreview, WithTheBlurOnFramesKeepFlowingAt15PerSecondIntoTheFeed) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1); // the model of the build
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    auto registry = test::MakeTestRegistry(test::Devices({"Test Camera"}, {}));
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine->BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine->ConnectPreview(), S_OK);

    FilterPtr found;
    ASSERT_EQ(engine->filterGraph()->FindFilterByName("Background Blur", &found), S_OK);
    auto blur = std::dynamic_pointer_cast<BackgroundBlurFilter>(found);
    ASSERT_TRUE(blur);
    DepartureLog log;
    PadPtr src(gst_element_get_static_pad(blur->element(), "src"));
    gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, &DepartureLog::OnBuffer, &log, nullptr);

    engine->SetBackgroundBlur(1);
    ASSERT_EQ(engine->Run(), S_OK);
    ASSERT_TRUE(owner.WaitUntil([&] { return blur->processor()->masksMade() >= 1; }, 60s))
        << "no mask: is the model in the build folder?";
    const std::size_t first = log.size();
    ASSERT_TRUE(owner.WaitUntil([&] { return log.size() >= first + 46; }, 60s));
    EXPECT_FALSE(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(blur->element())));
    EXPECT_TRUE(test::FeedHasPicture(feedView));
    engine.reset();
    unsetenv("KELOCAM_DATA_DIR");

    std::lock_guard lock(log.mutex);
    // Every frame of the camera went through: one timestamp every 1/15 s, none skipped.
    for (std::size_t i = first + 1; i < first + 46; ++i) {
        const GstClockTimeDiff gap = GST_CLOCK_DIFF(log.stamps[i - 1], log.stamps[i]);
        EXPECT_NEAR(static_cast<double>(gap), GST_SECOND / 15.0, GST_MSECOND * 2.0) << i;
    }
    // And they left in time: three seconds of frames later, no backlog of a second.
    EXPECT_LT(log.lateness[first + 45], GST_SECOND) << "frames pile up behind the blur";
    EXPECT_TRUE(owner.errors.empty());
}

} // namespace
} // namespace kelo
