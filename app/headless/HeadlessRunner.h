// `kelocam --headless`: the studio without its window, as a background feed of the virtual
// camera, for scripts, and to check the engine end to end. It builds the preview engine exactly
// as the window's RestartPreview does, restores the effects that data.ini restores at start,
// prints the device lists and the outcome on standard error in the window's own words, takes one
// photo on request, and runs until SIGINT or SIGTERM; then it tears the engine down in order (the
// feed ends all zeros). With --record it makes one recording of the given length instead and
// prints the file's path.
//
// Threads: the runner's thread owns a GLib main context and runs its loop; the engine's posted
// tasks (errors, photo outcomes) arrive there as idle sources.
#pragma once

#include "app/headless/HeadlessOverlay.h"
#include "engine/CaptureEngine.h"
#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/DeviceEnumerator.h"
#include "platform/system/Handles.h"

#include <atomic>
#include <glib.h>
#include <memory>
#include <QCoreApplication>
#include <string>
#include <thread>
#include <vector>

namespace kelo {

struct HeadlessOptions {
    bool testDevicesOn = false;
    TestDevices testDevices;
    int videoDevicePosition = 1; // 1-based, as the window's device lists
    int audioDevicePosition = 1;
    bool snapshot = false;
    bool faceCover = false;
    bool backgroundBlur = false; // on for this run, whatever data.ini says
    // --record KIND --seconds S: a recording of the kind (0 to 8) instead of the preview.
    int recordKind = -1; // -1: no recording
    double recordSeconds = 0;
    // --video-size WxH and --fps N: the capture mode of this run over data.ini's (0: as stored).
    int videoWidth = 0;
    int videoHeight = 0;
    int framesPerSecond = 0;
};

// Parses the arguments after the program name ("--headless" itself is accepted and ignored).
// False with a message for an unknown or malformed argument.
bool ParseHeadlessOptions(const std::vector<std::string>& args, HeadlessOptions* options,
                          std::string* error);

// The usage text of the headless mode, in the language installed.
std::string HeadlessUsage();

// What it says on standard error is translated as the window's texts are (the language the
// desktop's locale or KELOCAM_LANG chooses, installed by the program's main before the run).
class HeadlessRunner : public CaptureEngineOwner {
    Q_DECLARE_TR_FUNCTIONS(kelo::HeadlessRunner)

public:
    explicit HeadlessRunner(HeadlessOptions options);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Runs until SIGINT or SIGTERM (or Quit); the exit status: 0 after a normal stop, 1 when no
    // video device was found, the graph could not be built, or a runtime error stopped it.
    int Run();
    // Ends Run's loop (any thread).
    void Quit(int status);

    DeviceList& VideoDeviceList() override { return videoList_; }
    DeviceList& AudioDeviceList() override { return audioList_; }
    void PostToOwnerThread(std::function<void()> task) override;
    void OnCaptureError(const std::string& message) override;
    void OnSnapshotTaken(const SnapshotOutcome& outcome) override;
    void OnRecordingFramesDropped(const std::string& message) override;

private:
    class PrintedList : public DeviceList {
    public:
        void Clear() override;
        void Insert(int index, const std::string& name) override;
        void Select(int index) override;
        void Print(const char* label) const;

    private:
        std::vector<std::string> names_;
        int selected_ = -1;
    };

    // Every engine is made here, in the stored capture mode.
    std::unique_ptr<CaptureEngine> NewEngine();
    bool StartPreview();
    // "kelocam: capture mode WxH at N frames per second": the mode the camera was set to.
    static void PrintCaptureMode(const CaptureEngine& engine);
    void StopPreview();
    // As the record command: the preview engine is destroyed, a new engine records into the
    // "REC" folder of data.ini. False (the reason printed) when the recording cannot be made.
    bool StartRecording();
    void StartRecordingRepair();
    void FinishRecordingRepair();
    // After the recording engine is gone: prints the file's path on standard output.
    bool FinishRecording();
    void RestoreEffects();
    void RequestSnapshotOnceFramesFlow();
    static gboolean OnSignal(gpointer self);

    HeadlessOptions options_;
    MainContextPtr context_;
    MainLoopPtr loop_;
    int status_ = 0;
    ClassRegistry registry_;
    PrintedList videoList_;
    PrintedList audioList_;
    CountingPreviewSurface surface_;
    std::unique_ptr<CaptureEngine> engine_;
    std::unique_ptr<HeadlessOverlay> overlay_; // its pictures outlive the engine
    std::string photoSizeText_;                // the photo size asked for, as data.ini says it
    std::string recordFile_;
    std::thread repairWorker_; // the start-up repair; joined before Run returns
};

// main() of the headless mode.
int RunHeadless(const std::vector<std::string>& args);

} // namespace kelo
