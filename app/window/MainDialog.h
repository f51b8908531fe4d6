// The main window (template 102): a skinned, frameless window with the live preview on the left,
// the capture buttons under it, the two device lists at the top right and the five effect pages
// in a tab control below them. It owns the one CaptureEngine that runs the preview or recording
// graph and replaces it in RestartPreview; the pages only borrow it.
//
// MainDialog.cpp: start-up, RestartPreview, device lists, effect tabs, skin, shut-down.
// MainDialogDevices.cpp: following cameras and microphones that are plugged in or pulled out.
// MainDialogCommands.cpp: the capture commands (snapshot, delay, record, stop, full screen,
// settings, the countdown timer and the keys the window intercepts).
//
// Threads: everything here runs on the window thread, except the engines' slow steps: building
// and starting a graph, draining and stopping one run on the engine worker (EngineWorker), and
// their results come back as queued calls; meanwhile the preview says the camera is opening.
// The engine's streaming threads reach the window only through PostToOwnerThread (queued
// calls) and the preview surface's frame slot.
#pragma once

#include "app/pages/ColorPage.h"
#include "app/pages/EffectPage.h"
#include "app/pages/FaceCoverPage.h"
#include "app/RecordingRepairTask.h"
#include "app/window/DeviceComboList.h"
#include "app/window/EngineWorker.h"
#include "app/window/PreviewSurfaceRelay.h"
#include "engine/CaptureEngine.h"
#include "engine/CaptureEngineOwner.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/DeviceMonitor.h"
#include "platform/system/SoundPlayer.h"
#include "ui/SkinnedDialog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <QElapsedTimer>
#include <QTimer>
#include <string>

class QKeyEvent;
class QLabel;
class QMenu;

namespace kelo {

class ClassRegistry;
class PreviewWidget;
namespace ui {
class SkinnedTabControl;
}

enum class CaptureState : std::int32_t { Idle = 0, Countdown = 1, Recording = 2 };

class MainDialog : public ui::SkinnedDialog, public CaptureEngineOwner {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 102;
    static constexpr int kAboutTemplateId = 100;
    // Controls of template 102.
    static constexpr int kPreviewArea = 1000;
    static constexpr int kStartCommand = 1001;
    static constexpr int kRecordButton = 1002;
    static constexpr int kSnapshotButton = 1004;
    static constexpr int kFullScreenButton = 1005;
    static constexpr int kSettingsButton = 1006;
    static constexpr int kVideoDeviceList = 1009;
    static constexpr int kMinimizeButton = 1014;
    static constexpr int kCloseButton = 1015;
    static constexpr int kAudioDeviceList = 1016;
    static constexpr int kDelayButton = 1017;
    static constexpr int kStopButton = 1018;
    static constexpr int kVideoListLabel = 1020;
    static constexpr int kAudioListLabel = 1021;
    static constexpr int kStatusLabel = 1028;
    static constexpr int kEffectTabs = 1030;
    // The about item of the skin's context menu.
    static constexpr int kAboutCommand = 16;
    // The delayed-snapshot countdown.
    static constexpr int kCountdownTimerId = 1;
    static constexpr int kCountdownPeriodMs = 1000;

    // Effect tabs, in tab order.
    enum EffectTab {
        kColorTab = 0,
        kFrameTab = 1,
        kLightTab = 2,
        kCartoonTab = 3,
        kFaceCoverTab = 4
    };

    // registry: makes every component of the engines; it must outlive the window.
    explicit MainDialog(const ClassRegistry& registry, QWidget* parent = nullptr);
    ~MainDialog() override;

    // --- CaptureEngineOwner (window thread, except PostToOwnerThread) ---
    // The lists an engine fills while it is built on the worker; the window shows them in its
    // combo boxes when the build's result arrives.
    DeviceList& VideoDeviceList() override { return builtVideoList; }
    DeviceList& AudioDeviceList() override { return builtAudioList; }
    // A failed graph is drained and stopped on the engine worker, not on the window thread.
    bool StopsFailedGraphItself() const override { return true; }
    void PostToOwnerThread(std::function<void()> task) override;
    void OnCaptureError(const std::string& message) override;
    void OnSnapshotTaken(const SnapshotOutcome& outcome) override;

    // Retires the engine (if any), builds a new preview engine for the chosen devices on the
    // engine worker, runs it there and, when it runs, hands it to the pages. Returns at once:
    // the preview shows "正在打开摄像头..." meanwhile. Start-up, the device lists, Stop and
    // command 1001 call it.
    void RestartPreview();
    // A camera that sends no frame within this time of its start is reported like a runtime
    // error (with its name), and its engine is stopped; the next device change tries again.
    static constexpr int kFirstFrameDeadlineMs = 5000;
    // Plays the overlay family and effect saved in data.ini; the selected tab stays.
    void RestoreEffect();
    // Follows the devices `monitor` reports from now on (MainDialogDevices.cpp): the lists are
    // refreshed, the chosen entries stay on their devices, the preview starts on a camera that
    // arrives when it had none and stops when its camera goes. Without a monitor the lists
    // change only when the engine is rebuilt.
    void FollowDevices(std::shared_ptr<DeviceMonitor> monitor);

    // --- Capture commands (MainDialogCommands.cpp) ---
    void OnSnapshot();
    void OnDelay();
    void OnRecord();
    void OnStop();
    // The full-screen button and a double-click on the skin.
    void OnFullScreen();
    void OnSettings();
    // Ticks of the window's timers (timer 1: the countdown).
    void OnTimer(int timerId);
    // Every key press and release routed through the window (its own controls and the video
    // window's drained input, also in full screen). True: consumed, it goes no further.
    bool PreTranslateMessage(const QKeyEvent& event);

    // --- State, for the commands and tests ---
    CaptureEngine* Engine() const { return engine.get(); }
    // An engine is being built and started on the worker (the preview says so).
    bool Opening() const { return pendingOpen != nullptr; }
    // The engine runs its graph: a photo can be taken.
    bool EngineRunning() const { return engine && engineRunning && !engineFailed; }
    // The engine worker: tests wait on it; everything slow of an engine runs there.
    EngineWorker& Worker() { return engineWorker; }
    CaptureState State() const { return captureState; }
    int VideoDeviceIndex() const { return videoDeviceIndex; }
    int AudioDeviceIndex() const { return audioDeviceIndex; }
    PreviewWidget* Preview() const { return preview; }
    ui::SkinnedTabControl* EffectTabs() const;
    QLabel* StatusLabel() const;
    QTimer& CountdownTimer() { return countdownTimer; }
    // The shutter's player; a recording's engine being stopped (the preview returns after).
    const SoundPlayer& ShutterSound() const { return shutterSound; }
    bool StoppingRecording() const { return engineWorker.Retiring(); }
    double LastRecordingDrainMilliseconds() const { return engineWorker.LastDrainMilliseconds(); }
    // A device change waits for the end of a countdown or recording.
    bool DeviceRefreshPending() const { return deviceRefreshPending; }
    // The page of an effect tab (0 to 4), or null.
    EnginePage* Page(int tab) const;
    // The overlay page of a family.
    EffectPage& OverlayPage(EffectPageKind kind) const;
    // The skin's context menu (with the about item); owned by the window.
    QMenu* SkinMenu();
    // The text of effect tab 0 to 4, in the language the studio speaks.
    static QString TabText(int tab);
    // A recording's runtime reason from the engine ("磁盘空间不足（FOLDER）"), its words in the
    // language the studio speaks and the folder as it is.
    static QString RecordingFailureReason(const std::string& engineReason);
    // The window region, in client coordinates.
    static QRegion WindowRegion(int clientWidth, int clientHeight);

signals:
    // A runtime error of the engine was reported to the user (after the message box).
    void captureErrorShown(const QString& text);
    // Recordings left unfinished by a crash were mended and named to the user (one line each).
    void recordingsRepaired(const QString& text);

protected:
    void OnInitDialog() override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void accept() override;
    void reject() override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class MainWindowTest; // sets captureState as the commands would

    // The message table: every command of the window's buttons arrives here.
    void OnCommand(int controlId);
    void OnSysCommand(int command);
    void OnVideoDeviceChange(int position);
    void OnAudioDeviceChange(int position);
    void OnEffectTabChange(int tab);
    void OnPreviewInput(const PreviewInput& input);

    // Dialog initialisation steps.
    void SetUpPreview();
    void SetUpDeviceLists();
    void SetUpIconButtons();
    void CreateEffectPages();

    // RestartPreview; an automatic start (a camera that arrived or came back) shows no message
    // box: the user did not ask for it.
    enum class PreviewStart { Asked, Automatic };
    void StartPreview(PreviewStart how);

    // --- Engines built on the worker (MainDialog.cpp) ---
    // One engine being built and started on the worker, and what each step returned. The worker
    // owns it until the window takes the result.
    struct EngineOpening {
        std::unique_ptr<CaptureEngine> engine;
        std::optional<RecordKind> recording; // empty: a preview
        std::string recordFolder;            // ends with '/'
        HRESULT built = E_FAIL;              // BuildGraph
        HRESULT connected = E_FAIL;          // ConnectPreview, or BuildRecordGraph
        HRESULT ran = E_FAIL;                // Run
        std::uint64_t generation = 0;
        long framesBefore = 0;       // frames the preview had seen before this engine ran
        bool runAfterNotice = false; // a missing microphone is said before the preview runs
        bool runDone = false;
    };
    // Builds a new engine (NewEngine, here) and queues its build and start on the worker;
    // `opened` runs with the result unless a newer start, a stop or the close came first.
    void OpenEngine(std::optional<RecordKind> recording, const std::string& recordFolder);
    void OnEngineOpened(const std::shared_ptr<EngineOpening>& opening);
    void OnPreviewOpened(EngineOpening& opening);
    void FinishPreviewStart(HRESULT ran, long framesBefore);
    void OnRecordingOpened(EngineOpening& opening);
    void FinishRecordingStart(EngineOpening& opening);
    // Takes the engine and any engine still opening away from the window: the pages let go at
    // once, the worker stops and destroys them in turn.
    void RetireEngine();
    void CancelOpening();
    // "正在打开摄像头...": the lists and the commands that need an engine wait meanwhile.
    void SetOpeningLook(bool opening);
    // The engine runs: the first-frame deadline starts.
    void WatchFirstFrame(long framesBefore);
    void OnFirstFrameDeadline();

    // --- Devices that come and go (MainDialogDevices.cpp) ---
    // A device chosen in a list, by name and position, so that the choice stays on it when other
    // devices arrive or leave.
    struct DeviceChoice {
        std::string name;     // empty: nothing chosen yet
        int position = 0;     // 1-based, where it was last seen
        bool missing = false; // pulled out: the index is 0 until it comes back
    };
    enum class DeviceFollowUp { None, StartPreview, CameraLost };
    // The monitor's changes, gathered into one call (deviceRefreshTimer).
    void OnDevicesChanged();
    // Fills both lists with the devices there now and moves the indices with their devices.
    DeviceFollowUp FollowDeviceLists();
    // The camera in use is gone: one message (unless its engine reported the error already),
    // the engine stopped off the window thread, the preview black until it comes back.
    void LoseCamera();
    // On the window thread once the worker has stopped a retired engine: device changes that
    // waited for it are followed now.
    void AfterEngineRetired();
    // Records which devices the indices point at after the engine filled the lists.
    void NoteChosenDevices();
    // The engine's negotiated mode in the log and as the preview's tool tip
    // ("1280 × 720, 30 帧/秒"); called by NoteChosenDevices after every BuildGraph.
    void ShowCaptureMode();
    void NoteChoice(DeviceChoice* choice, int controlId, int index);
    // After a recording's engine has drained: the lists as they are now, then the preview.
    void ResumePreviewAfterStop();

    // Every engine, preview or recording, is made here (on the window thread, before its build
    // is queued): in the capture mode stored in data.ini.
    std::unique_ptr<CaptureEngine> NewEngine();
    // The engine's lifetime: no page ever holds an engine that is gone.
    void HandEngineToPages(CaptureEngine* newEngine, bool withFaceCover);
    void DestroyEngine();
    // Close: hide at once, then stop the engine (its drain is bounded, on the worker, waited
    // for here), then end the run.
    void ShutDown();

    const ClassRegistry& registry;

    // The engine, the chosen devices, the capture state and what the commands keep between steps.
    std::unique_ptr<CaptureEngine> engine;
    std::int32_t videoDeviceIndex = 1;
    std::int32_t audioDeviceIndex = 1;
    CaptureState captureState = CaptureState::Idle;
    std::int32_t countdownSeconds = 0;
    bool engineRunning = false;                 // the engine's Run succeeded; cleared when it goes
    std::shared_ptr<EngineOpening> pendingOpen; // the engine the worker is building, if any
    std::uint64_t openGeneration = 0;           // of the latest OpenEngine
    PreviewStart previewStart = PreviewStart::Asked; // of the preview being opened
    std::optional<std::string> openingError;         // a runtime error of the engine being opened
    QTimer firstFrameTimer;
    long framesBeforeRun = 0;
    DeviceNameList builtVideoList; // filled by the engine being built (worker, then window)
    DeviceNameList builtAudioList;
    std::unique_ptr<PreviewSurfaceRelay> previewRelay; // the engines' surface; outlives them
    std::string photoFolder;
    std::string recordFolder;
    std::string settingsPath;
    QTimer countdownTimer; // timer 1

    // The five effect pages: made with the window, so that the first RestartPreview hands them
    // the engine; their windows join the tab control in CreateEffectPages. Declared after the
    // engine: they go first, and they hold no engine by then.
    std::unique_ptr<ColorPage> colorPage;
    std::unique_ptr<EffectPage> framePage;
    std::unique_ptr<EffectPage> lightPage;
    std::unique_ptr<EffectPage> cartoonPage;
    std::unique_ptr<FaceCoverPage> faceCoverPage;

    PreviewWidget* preview = nullptr; // child of the preview area 1000
    DeviceComboList videoList;
    DeviceComboList audioList;
    QMenu* skinMenu = nullptr;
    bool shutDown = false;

    // The key event eventFilter looked at last (a key travels up through several widgets).
    struct KeySeen {
        int type = 0;
        int key = 0;
        unsigned long long timestamp = 0;
        bool autoRepeat = false;
        const void* event = nullptr;
        bool operator==(const KeySeen&) const = default;
    };
    KeySeen lastKeySeen;
    bool lastKeyConsumed = false;

    // --- The capture commands' own parts (MainDialogCommands.cpp) ---
    // A photo's outcome: a failure is shown, a photo written is silent.
    void OnPhotoOutcome(const SnapshotOutcome& outcome);
    // A runtime error while recording: the file so far is kept, the preview returns.
    void OnRecordingError(const std::string& message);
    // Start-up: the record folder's unfinished recordings are mended on a worker.
    void RepairUnfinishedRecordings();
    void RecordingFailed(const QString& reason);
    void SetRecordingLook(bool recording);
    void OnRecordingClock();
    void SetDeviceListsEnabled(bool enabled);

    // Devices that come and go.
    std::shared_ptr<DeviceMonitor> deviceMonitor; // calls from provider threads, queued to us
    QTimer deviceRefreshTimer;                    // gathers a burst of changes into one refresh
    DeviceChoice videoChoice;
    DeviceChoice audioChoice;
    bool cameraAwaited = false;        // the preview waits for a camera (none, or pulled out)
    bool engineFailed = false;         // the engine's runtime error has been shown
    bool deviceRefreshPending = false; // a change seen during a countdown or recording
    bool quietRestart = false;         // the recording ended with an error already shown

    SoundPlayer shutterSound;            // its worker thread plays "snapshot.wav"
    RecordingRepairTask recordingRepair; // mends the recordings a crash left, off the window thread
    QTimer recordingClock;               // refreshes the elapsed time while recording
    QElapsedTimer recordingTime;         // since the recording graph ran
    // Last of the members: it ends first, running what is still queued (a recording completes
    // its file) while everything the engines use is still there.
    EngineWorker engineWorker;
};

} // namespace kelo
