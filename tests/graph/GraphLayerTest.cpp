// The graph layer on real pipelines: filters and names, pins over pads (request pins included),
// intelligent connect, the row order of the graph's RGB24, the device enumerator.
#include "../engine/EngineTestSupport.h"
#include "platform/filters/CaptureDeviceFilter.h"
#include "platform/filters/ColorConverter.h"
#include "platform/filters/CompressorCatalogue.h"
#include "platform/filters/SampleGrabber.h"
#include "platform/filters/StreamFilters.h"
#include "platform/filters/VideoRenderer.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/ElementFactory.h"
#include "platform/graph/FilterGraph.h"
#include "platform/PlatformComponents.h"
#include "support/TestSupport.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace kelo {
namespace {

using namespace std::chrono_literals;

// A still picture whose rows all differ (a vertical gradient), so that row order shows.
constexpr const char* kStillCaps = "video/x-raw,format=BGR,width=320,height=240,framerate=15/1";

FilterPtr StillDevice() {
    ElementPtr source = MakeElement("videotestsrc");
    g_object_set(source.get(), "is-live", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(source.get()), "pattern", "gradient");
    return CaptureDeviceFilter::Create("Still", std::move(source), true, nullptr,
                                       CapsPtr(gst_caps_from_string(kStillCaps)));
}

// The same picture as GStreamer delivers it: top-down rows.
std::vector<std::uint8_t> StillReference() {
    ElementPtr pipeline = MakeBin("videotestsrc pattern=gradient num-buffers=1 ! "
                                  "video/x-raw,format=BGR,width=320,height=240 ! "
                                  "appsink name=out sync=false");
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    std::vector<std::uint8_t> bytes;
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstSample* raw = nullptr;
    g_signal_emit_by_name(sink.get(), "pull-sample", &raw);
    SamplePtr sample(raw);
    if (sample) {
        BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        bytes.assign(map.data(), map.data() + map.size());
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return bytes;
}

class CopyingCallback : public ISampleGrabberCB {
public:
    HRESULT SampleCB(double, GstBuffer*) override { return S_OK; }
    HRESULT BufferCB(double, unsigned char* buffer, long length) override {
        std::lock_guard lock(mutex);
        last.assign(buffer, buffer + length);
        ++calls;
        return S_OK;
    }
    std::mutex mutex;
    std::vector<std::uint8_t> last;
    std::atomic<int> calls{0};
};

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i)
        std::this_thread::sleep_for(25ms);
    return done();
}

PinPtr Out(const FilterPtr& f) {
    PinPtr pin;
    (void)FindPin(f, PinDirection::Output, true,
                  &pin); // a missing pin stays null and fails the caller's check
    return pin;
}

PinPtr In(const FilterPtr& f) {
    PinPtr pin;
    (void)FindPin(f, PinDirection::Input, true,
                  &pin); // a missing pin stays null and fails the caller's check
    return pin;
}

TEST(FilterGraph, NamesAreUniqueAndAFilterBelongsToOneGraph) {
    FilterGraph graph;
    auto a = SmartTee::Create();
    auto b = SmartTee::Create();
    EXPECT_EQ(graph.AddFilter(a, "Tee"), S_OK);
    EXPECT_EQ(graph.AddFilter(b, "Tee"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph.EnumFilters()[1].first, "Tee 0001");
    EXPECT_EQ(graph.AddFilter(a, "Again"), E_FAIL);
    EXPECT_EQ(graph.AddFilter(nullptr, "None"), E_POINTER);

    FilterGraph other;
    EXPECT_EQ(other.AddFilter(b, "Tee"), E_FAIL);

    FilterPtr found;
    EXPECT_EQ(graph.FindFilterByName("Tee 0001", &found), S_OK);
    EXPECT_EQ(found, b);
    EXPECT_EQ(graph.RemoveFilter(b), S_OK);
    EXPECT_EQ(graph.FindFilterByName("Tee 0001", &found), VFW_E_NOT_FOUND);
    // Without a renderer there is no video window.
    EXPECT_EQ(graph.put_Visible(true), E_NOINTERFACE);
}

TEST(Pins, DirectionConnectionStateAndRequestPinsOfATee) {
    FilterGraph graph;
    FilterPtr device = StillDevice();
    FilterPtr tee = SmartTee::Create();
    FilterPtr first = VideoRenderer::Create();
    FilterPtr second = VideoRenderer::Create();
    for (const FilterPtr& f : {device, tee, first, second})
        ASSERT_TRUE(SUCCEEDED(graph.AddFilter(f, "f")));

    std::vector<PinPtr> pins;
    ASSERT_EQ(EnumPins(device, &pins), S_OK);
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0]->QueryDirection(), PinDirection::Output);
    EXPECT_EQ(pins[0]->ConnectedTo(nullptr), VFW_E_NOT_CONNECTED);

    ASSERT_EQ(graph.Connect(Out(device), In(tee)), S_OK);
    PinPtr peer;
    ASSERT_EQ(pins[0]->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer->element(), tee->element());
    EXPECT_EQ(graph.Connect(pins[0], In(tee)), E_POINTER)
        << "the tee's input is taken: no free pin";

    // The tee's free output is a request pin; each connect takes a new one.
    PinPtr free = Out(tee);
    ASSERT_TRUE(free);
    EXPECT_TRUE(free->isRequestPin());
    EXPECT_EQ(free->pad(), nullptr);
    ASSERT_EQ(graph.Connect(free, In(first)), S_OK);
    ASSERT_EQ(graph.Connect(Out(tee), In(second)), S_OK);
    EXPECT_EQ(tee->element()->numsrcpads, 2);
    EXPECT_EQ(graph.ConnectDirect(Out(device), In(first), nullptr), E_POINTER);
}

TEST(FilterGraph, IntelligentConnectInsertsAConverterWhenFormatsDiffer) {
    FilterGraph graph;
    test::RecordingSurface surface(320, 240);
    ElementPtr source = MakeElement("videotestsrc");
    g_object_set(source.get(), "is-live", TRUE, nullptr);
    FilterPtr device = CaptureDeviceFilter::Create(
        "YUY2 Cam", std::move(source), true, nullptr,
        CapsPtr(
            gst_caps_from_string("video/x-raw,format=YUY2,width=320,height=240,framerate=15/1")));
    auto renderer = VideoRenderer::Create();
    ASSERT_EQ(graph.AddFilter(device, "Cam"), S_OK);
    ASSERT_EQ(graph.AddFilter(renderer, "Render"), S_OK);

    EXPECT_EQ(graph.ConnectDirect(Out(device), In(renderer), nullptr), VFW_E_CANNOT_CONNECT);
    ASSERT_EQ(graph.Connect(Out(device), In(renderer)), S_OK);
    FilterPtr converter;
    EXPECT_EQ(graph.FindFilterByName("Video Converter", &converter), S_OK);

    EXPECT_EQ(graph.put_Owner(&surface), S_OK);
    ASSERT_EQ(graph.Run(), S_OK);
    EXPECT_TRUE(WaitFor([&] { return surface.framesPresented() > 0; }));
    ASSERT_EQ(graph.Stop(), S_OK);
    FilterState state = FilterState::Running;
    EXPECT_EQ(graph.GetState(0, &state), S_OK);
    EXPECT_EQ(state, FilterState::Stopped);
    EXPECT_EQ(graph.put_Owner(nullptr), S_OK);
}

TEST(FilterGraph, AudioAndVideoCannotBeConnected) {
    FilterGraph graph;
    auto renderer = VideoRenderer::Create();
    ElementPtr source = MakeElement("audiotestsrc");
    FilterPtr mic = CaptureDeviceFilter::Create("Mic", std::move(source), false, nullptr, nullptr);
    ASSERT_EQ(graph.AddFilter(mic, "Mic"), S_OK);
    ASSERT_EQ(graph.AddFilter(renderer, "Render"), S_OK);
    EXPECT_EQ(graph.Connect(Out(mic), In(renderer)), VFW_E_CANNOT_CONNECT);
    EXPECT_FALSE(Out(mic)->IsConnected());
    EXPECT_EQ(graph.EnumFilters().size(), 2u) << "a converter that did not help is taken out again";
}

TEST(RowOrder, TheConverterAfterADeviceMakesRowsBottomUpAndTheRendererTurnsThemUpright) {
    const std::vector<std::uint8_t> reference = StillReference();
    ASSERT_EQ(reference.size(), 230400u);
    const std::size_t row = 960;

    FilterGraph graph;
    test::RecordingSurface surface(320, 240);
    CopyingCallback callback;
    FilterPtr device = StillDevice();
    auto converter = ColorConverter::Create();
    auto grabber = SampleGrabber::Create();
    auto renderer = VideoRenderer::Create();
    ASSERT_EQ(graph.AddFilter(device, "Cam"), S_OK);
    ASSERT_EQ(graph.AddFilter(converter, "Color Conversion"), S_OK);
    ASSERT_EQ(graph.AddFilter(grabber, "SampleGrabber"), S_OK);
    ASSERT_EQ(graph.AddFilter(renderer, "Render"), S_OK);
    ASSERT_EQ(graph.Connect(Out(device), In(converter)), S_OK);
    EXPECT_TRUE(converter->flipsRows());
    ASSERT_EQ(graph.Connect(Out(converter), In(grabber)), S_OK);
    ASSERT_EQ(graph.Connect(Out(grabber), In(renderer)), S_OK);
    ASSERT_EQ(grabber->SetCallback(&callback, 1), S_OK);
    EXPECT_EQ(graph.put_Owner(&surface), S_OK);

    ASSERT_EQ(graph.Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return callback.calls > 0 && surface.framesPresented() > 0; }));
    EXPECT_EQ(graph.Stop(), S_OK);
    grabber->SetCallback(nullptr, 1);
    EXPECT_EQ(graph.put_Owner(nullptr), S_OK);

    ASSERT_EQ(callback.last.size(), 230400u);
    ASSERT_NE(std::memcmp(reference.data(), reference.data() + 239 * row, row), 0)
        << "rows must differ";
    for (int r = 0; r < 240; ++r) {
        ASSERT_EQ(
            std::memcmp(callback.last.data() + r * row, reference.data() + (239 - r) * row, row), 0)
            << "grabbed row " << r << " is not picture row " << 239 - r;
    }
    int width = 0;
    int height = 0;
    const auto upright = surface.lastFrame(&width, &height);
    ASSERT_EQ(upright.size(), reference.size());
    EXPECT_EQ(upright, reference);
}

TEST(RowOrder, AConverterBehindAnotherFilterKeepsTheOrder) {
    FilterGraph graph;
    FilterPtr tee = SmartTee::Create();
    auto converter = ColorConverter::Create();
    ASSERT_EQ(graph.AddFilter(tee, "Tee"), S_OK);
    ASSERT_EQ(graph.AddFilter(converter, "Color Conversion Pre"), S_OK);
    ASSERT_EQ(graph.Connect(Out(tee), In(converter)), S_OK);
    EXPECT_FALSE(converter->flipsRows());
}

// A camera that only delivers JPEG: intelligent connect decodes it, and the Color Space
// Converter behind the decoder must still learn that the device's rows are top-down.
TEST(RowOrder, AConverterInsertedForAJpegCameraStillMakesRowsBottomUp) {
    const std::vector<std::uint8_t> reference = StillReference();
    ASSERT_EQ(reference.size(), 230400u);
    FilterGraph graph;
    CopyingCallback callback;
    FilterPtr device = CaptureDeviceFilter::Create(
        "Jpeg", MakeBin("videotestsrc is-live=true pattern=gradient ! jpegenc quality=95"), true,
        nullptr, CapsPtr(gst_caps_from_string("image/jpeg,width=320,height=240,framerate=15/1")));
    ASSERT_TRUE(device) << "videotestsrc or jpegenc missing";
    auto converter = ColorConverter::Create();
    auto grabber = SampleGrabber::Create();
    ASSERT_EQ(graph.AddFilter(device, "Cam"), S_OK);
    ASSERT_EQ(graph.AddFilter(converter, "Color Conversion"), S_OK);
    ASSERT_EQ(graph.AddFilter(grabber, "SampleGrabber"), S_OK);
    ASSERT_EQ(graph.Connect(Out(device), In(converter)), S_OK);
    EXPECT_EQ(graph.EnumFilters().size(), 4u) << "a decoding converter is inserted";
    EXPECT_TRUE(converter->flipsRows());
    ASSERT_EQ(graph.Connect(Out(converter), In(grabber)), S_OK);
    ASSERT_EQ(grabber->SetCallback(&callback, 1), S_OK);
    ASSERT_EQ(graph.Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return callback.calls > 0; }));
    EXPECT_EQ(graph.Stop(), S_OK);
    grabber->SetCallback(nullptr, 1);

    // Row by row (JPEG changes single bytes): grabbed row r is picture row 239 - r.
    auto rowMean = [](const std::uint8_t* row) {
        long sum = 0;
        for (int i = 0; i < 960; ++i)
            sum += row[i];
        return sum / 960;
    };
    ASSERT_EQ(callback.last.size(), 230400u);
    ASSERT_GT(std::abs(rowMean(reference.data()) - rowMean(reference.data() + 239 * 960)), 100);
    for (int r = 4; r < 236; r += 8)
        EXPECT_NEAR(rowMean(callback.last.data() + r * 960),
                    rowMean(reference.data() + (239 - r) * 960), 30)
            << "grabbed row " << r;
}

// A tee whose file branch cannot keep up (a slow disk): the file branch drops and says so once,
// while the preview branch gets the camera's frames at the camera's rate.
TEST(SmartTeeBranches, ASlowFileBranchDropsFramesWithoutHoldingUpThePreview) {
    FilterGraph graph;
    std::atomic<int> dropEvents{0};
    ASSERT_EQ(graph.SetNotifyCallback([&](const GraphEvent& event) {
        if (event.code == GraphEvent::Code::FramesDropped)
            ++dropEvents;
    }),
              S_OK);
    ElementPtr source = MakeElement("videotestsrc");
    g_object_set(source.get(), "is-live", TRUE, nullptr);
    FilterPtr device = CaptureDeviceFilter::Create(
        "Cam", std::move(source), true, nullptr,
        CapsPtr(
            gst_caps_from_string("video/x-raw,format=BGR,width=160,height=120,framerate=30/1")));
    FilterPtr tee = SmartTee::Create();
    // At most 5 frames a second, whatever the machine.
    auto slowDisk = std::make_shared<BaseFilter>(
        MakeBin("identity sleep-time=200000 ! fakesink sync=false async=false"));
    auto renderer = VideoRenderer::Create();
    test::RecordingSurface surface(160, 120);
    for (auto [filter, name] : {std::pair{device, "Cam"}, std::pair{tee, "SmartTee filter"},
                                std::pair<FilterPtr, const char*>{slowDisk, "Slow File"},
                                std::pair<FilterPtr, const char*>{renderer, "Render"}})
        ASSERT_EQ(graph.AddFilter(filter, name), S_OK) << name;
    ASSERT_EQ(graph.Connect(Out(device), In(tee)), S_OK);
    ASSERT_EQ(graph.Connect(Out(tee), In(slowDisk)), S_OK);
    ASSERT_EQ(graph.Connect(Out(tee), In(renderer)), S_OK);
    EXPECT_EQ(graph.put_Owner(&surface), S_OK);

    // Preview frames counted against their timestamps.
    struct Seen {
        std::mutex mutex;
        int frames = 0;
        GstClockTime first = GST_CLOCK_TIME_NONE;
        GstClockTime last = GST_CLOCK_TIME_NONE;
    } seen;
    PadPtr renderInput(gst_element_get_static_pad(renderer->element(), "sink"));
    ASSERT_TRUE(renderInput);
    gst_pad_add_probe(
        renderInput.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
            auto* s = static_cast<Seen*>(data);
            const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
            std::lock_guard lock(s->mutex);
            ++s->frames;
            if (s->first == GST_CLOCK_TIME_NONE)
                s->first = pts;
            s->last = pts;
            return GST_PAD_PROBE_OK;
        },
        &seen, nullptr);

    ASSERT_EQ(graph.Run(), S_OK);
    bool enough = false;
    for (int i = 0; i < 1200 && !enough; ++i) {
        std::this_thread::sleep_for(25ms);
        std::lock_guard lock(seen.mutex);
        enough = graph.droppedFrames() >= 20 && seen.frames >= 60;
    }
    EXPECT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(graph.put_Owner(nullptr), S_OK);
    ASSERT_TRUE(enough) << "dropped " << graph.droppedFrames() << ", previewed " << seen.frames;
    EXPECT_EQ(dropEvents.load(), 1) << "drops are reported once";
    // A preview held up by the file would show about 5 of the 30 frames of each second.
    const double seconds = static_cast<double>(seen.last - seen.first) / GST_SECOND;
    ASSERT_GT(seconds, 0.5);
    EXPECT_GT(seen.frames, 0.6 * 30 * seconds)
        << seen.frames << " preview frames over " << seconds << " s of stream time";
}

TEST(FilterGraph, EachRunWritesTheGraphAsADotFileWhenAsked) {
    test::TempDir dots;
    ASSERT_EQ(setenv("KELOCAM_DEBUG_DOT", dots.path().c_str(), 1), 0);
    FilterGraph graph;
    FilterPtr device = StillDevice();
    auto renderer = VideoRenderer::Create();
    ASSERT_EQ(graph.AddFilter(device, "Cam"), S_OK);
    ASSERT_EQ(graph.AddFilter(renderer, "Render"), S_OK);
    ASSERT_EQ(graph.Connect(Out(device), In(renderer)), S_OK);
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(graph.Run(), S_OK);
        EXPECT_EQ(graph.Stop(), S_OK);
    }
    unsetenv("KELOCAM_DEBUG_DOT");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dots.path())) {
        ++files;
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(text.find("digraph"), std::string::npos);
        EXPECT_NE(text.find("Render"), std::string::npos) << "filters appear under their names";
    }
    EXPECT_EQ(files, 2);
}

TEST(DeviceEnumerator, NameSuffixesChooseTheJpegAndFaceCameras) {
    TestDevices devices;
    ASSERT_TRUE(ParseTestDevices("USB Cam:jpeg,Face:face,Plain,:jpeg;Mic:jpeg", &devices));
    ASSERT_EQ(devices.video.size(), 4u);
    EXPECT_EQ(devices.video[0].name, "USB Cam");
    EXPECT_EQ(devices.video[0].picture, TestPicture::JpegPattern);
    EXPECT_EQ(devices.video[1].name, "Face");
    EXPECT_EQ(devices.video[1].picture, TestPicture::Face);
    EXPECT_EQ(devices.video[2].picture, TestPicture::Pattern);
    EXPECT_EQ(devices.video[3].name, ":jpeg") << "a suffix alone is a name";
    ASSERT_EQ(devices.audio.size(), 1u);
    EXPECT_EQ(devices.audio[0].name, "Mic:jpeg") << "audio names keep their text";
}

TEST(DeviceEnumerator, TestDevicesCompressorsAndEmptyCategories) {
    TestDevices devices;
    ASSERT_TRUE(ParseTestDevices("A,B;", &devices));
    DeviceSources sources;
    sources.systemDevices = false;
    sources.testDevicesOn = true;
    sources.testDevices = devices;
    SystemDeviceEnum enumerator(sources);

    MonikerList monikers;
    ASSERT_EQ(enumerator.CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers), S_OK);
    ASSERT_EQ(monikers.size(), 2u);
    std::shared_ptr<IPropertyBag> bag;
    std::string name;
    ASSERT_EQ(monikers[1]->BindToStorage(&bag), S_OK);
    ASSERT_EQ(bag->Read("FriendlyName", &name), S_OK);
    EXPECT_EQ(name, "B");
    EXPECT_EQ(bag->Read("Nothing", &name), E_FAIL);
    FilterPtr filter;
    ASSERT_EQ(monikers[1]->BindToObject(&filter), S_OK);
    EXPECT_TRUE(std::dynamic_pointer_cast<IAMStreamConfig>(filter));

    EXPECT_EQ(enumerator.CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &monikers), S_FALSE);
    EXPECT_TRUE(monikers.empty());
    EXPECT_EQ(enumerator.CreateClassEnumerator("{00000000-0000-0000-0000-000000000000}", &monikers),
              E_INVALIDARG);

    ASSERT_EQ(enumerator.CreateClassEnumerator(CLSID_AudioCompressorCategory, &monikers), S_OK);
    ASSERT_EQ(monikers[0]->BindToStorage(&bag), S_OK);
    ASSERT_EQ(bag->Read("FriendlyName", &name), S_OK);
    EXPECT_EQ(name, "MPEG Layer-3");
    ASSERT_EQ(enumerator.CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers), S_OK);
    ASSERT_EQ(monikers[0]->BindToStorage(&bag), S_OK);
    ASSERT_EQ(bag->Read("FriendlyName", &name), S_OK);
    EXPECT_EQ(name, "Microsoft MPEG-4 Video Codec V1");

    // The machine's own devices: whatever there are, the monitor answers.
    DeviceSources system;
    SystemDeviceEnum real(system);
    const HRESULT hr = real.CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers);
    EXPECT_TRUE(hr == S_OK || hr == S_FALSE);
}

TEST(DeviceEnumerator, TestDeviceSpecs) {
    TestDevices devices;
    ASSERT_TRUE(ParseTestDevices("Cam 1,Cam 2;Mic", &devices));
    ASSERT_EQ(devices.video.size(), 2u);
    EXPECT_EQ(devices.video[1].name, "Cam 2");
    ASSERT_EQ(devices.audio.size(), 1u);
    ASSERT_TRUE(ParseTestDevices("Cam", &devices));
    EXPECT_EQ(devices.video.size(), 1u);
    EXPECT_TRUE(devices.audio.empty());
    ASSERT_TRUE(ParseTestDevices(";Mic", &devices));
    EXPECT_TRUE(devices.video.empty());
    EXPECT_FALSE(ParseTestDevices("A,;B", &devices));
}

TEST(StreamConfig, TheMp3EncoderTakesOnlyRatesMpegAudioHas) {
    auto encoder = Mp3Encoder::Create();
    ASSERT_TRUE(encoder);
    PinPtr out = Out(encoder);
    auto config = QueryPinInterface<IAMStreamConfig>(out);
    ASSERT_TRUE(config);
    EXPECT_FALSE(QueryPinInterface<IAMStreamConfig>(In(encoder)));
    MediaType type;
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type.audio.samplesPerSec, 44100);
    type.audio.samplesPerSec = 11000;
    EXPECT_EQ(config->SetFormat(type), VFW_E_INVALIDMEDIATYPE);
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type.audio.samplesPerSec, 44100);
    type.audio.samplesPerSec = 22050;
    EXPECT_EQ(config->SetFormat(type), S_OK);
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type.audio.samplesPerSec, 22050);
}

} // namespace
} // namespace kelo
