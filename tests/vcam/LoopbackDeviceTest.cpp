// The bridge on a real v4l2loopback device, read back through V4L2 as a browser would. Needs
// the kernel module (Debian's v4l2loopback-dkms); skipped with the reason where none is loaded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/probe/BridgeProcess.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"
#include "tools/kelocam-vcam/probe/StudioFeedWriter.h"

namespace kelo::vcam {
namespace {

using namespace std::chrono_literals;

// The first /dev/videoN whose driver is v4l2loopback; KELOCAM_TEST_LOOPBACK picks one.
std::optional<std::string> FindLoopbackDevice() {
    if (const char* chosen = std::getenv("KELOCAM_TEST_LOOPBACK"); chosen && *chosen)
        return std::string(chosen);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0)
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability cap{};
        const bool loopback = ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0 &&
                              std::strstr(reinterpret_cast<const char*>(cap.driver), "loopback");
        ::close(fd);
        if (loopback)
            return entry.path().string();
    }
    return std::nullopt;
}

TEST(LoopbackDevice, AnotherProgramSeesTheStudioFramesUprightAs320x240) {
    const auto device = FindLoopbackDevice();
    if (!device)
        GTEST_SKIP() << "no v4l2loopback device on this machine (sudo modprobe v4l2loopback "
                        "card_label=\"Kelo Virtual Camera\" exclusive_caps=1), or set "
                        "KELOCAM_TEST_LOOPBACK=/dev/videoN";

    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    probe::StudioFeedWriter studio(feed.name());
    studio.Start();
    probe::BridgeProcess bridge;
    ASSERT_TRUE(bridge.Start({"--device", *device}, {{"XDG_RUNTIME_DIR", dir.path().string()}}));
    std::this_thread::sleep_for(1s); // exclusive_caps: the device turns into a capture device
                                     // once a writer has set its format
    ASSERT_TRUE(bridge.running()) << bridge.Stderr();

    EnsureGstInitialized();
    const std::string description = "v4l2src device=" + *device +
                                    " ! videoconvert ! video/x-raw,format=I420 ! appsink "
                                    "name=out sync=false";
    GError* raw = nullptr;
    ElementPtr pipeline = ElementPtr::RefSink(gst_parse_launch(description.c_str(), &raw));
    GErrorPtr error(raw);
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    bool seen = false;
    for (int i = 0; i < 60 && !seen; ++i) {
        SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 5 * GST_SECOND));
        ASSERT_TRUE(sample) << "no frame from " << *device;
        GstVideoInfo info{};
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())));
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
        EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 240);
        BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        ASSERT_TRUE(map.ok());
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
        if (probe::ReadStamp(map.data(), 320, 240, stride)) {
            EXPECT_TRUE(probe::LooksUpright(map.data(), 320, 240, stride));
            seen = true;
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    EXPECT_TRUE(seen) << "the studio's frames never reached " << *device;
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

} // namespace
} // namespace kelo::vcam
