// The capture commands of the main window: snapshot, delayed snapshot (timer 1), record, stop,
// full screen, settings, and the keys the window intercepts; with them the photo outcomes, the
// recording look and a recording that ends by itself. Window thread.
#include "app/dialogs/DelayDialog.h"
#include "app/dialogs/RecordFormatDialog.h"
#include "app/settings/SettingsDialog.h"
#include "app/settings/SettingsStore.h"
#include "app/settings/Translations.h"
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "app/window/SavedNotice.h"
#include "app/window/WindowLog.h"
#include "app/window/WindowText.h"
#include "engine/FileProblem.h"
#include "platform/system/AssetPaths.h"
#include "ui/ModalSeam.h"

#include <filesystem>
#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <unistd.h>

namespace kelo {

namespace {

// The window's own words.
const WindowText kNoticeCaption{QT_TRANSLATE_NOOP("kelo::MainDialog", "温馨提示")};
const WindowText kRecordingText{QT_TRANSLATE_NOOP("kelo::MainDialog", "录制中...")};
const WindowText kNoVideoDeviceText{QT_TRANSLATE_NOOP("kelo::MainDialog", "无视频设备")};
const WindowText kNoAudioDeviceText{QT_TRANSLATE_NOOP("kelo::MainDialog", "无音频设备")};
const WindowText kRecordingFailedText{QT_TRANSLATE_NOOP("kelo::MainDialog", "录制失败：")};
const WindowText kPhotoFailedText{QT_TRANSLATE_NOOP("kelo::MainDialog", "照片保存失败：")};
const WindowText kNoCameraForPhotoText{
    QT_TRANSLATE_NOOP("kelo::MainDialog", "摄像头没有在运行，无法拍照")};
const WindowText kCreditsCaption{QT_TRANSLATE_NOOP("kelo::MainDialog", "作者介绍")};
const WindowText kCreditsText{QT_TRANSLATE_NOOP(
    "kelo::MainDialog", "Kelo 摄像头工作室 1.0\n\n"
                        "由 Kelo 团队编写：实时特效、虚拟摄像头、拍照与录制。\n"
                        "感谢 Qt、GStreamer、OpenCV 和 libjpeg-turbo 的作者们。")};
const QString kShutterSoundFile = QStringLiteral("snapshot.wav");

constexpr int kRecordingClockMs = 1000;

// The buttons a recording disables (Record itself is replaced by Stop).
constexpr int kRecordingDisables[] = {MainDialog::kSnapshotButton, MainDialog::kDelayButton,
                                      MainDialog::kFullScreenButton, MainDialog::kSettingsButton};

// A folder as the commands hand it on: one separator at its end, so that a file name can be
// appended ("/home/me/Pictures" and "/home/me/Pictures/" give the same path).
std::string AsFolderPrefix(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

QString FromLocal(const std::string& text) {
    return QString::fromStdString(text);
}

// Why a photo could not be written, in the studio's words.
QString PhotoFailureReason(const SnapshotOutcome& outcome) {
    // A file operation that failed says why: no such folder, no space, no permission.
    if (!outcome.ok() && outcome.systemError != 0)
        return MainDialog::tr(
            FileProblemText(ClassifyFileError(outcome.systemError), outcome.systemError).c_str());
    switch (outcome.status) {
    case SnapshotStatus::Written:
        return {};
    case SnapshotStatus::InvalidSize:
        return MainDialog::tr("照片尺寸无效，请在设置中重新选择");
    case SnapshotStatus::OutOfMemory:
        return MainDialog::tr("内存不足");
    case SnapshotStatus::CannotOpen:
        return MainDialog::tr("无法创建文件（文件夹不存在或没有写入权限）");
    case SnapshotStatus::JpegFatalError:
        return MainDialog::tr("JPEG 编码出错：") + FromLocal(outcome.errorText).trimmed();
    case SnapshotStatus::WriteFailed:
        return MainDialog::tr("文件没有写完（磁盘已满？）");
    }
    return FromLocal(outcome.errorText).trimmed();
}

// Why a recording cannot go into `folder`, or empty when it can.
QString FolderProblem(const std::string& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return MainDialog::tr("文件夹不存在：") + FromLocal(folder);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return MainDialog::tr("文件夹不可写：") + FromLocal(folder);
    return {};
}

// The button of `window` that has the keyboard focus, or null.
QAbstractButton* FocusedButton(const QWidget& window) {
    auto* button = qobject_cast<QAbstractButton*>(window.focusWidget());
    return button && window.isAncestorOf(button) && button->isVisible() && button->isEnabled()
               ? button
               : nullptr;
}

QString ElapsedText(qint64 elapsedMs) {
    const qint64 seconds = elapsedMs / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Photos

void MainDialog::OnSnapshot() {
    // data.ini is read at every press: the settings dialog may have changed it.
    const SettingsStore store;
    const std::string folder =
        store.ReadText(SettingId::PhotoFolder, SettingReader::SnapshotCommand);
    const auto width =
        static_cast<int>(store.ReadInt(SettingId::PhotoWidth, SettingReader::SnapshotCommand));
    const auto height =
        static_cast<int>(store.ReadInt(SettingId::PhotoHeight, SettingReader::SnapshotCommand));
    photoFolder = AsFolderPrefix(folder);
    if (!EngineRunning()) {
        // No camera runs (stopped, lost, still opening, or none at all): no shutter for a photo
        // that cannot be taken, but a word why.
        qCInfo(lcWindow) << "no photo: no camera runs";
        ui::ShowMessageBox(this, kNoCameraForPhotoText, kNoticeCaption);
        return;
    }
    engine->RequestSnapshot(photoFolder, width, height);
    // The shutter plays at the request, before the photo exists; a missing sound is silent.
    (void)shutterSound.Play(FindAsset(kShutterSoundFile.toStdString()));
}

void MainDialog::OnPhotoOutcome(const SnapshotOutcome& outcome) {
    if (outcome.ok()) {
        AnnouncePhotoSaved(*this, preview, outcome.path); // the flash and the strip
        return;
    }
    qCInfo(lcWindow) << "no photo:" << outcome.path.c_str() << outcome.errorText.c_str();
    const std::string path = outcome.path.empty() ? photoFolder : outcome.path;
    ui::ShowMessageBox(this,
                       kPhotoFailedText + FromLocal(path) + u'\n' + PhotoFailureReason(outcome),
                       kNoticeCaption);
}

void MainDialog::OnDelay() {
    DelayDialog dialog(this);
    if (dialog.DoModal() != ui::IDOK || shutDown) // closed while the dialog was open
        return;
    countdownSeconds = dialog.seconds;
    countdownTimer.start(kCountdownPeriodMs); // re-arms a countdown that runs
    if (QLabel* label = StatusLabel())
        label->setText(QString::number(dialog.seconds));
    captureState = CaptureState::Countdown;
}

void MainDialog::OnTimer(int timerId) {
    if (timerId != kCountdownTimerId)
        return;
    const std::int32_t old = countdownSeconds;
    countdownSeconds = old - 1;
    QLabel* label = StatusLabel();
    if (label)
        label->hide();
    if (old != 0) {
        if (label)
            label->setText(QString::number(countdownSeconds));
    } else {
        if (label)
            label->setText(QStringLiteral(" "));
    }
    if (label)
        label->show();
    if (old == 0) {
        countdownTimer.stop();
        OnSnapshot();
        captureState = CaptureState::Idle;
        if (deviceRefreshPending)
            OnDevicesChanged();
    }
}

// ---------------------------------------------------------------------------------------------
// Recording

void MainDialog::SetRecordingLook(bool recording) {
    for (int id : kRecordingDisables) {
        if (QWidget* button = Control(id))
            button->setEnabled(!recording);
    }
    if (QWidget* stop = Control(kStopButton))
        stop->setVisible(recording);
    if (QWidget* record = Control(kRecordButton))
        record->setVisible(!recording);
    if (QLabel* label = StatusLabel()) {
        label->hide();
        label->setText(recording ? kRecordingText : QStringLiteral(" "));
        if (recording)
            label->resize(qMax(label->width(), label->sizeHint().width()), label->height());
        label->show();
    }
}

void MainDialog::OnRecordingClock() {
    QLabel* label = StatusLabel();
    if (!label || captureState != CaptureState::Recording || !recordingTime.isValid())
        return;
    label->setText(kRecordingText + u' ' + ElapsedText(recordingTime.elapsed()));
}

void MainDialog::OnRecord() {
    if (captureState != CaptureState::Idle)
        return;
    RecordFormatDialog dialog(this);
    // The dialog runs a nested event loop: a stop signal may have closed the window meanwhile.
    if (dialog.DoModal() != ui::IDOK || shutDown)
        return;
    const std::optional<RecordKind> kind = dialog.ChosenKind();
    if (!kind)
        return;

    captureState = CaptureState::Recording;
    SetRecordingLook(true);
    // The preview's engine goes to the worker; the recording's is built after it there (a
    // preview still stopping after the last recording completes its file first).
    RetireEngine();
    const SettingsStore store;
    recordFolder = store.ReadText(SettingId::RecordFolder, SettingReader::RecordCommand);
    if (const QString problem = FolderProblem(recordFolder); !problem.isEmpty()) {
        RecordingFailed(problem);
        return;
    }
    OpenEngine(*kind, AsFolderPrefix(recordFolder));
}

void MainDialog::OnRecordingOpened(EngineOpening& opening) {
    const HRESULT built = opening.built;
    if (built == CaptureEngine::kNoVideoDevice) {
        // The recording look stays until Stop, which brings back the preview.
        ui::AfxMessageBox(kNoVideoDeviceText);
        return;
    }
    if (built == E_FAIL) {
        RecordingFailed(MainDialog::tr("无法建立采集图"));
        return;
    }
    if (built == CaptureEngine::kNoAudioDevice) {
        const CaptureEngine* opened = engine.get();
        ui::AfxMessageBox(kNoAudioDeviceText);
        // The box's nested event loop may have run a close (a stop signal), a Stop or a device
        // change that took the engine: nothing is left to record with.
        if (shutDown || !engine || engine.get() != opened ||
            captureState != CaptureState::Recording)
            return;
    }
    if (!opening.runDone) {
        // The file's branch is built and the graph run after the notice, on the worker; a Stop
        // or close meanwhile queues the engine's end after it.
        CaptureEngine* started = engine.get();
        const std::uint64_t generation = openGeneration;
        auto rest = std::make_shared<EngineOpening>();
        rest->recording = opening.recording;
        rest->recordFolder = opening.recordFolder;
        rest->built = opening.built;
        rest->framesBefore = opening.framesBefore;
        engineWorker.Post(
            [started, rest] {
                rest->connected = started->BuildRecordGraph(*rest->recording, rest->recordFolder);
                if (rest->connected == S_OK)
                    rest->ran = started->Run();
                rest->runDone = true;
            },
            [this, started, generation, rest] {
                if (!shutDown && generation == openGeneration && engine.get() == started &&
                    captureState == CaptureState::Recording)
                    FinishRecordingStart(*rest);
            });
        return;
    }
    FinishRecordingStart(opening);
}

void MainDialog::FinishRecordingStart(EngineOpening& opening) {
    const HRESULT built = opening.built;
    if (opening.connected != S_OK) {
        const bool needsAudio = DescribeRecordKind(*opening.recording).hasAudio;
        RecordingFailed(built == CaptureEngine::kNoAudioDevice && needsAudio
                            ? MainDialog::tr("所选格式需要录音设备")
                            : MainDialog::tr("无法建立录制图（设备或编码器不可用）"));
        return;
    }
    if (FAILED(opening.ran)) {
        RecordingFailed(
            MainDialog::tr("录制图无法运行（%1）").arg(FromLocal(engine->recordFileName())));
        return;
    }
    engineRunning = true;
    qCInfo(lcWindow) << "recording" << engine->recordFileName().c_str();
    HandEngineToPages(engine.get(), true);
    recordingTime.start();
    connect(&recordingClock, &QTimer::timeout, this, &MainDialog::OnRecordingClock,
            Qt::UniqueConnection);
    recordingClock.start(kRecordingClockMs);
    OnRecordingClock();
    if (openingError) {
        OnCaptureError(*std::exchange(openingError, std::nullopt));
        return;
    }
    WatchFirstFrame(opening.framesBefore);
}

void MainDialog::RecordingFailed(const QString& reason) {
    qCInfo(lcWindow) << "no recording:" << reason;
    ui::ShowMessageBox(this, kRecordingFailedText + reason, kNoticeCaption);
    OnStop();
}

void MainDialog::OnStop() {
    // The strip names the recording once its drain has completed the file.
    auto announceSaved = RecordingSavedNotice(*this, preview, engine.get(), recordingTime);
    captureState = CaptureState::Idle;
    recordingClock.stop();
    recordingTime.invalidate();
    SetRecordingLook(false);

    // RestartPreview, but the recording's drain (its file being completed) runs off the window
    // thread, which goes on painting. The pages let go of the engine at once; the device lists
    // wait until the device is free again.
    // A recording engine still opening is stopped after its build, in turn; a step still
    // queued for the engine reports to nobody.
    CancelOpening();
    ++openGeneration;
    firstFrameTimer.stop();
    engineRunning = false;
    HandEngineToPages(nullptr, true);
    SetDeviceListsEnabled(false);
    engineWorker.Retire(std::move(engine), [this, announceSaved] {
        announceSaved();
        // Always runs, whatever came in between: a Record pressed before the drain ended has
        // its engine built after this one on the worker, and the lists are usable again.
        SetDeviceListsEnabled(!pendingOpen);
        // A window closed meanwhile builds no new engine, nor does a recording started since.
        if (!shutDown && captureState == CaptureState::Idle && !pendingOpen && !engine)
            ResumePreviewAfterStop();
    });
}

void MainDialog::SetDeviceListsEnabled(bool enabled) {
    for (int id : {kVideoDeviceList, kAudioDeviceList}) {
        if (QWidget* list = Control(id))
            list->setEnabled(enabled);
    }
}

QString MainDialog::RecordingFailureReason(const std::string& engineReason) {
    // The engine names a file problem in the studio's words, then the folder; other reasons
    // (a device's own error text) pass as they are.
    return EngineReasonText(engineReason);
}

void MainDialog::OnRecordingError(const std::string& message) {
    // The engine stopped its graph (the file written so far is complete); back to the preview.
    if (captureState != CaptureState::Recording)
        return;
    ui::ShowMessageBox(this, kRecordingFailedText + RecordingFailureReason(message),
                       kNoticeCaption);
    // The message said it: the preview that follows adds none of its own.
    quietRestart = true;
    OnStop();
}

// ---------------------------------------------------------------------------------------------
// Full screen, settings, keys

void MainDialog::OnFullScreen() {
    if (engine)
        (void)engine->EnterFullScreen(); // always S_OK
}

void MainDialog::OnSettings() {
    SettingsDialog dialog(this);
    dialog.SetOfferedModes(CaptureEngine::ListVideoModes(registry, videoDeviceIndex));
    // What it changed is read from data.ini at the next use; a new capture mode is used at
    // once when nothing is being recorded or counted down.
    if (dialog.DoModal() == ui::IDOK && dialog.VideoModeChanged() &&
        captureState == CaptureState::Idle)
        RestartPreview();
}

bool MainDialog::PreTranslateMessage(const QKeyEvent& event) {
    const bool press = event.type() == QEvent::KeyPress;
    // One action per press: a key's release and the repeats of a held key do nothing.
    const bool freshPress = press && !event.isAutoRepeat();
    switch (event.key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Outside full screen they press the button that has the keyboard focus (Tab moves
        // it), so that every command can be given from the keyboard; never the hidden default
        // button, never closing the window.
        if (!(preview && preview->IsVideoFullScreen()) && FocusedButton(*this))
            return false;
        [[fallthrough]];
    case Qt::Key_Escape:
        // Leave full screen.
        if (engine && press)
            (void)engine->LeaveFullScreen(); // always S_OK
        return true;
    case Qt::Key_F4:
        if (freshPress)
            OnSnapshot();
        return false;
    case Qt::Key_F:
    case Qt::Key_6: {
        // Key code 102: 'f' (not 'F'), and keypad 6.
        const bool keypadSix = event.key() == Qt::Key_6 && (event.modifiers() & Qt::KeypadModifier);
        const bool lowerF = event.key() == Qt::Key_F &&
                            !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier |
                                                   Qt::ShiftModifier | Qt::MetaModifier)) &&
                            (event.text().isEmpty() || event.text() == QStringLiteral("f"));
        if (freshPress && (keypadSix || lowerF))
            ui::ShowMessageBox(this, kCreditsText, kCreditsCaption);
        return false;
    }
    default:
        return false;
    }
}

} // namespace kelo
