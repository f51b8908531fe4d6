// How a requested capture mode becomes one of the camera's modes: read from the caps a camera
// offers, then chosen (exactly, else the nearest smaller mode of the same aspect at the rate or
// below, else nothing: the camera's own format).
#include "platform/graph/VideoModeNegotiation.h"

#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

#include <gtest/gtest.h>

namespace kelo {
namespace {

struct NegotiationCase {
    const char* name;
    const char* offered; // caps text
    VideoMode requested;
    bool found;
    OfferedMode chosen;
};

const NegotiationCase kCases[] = {
    {"exact raw mode",
     "video/x-raw,format=YUY2,width=1280,height=720,framerate={30/1,15/1}",
     {1280, 720, 30},
     true,
     {1280, 720, 30, false}},
    {"a range holds the request",
     "video/x-raw,width=[16,1920],height=[16,1080],framerate=[1/1,30/1]",
     {1920, 1080, 15},
     true,
     {1920, 1080, 15, false}},
    {"raw at 10 only, JPEG at 30: the JPEG mode",
     "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1; "
     "image/jpeg,width=1280,height=720,framerate=30/1",
     {1280, 720, 30},
     true,
     {1280, 720, 30, true}},
    {"both at 30: raw first",
     "image/jpeg,width=1280,height=720,framerate=30/1; "
     "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1",
     {1280, 720, 30},
     true,
     {1280, 720, 30, false}},
    {"no 1080p: the largest 16:9 mode below it at the nearest lower rate",
     "video/x-raw,format=YUY2,width=1280,height=720,framerate={25/1,10/1}; "
     "video/x-raw,format=YUY2,width=640,height=360,framerate=30/1; "
     "video/x-raw,format=YUY2,width=1600,height=1200,framerate=30/1",
     {1920, 1080, 30},
     true,
     {1280, 720, 25, false}},
    {"fallback prefers a faster JPEG mode of that size",
     "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1; "
     "image/jpeg,width=1280,height=720,framerate=25/1",
     {1920, 1080, 30},
     true,
     {1280, 720, 25, true}},
    {"a VGA-only camera asked for 720p: its own format",
     "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
     {1280, 720, 30},
     false,
     {}},
    {"only faster than asked: its own format",
     "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
     {640, 480, 15},
     false,
     {}},
    {"29.97 counts as 30",
     "video/x-raw,format=YUY2,width=640,height=480,framerate=30000/1001",
     {640, 480, 30},
     true,
     {640, 480, 30, false}},
    {"other media are not modes",
     "video/x-h264,width=1280,height=720,framerate=30/1",
     {1280, 720, 30},
     false,
     {}},
};

class VideoModeNegotiation : public testing::TestWithParam<NegotiationCase> {
protected:
    static void SetUpTestSuite() { EnsureGstInitialized(); }
};

TEST_P(VideoModeNegotiation, ChoosesFromWhatTheCameraOffers) {
    const NegotiationCase& c = GetParam();
    CapsPtr caps(gst_caps_from_string(c.offered));
    ASSERT_TRUE(caps);
    const ModeChoice choice =
        ChooseVideoMode(ListOfferedModes(caps.get(), c.requested), c.requested);
    EXPECT_EQ(choice.found, c.found);
    if (c.found) {
        EXPECT_EQ(choice.mode, c.chosen)
            << choice.mode.width << "x" << choice.mode.height << "@" << choice.mode.framesPerSecond
            << (choice.mode.compressed ? " jpeg" : " raw");
        EXPECT_EQ(choice.exact, c.requested.width == c.chosen.width &&
                                    c.requested.height == c.chosen.height &&
                                    c.requested.framesPerSecond == c.chosen.framesPerSecond);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, VideoModeNegotiation, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<NegotiationCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

} // namespace
} // namespace kelo
