// The main window following its devices: cameras and microphones plugged in or pulled out while
// the studio runs. The device monitor's reports arrive from provider threads as queued calls;
// a burst of them becomes one refresh on the window thread. In Idle the lists are refreshed at
// once, with the chosen entries kept on their devices; during a countdown or a recording they
// wait for the next Idle, except that a recording whose camera is pulled out ends at once.
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "app/window/WindowLog.h"
#include "app/window/WindowText.h"
#include "ui/ModalSeam.h"

#include <algorithm>
#include <cstdlib>
#include <QComboBox>
#include <utility>

namespace kelo {

namespace {

// The window's own words.
const WindowText kNoticeCaption{QT_TRANSLATE_NOOP("kelo::MainDialog", "温馨提示")};
const WindowText kCaptureStoppedText{QT_TRANSLATE_NOOP("kelo::MainDialog", "视频采集已停止：")};

QString DeviceRemovedText(const std::string& name) {
    return MainDialog::tr("设备已断开（%1）").arg(QString::fromStdString(name));
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

void FillList(DeviceList& list, const std::vector<std::string>& names, int index) {
    list.Clear();
    for (std::size_t i = 0; i < names.size(); ++i)
        list.Insert(static_cast<int>(i), names[i]);
    list.Select(index - 1);
}

} // namespace

void MainDialog::FollowDevices(std::shared_ptr<DeviceMonitor> monitor) {
    if (deviceMonitor)
        deviceMonitor->Stop();
    deviceMonitor = std::move(monitor);
    if (!deviceMonitor)
        return;
    const bool watching = deviceMonitor->Start([this](const DeviceChange& change) {
        // A provider's thread: only a queued call. The first change of a burst arms the timer,
        // the rest of the burst joins the same refresh.
        PostToOwnerThread([this, change] {
            qCInfo(lcWindow) << (change.kind == DeviceKind::Video ? "camera" : "microphone")
                             << (change.type == DeviceChange::Type::Added ? "plugged in:"
                                                                          : "pulled out:")
                             << change.name.c_str();
            if (!deviceRefreshTimer.isActive())
                deviceRefreshTimer.start();
        });
    });
    if (!watching)
        qCWarning(lcWindow) << "the device monitor did not start: the lists follow only the "
                               "test devices";
}

void MainDialog::OnDevicesChanged() {
    if (shutDown)
        return;
    if (captureState == CaptureState::Recording && engine && !engineFailed &&
        !engineWorker.Retiring() && !videoChoice.name.empty() &&
        !Contains(CaptureEngine::ListDeviceNames(registry, true), videoChoice.name)) {
        // The camera being recorded was pulled out before its engine said so: the recording
        // ends as on the engine's own error (file completed, one message, the preview after).
        deviceRefreshPending = true;
        engineFailed = true;
        OnRecordingError(DeviceRemovedText(videoChoice.name).toStdString());
        return;
    }
    if (captureState != CaptureState::Idle || engineWorker.Retiring() || pendingOpen) {
        deviceRefreshPending = true; // at the next Idle
        return;
    }
    switch (FollowDeviceLists()) {
    case DeviceFollowUp::StartPreview:
        StartPreview(PreviewStart::Automatic);
        break;
    case DeviceFollowUp::CameraLost:
        LoseCamera();
        break;
    case DeviceFollowUp::None:
        break;
    }
}

MainDialog::DeviceFollowUp MainDialog::FollowDeviceLists() {
    deviceRefreshPending = false;
    const std::vector<std::string> cameras = CaptureEngine::ListDeviceNames(registry, true);
    const std::vector<std::string> microphones = CaptureEngine::ListDeviceNames(registry, false);

    // A chosen device keeps its place when it is still there; else the entry of its name
    // nearest to that place (two cameras of one model share a name); else it is missing.
    auto follow = [](DeviceChoice* choice, const std::vector<std::string>& names) {
        if (choice->name.empty())
            return;
        int best = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const int position = static_cast<int>(i) + 1;
            if (names[i] == choice->name && (best == 0 || std::abs(position - choice->position) <
                                                              std::abs(best - choice->position)))
                best = position;
        }
        choice->missing = best == 0;
        if (best != 0)
            choice->position = best;
    };

    const bool cameraWasMissing = videoChoice.missing;
    follow(&videoChoice, cameras);
    // No camera had been chosen because there was none: the first one to arrive.
    if (videoChoice.name.empty() && cameraAwaited && !cameras.empty())
        videoChoice = {cameras.front(), 1, false};
    DeviceFollowUp followUp = DeviceFollowUp::None;
    if (videoChoice.missing) {
        videoDeviceIndex = 0; // names no device: the camera is not switched under the user
        if (!cameraWasMissing && !cameraAwaited)
            followUp = DeviceFollowUp::CameraLost;
    } else if (!videoChoice.name.empty()) {
        videoDeviceIndex = videoChoice.position;
        if (cameraAwaited)
            followUp = DeviceFollowUp::StartPreview;
    }

    follow(&audioChoice, microphones);
    if (audioChoice.missing)
        audioDeviceIndex = 0;
    else if (!audioChoice.name.empty())
        audioDeviceIndex = audioChoice.position;

    FillList(videoList, cameras, videoDeviceIndex);
    FillList(audioList, microphones, audioDeviceIndex);
    return followUp;
}

void MainDialog::LoseCamera() {
    qCInfo(lcWindow) << "the camera in use is gone:" << videoChoice.name.c_str();
    cameraAwaited = true;
    // Said once: not again when the engine's own runtime error said it already.
    const bool tell = engine && !engineFailed;
    if (engine) {
        // Its graph may wait on a device that is gone: stopped off the window thread. The feed
        // turns black when the engine is destroyed.
        firstFrameTimer.stop();
        engineRunning = false;
        HandEngineToPages(nullptr, true);
        engineWorker.Retire(std::move(engine), [this] { AfterEngineRetired(); });
    }
    if (preview) {
        preview->ClearPicture();
        preview->SetStatusText({});
    }
    if (tell) {
        const QString text = kCaptureStoppedText + DeviceRemovedText(videoChoice.name);
        ui::ShowMessageBox(this, text, kNoticeCaption);
        emit captureErrorShown(text);
    }
}

void MainDialog::AfterEngineRetired() {
    // Changes that arrived while the engine stopped (the camera already back, say; or the
    // camera's removal itself, when the engine's own error came first and retired it).
    if (!shutDown && deviceRefreshPending)
        OnDevicesChanged();
}

void MainDialog::ResumePreviewAfterStop() {
    const bool quiet = std::exchange(quietRestart, false);
    // The lists as they are now: a device may have come or gone during the recording, and its
    // engine's error may have ended the recording before the monitor said so.
    (void)FollowDeviceLists(); // what follows is decided here, not by the follow-up
    if (videoChoice.missing) {
        cameraAwaited = true; // the preview starts when the camera comes back
        if (preview)
            preview->ClearPicture();
        return;
    }
    StartPreview(quiet ? PreviewStart::Automatic : PreviewStart::Asked);
}

void MainDialog::NoteChosenDevices() {
    NoteChoice(&videoChoice, kVideoDeviceList, videoDeviceIndex);
    NoteChoice(&audioChoice, kAudioDeviceList, audioDeviceIndex);
    ShowCaptureMode();
}

void MainDialog::ShowCaptureMode() {
    // After every BuildGraph: the mode the camera was set to, in the log and on the preview.
    const VideoMode mode = engine ? engine->negotiatedMode() : VideoMode{0, 0, 0};
    if (mode.width <= 0 || mode.height <= 0) {
        if (preview)
            preview->setToolTip(QString());
        return;
    }
    qCInfo(lcWindow) << "capture mode" << mode.width << "x" << mode.height << "at"
                     << mode.framesPerSecond << "frames per second";
    if (preview)
        preview->setToolTip(
            tr("%1 × %2, %3 帧/秒").arg(mode.width).arg(mode.height).arg(mode.framesPerSecond));
}

void MainDialog::NoteChoice(DeviceChoice* choice, int controlId, int index) {
    const auto* list = Control<QComboBox>(controlId);
    // An index that names no entry leaves the choice as it was (a device that may come back).
    if (!list || index < 1 || index > list->count())
        return;
    *choice = {list->itemText(index - 1).toStdString(), index, false};
}

} // namespace kelo
