#include "engine/CaptureEngine.h"

#include "effects/EffectFilterControl.h"
#include "engine/EffectState.h"
#include "engine/FramePipeline.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/MediaType.h"

#include <atomic>
#include <cstdlib>
#include <utility>

namespace kelo {

namespace {

// Names the filters get in the graph.
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

} // namespace

CaptureEngine::CaptureEngine(int captureWidth_, int captureHeight_, int framesPerSecond_,
                             CaptureEngineOwner* owner_, const ClassRegistry& registry_)
    : captureWidth(captureWidth_), captureHeight(captureHeight_), framesPerSecond(framesPerSecond_),
      owner(owner_), registry(registry_), self(std::make_shared<CaptureEngine*>(this)) {}

CaptureEngine::~CaptureEngine() {
    // Posted tasks that have not run yet see the engine gone.
    self.reset();
    (void)ReleaseGraph(); // always S_OK: the graph is stopped and released whatever happens
    // The graph is in NULL: no frame is being processed while the feed closes.
    CloseVirtualCameraFeed();
    mediaControl.reset();
    colorConverter.reset();
    audioSource.reset();
    mp3Encoder.reset();
    asfWriter.reset();
    videoEncoder.reset();
}

// ---------------------------------------------------------------------------------------------
// Building

HRESULT CaptureEngine::BuildGraph(PreviewSurface* previewWindow_, void* /*mainWindow*/,
                                  int videoDevicePosition, int audioDevicePosition) {
    // 1. Graph and builder.
    if (FAILED(registry.CreateInstance(CLSID_FilterGraph, &graph)) ||
        FAILED(registry.CreateInstance(CLSID_CaptureGraphBuilder2, &captureBuilder)))
        return E_FAIL;
    if (FAILED(captureBuilder->SetFiltergraph(graph)))
        return E_FAIL;
    WatchGraphEvents();

    // 2. Sample Grabber with the snapshot callback.
    if (SUCCEEDED(registry.CreateInstance(CLSID_SampleGrabber, &sampleGrabber)) && sampleGrabber) {
        if (auto grabber = std::dynamic_pointer_cast<ISampleGrabber>(sampleGrabber)) {
            MediaType type;
            type.majorType = MEDIATYPE_Video;
            type.subtype = MEDIASUBTYPE_RGB24;
            if (grabber->SetMediaType(type) == E_FAIL)
                return E_FAIL;
            snapshotGrabber = std::make_unique<SnapshotGrabber>();
            std::weak_ptr<CaptureEngine*> weak = self;
            CaptureEngineOwner* target = owner;
            if (target) {
                // Streaming thread: hand the outcome to the owner's thread.
                snapshotGrabber->SetOutcomeCallback([weak, target](const SnapshotOutcome& outcome) {
                    target->PostToOwnerThread([weak, target, outcome] {
                        if (weak.lock())
                            target->OnSnapshotTaken(outcome);
                    });
                });
            }
            if (grabber->SetBufferSamples(false) == E_FAIL ||
                grabber->SetOneShot(false) == E_FAIL ||
                grabber->SetCallback(snapshotGrabber.get(), 1) == E_FAIL)
                return E_FAIL;
        }
        if (FAILED(graph->AddFilter(sampleGrabber, kSampleGrabberName)))
            return E_FAIL;
    } else {
        sampleGrabber.reset();
    }

    // 3. The video device.
    if (FAILED(BindVideoDevice(videoDevicePosition)))
        return kNoVideoDevice;

    // 4. Run control and video window of the graph.
    mediaControl = std::dynamic_pointer_cast<IMediaControl>(graph);
    videoWindow = std::dynamic_pointer_cast<IVideoWindow>(graph);
    if (!mediaControl || !videoWindow)
        return E_FAIL;

    // 5. Color Space Converter.
    if (SUCCEEDED(registry.CreateInstance(CLSID_Colour, &colorConverter)) && colorConverter) {
        if (FAILED(graph->AddFilter(colorConverter, kColorConversionName)))
            return E_FAIL;
    } else {
        colorConverter.reset();
    }
    // The background blur right after it: what the effect filters draw stays sharp. Optional:
    // without it the converter feeds the effect chain directly.
    if (SUCCEEDED(registry.CreateInstance(CLSID_BackgroundBlurFilter, &backgroundBlurFilter)) &&
        backgroundBlurFilter) {
        // S_OK whenever the filter has its element, which Create guarantees.
        if (auto control = std::dynamic_pointer_cast<BackgroundBlurControl>(backgroundBlurFilter))
            (void)control->SetSwitch(&ProcessEffectState().backgroundBlurOn);
        if (FAILED(graph->AddFilter(backgroundBlurFilter, kBackgroundBlurName)))
            backgroundBlurFilter.reset();
    } else {
        backgroundBlurFilter.reset();
    }

    // 6. The MP3 compressor, which every engine needs.
    if (AddMp3Encoder() == E_FAIL)
        return E_FAIL;

    // 7.
    previewWindow = previewWindow_;

    // 8. Overlay Filer, passing frames through (mode 2).
    if (SUCCEEDED(registry.CreateInstance(CLSID_OverlayFilter, &overlayFilter)) && overlayFilter) {
        if (auto control = std::dynamic_pointer_cast<OverlayFilterControl>(overlayFilter))
            control->SetMode(2);
        graph->AddFilter(overlayFilter, kOverlayFilterName);
    } else {
        overlayFilter.reset();
    }

    // 9. ProxyTrans, calling FrameCallback on every frame.
    if (SUCCEEDED(registry.CreateInstance(CLSID_ProxyTransFilter, &proxyTransFilter)) &&
        proxyTransFilter) {
        if (auto control = std::dynamic_pointer_cast<ProxyTransControl>(proxyTransFilter))
            control->RegisterCallback(&FrameCallback, 0);
        graph->AddFilter(proxyTransFilter, kProxyTransName);
    } else {
        proxyTransFilter.reset();
    }

    // 10. BmpOverlayFiler; its control is kept for the effect pages.
    if (SUCCEEDED(registry.CreateInstance(CLSID_BmpOverlayFilter, &bmpOverlayFilter)) &&
        bmpOverlayFilter) {
        bmpOverlayControl = std::dynamic_pointer_cast<BmpOverlayControl>(bmpOverlayFilter);
        graph->AddFilter(bmpOverlayFilter, kBmpOverlayName);
    } else {
        bmpOverlayFilter.reset();
    }

    // 11. The audio device.
    return FAILED(BindAudioDevice(audioDevicePosition)) ? kNoAudioDevice : kVideoAndAudio;
}

HRESULT CaptureEngine::BindDevice(std::string_view category, int position, DeviceList* list,
                                  bool skipVirtualCamera, FilterPtr* device) {
    if (list)
        list->Clear();
    std::shared_ptr<ICreateDevEnum> enumerator;
    if (FAILED(registry.CreateInstance(CLSID_SystemDeviceEnum, &enumerator)))
        return E_FAIL;
    MonikerList monikers;
    if (enumerator->CreateClassEnumerator(category, &monikers) != S_OK)
        return E_FAIL; // no device of this kind at all

    int n = 1;
    for (const std::shared_ptr<IMoniker>& moniker : monikers) {
        std::shared_ptr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(&bag)) || !bag)
            continue;
        std::string name;
        bag->Read("FriendlyName", &name);
        if (skipVirtualCamera && name == kVirtualCameraName)
            continue;
        if (n == position)
            moniker->BindToObject(device);
        if (list)
            list->Insert(n - 1, name);
        ++n;
    }
    if (list)
        list->Select(position - 1);
    return S_OK;
}

HRESULT CaptureEngine::BindVideoDevice(int position) {
    HRESULT hr = BindDevice(CLSID_VideoInputDeviceCategory, position,
                            owner ? &owner->VideoDeviceList() : nullptr, true, &videoSource);
    if (FAILED(hr))
        return hr;
    if (FAILED(graph->AddFilter(videoSource, kVideoCaptureName)))
        return E_FAIL; // also when no device took the position

    // Ask for the capture size and rate; a device that refuses keeps its own format.
    std::shared_ptr<IAMStreamConfig> config;
    MediaType type;
    if (SUCCEEDED(captureBuilder->FindInterface(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, videoSource,
                                                &config)) &&
        SUCCEEDED(config->GetFormat(&type))) {
        type.formatType = FORMAT_VideoInfo;
        type.video.width = captureWidth;
        type.video.height = captureHeight;
        type.video.sizeImage =
            DibStride(type.video.width, type.video.bitCount) * std::abs(type.video.height);
        type.video.avgTimePerFrame = framesPerSecond > 0 ? kUnitsPerSecond / framesPerSecond : 0;
        config->SetFormat(type);
    }
    return S_OK;
}

HRESULT CaptureEngine::BindAudioDevice(int position) {
    HRESULT hr = BindDevice(CLSID_AudioInputDeviceCategory, position,
                            owner ? &owner->AudioDeviceList() : nullptr, false, &audioSource);
    if (FAILED(hr))
        return hr;
    return FAILED(graph->AddFilter(audioSource, kAudioDeviceName)) ? E_FAIL : S_OK;
}

HRESULT CaptureEngine::AddCompressor(std::string_view category,
                                     std::initializer_list<std::string_view> names,
                                     const char* filterName, FilterPtr* compressor) {
    std::shared_ptr<ICreateDevEnum> enumerator;
    if (!graph || FAILED(registry.CreateInstance(CLSID_SystemDeviceEnum, &enumerator)))
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
            FAILED(graph->AddFilter(*compressor, filterName)))
            return E_FAIL;
        return S_OK;
    }
    return E_FAIL; // no compressor of that name is installed
}

HRESULT CaptureEngine::AddMp3Encoder() {
    if (FAILED(AddCompressor(CLSID_AudioCompressorCategory, {"MPEG Layer-3"}, kMp3CodecName,
                             &mp3Encoder)))
        return E_FAIL;
    PinPtr out;
    if (SUCCEEDED(GetPin(mp3Encoder, PinDirection::Output, &out))) {
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
    return AddCompressor(CLSID_VideoCompressorCategory,
                         {"Microsoft MPEG-4  VKI  Codec V1", "Microsoft MPEG-4 Video Codec V1"},
                         kMpeg4CodecName, &videoEncoder);
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
    if (!backgroundBlurFilter)
        return ConnectFilters(up, down);
    return ConnectFilters(up, backgroundBlurFilter) && ConnectFilters(backgroundBlurFilter, down);
}

bool CaptureEngine::ConnectFilters(const FilterPtr& up, const FilterPtr& down) {
    PinPtr out;
    PinPtr in;
    if (GetUnconnectedPin(up, PinDirection::Output, &out) == E_FAIL)
        return false;
    if (GetUnconnectedPin(down, PinDirection::Input, &in) == E_FAIL)
        return false;
    return graph->Connect(out, in) != E_FAIL;
}

HRESULT CaptureEngine::ConnectPreview() {
    if (!graph)
        return E_FAIL;
    if (!ConnectFilters(videoSource, colorConverter) ||
        !ConnectThroughBlur(colorConverter, bmpOverlayFilter) ||
        !ConnectFilters(bmpOverlayFilter, proxyTransFilter) ||
        !ConnectFilters(proxyTransFilter, overlayFilter) ||
        !ConnectFilters(overlayFilter, sampleGrabber))
        return E_FAIL;

    FilterPtr renderer;
    if (SUCCEEDED(registry.CreateInstance(CLSID_VideoRenderer, &renderer)) && renderer)
        graph->AddFilter(renderer, kRenderName);
    else
        renderer.reset();
    if (!ConnectFilters(sampleGrabber, renderer))
        return E_FAIL;

    (void)PlaceVideoWindow(); // always S_OK; a graph without a window has nothing to place
    return S_OK;
}

HRESULT CaptureEngine::PlaceVideoWindow() {
    if (!videoWindow)
        return S_OK;
    const long width = previewWindow ? previewWindow->ClientWidth() : 0;
    const long height = previewWindow ? previewWindow->ClientHeight() : 0;
    // Stretched over the whole preview area, whatever its aspect.
    videoWindow->put_Left(0);
    videoWindow->put_Top(0);
    videoWindow->put_Width(width);
    videoWindow->put_Height(height);
    videoWindow->put_Owner(previewWindow);
    videoWindow->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    videoWindow->put_MessageDrain(previewWindow);
    videoWindow->SetWindowForeground(true);
    videoWindow->put_Visible(true);
    return S_OK;
}

HRESULT CaptureEngine::EnterFullScreen() {
    if (videoWindow)
        videoWindow->put_FullScreenMode(true);
    return S_OK;
}

HRESULT CaptureEngine::LeaveFullScreen() {
    if (videoWindow)
        videoWindow->put_FullScreenMode(false);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Running and stopping

HRESULT CaptureEngine::Run() {
    if (!mediaControl)
        return E_FAIL;
    return FAILED(mediaControl->Run()) ? E_FAIL : S_OK;
}

void CaptureEngine::WatchGraphEvents() {
    auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph);
    if (!events)
        return;
    std::weak_ptr<CaptureEngine*> weak = self;
    CaptureEngineOwner* target = owner;
    auto reported = std::make_shared<std::atomic<bool>>(false);
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
        target->PostToOwnerThread([weak, message] {
            if (auto engine = weak.lock())
                (*engine)->OnGraphError(message);
        });
    });
}

void CaptureEngine::OnGraphError(const std::string& message) {
    // Owner thread: stop the whole graph (every streaming thread ends), then tell the owner.
    if (mediaControl)
        mediaControl->Stop();
    if (owner)
        owner->OnCaptureError(message);
}

void CaptureEngine::DetachFromOwner() {
    // Tasks already posted to the owner's thread find the engine gone.
    self.reset();
    if (auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph))
        events->SetNotifyCallback(nullptr);
    if (snapshotGrabber)
        snapshotGrabber->SetOutcomeCallback(nullptr);
    if (videoWindow) {
        videoWindow->put_Visible(false);
        videoWindow->put_Owner(nullptr); // waits for a frame being handed to the surface
    }
}

HRESULT CaptureEngine::DrainAndStop() {
    // Any thread: the graph's Stop sends end of stream to a graph that writes a file and waits
    // for it (bounded), then takes the pipeline to NULL.
    return mediaControl ? mediaControl->Stop() : S_OK;
}

HRESULT CaptureEngine::ReleaseGraph() {
    if (auto events = std::dynamic_pointer_cast<IMediaEventEx>(graph))
        events->SetNotifyCallback(nullptr);
    // Returns once the pipeline is in NULL: no streaming thread calls the grabber any more.
    if (mediaControl)
        mediaControl->Stop();
    if (videoWindow) {
        videoWindow->put_Visible(false);
        videoWindow->put_Owner(nullptr);
    }
    if (auto grabber = std::dynamic_pointer_cast<ISampleGrabber>(sampleGrabber))
        grabber->SetCallback(nullptr, 1);
    if (snapshotGrabber) {
        snapshotGrabber->SetOutcomeCallback(nullptr);
        snapshotGrabber->Release();
    }
    overlayFilter.reset();
    bmpOverlayFilter.reset();
    bmpOverlayControl.reset();
    backgroundBlurFilter.reset();
    proxyTransFilter.reset();
    videoWindow.reset();
    videoSource.reset();
    sampleGrabber.reset();
    // The grabber no longer refers to the callback object: dispose of it.
    snapshotGrabber.reset();
    captureBuilder.reset();
    graph.reset();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Commands of the window and the effect pages

void CaptureEngine::RequestSnapshot(const std::string& folder, int photoWidth, int photoHeight) {
    if (snapshotGrabber)
        snapshotGrabber->Request(folder, photoWidth, photoHeight);
}

HRESULT CaptureEngine::ClearOverlay(int command, int arg1, int arg2, int arg3, int arg4) {
    if (!bmpOverlayControl)
        return E_POINTER;
    return bmpOverlayControl->ClearOverlay(command, arg1, arg2, arg3, arg4);
}

HRESULT CaptureEngine::ShowOverlayPicture(int command, const std::uint8_t* picture) {
    if (!bmpOverlayControl)
        return E_POINTER;
    return bmpOverlayControl->ShowOverlayPicture(command, picture);
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
