// The recording side of the layer: the builder's AVI Mux and File Writer, RenderStream through a
// compressor, the Smart Tee's branches, and a stop that completes the file.
#include "../engine/EngineTestSupport.h"
#include "platform/filters/AsfWriterFilter.h"
#include "platform/filters/ElementChain.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/graph/FilterGraph.h"
#include "platform/graph/MediaType.h"
#include "platform/system/GstRuntime.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace kelo {
namespace {

using namespace std::chrono_literals;

// "codec_name,codec_type" of every stream of the file, one a line, as ffprobe sees it. ffprobe's
// own complaints (lines in brackets) are left out: asfmux sometimes pads a packet in a way
// ffprobe reports ("invalid padsize") while it reads every stream.
std::string Streams(const std::filesystem::path& file,
                    const char* entries = "stream=codec_type,codec_name") {
    const std::string command = std::string("ffprobe -v error -show_entries ") + entries +
                                " -of csv=p=0 '" + file.string() + "' 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe)) {
            if (line[0] != '[')
                out += line;
        }
        pclose(pipe);
    }
    return out;
}

class RecordingGraph : public ::testing::Test {
protected:
    void SetUp() override {
        registry = test::MakeTestRegistry(test::Devices({"Cam"}, {"Mic"}));
        ASSERT_EQ(registry->CreateInstance(CLSID_FilterGraph, &graph), S_OK);
        ASSERT_EQ(registry->CreateInstance(CLSID_CaptureGraphBuilder2, &builder), S_OK);
        ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
        std::shared_ptr<ICreateDevEnum> devices;
        ASSERT_EQ(registry->CreateInstance(CLSID_SystemDeviceEnum, &devices), S_OK);
        camera = Bind(*devices, CLSID_VideoInputDeviceCategory);
        microphone = Bind(*devices, CLSID_AudioInputDeviceCategory);
        ASSERT_EQ(graph->AddFilter(camera, "video capture"), S_OK);
        ASSERT_EQ(graph->AddFilter(microphone, "Audio Deivece"), S_OK);
        std::shared_ptr<IAMStreamConfig> config;
        ASSERT_EQ(builder->FindInterface(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, camera, &config),
                  S_OK);
        MediaType type;
        config->GetFormat(&type);
        type.video.width = 320;
        type.video.height = 240;
        type.video.avgTimePerFrame = 666666;
        ASSERT_EQ(config->SetFormat(type), S_OK);
    }

    static FilterPtr Bind(ICreateDevEnum& devices, std::string_view category) {
        MonikerList monikers;
        FilterPtr filter;
        if (devices.CreateClassEnumerator(category, &monikers) == S_OK)
            monikers[0]->BindToObject(&filter);
        return filter;
    }

    FilterPtr Make(std::string_view classId, const char* name) {
        FilterPtr filter;
        EXPECT_EQ(registry->CreateInstance(classId, &filter), S_OK);
        EXPECT_TRUE(SUCCEEDED(graph->AddFilter(filter, name)));
        return filter;
    }

    FilterPtr Compressor(std::string_view category, const char* name) {
        std::shared_ptr<ICreateDevEnum> devices;
        EXPECT_EQ(registry->CreateInstance(CLSID_SystemDeviceEnum, &devices), S_OK);
        FilterPtr filter = Bind(*devices, category);
        EXPECT_TRUE(SUCCEEDED(graph->AddFilter(filter, name)));
        return filter;
    }

    HRESULT Link(const FilterPtr& up, const FilterPtr& down) {
        PinPtr out;
        PinPtr in;
        (void)FindPin(up, PinDirection::Output, true,
                      &out); // a missing pin stays null and Connect refuses it
        (void)FindPin(down, PinDirection::Input, true,
                      &in); // a missing pin stays null and Connect refuses it
        return graph->Connect(out, in);
    }

    void RecordFor(std::chrono::milliseconds time) {
        auto control = std::dynamic_pointer_cast<IMediaControl>(graph);
        ASSERT_EQ(control->Run(), S_OK);
        std::this_thread::sleep_for(time);
        ASSERT_EQ(control->Stop(), S_OK);
    }

    test::IsolatedDirectory dir;
    std::unique_ptr<ClassRegistry> registry;
    std::shared_ptr<IGraphBuilder> graph;
    std::shared_ptr<ICaptureGraphBuilder2> builder;
    FilterPtr camera;
    FilterPtr microphone;
};

TEST_F(RecordingGraph, AnAviWithRawVideoAndAudioIsCompleteAfterStop) {
    const auto file = dir.path() / "clip.avi";
    FilterPtr mux;
    std::shared_ptr<IFileSinkFilter> sink;
    ASSERT_EQ(builder->SetOutputFileName(MEDIASUBTYPE_Avi, file.string(), &mux, &sink), S_OK);
    std::string current;
    ASSERT_EQ(sink->GetCurFile(&current), S_OK);
    EXPECT_EQ(current, file.string());
    ASSERT_EQ(
        builder->RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, microphone, nullptr, mux),
        S_OK);
    FilterPtr converter = Make(CLSID_Colour, "Color Conversion");
    FilterPtr tee = Make(CLSID_SmartTee, "SmartTee filter");
    FilterPtr preview = Make(CLSID_Colour, "Color Conversion Pre");
    FilterPtr capture = Make(CLSID_Colour, "Color Conversion Cap");
    FilterPtr renderer = Make(CLSID_VideoRenderer, "Render");
    ASSERT_EQ(Link(camera, converter), S_OK);
    ASSERT_EQ(Link(converter, tee), S_OK);
    ASSERT_EQ(Link(tee, capture), S_OK);
    ASSERT_EQ(Link(tee, preview), S_OK);
    ASSERT_EQ(Link(preview, renderer), S_OK);
    ASSERT_EQ(Link(capture, mux), S_OK);

    RecordFor(1500ms);
    const std::string streams = Streams(file);
    EXPECT_NE(streams.find("rawvideo,video"), std::string::npos) << streams;
    EXPECT_NE(streams.find("pcm_s16le,audio"), std::string::npos) << streams;
}

TEST_F(RecordingGraph, CompressorsMakeMpeg4VideoAndMp3AudioInTheAvi) {
    const auto file = dir.path() / "clip.mp4";
    FilterPtr mux;
    ASSERT_EQ(builder->SetOutputFileName(MEDIASUBTYPE_Avi, file.string(), &mux, nullptr), S_OK);
    FilterPtr mp3 = Compressor(CLSID_AudioCompressorCategory, "Mp3 Codec");
    FilterPtr mpeg4 = Compressor(CLSID_VideoCompressorCategory, "Microsoft MPEG-4  VKI  Codec");
    ASSERT_EQ(builder->RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, microphone, mp3, mux),
              S_OK);
    FilterPtr converter = Make(CLSID_Colour, "Color Conversion");
    ASSERT_EQ(Link(camera, converter), S_OK);
    ASSERT_EQ(Link(converter, mpeg4), S_OK);
    ASSERT_EQ(Link(mpeg4, mux), S_OK);

    RecordFor(1500ms);
    const std::string streams = Streams(file);
    EXPECT_NE(streams.find("msmpeg4v2,video"), std::string::npos) << streams;
    EXPECT_NE(streams.find("mp3,audio"), std::string::npos) << streams;
}

// What a video-only or audio-only ASF recording does with the writer's profile.
std::optional<WmProfile> OneStreamOf(const IConfigAsfWriter& writer, std::uint32_t index) {
    WmProfileManager manager;
    WmProfile current;
    WmProfile profile;
    WmStreamConfig stream;
    if (FAILED(manager.SetSystemProfileVersion(WmtVersion::V8_0)) ||
        FAILED(manager.CreateEmptyProfile(WmtVersion::V8_0, &profile)) ||
        FAILED(writer.GetCurrentProfile(&current)) || FAILED(current.GetStream(index, &stream)))
        return std::nullopt;
    WmMediaType type;
    EXPECT_EQ(stream.GetMediaType(&type), S_OK);
    if (type.majorType == WmMajorType::Video) {
        type.video.biWidth = 320;
        type.video.biHeight = 240;
        type.video.biBitCount = 32;
        type.video.AvgTimePerFrame = 666666;
        EXPECT_EQ(stream.SetMediaType(type), S_OK);
    }
    EXPECT_EQ(current.ReconfigStream(stream), S_OK);
    EXPECT_EQ(profile.AddStream(stream), S_OK);
    return profile;
}

TEST_F(RecordingGraph, AVideoOnlyAsfFileHoldsOneWmvStreamOfTheCaptureSize) {
    const auto file = dir.path() / "clip.WMV";
    FilterPtr writer = Make(CLSID_WMAsfWriter, "pAsfWrite");
    auto sink = std::dynamic_pointer_cast<IFileSinkFilter>(writer);
    auto config = std::dynamic_pointer_cast<IConfigAsfWriter>(writer);
    ASSERT_TRUE(sink && config);
    ASSERT_EQ(sink->SetFileName(file.string(), nullptr), S_OK);
    auto profile = OneStreamOf(*config, 1);
    ASSERT_TRUE(profile);
    ASSERT_EQ(config->ConfigureFilterUsingProfile(*profile), S_OK);
    ASSERT_EQ(config->SetIndexMode(true), S_OK);
    std::vector<PinPtr> pins;
    ASSERT_EQ(EnumPins(writer, &pins), S_OK);
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0]->Name(), "Video Input 01");

    FilterPtr converter = Make(CLSID_Colour, "Color Conversion Cap");
    ASSERT_EQ(Link(camera, converter), S_OK);
    ASSERT_EQ(Link(converter, writer), S_OK);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(DefaultAsfWriterProfile()), E_UNEXPECTED)
        << "inputs are connected";
    RecordFor(1500ms);
    EXPECT_EQ(Streams(file), "wmv2,video\n");
    EXPECT_EQ(Streams(file, "stream=width,height"), "320,240\n");
}

TEST_F(RecordingGraph, AnAudioOnlyAsfFileHoldsTheProfilesAudioStream) {
    const auto file = dir.path() / "clip.wav";
    FilterPtr writer = Make(CLSID_WMAsfWriter, "pAsfWrite");
    auto config = std::dynamic_pointer_cast<IConfigAsfWriter>(writer);
    ASSERT_EQ(
        std::dynamic_pointer_cast<IFileSinkFilter>(writer)->SetFileName(file.string(), nullptr),
        S_OK);
    auto profile = OneStreamOf(*config, 0);
    ASSERT_EQ(config->ConfigureFilterUsingProfile(*profile), S_OK);
    ASSERT_EQ(
        builder->RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, microphone, nullptr, writer),
        S_OK);
    RecordFor(1500ms);
    EXPECT_EQ(Streams(file), "wmav2,audio\n");
}

TEST_F(RecordingGraph, RenderStreamWithoutASourceFails) {
    FilterPtr mux;
    ASSERT_EQ(builder->SetOutputFileName(MEDIASUBTYPE_Avi, (dir.path() / "a.avi").string(), &mux,
                                         nullptr),
              S_OK);
    EXPECT_TRUE(FAILED(
        builder->RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, nullptr, nullptr, mux)));
    EXPECT_EQ(builder->SetOutputFileName(MEDIASUBTYPE_RGB24, "x", &mux, nullptr), E_INVALIDARG);
}

// The writers' chains: a chain that cannot be made or linked leaves its bin as it found it.
TEST(ElementChain, AFailedMakeOrLinkLeavesTheBinAsItWas) {
    EnsureGstInitialized();
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    auto children = [&] { return GST_BIN(bin.get())->numchildren; };

    ElementChain missing;
    EXPECT_FALSE(missing.Make({"queue", "no-such-element-factory", "videoconvert"}));
    EXPECT_EQ(missing.MissingFactory(), "no-such-element-factory");
    EXPECT_TRUE(missing.empty());

    ElementChain mismatched; // audio cannot flow into a video converter
    ASSERT_TRUE(mismatched.Make({"audiotestsrc", "videoconvert"}));
    EXPECT_FALSE(mismatched.AddAndLink(GST_BIN(bin.get())));
    EXPECT_EQ(children(), 0);

    ElementChain fitting;
    ASSERT_TRUE(fitting.Make({"videotestsrc", "queue", "videoconvert", "fakesink"}));
    ASSERT_TRUE(fitting.AddAndLink(GST_BIN(bin.get())));
    EXPECT_EQ(children(), 4);
    fitting.RemoveFromBin();
    EXPECT_EQ(children(), 0);
}

} // namespace
} // namespace kelo
