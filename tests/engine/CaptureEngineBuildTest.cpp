// Building the preview graph: device lists, device binding, filter names, results, the video
// window's placement, and the effect filters that may be missing.
#include "engine/CaptureEngine.h"
#include "engine/EffectState.h"
#include "EngineTestSupport.h"
#include "platform/filters/CaptureDeviceFilter.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/MediaType.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kelo {
namespace {

using test::Devices;
using test::MakeTestRegistry;
using test::RecordingOwner;
using test::RecordingSurface;

std::vector<std::string> FilterNames(const CaptureEngine& engine) {
    std::vector<std::string> names;
    for (const auto& [name, filter] : engine.filterGraph()->EnumFilters())
        names.push_back(name);
    return names;
}

std::string BoundDeviceName(const FilterPtr& filter) {
    auto device = std::dynamic_pointer_cast<CaptureDeviceFilter>(filter);
    return device ? device->friendlyName() : "";
}

class CaptureEngineBuild : public ::testing::Test {
protected:
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    RecordingOwner owner;
    RecordingSurface surface{324, 244};
};

TEST_F(CaptureEngineBuild, TheVirtualCameraIsLeftOutOfTheListAndPositionsCountWithoutIt) {
    auto registry = MakeTestRegistry(Devices({"Cam A", "Kelo Virtual Camera", "Cam C"}, {"Mic"}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 2, 1), CaptureEngine::kVideoAndAudio);
    EXPECT_EQ(owner.video.names, (std::vector<std::string>{"Cam A", "Cam C"}));
    EXPECT_EQ(owner.video.selected, 1);
    EXPECT_EQ(BoundDeviceName(engine.videoSourceFilter()), "Cam C");
    EXPECT_EQ(owner.audio.names, (std::vector<std::string>{"Mic"}));
    EXPECT_EQ(owner.audio.selected, 0);
    EXPECT_EQ(BoundDeviceName(engine.audioSourceFilter()), "Mic");
}

TEST_F(CaptureEngineBuild, APositionBeyondTheDevicesListsThemAllSelectsNothingAndReturnsZero) {
    auto registry = MakeTestRegistry(Devices({"Cam A", "Cam B"}, {"Mic"}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 3, 1), CaptureEngine::kNoVideoDevice);
    EXPECT_EQ(owner.video.names, (std::vector<std::string>{"Cam A", "Cam B"}));
    EXPECT_EQ(owner.video.selected, -1);
    EXPECT_FALSE(engine.videoSourceFilter());
}

TEST_F(CaptureEngineBuild, NoVideoDeviceAtAllReturnsZeroWithEmptyLists) {
    auto registry = MakeTestRegistry(Devices({}, {"Mic"}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoVideoDevice);
    EXPECT_TRUE(owner.video.names.empty());
    EXPECT_EQ(owner.video.clears, 1);
    // Nothing runs: Run has no run control to call.
    EXPECT_EQ(engine.Run(), E_FAIL);
}

TEST_F(CaptureEngineBuild, NoAudioDeviceAtThePositionReturnsOneAndTheRestOfTheGraphIsComplete) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {"Mic"}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 1, 2), CaptureEngine::kNoAudioDevice);
    EXPECT_EQ(owner.audio.names, (std::vector<std::string>{"Mic"}));
    EXPECT_EQ(owner.audio.selected, -1);
    EXPECT_EQ(FilterNames(engine),
              (std::vector<std::string>{"SampleGrabber", "video capture", "Color Conversion",
                                        "Background Blur", "Mp3 Codec", "Overlay Filer",
                                        "OpenCV ProxyTrans Filer", "BmpOverlayFiler"}));
    EXPECT_EQ(engine.ConnectPreview(), S_OK);
}

TEST_F(CaptureEngineBuild, WithAudioTheDeviceIsAddedUnderItsName) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {"Mic 1", "Mic 2"}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 1, 2), CaptureEngine::kVideoAndAudio);
    const auto names = FilterNames(engine);
    EXPECT_EQ(names.back(), "Audio Deivece");
    EXPECT_EQ(BoundDeviceName(engine.audioSourceFilter()), "Mic 2");
}

TEST_F(CaptureEngineBuild, TheDeviceIsAskedFor320x240At15FramesPerSecond) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);

    auto config = std::dynamic_pointer_cast<IAMStreamConfig>(engine.videoSourceFilter());
    ASSERT_TRUE(config);
    MediaType type;
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type.video.width, 320);
    EXPECT_EQ(type.video.height, 240);
    EXPECT_EQ(type.video.avgTimePerFrame, 666666);
}

TEST_F(CaptureEngineBuild, ADeviceThatRefuses320x240KeepsItsOwnFormat) {
    TestDevices devices;
    devices.video.push_back(
        {"Big Cam", "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"});
    auto registry = MakeTestRegistry(devices);
    CaptureEngine engine(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);

    auto config = std::dynamic_pointer_cast<IAMStreamConfig>(engine.videoSourceFilter());
    MediaType type;
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(type.video.width, 640);
    EXPECT_EQ(type.video.height, 480);
}

TEST_F(CaptureEngineBuild, ThePreviewAreaGetsTheWholeVideoWindowInTheOrderOfThePlacement) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine.ConnectPreview(), S_OK);

    const auto calls = surface.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "attach");
    EXPECT_EQ(calls.back(), "visible 1");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "rect 0 0 324 244"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "raise"), calls.end());

    long left = -1, top = -1, width = -1, height = -1;
    ASSERT_EQ(std::dynamic_pointer_cast<IVideoWindow>(engine.filterGraph())
                  ->GetWindowPosition(&left, &top, &width, &height),
              S_OK);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(top, 0);
    EXPECT_EQ(width, 324);
    EXPECT_EQ(height, 244);

    // Input on the video goes to the message drain, the preview area.
    ASSERT_NE(surface.attached(), nullptr);
    PreviewInput key;
    key.kind = PreviewInputKind::KeyPress;
    key.key = 115;
    surface.attached()->DeliverInput(key);
    ASSERT_EQ(surface.drained.size(), 1u);
    EXPECT_EQ(surface.drained[0].key, 115);

    EXPECT_EQ(engine.EnterFullScreen(), S_OK);
    EXPECT_EQ(engine.LeaveFullScreen(), S_OK);
    const auto after = surface.calls();
    EXPECT_EQ(after[after.size() - 2], "fullscreen 1");
    EXPECT_EQ(after.back(), "fullscreen 0");
}

TEST_F(CaptureEngineBuild, TeardownHidesAndDetachesTheVideoWindow) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    {
        CaptureEngine engine(320, 240, 15, &owner, *registry);
        ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
        ASSERT_EQ(engine.ConnectPreview(), S_OK);
    }
    const auto calls = surface.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "visible 0");
    EXPECT_EQ(calls.back(), "detach");
    EXPECT_EQ(surface.attached(), nullptr);
}

TEST_F(CaptureEngineBuild, WithoutTheMp3CompressorNothingCanBeBuilt) {
    // A registry whose device enumerator lists no compressors is not possible with the real
    // enumerator; an enumerator of our own stands in for a machine without LAME.
    class NoCompressors : public ComObject, public ICreateDevEnum {
    public:
        explicit NoCompressors(std::shared_ptr<ICreateDevEnum> real) : real_(std::move(real)) {}
        HRESULT CreateClassEnumerator(std::string_view category, MonikerList* monikers) override {
            if (SameId(category, CLSID_AudioCompressorCategory)) {
                monikers->clear();
                return S_FALSE;
            }
            return real_->CreateClassEnumerator(category, monikers);
        }

    private:
        std::shared_ptr<ICreateDevEnum> real_;
    };
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    std::shared_ptr<ICreateDevEnum> real;
    ASSERT_EQ(registry->CreateInstance(CLSID_SystemDeviceEnum, &real), S_OK);
    registry->Register(CLSID_SystemDeviceEnum,
                       [real] { return std::make_shared<NoCompressors>(real); });

    CaptureEngine engine(320, 240, 15, &owner, *registry);
    EXPECT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), E_FAIL);
}

class MissingEffectFilter : public CaptureEngineBuild,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingEffectFilter, IsLeftOutAndThePreviewCannotBeConnected) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    const std::string_view classId = GetParam();
    registry->Unregister(classId);
    CaptureEngine engine(320, 240, 15, &owner, *registry);

    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    const char* name = classId == CLSID_OverlayFilter      ? "Overlay Filer"
                       : classId == CLSID_ProxyTransFilter ? "OpenCV ProxyTrans Filer"
                                                           : "BmpOverlayFiler";
    FilterPtr found;
    EXPECT_TRUE(FAILED(engine.filterGraph()->FindFilterByName(name, &found)));
    EXPECT_EQ(engine.ConnectPreview(), E_FAIL);
    // The overlay operations do nothing without the BmpOverlayFiler.
    if (classId == CLSID_BmpOverlayFilter) {
        EXPECT_EQ(engine.ClearOverlay(1011, 0, 0, 0, 0), E_POINTER);
        std::vector<std::uint8_t> picture(230400, 0);
        EXPECT_EQ(engine.ShowOverlayPicture(110, picture.data()), E_POINTER);
    }
    // The half-connected graph still runs and stops cleanly.
    EXPECT_EQ(engine.Run(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(EachFilter, MissingEffectFilter,
                         ::testing::Values(CLSID_OverlayFilter.data(),
                                           CLSID_ProxyTransFilter.data(),
                                           CLSID_BmpOverlayFilter.data()));

// The element the pin of `filter`'s given direction is linked to (null when unlinked).
GstElement* PeerOf(CaptureEngine& engine, const char* filterName, PinDirection direction) {
    FilterPtr filter;
    PinPtr pin;
    PinPtr peer;
    if (FAILED(engine.filterGraph()->FindFilterByName(filterName, &filter)) ||
        FAILED(engine.GetPin(filter, direction, &pin)) || FAILED(pin->ConnectedTo(&peer)))
        return nullptr;
    return peer->element();
}

TEST_F(CaptureEngineBuild, TheBackgroundBlurSitsBetweenTheConverterAndTheEffectFilters) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    CaptureEngine engine(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine.ConnectPreview(), S_OK);

    GstElement* afterConverter = PeerOf(engine, "Color Conversion", PinDirection::Output);
    GstElement* beforeOverlay = PeerOf(engine, "BmpOverlayFiler", PinDirection::Input);
    ASSERT_TRUE(afterConverter && beforeOverlay);
    EXPECT_EQ(afterConverter, beforeOverlay);
    EXPECT_STREQ(G_OBJECT_TYPE_NAME(afterConverter), "KeloBackgroundBlurFilter");
}

TEST_F(CaptureEngineBuild, WithoutTheBackgroundBlurTheConverterFeedsTheEffectFiltersDirectly) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    registry->Unregister(CLSID_BackgroundBlurFilter);
    CaptureEngine engine(320, 240, 15, &owner, *registry);
    ASSERT_EQ(engine.BuildGraph(&surface, nullptr, 1, 1), CaptureEngine::kNoAudioDevice);
    ASSERT_EQ(engine.ConnectPreview(), S_OK);
    FilterPtr bmp;
    ASSERT_EQ(engine.filterGraph()->FindFilterByName("BmpOverlayFiler", &bmp), S_OK);
    EXPECT_EQ(PeerOf(engine, "Color Conversion", PinDirection::Output),
              std::dynamic_pointer_cast<BaseFilter>(bmp)->element());
}

TEST_F(CaptureEngineBuild, TheEffectSettersChangeTheProcessWideStateThatOutlivesTheEngine) {
    auto registry = MakeTestRegistry(Devices({"Cam"}, {}));
    {
        CaptureEngine engine(320, 240, 15, &owner, *registry);
        engine.SetColorAdjustOn(1);
        engine.SetLightnessShift(-12);
        engine.SetRedOffset(30);
        engine.ToggleFaceDetection();
    }
    const EffectState::Values values = ProcessEffectState().Load();
    EXPECT_EQ(values.colorAdjustOn, 1);
    EXPECT_EQ(values.lightnessShift, -12);
    EXPECT_EQ(values.redOffset, 30);
    EXPECT_EQ(values.faceDetectionOn, 1);
    // Each test case is its own process, but leave the record as found anyway.
    CaptureEngine next(320, 240, 15, &owner, *registry);
    next.SetColorAdjustOn(0);
    next.SetLightnessShift(0);
    next.SetRedOffset(0);
    next.ToggleFaceDetection();
    EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 0);

    next.SetBackgroundBlur(1);
    EXPECT_EQ(ProcessEffectState().backgroundBlurOn.load(), 1);
    next.SetBackgroundBlur(0);
}

} // namespace
} // namespace kelo
