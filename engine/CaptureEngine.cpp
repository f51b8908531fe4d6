#include "engine/CaptureEngine.h"

#include "effects/filters/EffectFilterControl.h"
#include "engine/EffectState.h"
#include "engine/FileProblem.h"
#include "engine/FramePipeline.h"
#include "engine/HdCameraFeed.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/filters/CompressorCatalogue.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/MediaType.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

// Names the filters get in the graph. "Deivece", "Filer" and the two spaces around "VKI" are
// spelt as the graphs have always named them (diagnostics and tests match them): keep them.
constexpr const char* kVideoCaptureName = "video capture";
constexpr const char* kAudioDeviceName = "Audio Deivece";
constexpr const char* kSampleGrabberName = "SampleGrabber";
constexpr const char* kColorConversionName = "Color Conversion";
constexpr const char* kOverlayFilterName = "Overlay Filer";
constexpr const char* kProxyTransName = "OpenCV ProxyTrans Filer";
constexpr const char* kBmpOverlayName = "BmpOverlayFiler";
constexpr const char* kBackgroundBlurName = "Background Blur";
constexpr const char* kRenderName = "Render";
constexpr const char* kMp3CodecName = "Mp3 Codec";
constexpr const char* kMpeg4CodecName = "Microsoft MPEG-4  VKI  Codec";

// The sample rate the MP3 encoder is asked for.
constexpr int kMp3SamplesPerSec = 11000;

// The devices of a category with their friendly names, in the enumerator's order (a device
// without a name still takes a position), the virtual camera left out when asked. E_FAIL when
// there is no enumerator or no device of the category at all.
struct NamedDevice {
    std::string name;
    std::shared_ptr<IMoniker> moniker;
};

HRESULT EnumerateDevices(const ClassRegistry& registry, std::string_view category,
                         bool skipVirtualCamera, std::vector<NamedDevice>* devices) {
    std::shared_ptr<ICreateDevEnum> enumerator;
    if (FAILED(registry.CreateInstance(CLSID_SystemDeviceEnum, &enumerator)) || !enumerator)
        return E_FAIL;
    MonikerList monikers;
    if (enumerator->CreateClassEnumerator(category, &monikers) != S_OK)
        return E_FAIL;
    for (std::shared_ptr<IMoniker>& moniker : monikers) {
        std::shared_ptr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(&bag)) || !bag)
            continue;
        std::string name;
        (void)bag->Read("FriendlyName", &name); // a device without a name is listed empty
        if (skipVirtualCamera && name == kVirtualCameraName)
            continue;
        devices->push_back({std::move(name), std::move(moniker)});
    }
    return S_OK;
}

} // namespace

CaptureEngine::CaptureEngine(int captureWidth, int captureHeight, int framesPerSecond,
                             CaptureEngineOwner* owner, const ClassRegistry& registry)
    : captureWidth_(captureWidth), captureHeight_(captureHeight), framesPerSecond_(framesPerSecond),
      owner_(owner), registry_(registry), self_(std::make_shared<CaptureEngine*>(this)) {
    ProcessHdCameraFeed().SetFrameRate(framesPerSecond);
}

CaptureEngine::~CaptureEngine() {
    // Posted tasks that have not run yet see the engine gone.
    self_.reset();
    (void)ReleaseGraph(); // always S_OK: the graph is stopped and released whatever happens
    // The graph is in NULL: no frame is being processed while the feed closes.
    CloseVirtualCameraFeed();
    CloseHdCameraFeed();
    mediaControl_.reset();
    colorConverter_.reset();
    audioSource_.reset();
    mp3Encoder_.reset();
    asfWriter_.reset();
    mediaWriter_.reset();
    videoEncoder_.reset();
}

// ---------------------------------------------------------------------------------------------
// Building

HRESULT CaptureEngine::BuildGraph(PreviewSurface* previewWindow, void* /*mainWindow*/,
                                  int videoDevicePosition, int audioDevicePosition) {
    // 1. Graph and builder.
    if (FAILED(registry_.CreateInstance(CLSID_FilterGraph, &graph_)) ||
        FAILED(registry_.CreateInstance(CLSID_CaptureGraphBuilder2, &captureBuilder_)))
        return E_FAIL;
    if (FAILED(captureBuilder_->SetFiltergraph(graph_)))
        return E_FAIL;
    WatchGraphEvents();

    // 2. Sample Grabber with the snapshot callback.
    if (SUCCEEDED(registry_.CreateInstance(CLSID_SampleGrabber, &sampleGrabber_)) &&
        sampleGrabber_) {
        if (auto grabber = std::dynamic_pointer_cast<ISampleGrabber>(sampleGrabber_)) {
            MediaType type;
            type.majorType = MEDIATYPE_Video;
            type.subtype = MEDIASUBTYPE_RGB24;
            if (grabber->SetMediaType(type) == E_FAIL)
                return E_FAIL;
            snapshotGrabber_ = std::make_unique<SnapshotGrabber>();
            std::weak_ptr<CaptureEngine*> weak = self_;
            CaptureEngineOwner* target = owner_;
            if (target) {
                // Streaming thread: hand the outcome to the owner's thread.
                snapshotGrabber_->SetOutcomeCallback(
                    [weak, target](const SnapshotOutcome& outcome) {
                        target->PostToOwnerThread([weak, target, outcome] {
                            if (weak.lock())
                                target->OnSnapshotTaken(outcome);
                        });
                    });
            }
            if (grabber->SetBufferSamples(false) == E_FAIL ||
                grabber->SetOneShot(false) == E_FAIL ||
                grabber->SetCallback(snapshotGrabber_.get(), 1) == E_FAIL)
                return E_FAIL;
        }
        if (FAILED(graph_->AddFilter(sampleGrabber_, kSampleGrabberName)))
            return E_FAIL;
    } else {
        sampleGrabber_.reset();
    }

    // 3. The video device.
    if (FAILED(BindVideoDevice(videoDevicePosition)))
        return kNoVideoDevice;

    // 4. Run control and video window of the graph.
    mediaControl_ = std::dynamic_pointer_cast<IMediaControl>(graph_);
    videoWindow_ = std::dynamic_pointer_cast<IVideoWindow>(graph_);
    if (!mediaControl_ || !videoWindow_)
        return E_FAIL;

    // 5. Color Space Converter.
    if (SUCCEEDED(registry_.CreateInstance(CLSID_Colour, &colorConverter_)) && colorConverter_) {
        if (FAILED(graph_->AddFilter(colorConverter_, kColorConversionName)))
            return E_FAIL;
    } else {
        colorConverter_.reset();
    }
    // The background blur right after it: what the effect filters draw stays sharp. Optional:
    // without it the converter feeds the effect chain directly.
    if (SUCCEEDED(registry_.CreateInstance(CLSID_BackgroundBlurFilter, &backgroundBlurFilter_)) &&
        backgroundBlurFilter_) {
        // S_OK whenever the filter has its element, which Create guarantees.
        if (auto control = std::dynamic_pointer_cast<BackgroundBlurControl>(backgroundBlurFilter_))
            (void)control->SetSwitch(&ProcessEffectState().backgroundBlurOn);
        if (FAILED(graph_->AddFilter(backgroundBlurFilter_, kBackgroundBlurName)))
            backgroundBlurFilter_.reset();
    } else {
        backgroundBlurFilter_.reset();
    }

    // 6. The MP3 compressor, which every engine needs.
    if (AddMp3Encoder() == E_FAIL)
        return E_FAIL;

    // 7.
    previewWindow_ = previewWindow;

    // 8. Overlay Filer, passing frames through (mode 2).
    if (SUCCEEDED(registry_.CreateInstance(CLSID_OverlayFilter, &overlayFilter_)) &&
        overlayFilter_) {
        if (auto control = std::dynamic_pointer_cast<OverlayFilterControl>(overlayFilter_))
            control->SetMode(2);
        graph_->AddFilter(overlayFilter_, kOverlayFilterName);
    } else {
        overlayFilter_.reset();
    }

    // 9. ProxyTrans, calling FrameCallback on every frame.
    if (SUCCEEDED(registry_.CreateInstance(CLSID_ProxyTransFilter, &proxyTransFilter_)) &&
        proxyTransFilter_) {
        if (auto control = std::dynamic_pointer_cast<ProxyTransControl>(proxyTransFilter_))
            control->RegisterCallback(&FrameCallback, 0);
        graph_->AddFilter(proxyTransFilter_, kProxyTransName);
    } else {
        proxyTransFilter_.reset();
    }

    // 10. BmpOverlayFiler; its control is kept for the effect pages.
    if (SUCCEEDED(registry_.CreateInstance(CLSID_BmpOverlayFilter, &bmpOverlayFilter_)) &&
        bmpOverlayFilter_) {
        bmpOverlayControl_ = std::dynamic_pointer_cast<BmpOverlayControl>(bmpOverlayFilter_);
        graph_->AddFilter(bmpOverlayFilter_, kBmpOverlayName);
    } else {
        bmpOverlayFilter_.reset();
    }

    // 11. The audio device.
    return FAILED(BindAudioDevice(audioDevicePosition)) ? kNoAudioDevice : kVideoAndAudio;
}

HRESULT CaptureEngine::BindDevice(std::string_view category, int position, DeviceList* list,
                                  bool skipVirtualCamera, FilterPtr* device) {
    if (list)
        list->Clear();
    std::vector<NamedDevice> devices;
    if (FAILED(EnumerateDevices(registry_, category, skipVirtualCamera, &devices)))
        return E_FAIL; // no device of this kind at all
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        if (n == position)
            (void)devices[i].moniker->BindToObject(device); // unbound: *device stays empty
        if (list)
            list->Insert(n - 1, devices[i].name);
    }
    if (list)
        list->Select(position - 1);
    return S_OK;
}

std::vector<std::string> CaptureEngine::ListDeviceNames(const ClassRegistry& registry, bool video) {
    std::vector<NamedDevice> devices;
    (void)EnumerateDevices(registry, // no enumerator or no device: an empty list
                           video ? CLSID_VideoInputDeviceCategory : CLSID_AudioInputDeviceCategory,
                           video, &devices);
    std::vector<std::string> names;
    for (NamedDevice& device : devices)
        names.push_back(std::move(device.name));
    return names;
}

std::vector<OfferedMode> CaptureEngine::ListVideoModes(const ClassRegistry& registry,
                                                       int position) {
    std::vector<NamedDevice> devices;
    std::vector<OfferedMode> modes;
    if (position < 1 ||
        FAILED(EnumerateDevices(registry, CLSID_VideoInputDeviceCategory, true, &devices)) ||
        position > static_cast<int>(devices.size()))
        return modes;
    FilterPtr device;
    if (FAILED(devices[static_cast<std::size_t>(position - 1)].moniker->BindToObject(&device)))
        return modes;
    if (auto config = std::dynamic_pointer_cast<IAMStreamConfig>(device)) {
        if (config->GetOfferedModes(kDefaultVideoMode, &modes) != S_OK)
            modes.clear();
    }
    return modes;
}

HRESULT CaptureEngine::BindVideoDevice(int position) {
    HRESULT hr = BindDevice(CLSID_VideoInputDeviceCategory, position,
                            owner_ ? &owner_->VideoDeviceList() : nullptr, true, &videoSource_);
    if (FAILED(hr))
        return hr;
    if (FAILED(graph_->AddFilter(videoSource_, kVideoCaptureName)))
        return E_FAIL; // also when no device took the position

    // Ask for the capture mode; what the device settles on is the engine's negotiated mode.
    std::shared_ptr<IAMStreamConfig> config;
    MediaType own;
    negotiatedMode_ = VideoMode{0, 0, 0};
    if (SUCCEEDED(captureBuilder_->FindInterface(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video,
                                                 videoSource_, &config)) &&
        SUCCEEDED(config->GetFormat(&own)))
        NegotiateVideoMode(*config, own);
    GST_INFO("capture mode %d x %d at %d frames per second (asked %d x %d at %d)",
             negotiatedMode_.width, negotiatedMode_.height, negotiatedMode_.framesPerSecond,
             captureWidth_, captureHeight_, framesPerSecond_);
    // The HD block tells its readers the rate the camera really runs at.
    if (negotiatedMode_.framesPerSecond > 0)
        ProcessHdCameraFeed().SetFrameRate(negotiatedMode_.framesPerSecond);
    return S_OK;
}

void CaptureEngine::NegotiateVideoMode(IAMStreamConfig& config, const MediaType& own) {
    const VideoMode requested{captureWidth_, captureHeight_, framesPerSecond_};
    auto ask = [&](VideoMode mode, bool compressed) {
        MediaType type = own;
        type.formatType = FORMAT_VideoInfo;
        if (compressed)
            type.subtype = MEDIASUBTYPE_MJPG;
        else if (SameId(type.subtype, MEDIASUBTYPE_MJPG))
            type.subtype.clear(); // any raw format of that mode
        type.video.width = mode.width;
        type.video.height = mode.height;
        type.video.sizeImage =
            DibStride(type.video.width, type.video.bitCount) * std::abs(type.video.height);
        type.video.avgTimePerFrame =
            mode.framesPerSecond > 0 ? kUnitsPerSecond / mode.framesPerSecond : 0;
        if (config.SetFormat(type) != S_OK)
            return false;
        negotiatedMode_ = mode;
        return true;
    };
    // Exactly as asked (the device's own raw format, any raw one, else its JPEG pictures).
    if (ask(requested, false))
        return;
    std::vector<OfferedMode> modes;
    if (config.GetOfferedModes(requested, &modes) == S_OK) {
        const ModeChoice choice = ChooseVideoMode(modes, requested);
        if (choice.found &&
            ask({choice.mode.width, choice.mode.height, choice.mode.framesPerSecond},
                choice.mode.compressed))
            return;
    }
    // The device keeps its own format: the mode is what it says it produces.
    MediaType current;
    if (SUCCEEDED(config.GetFormat(&current)) && current.video.width > 0) {
        const std::int64_t frame = current.video.avgTimePerFrame;
        negotiatedMode_ = {current.video.width, std::abs(current.video.height),
                           frame > 0 ? static_cast<int>((kUnitsPerSecond + frame / 2) / frame) : 0};
    }
}

HRESULT CaptureEngine::BindAudioDevice(int position) {
    HRESULT hr = BindDevice(CLSID_AudioInputDeviceCategory, position,
                            owner_ ? &owner_->AudioDeviceList() : nullptr, false, &audioSource_);
    if (FAILED(hr))
        return hr;
    return FAILED(graph_->AddFilter(audioSource_, kAudioDeviceName)) ? E_FAIL : S_OK;
}

HRESULT CaptureEngine::AddCompressor(std::string_view category,
                                     std::initializer_list<std::string_view> names,
                                     const char* filterName, FilterPtr* compressor) {
    std::shared_ptr<ICreateDevEnum> enumerator;
    if (!graph_ || FAILED(registry_.CreateInstance(CLSID_SystemDeviceEnum, &enumerator)))
        return E_FAIL;
    MonikerList monikers;
    if (enumerator->CreateClassEnumerator(category, &monikers) != S_OK)
        return E_FAIL;
    for (const std::shared_ptr<IMoniker>& moniker : monikers) {
        std::shared_ptr<IPropertyBag> bag;
        std::string name;
        if (FAILED(moniker->BindToStorage(&bag)) || !bag ||
            FAILED(bag->Read("FriendlyName", &name)))
            continue;
        bool wanted = false;
        for (std::string_view n : names)
            wanted = wanted || name == n;
        if (!wanted)
            continue;
        if (FAILED(moniker->BindToObject(compressor)) ||
            FAILED(graph_->AddFilter(*compressor, filterName)))
            return E_FAIL;
        return S_OK;
    }
    return E_FAIL; // no compressor of that name is installed
}

HRESULT CaptureEngine::AddMp3Encoder() {
    if (FAILED(AddCompressor(CLSID_AudioCompressorCategory, {"MPEG Layer-3"}, kMp3CodecName,
                             &mp3Encoder_)))
        return E_FAIL;
    PinPtr out;
    if (SUCCEEDED(GetPin(mp3Encoder_, PinDirection::Output, &out))) {
        if (auto config = QueryPinInterface<IAMStreamConfig>(out)) {
            MediaType type;
            if (SUCCEEDED(config->GetFormat(&type))) {
                // Not a rate MPEG audio has: the encoder refuses it and keeps its own.
                type.audio.samplesPerSec = kMp3SamplesPerSec;
                config->SetFormat(type);
            }
        }
    }
    return S_OK;
}

HRESULT CaptureEngine::AddMpeg4Encoder() {
    if (FAILED(AddCompressor(CLSID_VideoCompressorCategory,
                             {"Microsoft MPEG-4  VKI  Codec V1", "Microsoft MPEG-4 Video Codec V1"},
                             kMpeg4CodecName, &videoEncoder_)))
        return E_FAIL;
    // The encoder's own rate is for 320 x 240 at 15; larger modes get it scaled.
    (void)SetVideoCompressorBitrate(videoEncoder_,
                                    ScaleBitrateToMode(kMpeg4BitsPerSecond, RecordingMode()));
    return S_OK;
}

VideoMode CaptureEngine::RecordingMode() const {
    if (negotiatedMode_.width > 0 && negotiatedMode_.height > 0 &&
        negotiatedMode_.framesPerSecond > 0)
        return negotiatedMode_;
    return requestedMode();
}

// ---------------------------------------------------------------------------------------------
// Pins and the preview chain

HRESULT CaptureEngine::GetUnconnectedPin(const FilterPtr& filter, PinDirection direction,
                                         PinPtr* pin) {
    if (!pin)
        return E_POINTER;
    pin->reset();
    if (!filter)
        return E_FAIL; // a filter that could not be created: its chain cannot be connected
    std::vector<PinPtr> pins;
    HRESULT hr = EnumPins(filter, &pins);
    if (FAILED(hr))
        return hr;
    for (const PinPtr& p : pins) {
        if (p->QueryDirection() == direction && FAILED(p->ConnectedTo(nullptr))) {
            *pin = p;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT CaptureEngine::GetPin(const FilterPtr& filter, PinDirection direction, PinPtr* pin) {
    if (!pin)
        return E_POINTER;
    pin->reset();
    if (!filter)
        return E_FAIL;
    std::vector<PinPtr> pins;
    HRESULT hr = EnumPins(filter, &pins);
    if (FAILED(hr))
        return hr;
    for (const PinPtr& p : pins) {
        if (p->QueryDirection() == direction) {
            *pin = p;
            return S_OK;
        }
    }
    return E_FAIL;
}

bool CaptureEngine::ConnectThroughBlur(const FilterPtr& up, const FilterPtr& down) {
    if (!backgroundBlurFilter_)
        return ConnectFilters(up, down);
    return ConnectFilters(up, backgroundBlurFilter_) && ConnectFilters(backgroundBlurFilter_, down);
}

bool CaptureEngine::ConnectFilters(const FilterPtr& up, const FilterPtr& down) {
    PinPtr out;
    PinPtr in;
    if (GetUnconnectedPin(up, PinDirection::Output, &out) == E_FAIL)
        return false;
    if (GetUnconnectedPin(down, PinDirection::Input, &in) == E_FAIL)
        return false;
    return graph_->Connect(out, in) != E_FAIL;
}

HRESULT CaptureEngine::ConnectPreview() {
    if (!graph_)
        return E_FAIL;
    if (!ConnectFilters(videoSource_, colorConverter_) ||
        !ConnectThroughBlur(colorConverter_, bmpOverlayFilter_) ||
        !ConnectFilters(bmpOverlayFilter_, proxyTransFilter_) ||
        !ConnectFilters(proxyTransFilter_, overlayFilter_) ||
        !ConnectFilters(overlayFilter_, sampleGrabber_))
        return E_FAIL;

    FilterPtr renderer;
    if (SUCCEEDED(registry_.CreateInstance(CLSID_VideoRenderer, &renderer)) && renderer)
        graph_->AddFilter(renderer, kRenderName);
    else
        renderer.reset();
    if (!ConnectFilters(sampleGrabber_, renderer))
        return E_FAIL;

    (void)PlaceVideoWindow(); // always S_OK; a graph without a window has nothing to place
    return S_OK;
}

HRESULT CaptureEngine::PlaceVideoWindow() {
    if (!videoWindow_)
        return S_OK;
    const long width = previewWindow_ ? previewWindow_->ClientWidth() : 0;
    const long height = previewWindow_ ? previewWindow_->ClientHeight() : 0;
    // Stretched over the whole preview area, whatever its aspect.
    videoWindow_->put_Left(0);
    videoWindow_->put_Top(0);
    videoWindow_->put_Width(width);
    videoWindow_->put_Height(height);
    videoWindow_->put_Owner(previewWindow_);
    videoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    videoWindow_->put_MessageDrain(previewWindow_);
    videoWindow_->SetWindowForeground(true);
    videoWindow_->put_Visible(true);
    return S_OK;
}

HRESULT CaptureEngine::EnterFullScreen() {
    if (videoWindow_)
        videoWindow_->put_FullScreenMode(true);
    return S_OK;
}

HRESULT CaptureEngine::LeaveFullScreen() {
    if (videoWindow_)
        videoWindow_->put_FullScreenMode(false);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Running and stopping

HRESULT CaptureEngine::Run() {
    if (!mediaControl_)
        return E_FAIL;
    if (FAILED(mediaControl_->Run()))
        return E_FAIL;
    StartFolderWatch(); // a recording's only
    return S_OK;
}

void CaptureEngine::WatchGraphEvents() {
    auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph_);
    if (!events)
        return;
    std::weak_ptr<CaptureEngine*> weak = self_;
    CaptureEngineOwner* target = owner_;
    auto reported = errorReported_;
    // Runs on the thread that posted the message: only hand the first error over.
    events->SetNotifyCallback([weak, target, reported](const GraphEvent& event) {
        if (event.code == GraphEvent::Code::FramesDropped && target) {
            // The graph posts this once per run: a slow disk, said once.
            std::string message = event.message;
            target->PostToOwnerThread([weak, target, message] {
                if (weak.lock())
                    target->OnRecordingFramesDropped(message);
            });
            return;
        }
        if (event.code != GraphEvent::Code::ErrorAbort || !target || reported->exchange(true))
            return;
        std::string message =
            event.source.empty() ? event.message : event.source + ": " + event.message;
        const int systemError = event.systemError;
        target->PostToOwnerThread([weak, message, systemError] {
            if (auto engine = weak.lock())
                (*engine)->OnGraphError(message, systemError);
        });
    });
}

void CaptureEngine::OnGraphError(const std::string& message, int systemError) {
    // Owner thread: stop the whole graph (every streaming thread ends), then tell the owner;
    // an owner that stops it off its thread (DrainAndStop on a worker) is told at once.
    if (mediaControl_ && !(owner_ && owner_->StopsFailedGraphItself()))
        mediaControl_->Stop();
    StopFolderWatch();
    // What went wrong with a recording's file, in the studio's words with the folder
    // ("磁盘空间不足（/home/ann/Videos）"); the file keeps what was written (the marker's finish
    // mends it when the engine goes).
    std::string reason = message;
    if (systemError != 0 && !recordFile_.empty()) {
        const std::size_t slash = recordFile_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : recordFile_.substr(0, slash);
        reason = FileProblemText(ClassifyFileError(systemError), systemError) + "（" + folder + "）";
    }
    if (owner_)
        owner_->OnCaptureError(reason);
}

void CaptureEngine::StartFolderWatch() {
    if (recordFile_.empty() || folderWatch_.joinable())
        return;
    {
        std::lock_guard lock(folderWatchMutex_);
        folderWatchStop_ = false;
    }
    // Taken here, on the owner's thread: DetachFromOwner may drop self_ while the watch runs.
    std::weak_ptr<CaptureEngine*> weak = self_;
    CaptureEngineOwner* target = owner_;
    auto reported = errorReported_;
    folderWatch_ = std::thread([this, weak, target, reported] {
        const std::size_t slash = recordFile_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : recordFile_.substr(0, slash);
        std::unique_lock lock(folderWatchMutex_);
        while (!folderWatchWake_.wait_for(lock, std::chrono::milliseconds(500),
                                          [this] { return folderWatchStop_; })) {
            int problem = 0;
            struct stat info {};
            if (::stat(recordFile_.c_str(), &info) != 0)
                problem = errno == ENOENT || errno == ENOTDIR ? ENOENT : errno;
            else if (::access(folder.c_str(), W_OK) != 0 && errno == EROFS)
                problem = EROFS;
            if (problem != 0) {
                if (target && !reported->exchange(true)) {
                    target->PostToOwnerThread([weak, problem] {
                        if (auto engine = weak.lock())
                            (*engine)->OnGraphError("the recording's file is gone", problem);
                    });
                }
                return;
            }
        }
    });
}

void CaptureEngine::StopFolderWatch() {
    {
        std::lock_guard lock(folderWatchMutex_);
        folderWatchStop_ = true;
    }
    folderWatchWake_.notify_all();
    if (folderWatch_.joinable() && folderWatch_.get_id() != std::this_thread::get_id())
        folderWatch_.join();
}

void CaptureEngine::DetachFromOwner() {
    // Tasks already posted to the owner's thread find the engine gone.
    self_.reset();
    if (auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph_))
        events->SetNotifyCallback(nullptr);
    if (snapshotGrabber_)
        snapshotGrabber_->SetOutcomeCallback(nullptr);
    if (videoWindow_) {
        videoWindow_->put_Visible(false);
        videoWindow_->put_Owner(nullptr); // waits for a frame being handed to the surface
    }
}

HRESULT CaptureEngine::DrainAndStop() {
    // Any thread: the graph's Stop sends end of stream to a graph that writes a file and waits
    // for it (bounded), then takes the pipeline to NULL.
    StopFolderWatch();
    const HRESULT hr = mediaControl_ ? mediaControl_->Stop() : S_OK;
    recordingMarker_.Finish(); // the file is closed: mend what a write error left, unmark it
    return hr;
}

HRESULT CaptureEngine::ReleaseGraph() {
    if (auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph_))
        events->SetNotifyCallback(nullptr);
    // Returns once the pipeline is in NULL: no streaming thread calls the grabber any more.
    StopFolderWatch();
    if (mediaControl_)
        mediaControl_->Stop();
    recordingMarker_.Finish(); // the file is closed: mend what a write error left, unmark it
    if (videoWindow_) {
        videoWindow_->put_Visible(false);
        videoWindow_->put_Owner(nullptr);
    }
    if (auto grabber = std::dynamic_pointer_cast<ISampleGrabber>(sampleGrabber_))
        grabber->SetCallback(nullptr, 1);
    if (snapshotGrabber_) {
        snapshotGrabber_->SetOutcomeCallback(nullptr);
        snapshotGrabber_->Release();
    }
    overlayFilter_.reset();
    bmpOverlayFilter_.reset();
    bmpOverlayControl_.reset();
    backgroundBlurFilter_.reset();
    proxyTransFilter_.reset();
    videoWindow_.reset();
    videoSource_.reset();
    sampleGrabber_.reset();
    // The grabber no longer refers to the callback object: dispose of it.
    snapshotGrabber_.reset();
    captureBuilder_.reset();
    graph_.reset();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Commands of the window and the effect pages

void CaptureEngine::RequestSnapshot(const std::string& folder, int photoWidth, int photoHeight) {
    if (snapshotGrabber_)
        snapshotGrabber_->Request(folder, photoWidth, photoHeight);
}

HRESULT CaptureEngine::ClearOverlay(int command, int arg1, int arg2, int arg3, int arg4) {
    if (!bmpOverlayControl_)
        return E_POINTER;
    return bmpOverlayControl_->ClearOverlay(command, arg1, arg2, arg3, arg4);
}

HRESULT CaptureEngine::ShowOverlayPicture(int command, const std::uint8_t* picture) {
    if (!bmpOverlayControl_)
        return E_POINTER;
    return bmpOverlayControl_->ShowOverlayPicture(command, picture);
}

void CaptureEngine::ToggleFaceDetection() {
    ProcessEffectState().ToggleFaceDetection();
}
void CaptureEngine::SetColorAdjustOn(int value) {
    ProcessEffectState().SetColorAdjustOn(value);
}
void CaptureEngine::SetLightnessShift(int value) {
    ProcessEffectState().SetLightnessShift(value);
}
void CaptureEngine::SetSaturationShift(int value) {
    ProcessEffectState().SetSaturationShift(value);
}
void CaptureEngine::SetBlueOffset(int value) {
    ProcessEffectState().SetBlueOffset(value);
}
void CaptureEngine::SetGreenOffset(int value) {
    ProcessEffectState().SetGreenOffset(value);
}
void CaptureEngine::SetRedOffset(int value) {
    ProcessEffectState().SetRedOffset(value);
}
void CaptureEngine::SetBackgroundBlur(int value) {
    ProcessEffectState().SetBackgroundBlurOn(value);
}

} // namespace kelo
