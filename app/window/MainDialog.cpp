#include "app/window/MainDialog.h"

#include "app/settings/SettingsStore.h"
#include "app/window/PreviewWidget.h"
#include "app/window/SettingsFailureNotice.h"
#include "app/window/WindowLog.h"
#include "app/window/WindowText.h"
#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"
#include "ui/SkinnedTabControl.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPolygon>
#include <QRegion>

namespace kelo {

namespace {

// The window's own words.
const WindowText kNoVideoDeviceText{QT_TRANSLATE_NOOP("kelo::MainDialog", "请插入USB无视频设备!")};
const WindowText kNoAudioDeviceText{QT_TRANSLATE_NOOP("kelo::MainDialog", "无音频设备")};
const WindowText kNoticeCaption{QT_TRANSLATE_NOOP("kelo::MainDialog", "温馨提示")};
const WindowText kCaptureStoppedText{QT_TRANSLATE_NOOP("kelo::MainDialog", "视频采集已停止：")};
const WindowText kOpeningCameraText{QT_TRANSLATE_NOOP("kelo::MainDialog", "正在打开摄像头...")};
const WindowText kTabTexts[] = {{QT_TRANSLATE_NOOP("kelo::MainDialog", "色彩调节")},
                                {QT_TRANSLATE_NOOP("kelo::MainDialog", "相框")},
                                {QT_TRANSLATE_NOOP("kelo::MainDialog", "灯光")},
                                {QT_TRANSLATE_NOOP("kelo::MainDialog", "动画")},
                                {QT_TRANSLATE_NOOP("kelo::MainDialog", "其它")}};
const WindowText kAboutItemText{
    QT_TRANSLATE_NOOP("kelo::MainDialog", "关于 Kelo 摄像头工作室(&A)...")};

// A device plugged in often arrives as several changes (video and audio, several nodes):
// they are gathered into one refresh.
constexpr int kDeviceRefreshDelayMs = 100;

struct IconButtonSetup {
    int controlId;
    int iconId;
    bool systemColors; // caption colours: the system's button text, else the skin's
};

constexpr IconButtonSetup kIconButtons[] = {
    {MainDialog::kRecordButton, 136, false},     {MainDialog::kStopButton, 150, false},
    {MainDialog::kSnapshotButton, 137, false},   {MainDialog::kDelayButton, 148, false},
    {MainDialog::kFullScreenButton, 138, false}, {MainDialog::kSettingsButton, 139, false},
    {MainDialog::kMinimizeButton, 140, true},    {MainDialog::kCloseButton, 141, true},
};

} // namespace

MainDialog::MainDialog(const ClassRegistry& registry, QWidget* parent)
    : SkinnedDialog(kTemplateId, ui::skin::kMainBackground, parent), registry(registry) {
    // No title bar or frame of the window manager: the skin draws the window's own, and the
    // window region cuts it to shape. A taskbar entry, as an application window has.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    colorPage = std::make_unique<ColorPage>();
    framePage = std::make_unique<EffectPage>(EffectPageKind::Frame);
    lightPage = std::make_unique<EffectPage>(EffectPageKind::Light);
    cartoonPage = std::make_unique<EffectPage>(EffectPageKind::Cartoon);
    faceCoverPage = std::make_unique<FaceCoverPage>();
    setFixedSize(size());
    setWindowTitle(ui::ApplicationTitle());
    setWindowIcon(QIcon(ui::LoadSkinIcon(ui::skin::kAppIcon)));
    // A setting that cannot be saved is said once in a box of this window (a child of it).
    new SettingsFailureNotice(this);
    countdownTimer.setInterval(kCountdownPeriodMs);
    connect(&countdownTimer, &QTimer::timeout, this, [this] { OnTimer(kCountdownTimerId); });
    connect(this, &SkinnedDialog::command, this, &MainDialog::OnCommand);
    deviceRefreshTimer.setSingleShot(true);
    deviceRefreshTimer.setInterval(kDeviceRefreshDelayMs);
    connect(&deviceRefreshTimer, &QTimer::timeout, this, &MainDialog::OnDevicesChanged);
    firstFrameTimer.setSingleShot(true);
    connect(&firstFrameTimer, &QTimer::timeout, this, &MainDialog::OnFirstFrameDeadline);
}

MainDialog::~MainDialog() {
    // No device change is delivered from here on.
    if (deviceMonitor)
        deviceMonitor->Stop();
    // A window destroyed without being closed (a test, an early return) still stops the graph
    // before its preview surface and pages go.
    shutDown = true;
    DestroyEngine();
}

// ---------------------------------------------------------------------------------------------
// Dialog initialisation

void MainDialog::OnInitDialog() {
    SetUpPreview();
    SetUpDeviceLists();
    // Window region, once: it is not computed again on resizing.
    setMask(WindowRegion(width(), height()));
    SetUpIconButtons();
    captureState = CaptureState::Idle;
    if (QWidget* stop = Control(kStopButton))
        stop->hide();
    RestartPreview();
    CreateEffectPages();
    RestoreEffect();
    RepairUnfinishedRecordings();
}

void MainDialog::RepairUnfinishedRecordings() {
    // Recordings a crash left unfinished are mended on a worker and named once.
    const std::string folder =
        SettingsStore().ReadText(SettingId::RecordFolder, SettingReader::RecordCommand);
    recordingRepair.Start(folder, [this](const std::vector<RepairedRecording>& repaired) {
        QStringList lines;
        for (const RepairedRecording& recording : repaired) {
            qCInfo(lcWindow) << "unfinished recording:" << recording.file.c_str()
                             << static_cast<int>(recording.outcome);
            lines << QString::fromStdString(RepairedRecordingText(recording));
        }
        ui::ShowMessageBox(this, lines.join(u'\n'), kNoticeCaption);
        emit recordingsRepaired(lines.join(u'\n'));
    });
}

void MainDialog::SetUpPreview() {
    QWidget* area = Control(kPreviewArea);
    preview = new PreviewWidget(area ? area : this);
    preview->setGeometry(area ? area->rect() : QRect());
    preview->SetInputHandler([this](const PreviewInput& input) { OnPreviewInput(input); });
    previewRelay = std::make_unique<PreviewSurfaceRelay>(preview);
    // The static texts let mouse input through to the skin (dragging, double-click).
    for (int id : {kVideoListLabel, kAudioListLabel, kStatusLabel}) {
        if (QWidget* label = Control(id))
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    // Every key that reaches a widget of this window passes PreTranslateMessage first.
    qApp->installEventFilter(this);
}

void MainDialog::SetUpDeviceLists() {
    auto* video = Control<QComboBox>(kVideoDeviceList);
    auto* audio = Control<QComboBox>(kAudioDeviceList);
    videoList.SetComboBox(video);
    audioList.SetComboBox(audio);
    // activated: the user's choice only; the engine filling the lists does not count.
    if (video)
        connect(video, &QComboBox::activated, this, &MainDialog::OnVideoDeviceChange);
    if (audio)
        connect(audio, &QComboBox::activated, this, &MainDialog::OnAudioDeviceChange);
}

void MainDialog::SetUpIconButtons() {
    for (const IconButtonSetup& setup : kIconButtons) {
        auto* button = Control<ui::IconButton>(setup.controlId);
        if (!button)
            continue;
        button->SetIcon(setup.iconId);
        button->DressOnSkin();
        if (setup.systemColors)
            button->SetDefaultColors();
        // Tab reaches every command and Space or Enter gives it (PreTranslateMessage); a click
        // leaves the keyboard focus where it was.
        button->setFocusPolicy(Qt::TabFocus);
        if (setup.controlId == kMinimizeButton)
            button->setAccessibleName(tr("最小化"));
        else if (setup.controlId == kCloseButton)
            button->setAccessibleName(tr("关闭"));
    }
    // The keyboard starts on the effect tabs, where Space and Enter give no command (the device
    // lists are disabled while the camera opens, and the focus would go on to a button).
    if (auto* tabs = Control<ui::SkinnedTabControl>(kEffectTabs))
        tabs->TabBar()->setFocus(Qt::OtherFocusReason);
}

QString MainDialog::TabText(int tab) {
    return tab >= 0 && tab < static_cast<int>(std::size(kTabTexts)) ? kTabTexts[tab].Text()
                                                                    : QString();
}

QRegion MainDialog::WindowRegion(int clientWidth, int clientHeight) {
    // The platform's polygon (5, 29), (5, H - 40), (W, H - 40), (W, 29) is in window
    // coordinates, which start at the outer edge of a 4-pixel sizing frame and a 23-pixel
    // caption. Our window has neither, so in client coordinates it is moved by (-4, -27): the
    // top strip with minimise and close stays, the bottom 67 pixels (the hidden controls) and
    // 4 pixels at the right are cut.
    constexpr int kFrameLeft = 4;
    constexpr int kFrameTop = 4 + 23;
    const QPolygon polygon({QPoint(5, 29), QPoint(5, clientHeight - 40),
                            QPoint(clientWidth, clientHeight - 40), QPoint(clientWidth, 29)});
    return QRegion(polygon.translated(-kFrameLeft, -kFrameTop), Qt::OddEvenFill);
}

ui::SkinnedTabControl* MainDialog::EffectTabs() const {
    return Control<ui::SkinnedTabControl>(kEffectTabs);
}

QLabel* MainDialog::StatusLabel() const {
    return Control<QLabel>(kStatusLabel);
}

EnginePage* MainDialog::Page(int tab) const {
    switch (tab) {
    case kColorTab:
        return colorPage.get();
    case kFrameTab:
        return framePage.get();
    case kLightTab:
        return lightPage.get();
    case kCartoonTab:
        return cartoonPage.get();
    case kFaceCoverTab:
        return faceCoverPage.get();
    default:
        return nullptr;
    }
}

EffectPage& MainDialog::OverlayPage(EffectPageKind kind) const {
    switch (kind) {
    case EffectPageKind::Frame:
        return *framePage;
    case EffectPageKind::Light:
        return *lightPage;
    case EffectPageKind::Cartoon:
        break;
    }
    return *cartoonPage;
}

void MainDialog::CreateEffectPages() {
    ui::SkinnedTabControl* tabs = EffectTabs();
    if (!tabs)
        return;
    tabs->SetBackground(ui::skin::kPageBackground);
    // The page windows, then the tabs carrying them: a page is shown only while its tab is the
    // selected one (tab 0 after start-up).
    for (int tab = kColorTab; tab <= kFaceCoverTab; ++tab)
        Page(tab)->Create();
    for (int tab = kColorTab; tab <= kFaceCoverTab; ++tab)
        tabs->InsertItem(tab, TabText(tab), Page(tab));
    tabs->MovePages();
    connect(tabs, &ui::SkinnedTabControl::selectionChanged, this, &MainDialog::OnEffectTabChange);
}

void MainDialog::OnEffectTabChange(int tab) {
    settingsPath = kelo::settingsPath();
    const SettingsStore settings(settingsPath);
    const std::optional<EffectPageKind> selected = PageKindOfTab(tab);
    if (!selected)
        return; // the colour and "其它" tabs: a playing overlay goes on playing
    // The frame page, the cartoon page, the light page: the selected one starts (or goes on
    // playing), the other two stop and clear their overlay.
    for (EffectPageKind kind :
         {EffectPageKind::Frame, EffectPageKind::Cartoon, EffectPageKind::Light}) {
        if (kind == *selected)
            OverlayPage(kind).StartAnimation();
        else
            OverlayPage(kind).StopAnimation();
    }
    if (!settings.WriteOverlayTabChange(DifferencesOf(*selected).storedFamily))
        qCWarning(lcWindow) << "the overlay tab was not stored in" << settingsPath.c_str();
}

void MainDialog::RestoreEffect() {
    settingsPath = kelo::settingsPath();
    const SettingsStore settings(settingsPath);
    const std::optional<OverlayFamily> family = settings.ReadOverlayFamily();
    if (!family)
        return;
    // The selected tab stays: tab 0 shows while the overlay of another family plays.
    EffectPage& page = OverlayPage(PageKindOf(*family));
    page.StartAnimation();
    page.SelectEffect(static_cast<int>(settings.ReadInt(SettingId::OverlayIndex)));
}

// ---------------------------------------------------------------------------------------------
// The engine

void MainDialog::HandEngineToPages(CaptureEngine* newEngine, bool withFaceCover) {
    // Colour, frame, light, cartoon; the face cover page only from the record command.
    HandOverEngine(newEngine,
                   {colorPage.get(), framePage.get(), lightPage.get(), cartoonPage.get()});
    if (withFaceCover)
        HandOverEngine(newEngine, {faceCoverPage.get()});
}

void MainDialog::DestroyEngine() {
    // Every page that holds the engine lets go of it first (an overlay page clears the picture
    // it shows there): nothing calls an engine that is gone. The worker then stops its graph and
    // destroys it (clearing and closing the feed; the video window leaves the preview, which
    // turns black), after whatever it was doing, and the window waits for that: only the close
    // and the window's destruction come here.
    RetireEngine();
    engineWorker.WaitForAll();
}

void MainDialog::RetireEngine() {
    CancelOpening();
    ++openGeneration; // a run still queued for this engine reports to nobody
    firstFrameTimer.stop();
    engineRunning = false;
    if (!engine)
        return;
    HandEngineToPages(nullptr, true);
    // A device change deferred while it stops would otherwise wait for an unrelated event.
    engineWorker.Retire(std::move(engine), [this] { AfterEngineRetired(); });
}

void MainDialog::CancelOpening() {
    if (!pendingOpen)
        return;
    // Its build is queued or running on the worker: the engine is stopped and destroyed right
    // after it there, before anything queued later (a new engine needs the device free). Its
    // result, when it arrives, finds a newer generation and is ignored.
    ++openGeneration;
    std::shared_ptr<EngineOpening> stale = std::move(pendingOpen);
    engineWorker.Post(
        [stale] {
            if (!stale->engine)
                return;
            stale->engine->DetachFromOwner();
            (void)stale->engine->DrainAndStop(); // a recording just started keeps its file
            stale->engine.reset();
        },
        {});
    openingError.reset();
    SetOpeningLook(false);
    if (preview)
        preview->SetStatusText({});
}

std::unique_ptr<CaptureEngine> MainDialog::NewEngine() {
    const VideoMode mode = SettingsStore().ReadVideoMode();
    return std::make_unique<CaptureEngine>(mode.width, mode.height, mode.framesPerSecond, this,
                                           registry);
}

void MainDialog::RestartPreview() {
    StartPreview(PreviewStart::Asked);
}

void MainDialog::StartPreview(PreviewStart how) {
    if (shutDown)
        return;
    // The engine there goes first (its destruction clears the feed, which must not happen
    // under the new engine): the worker runs the two in order.
    RetireEngine();
    previewStart = how;
    OpenEngine(std::nullopt, {});
}

void MainDialog::OpenEngine(std::optional<RecordKind> recording, const std::string& recordFolder) {
    CancelOpening();
    auto opening = std::make_shared<EngineOpening>();
    opening->engine = NewEngine(); // window thread: the stored mode is read here
    opening->recording = recording;
    opening->recordFolder = recordFolder;
    opening->generation = ++openGeneration;
    opening->framesBefore = preview ? preview->PresentedFrames() : 0;
    opening->runAfterNotice = !recording && previewStart == PreviewStart::Asked;
    pendingOpen = opening;
    openingError.reset();
    engineFailed = false;
    if (previewRelay)
        previewRelay->NoteSize();
    SetOpeningLook(true);
    PreviewSurface* surface = previewRelay.get();
    const int video = videoDeviceIndex;
    const int audio = audioDeviceIndex;
    // Worker: the engine is not used anywhere else until its result reaches the window.
    engineWorker.Post(
        [this, opening, surface, video, audio] {
            CaptureEngine& built = *opening->engine;
            opening->built = built.BuildGraph(surface, this, video, audio);
            if (opening->built == CaptureEngine::kNoVideoDevice)
                return; // the engine stays, unconnected and not running
            if (opening->recording) {
                // Without a microphone the user hears of it before anything is recorded: the
                // window builds the file's branch after its box.
                if (opening->built == E_FAIL || opening->built == CaptureEngine::kNoAudioDevice)
                    return;
                opening->connected =
                    built.BuildRecordGraph(*opening->recording, opening->recordFolder);
                if (opening->connected != S_OK) {
                    opening->runDone = true; // nothing more to do: the failure is said
                    return;
                }
            } else {
                // The preview's results are not examined on the way: a graph that cannot run
                // reports through OnCaptureError.
                opening->connected = built.ConnectPreview();
                // Without a microphone the user hears of it before the preview runs: the window
                // asks for the run after its box.
                if (opening->built == CaptureEngine::kNoAudioDevice && opening->runAfterNotice)
                    return;
            }
            opening->ran = built.Run();
            opening->runDone = true;
        },
        [this, opening] { OnEngineOpened(opening); });
}

void MainDialog::OnEngineOpened(const std::shared_ptr<EngineOpening>& opening) {
    // A newer start, a stop or the close came first: CancelOpening has this engine stopped.
    if (opening != pendingOpen || opening->generation != openGeneration || shutDown)
        return;
    pendingOpen.reset();
    engine = std::move(opening->engine);
    engineRunning = false;
    // The lists as the engine filled them, then which entries the indices point at.
    if (builtVideoList.Filled())
        builtVideoList.ShowIn(videoList);
    if (builtAudioList.Filled())
        builtAudioList.ShowIn(audioList);
    NoteChosenDevices();
    SetOpeningLook(false);
    if (opening->recording)
        OnRecordingOpened(*opening);
    else
        OnPreviewOpened(*opening);
    // Device changes seen while the engine opened.
    if (!shutDown && deviceRefreshPending && !pendingOpen && captureState == CaptureState::Idle &&
        !deviceRefreshTimer.isActive())
        deviceRefreshTimer.start();
}

void MainDialog::OnPreviewOpened(EngineOpening& opening) {
    const HRESULT result = opening.built;
    cameraAwaited = result == CaptureEngine::kNoVideoDevice;
    if (result == CaptureEngine::kNoVideoDevice) {
        qCInfo(lcWindow) << "no video device at position" << videoDeviceIndex;
        if (preview)
            preview->SetStatusText({});
        // The engine stays, unconnected and not running; the pages hold none.
        if (previewStart == PreviewStart::Asked)
            ui::ShowMessageBox(this, kNoVideoDeviceText, kNoticeCaption);
        return;
    }
    const CaptureEngine* opened = engine.get();
    if (result == CaptureEngine::kNoAudioDevice && previewStart == PreviewStart::Automatic) {
        qCInfo(lcWindow) << "no audio device at position" << audioDeviceIndex;
    } else if (result == CaptureEngine::kNoAudioDevice) {
        qCInfo(lcWindow) << "no audio device at position" << audioDeviceIndex << "(said)";
        ui::AfxMessageBox(kNoAudioDeviceText);
        // The box runs a nested event loop: the window may have been closed, or the engine
        // replaced, meanwhile.
        if (shutDown || engine.get() != opened)
            return;
    } else if (result == E_FAIL)
        qCWarning(lcWindow) << "the capture graph could not be built";
    if (opening.connected == E_FAIL)
        qCWarning(lcWindow) << "the preview chain could not be connected";
    if (!opening.runDone) {
        // Run after the notice, on the worker; a retirement queued meanwhile comes after it.
        CaptureEngine* started = engine.get();
        const std::uint64_t generation = openGeneration;
        const long framesBefore = preview ? preview->PresentedFrames() : 0;
        auto ran = std::make_shared<HRESULT>(E_FAIL);
        engineWorker.Post([started, ran] { *ran = started->Run(); },
                          [this, generation, ran, framesBefore] {
                              if (!shutDown && generation == openGeneration && engine)
                                  FinishPreviewStart(*ran, framesBefore);
                          });
        return;
    }
    FinishPreviewStart(opening.ran, opening.framesBefore);
}

void MainDialog::FinishPreviewStart(HRESULT ran, long framesBefore) {
    if (FAILED(ran))
        qCWarning(lcWindow) << "the capture graph did not start";
    engineRunning = SUCCEEDED(ran);
    HandEngineToPages(engine.get(), false);
    if (openingError) {
        // It failed while it started: said now, as any runtime error.
        OnCaptureError(*std::exchange(openingError, std::nullopt));
        return;
    }
    if (engineRunning)
        WatchFirstFrame(framesBefore);
}

void MainDialog::SetOpeningLook(bool opening) {
    // The text stays until the camera's first frame covers it, or its failure is said.
    if (preview && opening) {
        preview->ClearPicture();
        preview->SetStatusText(kOpeningCameraText);
    }
    SetDeviceListsEnabled(!opening && !engineWorker.Retiring());
    if (captureState == CaptureState::Recording)
        return; // the recording look decides the buttons; Stop stays usable
    for (int id : {kRecordButton, kSnapshotButton, kDelayButton, kFullScreenButton}) {
        if (QWidget* button = Control(id))
            button->setEnabled(!opening);
    }
}

void MainDialog::WatchFirstFrame(long framesBefore) {
    framesBeforeRun = framesBefore;
    firstFrameTimer.start(kFirstFrameDeadlineMs);
}

void MainDialog::OnFirstFrameDeadline() {
    if (!engine || !engineRunning || engineFailed || shutDown)
        return;
    if (preview && preview->PresentedFrames() > framesBeforeRun)
        return; // it delivers (late, but within the limit)
    qCWarning(lcWindow) << "no frame within" << kFirstFrameDeadlineMs << "ms of the start";
    const std::string name = videoChoice.name.empty() ? std::string("?") : videoChoice.name;
    OnCaptureError(tr("摄像头 %1 秒内没有送来画面（%2）")
                       .arg(kFirstFrameDeadlineMs / 1000)
                       .arg(QString::fromStdString(name))
                       .toStdString());
}

void MainDialog::PostToOwnerThread(std::function<void()> task) {
    // Any thread. A queued call to the window: dropped, unrun, if the window is gone first.
    QMetaObject::invokeMethod(
        this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void MainDialog::OnCaptureError(const std::string& message) {
    if (pendingOpen) {
        // The engine being started failed on the worker: said when its result arrives.
        if (!openingError)
            openingError = message;
        return;
    }
    engineFailed = true;
    firstFrameTimer.stop();
    if (captureState == CaptureState::Recording) {
        OnRecordingError(message);
        return;
    }
    qCWarning(lcWindow) << "capture stopped:" << message.c_str();
    // Its graph is drained and stopped on the worker; the window goes on at once.
    RetireEngine();
    if (preview) {
        preview->ClearPicture();
        preview->SetStatusText({});
    }
    // The preview starts again at the next device change that finds the chosen camera there:
    // a camera pulled out and back within one refresh (a USB glitch) leaves it in the list, and
    // nothing else would restart it.
    cameraAwaited = true;
    // A camera pulled out: the lists are checked now, whether or not the monitor said so yet.
    if (deviceMonitor && !deviceRefreshTimer.isActive())
        deviceRefreshTimer.start();
    const QString text = kCaptureStoppedText + QString::fromStdString(message);
    // The window stays usable; the next RestartPreview (a device change) tries again.
    ui::ShowMessageBox(this, text, kNoticeCaption);
    emit captureErrorShown(text);
}

void MainDialog::OnSnapshotTaken(const SnapshotOutcome& outcome) {
    OnPhotoOutcome(outcome);
}

// ---------------------------------------------------------------------------------------------
// Messages

void MainDialog::OnCommand(int controlId) {
    switch (controlId) {
    case kStartCommand:
        RestartPreview();
        break;
    case kRecordButton:
        OnRecord();
        break;
    case kStopButton:
        OnStop();
        break;
    case kSnapshotButton:
        OnSnapshot();
        break;
    case kDelayButton:
        OnDelay();
        break;
    case kFullScreenButton:
        OnFullScreen();
        break;
    case kSettingsButton:
        OnSettings();
        break;
    case kMinimizeButton:
        showMinimized();
        break;
    case kCloseButton:
        if (captureState == CaptureState::Countdown)
            countdownTimer.stop();
        close();
        break;
    default:
        break;
    }
}

void MainDialog::OnSysCommand(int command) {
    if (command != kAboutCommand)
        return;
    ui::SkinnedDialog about(kAboutTemplateId, 0, this);
    about.setWindowIcon(windowIcon());
    (void)about.DoModal(); // OK is its only answer
}

QMenu* MainDialog::SkinMenu() {
    if (!skinMenu) {
        // A frameless window has no system menu on Linux desktops: the about item lives in the
        // skin's context menu instead.
        skinMenu = new QMenu(this);
        QAction* about = skinMenu->addAction(kAboutItemText);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    }
    return skinMenu;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    // Only on the skin itself (or a static text over it), not on the lists, tabs or preview.
    QWidget* child = childAt(event->pos());
    if (child && !qobject_cast<QLabel*>(child)) {
        event->ignore();
        return;
    }
    SkinMenu()->popup(event->globalPos());
    event->accept();
}

void MainDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        OnFullScreen();
    SkinnedDialog::mouseDoubleClickEvent(event);
}

void MainDialog::OnVideoDeviceChange(int position) {
    videoDeviceIndex = position + 1;
    NoteChoice(&videoChoice, kVideoDeviceList, videoDeviceIndex);
    if (captureState == CaptureState::Idle)
        RestartPreview();
}

void MainDialog::OnAudioDeviceChange(int position) {
    audioDeviceIndex = position + 1;
    NoteChoice(&audioChoice, kAudioDeviceList, audioDeviceIndex);
    if (captureState == CaptureState::Idle)
        RestartPreview();
}

void MainDialog::OnPreviewInput(const PreviewInput& input) {
    // The video window's keys reach the window's key handling, in full screen too.
    if (input.kind != PreviewInputKind::KeyPress && input.kind != PreviewInputKind::KeyRelease)
        return;
    // The modifiers and the repeat flag come along: a held F4 takes one photo, Shift+F is not 'f'.
    const QKeyEvent event(
        input.kind == PreviewInputKind::KeyPress ? QEvent::KeyPress : QEvent::KeyRelease, input.key,
        Qt::KeyboardModifiers::fromInt(input.modifiers), QString(), input.autoRepeat);
    (void)PreTranslateMessage(event); // nothing further to pass it on to
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return SkinnedDialog::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    // A key event that a child leaves unhandled travels up to its parents, through this filter
    // again: it is looked at once.
    const auto* key = static_cast<const QKeyEvent*>(event);
    const KeySeen seen{key->type(), key->key(), key->timestamp(), key->isAutoRepeat(), key};
    if (seen == lastKeySeen)
        return lastKeyConsumed;
    lastKeySeen = seen;
    lastKeyConsumed = PreTranslateMessage(*key);
    return lastKeyConsumed;
}

// ---------------------------------------------------------------------------------------------
// Shut-down

void MainDialog::showEvent(QShowEvent* event) {
    SkinnedDialog::showEvent(event);
    // Closed while it initialised (a stop signal during a start-up message box): the modal run
    // that is starting ends at once.
    if (shutDown)
        QMetaObject::invokeMethod(
            this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    event->accept();
    ShutDown();
}

void MainDialog::accept() {
    // The hidden default button (OK) never ends the studio either.
}

void MainDialog::reject() {
    // Escape and the hidden Cancel button never end the studio; the close message does.
}

void MainDialog::ShutDown() {
    if (shutDown)
        return;
    shutDown = true;
    countdownTimer.stop();
    deviceRefreshTimer.stop();
    firstFrameTimer.stop();
    if (deviceMonitor)
        deviceMonitor->Stop();
    qApp->removeEventFilter(this);
    // The window disappears at once, even when the graph takes its full bound to drain (a
    // recording being completed).
    hide();
    QGuiApplication::sync();
    const long long stopStart = MonotonicMilliseconds();
    DestroyEngine();
    qCInfo(lcWindow) << "engine stopped in" << MonotonicMilliseconds() - stopStart << "ms";
    // Ends the modal run with the cancel result. The pages free their animations without
    // calling the engine when the window and its children are destroyed.
    done(QDialog::Rejected);
}

} // namespace kelo
