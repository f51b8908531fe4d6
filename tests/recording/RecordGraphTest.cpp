// Recordings made by the engine from the test devices, stopped by destroying the engine as the
// window does, and checked with ffprobe.
#include "engine/CaptureEngine.h"
#include "engine/EngineTestSupport.h"
#include "platform/filters/AsfWriterFilter.h"
#include "platform/graph/FilterGraph.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Expected {
    RecordKind kind;
    const char* container;  // ffprobe's format name
    const char* videoCodec; // null: no video stream
    const char* audioCodec; // null: no audio stream
};

// What each kind writes.
const Expected kExpected[] = {
    {RecordKind::AviVideoAudio, "avi", "rawvideo", "pcm_s16le"},
    {RecordKind::AviVideo, "avi", "rawvideo", nullptr},
    {RecordKind::PcmAudio, "avi", nullptr, "pcm_s16le"},
    {RecordKind::WmvVideoAudio, "asf", "wmv2", "wmav2"},
    {RecordKind::WmvVideo, "asf", "wmv2", nullptr},
    {RecordKind::WavAudio, "wav", nullptr, "pcm_s16le"},
    {RecordKind::Mp4VideoAudio, "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac"},
    {RecordKind::Mp4Video, "mov,mp4,m4a,3gp,3g2,mj2", "h264", nullptr},
    {RecordKind::Mp3Audio, "mp3", nullptr, "mp3"},
};

// Sum over rows of the difference between the rows' average colours: `rgb` (red, green, blue
// bytes) against `bgr` (blue, green, red bytes), the latter turned upside down when asked.
double RowDistance(const std::vector<unsigned char>& rgb, const std::vector<std::uint8_t>& bgr,
                   bool flipSecond) {
    double distance = 0;
    for (int y = 0; y < 240; ++y) {
        const int y2 = flipSecond ? 239 - y : y;
        for (int c = 0; c < 3; ++c) {
            double a = 0;
            double b = 0;
            for (int x = 0; x < 320; ++x) {
                a += rgb[(y * 320 + x) * 3 + c];
                b += bgr[(y2 * 320 + x) * 3 + (2 - c)];
            }
            distance += std::abs(a - b) / 320;
        }
    }
    return distance;
}

class RecordingSession {
public:
    explicit RecordingSession(std::vector<std::string> audioDevices = {"Test Microphone"})
        : registry_(
              test::MakeTestRegistry(test::Devices({"Test Camera"}, std::move(audioDevices)))) {}

    // A new engine with the recording graph of the kind; returns BuildRecordGraph's result.
    HRESULT Build(RecordKind kind, const fs::path& folder, HRESULT expectedBuild = 2) {
        engine_ = std::make_unique<CaptureEngine>(320, 240, 15, &owner, *registry_);
        EXPECT_EQ(engine_->BuildGraph(&surface, nullptr, 1, 1), expectedBuild);
        return engine_->BuildRecordGraph(kind, folder.string() + "/");
    }
    // Runs for `duration` (pumping the owner's tasks), then destroys the engine. Returns the
    // stream time the graph ran for (its running time when the stop began): what the file
    // must hold, however slowly a loaded machine got there.
    double RunFor(std::chrono::milliseconds duration) {
        EXPECT_EQ(engine_->Run(), S_OK);
        owner.WaitUntil([] { return false; }, duration);
        double seconds = 0;
        if (auto* graph = dynamic_cast<FilterGraph*>(engine_->filterGraph().get())) {
            const GstClockTime running = gst_element_get_current_running_time(graph->pipeline());
            if (GST_CLOCK_TIME_IS_VALID(running))
                seconds = static_cast<double>(running) / GST_SECOND;
        }
        EXPECT_GT(seconds, 0) << "the graph has no running time";
        engine_.reset();
        return seconds;
    }
    CaptureEngine& engine() { return *engine_; }

    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};

private:
    std::unique_ptr<ClassRegistry> registry_;
    std::unique_ptr<CaptureEngine> engine_;
};

class RecordGraph : public ::testing::TestWithParam<Expected> {
protected:
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
};

TEST_P(RecordGraph, WritesTheKindsContainerAndStreamsForTheRecordedTime) {
    const Expected& expected = GetParam();
    RecordingSession session;
    ASSERT_EQ(session.Build(expected.kind, dir.path()), S_OK);
    const std::string file = session.engine().recordFileName();
    EXPECT_EQ(fs::path(file).parent_path(), dir.path());
    EXPECT_EQ(fs::path(file).extension().string(), DescribeRecordKind(expected.kind).extension);
    const double recorded = session.RunFor(3000ms);

    // Every kind shows the preview, the audio-only ones through the tee's only output.
    EXPECT_GT(session.surface.framesPresented(), 10);
    EXPECT_TRUE(session.owner.errors.empty()) << session.owner.errors.front();

    const test::ProbedFile probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.formatName, expected.container);
    EXPECT_EQ(probed.streams.size(),
              (expected.videoCodec ? 1u : 0u) + (expected.audioCodec ? 1u : 0u));
    EXPECT_EQ(probed.CountOf("video"), expected.videoCodec ? 1 : 0);
    EXPECT_EQ(probed.CountOf("audio"), expected.audioCodec ? 1 : 0);
    if (const test::ProbedStream* video = probed.FirstOf("video"); video && expected.videoCodec) {
        EXPECT_EQ(video->codecName, expected.videoCodec);
        EXPECT_EQ(video->width, 320);
        EXPECT_EQ(video->height, 240);
        EXPECT_NEAR(video->frameRate, 15.0, 0.01);
    }
    if (expected.videoCodec) {
        // The recording is upright: row by row it looks like the preview, not like the preview
        // upside down (the test pattern moves sideways, so rows are compared by their average).
        const std::vector<unsigned char> picture = test::DecodePicture(file, 1.0, 320, 240);
        ASSERT_FALSE(picture.empty());
        int width = 0;
        int height = 0;
        const std::vector<std::uint8_t> preview = session.surface.lastFrame(&width, &height);
        ASSERT_EQ(width, 320);
        ASSERT_EQ(height, 240);
        EXPECT_LT(RowDistance(picture, preview, false), RowDistance(picture, preview, true) / 2);
    }
    if (const test::ProbedStream* audio = probed.FirstOf("audio"); audio && expected.audioCodec) {
        EXPECT_EQ(audio->codecName, expected.audioCodec);
    }
    EXPECT_NEAR(probed.durationSeconds, recorded, recorded * 0.1)
        << "the file's duration against the time the graph ran";
}

INSTANTIATE_TEST_SUITE_P(AllKinds, RecordGraph, ::testing::ValuesIn(kExpected),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             return "Kind" + std::to_string(static_cast<int>(info.param.kind));
                         });

class RecordGraphEdges : public ::testing::Test {
protected:
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
};

TEST_F(RecordGraphEdges, WithoutAudioDeviceTheKindsWithAudioStopBeforeTheirVideo) {
    for (RecordKind kind :
         {RecordKind::AviVideoAudio, RecordKind::WmvVideoAudio, RecordKind::Mp4VideoAudio}) {
        RecordingSession session(std::vector<std::string>{});
        EXPECT_EQ(session.Build(kind, dir.path(), CaptureEngine::kNoAudioDevice), E_FAIL)
            << static_cast<int>(kind);
        // The capture converter's output stays free: the video never reached the file branch,
        // and the video window was never placed.
        auto* graph = dynamic_cast<FilterGraph*>(session.engine().filterGraph().get());
        ASSERT_NE(graph, nullptr);
        FilterPtr convertCap;
        ASSERT_EQ(graph->FindFilterByName("Color Conversion Cap", &convertCap), S_OK);
        PinPtr out;
        ASSERT_EQ(session.engine().GetPin(convertCap, PinDirection::Output, &out), S_OK);
        EXPECT_FALSE(out->IsConnected()) << static_cast<int>(kind);
        EXPECT_TRUE(session.surface.calls().empty()) << static_cast<int>(kind);
    }
}

TEST_F(RecordGraphEdges, WithoutAudioDeviceVideoOnlyStillRecords) {
    RecordingSession session(std::vector<std::string>{});
    ASSERT_EQ(session.Build(RecordKind::AviVideo, dir.path(), CaptureEngine::kNoAudioDevice), S_OK);
    const std::string file = session.engine().recordFileName();
    session.RunFor(1500ms);
    const test::ProbedFile probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.CountOf("video"), 1);
    EXPECT_EQ(probed.CountOf("audio"), 0);
}

// Open descriptors of this process that name the file.
int OpenHandlesTo(const fs::path& file) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code readError;
        const fs::path target = fs::read_symlink(entry.path(), readError);
        if (!readError && target == file)
            ++count;
    }
    return count;
}

TEST_F(RecordGraphEdges, TwoRecordingsInOneSecondLeaveOneFileWithTheSecondsContent) {
    // Start right after a second begins, so that both engines are built within it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t now = std::time(nullptr);
        while (std::time(nullptr) == now)
            std::this_thread::sleep_for(5ms);

        RecordingSession first;
        ASSERT_EQ(first.Build(RecordKind::AviVideo, dir.path()), S_OK);
        const std::string name = first.engine().recordFileName();
        first.RunFor(200ms);
        EXPECT_EQ(OpenHandlesTo(name), 0) << "the first engine closed its file";

        RecordingSession second;
        ASSERT_EQ(second.Build(RecordKind::AviVideo, dir.path()), S_OK);
        if (second.engine().recordFileName() != name)
            continue; // the second began in the next second after all: try again
        const double recorded = second.RunFor(1500ms);

        int files = 0;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            files += entry.path().extension() == ".avi" ? 1 : 0;
        EXPECT_EQ(files, 1);
        const test::ProbedFile probed = test::ProbeMediaFile(name);
        ASSERT_TRUE(probed.ok) << probed.error;
        EXPECT_NEAR(probed.durationSeconds, recorded, recorded * 0.15)
            << "the second recording's length";
        return;
    }
    FAIL() << "could not start two recordings within one second";
}

TEST_F(RecordGraphEdges, WriterProfileHasTheCaptureSizeAndFrameDuration) {
    RecordingSession session;
    session.Build(RecordKind::AviVideo, dir.path());
    ASSERT_EQ(session.engine().ConfigureAsfWriter((dir.path() / "x.WMV").string(),
                                                  AsfStreams::AudioVideo),
              S_OK);
    auto* graph = session.engine().filterGraph().get();
    FilterPtr writer;
    ASSERT_EQ(graph->FindFilterByName("pAsfWrite", &writer), S_OK);
    auto config = std::dynamic_pointer_cast<IConfigAsfWriter>(writer);
    ASSERT_TRUE(config);
    WmProfile profile;
    ASSERT_EQ(config->GetCurrentProfile(&profile), S_OK);
    ASSERT_EQ(profile.GetStreamCount(), 2u);
    WmStreamConfig audio;
    WmStreamConfig video;
    EXPECT_EQ(profile.GetStream(0, &audio), S_OK);
    EXPECT_EQ(profile.GetStream(1, &video), S_OK);
    EXPECT_EQ(audio.GetStreamType(), WmMajorType::Audio);
    WmMediaType type;
    EXPECT_EQ(video.GetMediaType(&type), S_OK);
    EXPECT_EQ(type.video.biWidth, 320);
    EXPECT_EQ(type.video.biHeight, 240);
    EXPECT_EQ(type.video.biBitCount, 32);
    EXPECT_EQ(type.video.biSizeImage, 230400u) << "sized with the stream's former bit count";
    EXPECT_EQ(type.video.AvgTimePerFrame, 666666);
    EXPECT_EQ(type.formatType, WmFormatType::VideoInfo);
    EXPECT_EQ(type.formatSize, 88u);
    EXPECT_TRUE(type.fixedSizeSamples);
    EXPECT_EQ(type.sampleSize, 230400u);
    // The codecs and rates stay the writer's own.
    WmStreamConfig original;
    EXPECT_EQ(DefaultAsfWriterProfile().GetStream(1, &original), S_OK);
    EXPECT_EQ(video.GetEncoderFactory(), original.GetEncoderFactory());
    EXPECT_EQ(video.GetBitrate(), original.GetBitrate());
    EXPECT_EQ(video.GetBufferWindow(), original.GetBufferWindow());
}

} // namespace
} // namespace kelo
