// CaptureEngine: owner of one filter graph. It lists the capture devices into its owner's two
// device lists, binds the chosen video and audio devices, creates the Sample Grabber, the Color
// Space Converter and the three effect filters, connects them into the preview chain, runs the
// graph and places the renderer's video window into the preview surface. A new engine is made
// for every preview start and every recording and destroyed before the next.
//
// Threads: every operation runs on the owner's thread. Frames flow on GStreamer's streaming
// threads from Run until the graph stops; they reach FrameCallback (process-wide state) and the
// SnapshotGrabber, never the engine's fields. Runtime errors of the graph arrive on a streaming
// thread, are posted to the owner's thread, and there stop the graph and go to
// CaptureEngineOwner::OnCaptureError.
//
// Ownership: the engine owns its graph references and its SnapshotGrabber; the destructor stops
// the graph and waits for it to reach NULL before the feed is closed and the grabber disposed of.
#pragma once

#include "engine/CaptureEngineOwner.h"
#include "engine/RecordKind.h"
#include "engine/RecordingRepair.h"
#include "engine/SnapshotGrabber.h"
#include "platform/contracts/VideoMode.h"
#include "platform/graph/ClassRegistry.h"
#include "platform/graph/GraphInterfaces.h"
#include "platform/graph/Pin.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <memory>
#include <string>
#include <vector>

namespace kelo {

class BmpOverlayControl;
class PreviewSurface;

// The device that the device lists leave out: the studio's own virtual camera.
inline constexpr const char* kVirtualCameraName = "Kelo Virtual Camera";

class CaptureEngine {
public:
    // BuildGraph results besides E_FAIL.
    static constexpr HRESULT kNoVideoDevice = 0;
    static constexpr HRESULT kNoAudioDevice = 1;
    static constexpr HRESULT kVideoAndAudio = 2;

    // owner: gives the device lists and receives errors; it must outlive the engine (null: no
    // lists, errors only stop the graph). registry: makes every component; it must outlive the
    // engine.
    CaptureEngine(int captureWidth, int captureHeight, int framesPerSecond,
                  CaptureEngineOwner* owner, const ClassRegistry& registry);
    // ReleaseGraph (the graph reaches NULL), then the feed's close step, then the rest.
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Device positions are 1-based. mainWindow is not used. Returns 0 (no usable video device),
    // 1 (built, no audio device), 2 (built with audio) or E_FAIL.
    [[nodiscard]] HRESULT BuildGraph(PreviewSurface* previewWindow, void* mainWindow,
                                     int videoDevicePosition, int audioDevicePosition);
    [[nodiscard]] HRESULT ConnectPreview();
    [[nodiscard]] HRESULT Run();
    [[nodiscard]] HRESULT ReleaseGraph();
    [[nodiscard]] HRESULT PlaceVideoWindow();
    // A stop that does not hold up the owner thread while a recording drains (which may take
    // seconds): DetachFromOwner on the owner thread, DrainAndStop once on any one thread while
    // nothing else uses the engine, then destruction on the owner thread, which no longer waits.
    // After DetachFromOwner no runtime error or photo outcome reaches the owner (not even one
    // already posted), and the video window has left its surface.
    void DetachFromOwner();
    // End of stream first (files written so far are completed), then the graph reaches NULL.
    [[nodiscard]] HRESULT DrainAndStop();
    [[nodiscard]] HRESULT EnterFullScreen();
    [[nodiscard]] HRESULT LeaveFullScreen();

    // folder ends with '/'; the next frame becomes a photo of width x height in it.
    void RequestSnapshot(const std::string& folder, int photoWidth, int photoHeight);

    // The names the two device lists show at this moment, in list order (the video list leaves
    // out the virtual camera, as BuildGraph's lists do). Owner thread.
    static std::vector<std::string> ListDeviceNames(const ClassRegistry& registry, bool video);
    // The modes the video device at `position` (1-based, as BuildGraph counts) offers; empty
    // when there is no such device or it takes any mode. Owner thread (binds the device
    // without opening it).
    static std::vector<OfferedMode> ListVideoModes(const ClassRegistry& registry, int position);

    // Forwarded to the BmpOverlayFiler; E_POINTER (and nothing done) while it is missing.
    [[nodiscard]] HRESULT ClearOverlay(int command, int arg1, int arg2, int arg3, int arg4);
    [[nodiscard]] HRESULT ShowOverlayPicture(int command, const std::uint8_t* picture);

    // EffectState setters: they change the process-wide state, not this engine.
    void ToggleFaceDetection();
    void SetColorAdjustOn(int value);
    void SetLightnessShift(int value);
    void SetSaturationShift(int value);
    void SetBlueOffset(int value);
    void SetGreenOffset(int value);
    void SetRedOffset(int value);
    // The background blur's switch (0 off, 1 on), read by its filter once per frame.
    void SetBackgroundBlur(int value);

    // The first unconnected pin of the direction (a tee's or muxer's free pin is a new request
    // pin). E_FAIL when there is none or no filter.
    [[nodiscard]] HRESULT GetUnconnectedPin(const FilterPtr& filter, PinDirection direction,
                                            PinPtr* pin);
    // The first pin of the direction, connected or not. E_FAIL when there is none.
    [[nodiscard]] HRESULT GetPin(const FilterPtr& filter, PinDirection direction, PinPtr* pin);

    // The recording graph in place of ConnectPreview (CaptureEngineRecording.cpp): the effect
    // chain, a Smart Tee splitting the processed video into the preview and the file, and the
    // file branch of the kind, written into `folder` under the local time. 0 or E_FAIL; what was
    // connected before a failing step stays in the graph.
    [[nodiscard]] HRESULT BuildRecordGraph(RecordKind kind, const std::string& folder);
    // Adds the ASF writer for the file, with a profile of the writer's own streams (audio,
    // video or both) and the video stream set to the capture size and rate. 0 or E_FAIL.
    [[nodiscard]] HRESULT ConfigureAsfWriter(const std::string& file, AsfStreams streams);
    // The file the recording graph writes (empty before BuildRecordGraph).
    const std::string& recordFileName() const { return recordFile_; }

    // Compressor look-ups by friendly name: 0 or E_FAIL.
    [[nodiscard]] HRESULT AddMp3Encoder();
    [[nodiscard]] HRESULT AddMpeg4Encoder();

    // The mode the video device was set to by BuildGraph: the one asked for when the device
    // offers it, else the nearest it offers (same aspect, not larger, not faster), else the
    // device's own. Valid after BuildGraph bound a video device (0 x 0 at 0 before, or when
    // the device tells nothing of its format). Owner thread.
    VideoMode negotiatedMode() const { return negotiatedMode_; }
    VideoMode requestedMode() const { return {captureWidth_, captureHeight_, framesPerSecond_}; }
    // What the writers are set up for: the negotiated mode, else (not known) the requested one.
    VideoMode RecordingMode() const;

    // For the recording graphs, tests and diagnostics (borrowed views of the engine's fields).
    const std::shared_ptr<IGraphBuilder>& filterGraph() const { return graph_; }
    const std::shared_ptr<ICaptureGraphBuilder2>& graphBuilder() const { return captureBuilder_; }
    const FilterPtr& videoSourceFilter() const { return videoSource_; }
    const FilterPtr& audioSourceFilter() const { return audioSource_; }
    SnapshotGrabber* snapshotGrabberObject() const { return snapshotGrabber_.get(); }
    PreviewSurface* previewSurface() const { return previewWindow_; }

private:
    [[nodiscard]] HRESULT BindVideoDevice(int position);
    [[nodiscard]] HRESULT BindAudioDevice(int position);
    // Sets the device to the requested mode or the nearest it offers; fills negotiatedMode_.
    void NegotiateVideoMode(IAMStreamConfig& config, const MediaType& own);
    [[nodiscard]] HRESULT BindDevice(std::string_view category, int position, DeviceList* list,
                                     bool skipVirtualCamera, FilterPtr* device);
    [[nodiscard]] HRESULT AddCompressor(std::string_view category,
                                        std::initializer_list<std::string_view> names,
                                        const char* filterName, FilterPtr* compressor);
    // Connects the first free output pin of up to the first free input pin of down; false when
    // a pin search or the connect returned exactly E_FAIL (other failures go on to the next link).
    bool ConnectFilters(const FilterPtr& up, const FilterPtr& down);
    // up -> Background Blur -> down, or up -> down when the blur filter could not be made.
    bool ConnectThroughBlur(const FilterPtr& up, const FilterPtr& down);
    void WatchGraphEvents();
    // systemError: errno behind a writer's failure (0: none known); the owner then hears the
    // studio's words for it and the recording's folder.
    void OnGraphError(const std::string& message, int systemError);
    // A recording's file checked twice a second on a thread of its own: a folder removed or
    // made read-only under a running recording (writes into a removed folder succeed and are
    // lost) is reported as a writer's error. Started by Run, ended by the stop.
    void StartFolderWatch();
    void StopFolderWatch();

    // The capture settings and the owner, then the graph and every filter the engine holds in it.
    int captureWidth_ = 0;
    int captureHeight_ = 0;
    int framesPerSecond_ = 0;
    VideoMode negotiatedMode_{0, 0, 0};
    PreviewSurface* previewWindow_ = nullptr;
    CaptureEngineOwner* owner_ = nullptr;
    std::unique_ptr<SnapshotGrabber> snapshotGrabber_;
    std::shared_ptr<IGraphBuilder> graph_;
    std::shared_ptr<ICaptureGraphBuilder2> captureBuilder_;
    FilterPtr videoSource_;
    FilterPtr audioSource_;
    FilterPtr asfWriter_;
    FilterPtr mediaWriter_; // the MP4, MP3 or WAV writer of a recording graph
    FilterPtr videoEncoder_;
    FilterPtr mp3Encoder_;
    FilterPtr sampleGrabber_;
    FilterPtr overlayFilter_;
    FilterPtr bmpOverlayFilter_;
    std::shared_ptr<BmpOverlayControl> bmpOverlayControl_;
    FilterPtr proxyTransFilter_;
    std::shared_ptr<IMediaControl> mediaControl_;
    std::shared_ptr<IVideoWindow> videoWindow_;
    FilterPtr colorConverter_;
    FilterPtr backgroundBlurFilter_; // the studio's own addition after the converter

    const ClassRegistry& registry_;
    std::string recordFile_;
    // Beside the file while it is written; removed (after mending what a write error left)
    // once the graph has stopped.
    RecordingMarker recordingMarker_;
    std::thread folderWatch_;
    std::mutex folderWatchMutex_;
    std::condition_variable folderWatchWake_;
    bool folderWatchStop_ = false;
    // One error reaches the owner per engine (graph errors and the folder watch share it).
    std::shared_ptr<std::atomic<bool>> errorReported_ = std::make_shared<std::atomic<bool>>(false);
    // Tasks posted to the owner's thread hold a weak reference: they do nothing once the engine
    // is gone.
    std::shared_ptr<CaptureEngine*> self_;
};

} // namespace kelo
