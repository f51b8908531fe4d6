// kelocam-vcam publishing a PipeWire camera, each test with a private PipeWire (its own runtime
// folder, session bus, pipewire and wireplumber, stopped by pid at the end): a pipewiresrc
// viewer in this process, the studio played by StudioFeedWriter or run for real
// (`kelocam --headless --test-devices`).
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/graph/ClassIds.h"
#include "platform/graph/DeviceMonitor.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/OutputChoice.h"
#include "tools/kelocam-vcam/probe/BridgeProcess.h"
#include "tools/kelocam-vcam/probe/FrameStamp.h"
#include "tools/kelocam-vcam/probe/PipeWireReader.h"
#include "tools/kelocam-vcam/probe/PipeWireSession.h"
#include "tools/kelocam-vcam/probe/StudioFeedWriter.h"
#include "tools/kelocam-vcam/probe/StudioHdWriter.h"
#include "platform/contracts/HdFeedLayout.h"
#include "tools/kelocam-vcam/probe/Y4mReader.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/mman.h>
#include <thread>

namespace kelo::vcam {
namespace {

using namespace std::chrono_literals;
using probe::BridgeProcess;
using probe::PipeWireReader;
using probe::PipeWireSession;

// True when GStreamer's device monitor lists a video source of this display name.
bool MonitorListsVideoSource(const std::string& name) {
    EnsureGstInitialized();
    DeviceMonitorPtr monitor = DeviceMonitorPtr::RefSink(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    GObjectListPtr devices(gst_device_monitor_get_devices(monitor.get()));
    for (GList* l = devices.get(); l; l = l->next) {
        GCharPtr displayName(gst_device_get_display_name(static_cast<GstDevice*>(l->data)));
        if (displayName && name == displayName.get())
            return true;
    }
    return false;
}

class PipeWireCameraTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session_.Start()) << session_.error(); }

    void StartBridge(BridgeProcess& bridge, const std::vector<std::string>& args) {
        ASSERT_TRUE(bridge.Start(args, session_.Environment()));
    }
    void StartStudio(BridgeProcess& studio, const std::vector<std::string>& args) {
        ASSERT_TRUE(
            studio.StartProgram(KELOCAM_STUDIO_PATH, args, session_.Environment(), dir_.path()));
    }
    // Waits until the bridge's node is in the daemon's list.
    bool WaitForNode(std::chrono::seconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (session_.ListNodes().find("kelo-vcam") != std::string::npos)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    static bool WaitForSaid(BridgeProcess& process, const std::string& text,
                            std::chrono::seconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (process.Stderr().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !process.running())
                return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    void OpenReader(PipeWireReader& reader) {
        ASSERT_TRUE(WaitForNode()) << session_.Logs();
        ASSERT_TRUE(reader.Open("kelo-vcam")) << reader.error();
    }

    // Reads until a frame that is not black arrives; true when it shows the caption upright.
    static std::optional<bool> NextStudioFrameIsUpright(PipeWireReader& reader) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto frame = reader.ReadFrame(5s);
            if (!frame)
                return std::nullopt;
            if (!probe::IsBlackI420(frame->i420.data(), frame->width, frame->height))
                return probe::CaptionStandsAtTheBottomLeft(frame->i420.data());
        }
        return std::nullopt;
    }

    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
    PipeWireSession session_;
};

TEST_F(PipeWireCameraTest, TheStudioReachesAPipeWireViewerUprightThroughEngineRestarts) {
    BridgeProcess bridge;
    StartBridge(bridge, {"--pipewire"});
    PipeWireReader reader;
    OpenReader(reader);

    // A camera to the session manager and to device lists, under the names people see.
    const std::string nodes = session_.ListNodes();
    EXPECT_NE(nodes.find("media.class = \"Video/Source\""), std::string::npos) << nodes;
    EXPECT_NE(nodes.find("media.role = \"Camera\""), std::string::npos) << nodes;
    EXPECT_NE(nodes.find("node.description = \"Kelo Virtual Camera\""), std::string::npos) << nodes;

    // Before the studio runs: black, 320 x 240 at 15 frames per second.
    const auto first = reader.ReadFrame(20s);
    ASSERT_TRUE(first) << bridge.Stderr() << session_.Logs();
    EXPECT_EQ(first->width, 320);
    EXPECT_EQ(first->height, 240);
    EXPECT_EQ(reader.FrameRate(), "15/1");
    EXPECT_TRUE(probe::IsBlackI420(first->i420.data(), 320, 240));

    {
        BridgeProcess studio;
        StartStudio(studio, {"--headless", "--test-devices"});
        EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << studio.Stderr();

        // Frames come at the bridge's pace, whatever the engine's: 30 of them, stamped as they
        // reach the viewer, span about two seconds (the bounds catch a stalled or runaway bridge,
        // not a slow machine).
        std::optional<std::chrono::steady_clock::time_point> firstArrival;
        std::chrono::steady_clock::time_point lastArrival;
        for (int i = 0; i < 30; ++i) {
            const auto frame = reader.ReadFrame(5s);
            ASSERT_TRUE(frame) << "frame " << i;
            firstArrival = firstArrival.value_or(frame->arrived);
            lastArrival = frame->arrived;
        }
        const double seconds = std::chrono::duration<double>(lastArrival - *firstArrival).count();
        EXPECT_GT(seconds, 1.2) << "too fast for 15 frames a second";
        EXPECT_LT(seconds, 4.0) << "too slow for 15 frames a second";
        EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
    }
    // The engine's teardown clears the block: the camera turns black and stays open.
    EXPECT_TRUE(reader.WaitForBlackFrame(15s));

    BridgeProcess studio;
    StartStudio(studio, {"--headless", "--test-devices"});
    EXPECT_EQ(NextStudioFrameIsUpright(reader), true) << studio.Stderr();
    EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

// The bridge started first; the studio comes at 320 x 240, then is started again at 1280 x 720
// and 30 frames a second: the camera follows, and a reader that opens it again gets the new
// size, upright and live.
// Reads until `wanted` distinct studio frames of the given size arrived, upright; false when
// they did not within the limit (frames of the size before are passed over).
static ::testing::AssertionResult ReadsLiveFramesOfSize(PipeWireReader& reader, int width,
                                                        int height, std::size_t wanted = 3) {
    std::set<std::uint32_t> counters;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    std::string seen;
    while (counters.size() < wanted && std::chrono::steady_clock::now() < deadline) {
        const auto frame = reader.ReadFrame(5s);
        if (!frame)
            break;
        seen = std::to_string(frame->width) + "x" + std::to_string(frame->height);
        if (frame->width != width || frame->height != height)
            continue;
        if (!probe::LooksUpright(frame->i420.data(), frame->width, frame->height, frame->width))
            return ::testing::AssertionFailure() << seen << " not upright";
        if (const auto counter =
                probe::ReadStamp(frame->i420.data(), frame->width, frame->height, frame->width))
            counters.insert(*counter);
    }
    if (counters.size() >= wanted)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << counters.size() << " live frames of " << width << "x"
                                         << height << "; last seen " << seen;
}

// The viewer stays open while the studio comes back at another size: it sees the new size
// (opening the camera again when the camera was published again for it). A viewer asking for
// a smaller size of the studio's aspect gets it.
TEST_F(PipeWireCameraTest, TheCameraFollowsTheStudioRestartedAtAnotherSize) {
    BridgeProcess bridge;
    StartBridge(bridge, {"--pipewire"});
    ASSERT_TRUE(WaitForNode()) << bridge.Stderr() << session_.Logs();

    struct Step {
        int width;
        int height;
        int rate;
    };
    PipeWireReader reader;
    for (const Step step : {Step{320, 240, 15}, Step{1280, 720, 30}}) {
        const std::string size = std::to_string(step.width) + "x" + std::to_string(step.height);
        probe::StudioHdWriter studio(HdFeedObjectName(), step.width, step.height, step.rate);
        ASSERT_TRUE(studio.Start());
        // "following /XHD: WxH at N frames per second", or "now WxH at N ..." once following.
        ASSERT_TRUE(WaitForSaid(bridge, size + " at " + std::to_string(step.rate) + " frames"))
            << bridge.Stderr();
        if (step.width == 320)
            ASSERT_TRUE(reader.Open("kelo-vcam")) << reader.error();
        auto result = ReadsLiveFramesOfSize(reader, step.width, step.height);
        if (!result) { // the camera was published again for the new size: open it again
            ASSERT_TRUE(WaitForNode()) << bridge.Stderr();
            ASSERT_TRUE(reader.Open("kelo-vcam")) << reader.error();
            result = ReadsLiveFramesOfSize(reader, step.width, step.height);
        }
        EXPECT_TRUE(result) << size << ": " << bridge.Stderr();
        EXPECT_EQ(reader.FrameRate(), std::to_string(step.rate) + "/1") << size;
        if (step.width == 1280) {
            reader.Close();
            PipeWireReader smaller;
            ASSERT_TRUE(smaller.Open("kelo-vcam", "video/x-raw,width=640,height=360"))
                << smaller.error();
            EXPECT_TRUE(ReadsLiveFramesOfSize(smaller, 640, 360)) << bridge.Stderr();
        }
        studio.Stop();
    }
    EXPECT_TRUE(WaitForSaid(bridge, "is not being written")) << bridge.Stderr();
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(PipeWireCameraTest, TheStudioLeavesThePipeWireCameraOutOfItsDeviceList) {
    BridgeProcess bridge;
    StartBridge(bridge, {"--pipewire"});
    ASSERT_TRUE(WaitForNode()) << bridge.Stderr();

    // A device monitor sees the camera through GStreamer's PipeWire provider ...
    EXPECT_TRUE(MonitorListsVideoSource("Kelo Virtual Camera"));
    // ... and the studio's leaves it out: the only camera listed is the test device.
    BridgeProcess lister;
    StartStudio(lister, {"--headless", "--test-devices=Test Camera;"});
    ASSERT_EQ(lister.Wait(0s), std::nullopt);
    std::string listed;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (listed.find("preview running") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline && lister.running()) {
        std::this_thread::sleep_for(100ms);
        listed = lister.Stderr();
    }
    EXPECT_EQ(lister.Stop(), 0) << listed;
    listed = lister.Stderr();

    EXPECT_NE(listed.find("* 1 Test Camera"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("Kelo Virtual Camera"), std::string::npos) << listed;
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(PipeWireCameraTest, WithoutOptionsTheBridgeChoosesPipeWireAndASecondIsRefused) {
    probe::StudioFeedWriter studio(feed_.name());
    studio.Start();
    BridgeProcess bridge;
    StartBridge(bridge, {"--size", "640x480", "--format", "i420"});
    PipeWireReader reader;
    OpenReader(reader);
    EXPECT_NE(bridge.Stderr().find("PipeWire daemon answers"), std::string::npos)
        << bridge.Stderr();

    // The studio's stamped frames, scaled, upright and in order.
    std::uint32_t last = 0;
    int stamped = 0;
    for (int i = 0; i < 60 && stamped < 10; ++i) {
        const auto frame = reader.ReadFrame(10s);
        ASSERT_TRUE(frame) << bridge.Stderr();
        ASSERT_EQ(frame->width, 640);
        ASSERT_EQ(frame->height, 480);
        const auto stamp = probe::ReadStamp(frame->i420.data(), 640, 480, 640);
        if (!stamp)
            continue;
        ++stamped;
        EXPECT_GE(*stamp, last);
        last = *stamp;
        EXPECT_TRUE(probe::LooksUpright(frame->i420.data(), 640, 480, 640));
    }
    EXPECT_EQ(stamped, 10);

    // Whatever the second one asks for, the lock refuses it before it publishes anything.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--pipewire"}}) {
        BridgeProcess second;
        StartBridge(second, args);
        EXPECT_EQ(second.Wait(20s), 1);
        EXPECT_NE(second.Stderr().find("already"), std::string::npos) << second.Stderr();
    }
    EXPECT_TRUE(reader.ReadFrame(5s)) << "the first bridge was disturbed";
    EXPECT_EQ(bridge.Stop(), 0) << bridge.Stderr();
}

TEST_F(PipeWireCameraTest, ThePipeWireDaemonGoingAwayLeavesTheOtherOutputsRunning) {
    BridgeProcess both;
    StartBridge(both, {"--pipewire", "--y4m", "-"});
    // A bridge of another feed (one bridge per feed), with the camera as its only output.
    const std::string otherFeed = feed_.name() + "-alone";
    auto environment = session_.Environment();
    environment.emplace_back("KELOCAM_FEED_NAME", otherFeed);
    BridgeProcess alone;
    ASSERT_TRUE(alone.Start({"--pipewire"}, environment));
    for (BridgeProcess* bridge : {&both, &alone})
        ASSERT_TRUE(WaitForSaid(*bridge, "delivering")) << bridge->Stderr();
    probe::Y4mReader y4m(both.stdoutFd());
    ASSERT_TRUE(y4m.ReadHeader(10s));
    ASSERT_TRUE(y4m.ReadFrame(5s));

    session_.StopPipeWire();

    // Alone, there is nothing left to write to: one message and status 1.
    EXPECT_EQ(alone.Wait(20s), 1);
    EXPECT_NE(alone.Stderr().find("the PipeWire daemon went away"), std::string::npos)
        << alone.Stderr();
    shm_unlink(otherFeed.c_str());
    // Beside the Y4M stream: the same message once, and the stream carries on.
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(y4m.ReadFrame(5s)) << "frame " << i << ": " << both.Stderr();
    const std::string said = both.Stderr();
    const auto at = said.find("the PipeWire daemon went away");
    EXPECT_NE(at, std::string::npos) << said;
    EXPECT_EQ(said.find("the PipeWire daemon went away", at + 1), std::string::npos) << said;
    EXPECT_TRUE(both.running());
    EXPECT_EQ(both.Stop(), 0) << said;
}

// No daemon at all: a private runtime folder with no PipeWire in it.
// The studio's device monitor on a real PipeWire: a camera that appears and disappears is
// reported both ways; the studio's own virtual camera is not reported at all.
TEST_F(PipeWireCameraTest, TheDeviceMonitorFollowsACameraAndLeavesOutTheVirtualCamera) {
    constexpr const char* kLeftOut = "Kelo Virtual Camera";
    std::mutex mutex;
    std::vector<std::string> seen;
    DeviceSources sources; // the system's devices only
    auto monitor = std::make_shared<DeviceMonitor>(sources, std::vector<std::string>{kLeftOut});
    sources.systemMonitor = monitor;
    SystemDeviceEnum lists(sources);
    ASSERT_TRUE(monitor->Start([&](const DeviceChange& change) {
        if (change.kind != DeviceKind::Video)
            return;
        std::lock_guard lock(mutex);
        seen.push_back((change.type == DeviceChange::Type::Added ? "+" : "-") + change.name);
    }));
    // What the device lists show, read while the monitor runs.
    auto listed = [&lists] {
        MonikerList monikers;
        std::vector<std::string> names;
        (void)lists.CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers);
        for (const auto& moniker : monikers) {
            std::shared_ptr<IPropertyBag> bag;
            std::string name;
            if (moniker->BindToStorage(&bag) == S_OK && bag->Read("FriendlyName", &name) == S_OK)
                names.push_back(name);
        }
        return names;
    };
    auto saw = [&](const std::string& what) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(mutex);
                if (std::find(seen.begin(), seen.end(), what) != seen.end())
                    return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    };

    BridgeProcess bridge;
    StartBridge(bridge, {"--pipewire"});
    ASSERT_TRUE(WaitForNode()) << session_.Logs();
    EXPECT_EQ(listed(), std::vector<std::string>{kLeftOut});
    BridgeProcess camera;
    ASSERT_TRUE(camera.StartProgram(
        probe::FindProgram("gst-launch-1.0"),
        {"-q", "videotestsrc", "is-live=true", "!", "video/x-raw,width=320,height=240", "!",
         "pipewiresink", "mode=provide",
         "stream-properties=props,media.class=Video/Source,node.description=PlugCam"},
        session_.Environment(), dir_.path()));
    EXPECT_TRUE(saw("+PlugCam")) << camera.Stderr() << session_.ListNodes();
    EXPECT_EQ(listed(), (std::vector<std::string>{kLeftOut, "PlugCam"}));
    (void)camera.Stop(); // its exit status does not matter: it was pulled out
    EXPECT_TRUE(saw("-PlugCam")) << session_.ListNodes();
    EXPECT_EQ(listed(), std::vector<std::string>{kLeftOut});
    monitor->Stop();
    std::lock_guard lock(mutex);
    for (const std::string& change : seen)
        EXPECT_EQ(change.find(kLeftOut), std::string::npos) << change;
}

// Cameras of the desktop's PipeWire as the studio's own: a live pattern published as a
// Video/Source node with the role Camera, as the desktop's camera service publishes one. A
// camera that never delivers still announces its format (so the node negotiates and is linked)
// but lets no frame through.
class PipeWireStudioCameraTest : public PipeWireCameraTest {
protected:
    void PublishCamera(BridgeProcess& camera, const std::string& name, bool delivers) {
        std::vector<std::string> args{
            "-q", "videotestsrc", "is-live=true", "!",
            "video/x-raw,format=YUY2,width=320,height=240,framerate=15/1"};
        if (!delivers)
            args.insert(args.end(), {"!", "valve", "drop=true", "drop-mode=forward-sticky-events"});
        args.insert(args.end(),
                    {"!", "pipewiresink", "mode=provide",
                     "stream-properties=props,media.class=Video/Source,media.role=Camera,"
                     "node.description=" +
                         name});
        ASSERT_TRUE(camera.StartProgram(probe::FindProgram("gst-launch-1.0"), args,
                                        session_.Environment(), dir_.path()));
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (session_.ListNodes().find(name) == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << camera.Stderr() << session_.Logs();
            std::this_thread::sleep_for(100ms);
        }
    }
    static std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder,
                                                      const std::string& extension) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == extension && entry.file_size() > 0)
                files.push_back(entry.path());
        }
        return files;
    }
};

TEST_F(PipeWireStudioCameraTest, APipeWireCameraPreviewsPhotographsAndRecords) {
    BridgeProcess camera;
    PublishCamera(camera, "DeskCamera", true);
    ASSERT_FALSE(HasFatalFailure());
    const auto photos = dir_.path() / "pic";
    const auto recordings = dir_.path() / "rec";
    std::filesystem::create_directories(photos);
    std::filesystem::create_directories(recordings);
    std::ofstream(dir_.path() / "data.ini")
        << "[PATCH]\nPIC=" << photos.string() << "\nREC=" << recordings.string() << "\n";

    BridgeProcess preview;
    StartStudio(preview, {"--headless", "--snapshot"});
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (FilesIn(photos, ".jpg").empty() && preview.running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(FilesIn(photos, ".jpg").size(), 1u) << preview.Stderr() << session_.Logs();
    EXPECT_NE(preview.Stderr().find("* 1 DeskCamera"), std::string::npos) << preview.Stderr();
    EXPECT_NE(preview.Stderr().find("preview running"), std::string::npos) << preview.Stderr();
    EXPECT_EQ(preview.Stop(), 0) << preview.Stderr();

    BridgeProcess recorder;
    StartStudio(recorder, {"--headless", "--record", "1", "--seconds", "2"});
    EXPECT_EQ(recorder.Wait(60s), 0) << recorder.Stderr() << session_.Logs();
    const auto files = FilesIn(recordings, ".avi");
    ASSERT_EQ(files.size(), 1u) << recorder.Stderr();
    const test::ProbedFile probed = test::ProbeMediaFile(files[0], {.countPackets = true});
    ASSERT_TRUE(probed.ok) << probed.error;
    const test::ProbedStream* video = probed.FirstOf("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_GE(video->packetCount, 10) << "two seconds at 15 frames a second";
}

// The window on a PipeWire camera that opens but never sends a frame: after 5 s it says so,
// naming the camera, and the program still ends at once on SIGTERM with the message open.
TEST_F(PipeWireStudioCameraTest, APipeWireCameraThatNeverDeliversIsReportedByName) {
    BridgeProcess camera;
    PublishCamera(camera, "StillCamera", false);
    ASSERT_FALSE(HasFatalFailure());
    BridgeProcess studio;
    ASSERT_TRUE(studio.StartProgram(
        KELOCAM_STUDIO_PATH, {"--test-devices=;Test Microphone"},
        [this] {
            auto environment = session_.Environment();
            environment.emplace_back("QT_QPA_PLATFORM", "offscreen");
            return environment;
        }(),
        dir_.path()));
    EXPECT_TRUE(WaitForSaid(studio, "没有送来画面（StillCamera）", 60s))
        << studio.Stderr() << session_.Logs();
    EXPECT_EQ(studio.Stop(), 0) << studio.Stderr();
}

class NoPipeWireTest : public ::testing::Test {
protected:
    BridgeProcess::Environment Environment() const {
        return {{"XDG_RUNTIME_DIR", dir_.path().string()},
                {"PIPEWIRE_RUNTIME_DIR", dir_.path().string()}};
    }
    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
};

TEST_F(NoPipeWireTest, AskedForPipeWireTheBridgeSaysSoAndKeepsItsOtherOutputs) {
    BridgeProcess alone;
    ASSERT_TRUE(alone.Start({"--pipewire"}, Environment()));
    EXPECT_EQ(alone.Wait(20s), 1);
    EXPECT_NE(alone.Stderr().find("no PipeWire daemon answers"), std::string::npos)
        << alone.Stderr();

    BridgeProcess both;
    ASSERT_TRUE(both.Start({"--pipewire", "--y4m", "-", "--frames", "5"}, Environment()));
    probe::Y4mReader y4m(both.stdoutFd());
    ASSERT_TRUE(y4m.ReadHeader(10s)) << both.Stderr();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(y4m.ReadFrame(5s)) << "frame " << i;
    EXPECT_EQ(both.Wait(10s), 0) << both.Stderr();
    EXPECT_NE(both.Stderr().find("no PipeWire daemon answers"), std::string::npos) << both.Stderr();
}

TEST_F(NoPipeWireTest, WithoutOptionsAndNothingToWriteToTheBridgeNamesTheThreeWays) {
    if (!FindLoopbackDevice().empty())
        GTEST_SKIP() << "this machine has a loopback device labelled \"Kelo Virtual Camera\"; "
                        "the bridge would rightly choose it";
    BridgeProcess bridge;
    ASSERT_TRUE(bridge.Start({}, Environment()));
    EXPECT_EQ(bridge.Wait(20s), 1);
    const std::string said = bridge.Stderr();
    for (const char* way : {"--pipewire", "systemctl --user start pipewire wireplumber", "--device",
                            "modprobe v4l2loopback", "--y4m"})
        EXPECT_NE(said.find(way), std::string::npos) << way << " in:\n" << said;
}

} // namespace
} // namespace kelo::vcam
