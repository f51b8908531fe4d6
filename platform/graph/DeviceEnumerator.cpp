#include "platform/graph/DeviceEnumerator.h"

#include "platform/filters/CaptureDeviceFilter.h"
#include "platform/filters/CompressorCatalogue.h"
#include "platform/graph/DeviceMonitor.h"
#include "platform/graph/ElementFactory.h"
#include "platform/graph/MediaType.h"
#include "platform/system/AssetPaths.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/InputFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>

namespace kelo {

namespace {

class PropertyBag : public ComObject, public IPropertyBag {
public:
    explicit PropertyBag(std::map<std::string, std::string> values) : values_(std::move(values)) {}
    HRESULT Read(std::string_view property, std::string* value) const override {
        if (!value)
            return E_POINTER;
        auto it = values_.find(std::string(property));
        if (it == values_.end())
            return E_FAIL;
        *value = it->second;
        return S_OK;
    }

private:
    std::map<std::string, std::string> values_;
};

// A device or compressor: its properties and how to make its filter.
class Moniker : public ComObject, public IMoniker {
public:
    Moniker(std::map<std::string, std::string> properties, std::function<FilterPtr()> bind)
        : properties_(std::move(properties)), bind_(std::move(bind)) {}

    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (!bag)
            return E_POINTER;
        *bag = std::make_shared<PropertyBag>(properties_);
        return S_OK;
    }
    HRESULT BindToObject(FilterPtr* filter) override {
        if (!filter)
            return E_POINTER;
        *filter = bind_ ? bind_() : nullptr;
        return *filter ? S_OK : E_FAIL;
    }

private:
    std::map<std::string, std::string> properties_;
    std::function<FilterPtr()> bind_;
};

CapsPtr ParseCaps(const std::string& text) {
    return text.empty() ? nullptr : CapsPtr(gst_caps_from_string(text.c_str()));
}

std::vector<std::string> SplitNames(std::string_view list, bool* ok) {
    std::vector<std::string> names;
    if (list.empty())
        return names;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        std::string_view name =
            list.substr(start, comma == std::string_view::npos ? list.npos : comma - start);
        if (name.empty())
            *ok = false;
        names.emplace_back(name);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return names;
}

// The face photograph, scaled a little larger than the frame and panned across it slowly (a
// full sweep every 20 s of stream time), so that a detector has a real face to find and the
// picture changes from frame to frame. The pan follows the buffer timestamps, not the clock.
constexpr int kFacePanPixels = 64;
constexpr double kFacePanPeriodSeconds = 20.0;

GstPadProbeReturn PanFace(GstPad*, GstPadProbeInfo* info, gpointer box) noexcept {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_PAD_PROBE_OK;
    const double seconds = static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND;
    const double phase = std::sin(2.0 * G_PI * seconds / kFacePanPeriodSeconds);
    const int left = static_cast<int>(std::lround((1.0 + phase) * kFacePanPixels / 2.0));
    const int top = static_cast<int>(std::lround((1.0 + phase) * kFacePanPixels * 3 / 8.0));
    g_object_set(box, "left", left, "right", kFacePanPixels - left, "top", top, "bottom",
                 kFacePanPixels * 3 / 4 - top, nullptr);
    return GST_PAD_PROBE_OK;
}

ElementPtr MakeFaceSource(const std::string& photo) {
    std::string path = photo;
    if (path.empty()) {
        const char* fromEnvironment = std::getenv("KELOCAM_TEST_FACE");
        path = fromEnvironment && *fromEnvironment ? fromEnvironment : FindAsset("test-face.jpg");
    }
    if (path.empty())
        return ElementPtr();
    // Opened here, without waiting and only when it is a regular file; filesrc reads that open
    // file, held by the bin for its life (its own open of the path would wait forever on a
    // pipe put there, inside the graph's start).
    InputFile photoFile = OpenInputFile(path);
    if (photoFile.status != InputFileStatus::Ok)
        return ElementPtr();
    ElementPtr bin = MakeBin("filesrc name=photo ! jpegdec ! videoconvert ! videoscale ! "
                             "video/x-raw,format=I420,width=384,height=288 ! "
                             "imagefreeze is-live=true ! videobox name=pan ! videoscale");
    if (!bin)
        return ElementPtr();
    ElementPtr file(gst_bin_get_by_name(GST_BIN(bin.get()), "photo"));
    ElementPtr box(gst_bin_get_by_name(GST_BIN(bin.get()), "pan"));
    if (!file || !box)
        return ElementPtr();
    const int fd = photoFile.fd.release();
    // Stored as fd + 1: a null datum would be no datum.
    g_object_set_data_full(G_OBJECT(bin.get()), "kelo-photo-file", GINT_TO_POINTER(fd + 1),
                           [](gpointer owned) { ::close(GPOINTER_TO_INT(owned) - 1); });
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    g_object_set(file.get(), "location", opened.c_str(), nullptr);
    PadPtr boxInput(gst_element_get_static_pad(box.get(), "sink"));
    // The probe's pointer is borrowed: the box lives as long as the bin that holds the pad.
    gst_pad_add_probe(boxInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &PanFace, box.get(), nullptr);
    g_object_set(box.get(), "left", kFacePanPixels / 2, "right", kFacePanPixels / 2, "top",
                 kFacePanPixels * 3 / 8, "bottom", kFacePanPixels * 3 / 8, nullptr);
    return bin;
}

// The USB-camera-like test source: the moving pattern, as JPEG pictures when JPEG is asked for
// and as raw frames otherwise (the encoder is linked in or left out of the bin before the graph
// starts).
ElementPtr MakeJpegPatternSource(CaptureDeviceFilter::FormatChosen* formatChosen) {
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    ElementPtr pattern = MakeElement("videotestsrc");
    ElementPtr encoder = MakeElement("jpegenc");
    if (!bin || !pattern || !encoder)
        return ElementPtr();
    g_object_set(pattern.get(), "is-live", TRUE, "horizontal-speed", 2, nullptr);
    g_object_set(encoder.get(), "quality", 90, nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), pattern.get(), encoder.get(), nullptr);
    if (!gst_element_link(pattern.get(), encoder.get()))
        return ElementPtr();
    PadPtr encoded(gst_element_get_static_pad(encoder.get(), "src"));
    GstPad* ghost = gst_ghost_pad_new("src", encoded.get());
    if (!ghost || !gst_element_add_pad(bin.get(), ghost))
        return ElementPtr();
    // Borrowed: the bin owns both elements and the ghost pad for the filter's life.
    GstElement* patternElement = pattern.get();
    GstElement* encoderElement = encoder.get();
    *formatChosen = [patternElement, encoderElement, ghost](const GstCaps* caps) {
        const GstStructure* format =
            gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
        const bool jpeg = format && gst_structure_has_name(format, "image/jpeg");
        PadPtr raw(gst_element_get_static_pad(patternElement, "src"));
        PadPtr encoded(gst_element_get_static_pad(encoderElement, "src"));
        if (jpeg) {
            if (!gst_pad_is_linked(raw.get()))
                (void)gst_element_link(patternElement, encoderElement);
            (void)gst_ghost_pad_set_target(GST_GHOST_PAD(ghost), encoded.get());
        } else {
            (void)gst_ghost_pad_set_target(GST_GHOST_PAD(ghost), nullptr);
            gst_element_unlink(patternElement, encoderElement);
            (void)gst_ghost_pad_set_target(GST_GHOST_PAD(ghost), raw.get());
        }
    };
    return bin;
}

// The source element of a test video device and the format it starts with.
ElementPtr MakeTestVideoSource(const TestDevice& device, std::string* ownFormat,
                               CaptureDeviceFilter::FormatChosen* formatChosen) {
    switch (device.picture) {
    case TestPicture::Pattern: {
        // A moving pattern, live like a camera, at the size and rate a camera starts with.
        ElementPtr source = MakeElement("videotestsrc");
        if (source)
            g_object_set(source.get(), "is-live", TRUE, "horizontal-speed", 2, nullptr);
        *ownFormat = "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";
        return source;
    }
    case TestPicture::JpegPattern:
        // The encoder follows the size and rate asked of the device downstream.
        *ownFormat = "image/jpeg,width=640,height=480,framerate=30/1";
        return MakeJpegPatternSource(formatChosen);
    case TestPicture::Face:
        *ownFormat = "video/x-raw,format=I420,width=320,height=240,framerate=15/1";
        return MakeFaceSource(device.photo);
    case TestPicture::Silent:
        // Negotiates and runs; the valve lets no frame through.
        *ownFormat = "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";
        return MakeBin("videotestsrc is-live=true ! valve drop=true");
    }
    return ElementPtr();
}

FilterPtr MakeTestVideoDevice(const TestDevice& device,
                              const std::function<void(GstElement*)>& made) {
    std::string ownText;
    CaptureDeviceFilter::FormatChosen formatChosen;
    ElementPtr source = MakeTestVideoSource(device, &ownText, &formatChosen);
    if (!source)
        return nullptr;
    made(source.get());
    CapsPtr own = ParseCaps(device.offeredCaps);
    if (own)
        own = CapsPtr(gst_caps_fixate(gst_caps_copy_nth(own.get(), 0)));
    else
        own = ParseCaps(ownText);
    CapsPtr offered = ParseCaps(device.offeredCaps);
    if (!offered && device.picture == TestPicture::JpegPattern)
        offered = ParseCaps(kTestJpegCameraModes);
    else if (!offered && device.picture == TestPicture::Pattern)
        offered = ParseCaps(kTestCameraModes);
    return CaptureDeviceFilter::Create(device.name, std::move(source), true, std::move(offered),
                                       std::move(own), std::move(formatChosen));
}

bool IsPipeWireDevice(GstDevice* device) {
    return std::string_view(G_OBJECT_TYPE_NAME(device)) == "GstPipeWireDevice";
}

// What a camera is known by across the two providers: the V4L2 device's path where the device
// says it (a PipeWire node that wraps a V4L2 device carries its path too), else its name.
std::string CameraKey(GstDevice* device) {
    StructurePtr properties(gst_device_get_properties(device));
    if (properties) {
        for (const char* field : {"api.v4l2.path", "device.path"}) {
            const gchar* path = gst_structure_get_string(properties.get(), field);
            if (path && *path)
                return std::string("path:") + path;
        }
    }
    GCharPtr name(gst_device_get_display_name(device));
    return std::string("name:") + (name ? name.get() : "");
}

// A camera the system lists twice, once as the V4L2 device and once as the PipeWire node that
// wraps it (a monitor whose providers do not hide one another), is listed once, through
// PipeWire: the desktop's way, which other programs can share. Otherwise the monitor's order;
// two devices that merely share a name both stay.
std::vector<DevicePtr> WithoutDoubles(std::vector<DevicePtr> found) {
    std::vector<std::string> throughPipeWire;
    for (const DevicePtr& device : found) {
        if (IsPipeWireDevice(device.get()))
            throughPipeWire.push_back(CameraKey(device.get()));
    }
    std::vector<DevicePtr> unique;
    for (DevicePtr& device : found) {
        if (!IsPipeWireDevice(device.get()) &&
            std::find(throughPipeWire.begin(), throughPipeWire.end(), CameraKey(device.get())) !=
                throughPipeWire.end())
            continue; // the same camera, listed through PipeWire
        unique.push_back(std::move(device));
    }
    return unique;
}

} // namespace

TestDevices DefaultTestDevices() {
    TestDevices devices;
    devices.video.push_back({"Test Camera", {}});
    devices.audio.push_back({"Test Microphone", {}});
    return devices;
}

TestDevicesOption ParseTestDevicesOption(std::string_view arg, TestDevices* devices) {
    constexpr std::string_view kOption = "--test-devices";
    if (arg == kOption) {
        *devices = DefaultTestDevices();
        return TestDevicesOption::kTaken;
    }
    if (arg.substr(0, kOption.size() + 1) != "--test-devices=")
        return TestDevicesOption::kNotThisOption;
    return ParseTestDevices(arg.substr(kOption.size() + 1), devices) ? TestDevicesOption::kTaken
                                                                     : TestDevicesOption::kBadList;
}

bool ParseTestDevices(std::string_view lists, TestDevices* devices) {
    if (!devices)
        return false;
    *devices = TestDevices{};
    const std::size_t semicolon = lists.find(';');
    std::string_view video = lists.substr(0, semicolon);
    std::string_view audio =
        semicolon == std::string_view::npos ? std::string_view{} : lists.substr(semicolon + 1);
    bool ok = true;
    for (std::string& name : SplitNames(video, &ok)) {
        TestDevice device{std::move(name), {}};
        for (auto [suffix, picture] :
             {std::pair{":jpeg", TestPicture::JpegPattern}, std::pair{":face", TestPicture::Face},
              std::pair{":vga", TestPicture::Pattern}, std::pair{":silent", TestPicture::Silent}}) {
            const std::string_view tail(suffix);
            if (device.name.size() > tail.size() && device.name.ends_with(tail)) {
                device.name.resize(device.name.size() - tail.size());
                device.picture = picture;
                if (tail == ":vga")
                    device.offeredCaps = kTestVgaCameraModes;
                break;
            }
        }
        devices->video.push_back(std::move(device));
    }
    for (std::string& name : SplitNames(audio, &ok))
        devices->audio.push_back({std::move(name), {}});
    return ok;
}

SystemDeviceEnum::SystemDeviceEnum(DeviceSources sources) : sources_(std::move(sources)) {
    if (sources_.testDevicesOn && !sources_.testProvider)
        sources_.testProvider = std::make_shared<TestDeviceProvider>(sources_.testDevices);
}

HRESULT SystemDeviceEnum::CreateClassEnumerator(std::string_view category, MonikerList* monikers) {
    if (!monikers)
        return E_POINTER;
    monikers->clear();
    EnsureGstInitialized();
    if (SameId(category, CLSID_VideoInputDeviceCategory) ||
        SameId(category, CLSID_AudioInputDeviceCategory)) {
        const bool video = SameId(category, CLSID_VideoInputDeviceCategory);
        if (sources_.systemDevices)
            AddSystemDevices(video ? "Video/Source" : "Audio/Source", video, monikers);
        if (sources_.testDevicesOn)
            AddTestDevices(video, monikers);
    } else if (SameId(category, CLSID_VideoCompressorCategory) ||
               SameId(category, CLSID_AudioCompressorCategory)) {
        for (CompressorEntry& entry : InstalledCompressors()) {
            if (!SameId(entry.category, category))
                continue;
            monikers->push_back(std::make_shared<Moniker>(
                std::map<std::string, std::string>{{"FriendlyName", entry.friendlyName}},
                std::move(entry.create)));
        }
    } else {
        return E_INVALIDARG;
    }
    return monikers->empty() ? S_FALSE : S_OK;
}

void SystemDeviceEnum::AddSystemDevices(const char* deviceClass, bool video,
                                        MonikerList* monikers) const {
    std::vector<DevicePtr> found;
    if (!sources_.systemMonitor || !sources_.systemMonitor->SystemDevices(deviceClass, &found)) {
        DeviceMonitorPtr monitor = DeviceMonitorPtr::RefSink(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), deviceClass, nullptr);
        GObjectListPtr devices(gst_device_monitor_get_devices(monitor.get()));
        for (GList* l = devices.get(); l; l = l->next)
            found.push_back(DevicePtr::Ref(static_cast<GstDevice*>(l->data)));
    }
    for (const DevicePtr& device : WithoutDoubles(std::move(found))) {
        GCharPtr displayName(gst_device_get_display_name(device.get()));
        std::map<std::string, std::string> properties{
            {"FriendlyName", displayName ? displayName.get() : ""}};
        std::string name = properties["FriendlyName"];
        auto bind = [device, video, name]() -> FilterPtr {
            ElementPtr source =
                ElementPtr::RefSink(gst_device_create_element(device.get(), nullptr));
            // The device's own format is whatever it negotiates; what it offers is its caps.
            return CaptureDeviceFilter::Create(name, std::move(source), video,
                                               CapsPtr(gst_device_get_caps(device.get())), nullptr);
        };
        monikers->push_back(std::make_shared<Moniker>(std::move(properties), std::move(bind)));
    }
}

void SystemDeviceEnum::AddTestDevices(bool video, MonikerList* monikers) const {
    const std::shared_ptr<TestDeviceProvider>& provider = sources_.testProvider;
    if (!provider)
        return;
    for (TestDeviceProvider::Entry& entry :
         provider->Devices(video ? DeviceKind::Video : DeviceKind::Audio)) {
        const TestDevice& device = entry.device;
        std::map<std::string, std::string> properties{{"FriendlyName", device.name},
                                                      {"DevicePath", "test:" + device.name}};
        // A device pulled out since it was listed cannot be opened, as a real one.
        auto bind = [video, device, serial = entry.serial, provider]() -> FilterPtr {
            if (!provider->IsPluggedIn(serial))
                return nullptr;
            auto track = [&provider, serial](GstElement* source) {
                provider->Track(serial, source);
            };
            if (video)
                return MakeTestVideoDevice(device, track);
            ElementPtr source = MakeElement("audiotestsrc");
            if (!source)
                return nullptr;
            g_object_set(source.get(), "is-live", TRUE, "volume", 0.2, nullptr);
            track(source.get());
            CapsPtr own = ParseCaps(device.offeredCaps.empty()
                                        ? "audio/x-raw,format=S16LE,rate=44100,channels=2"
                                        : device.offeredCaps);
            own = CapsPtr(gst_caps_fixate(gst_caps_copy_nth(own.get(), 0)));
            return CaptureDeviceFilter::Create(device.name, std::move(source), false,
                                               ParseCaps(device.offeredCaps), std::move(own));
        };
        monikers->push_back(std::make_shared<Moniker>(std::move(properties), std::move(bind)));
    }
}

} // namespace kelo
