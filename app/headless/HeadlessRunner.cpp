#include "app/headless/HeadlessRunner.h"

#include "app/RecordingRepairTask.h"
#include "app/settings/ProgramEnvironment.h"
#include "app/settings/SettingsStore.h"
#include "app/settings/Translations.h"
#include "effects/filters/EffectFilters.h"
#include "platform/PlatformComponents.h"
#include "platform/system/GstRuntime.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <glib-unix.h>

namespace kelo {

namespace {

// A folder as the capture commands hand it on: with one separator at its end, so that the file
// name can be appended ("/home/me/Pictures" and "/home/me/Pictures/" give the same path).
std::string AsFolderPrefix(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The window's own words.
constexpr const char* kNoVideoDevice =
    QT_TRANSLATE_NOOP("kelo::HeadlessRunner", "请插入USB无视频设备!");
constexpr const char* kNoAudioDevice = QT_TRANSLATE_NOOP("kelo::HeadlessRunner", "无音频设备");
constexpr const char* kVideoListLabel = QT_TRANSLATE_NOOP("kelo::HeadlessRunner", "视频设备：");
constexpr const char* kAudioListLabel = QT_TRANSLATE_NOOP("kelo::HeadlessRunner", "录音设备：");

constexpr const char* kHeadlessUsage = QT_TRANSLATE_NOOP(
    "kelo::HeadlessRunner",
    "usage: kelocam --headless [--test-devices[=VIDEO1,...;AUDIO1,...]] [--video-device N]\n"
    "                          [--audio-device N] [--snapshot] [--face-cover]\n"
    "                          [--background-blur] [--video-size WxH] [--fps N]\n"
    "                          [--record KIND --seconds S]\n"
    "Runs the capture engine without the window until SIGINT or SIGTERM. Device positions\n"
    "count from 1, as in the window's lists. --record makes one recording of KIND (0 AVI\n"
    "video+audio, 1 AVI video, 2 AVI PCM audio, 3 WMV video+audio, 4 WMV video, 5 WAV\n"
    "audio, 6 MP4 video+audio, 7 MP4 video, 8 MP3 audio) for S seconds into the REC folder\n"
    "of data.ini, prints the file's path and exits 0, or exits 1 with the reason.\n"
    "--video-size (for example 1280x720) and --fps (1 to 120) ask the camera for that\n"
    "capture mode instead of data.ini's [VIDEO]; the mode the camera gives is printed.\n"
    "A test video name ending in :jpeg delivers only JPEG pictures; one ending in :face\n"
    "shows the photograph KELOCAM_TEST_FACE (a JPEG file) panning slowly; one ending in\n"
    ":vga offers only 640x480 at 30 frames per second; one ending in :silent opens but\n"
    "never sends a frame.\n");

QString Tr(const char* text) {
    return HeadlessRunner::tr(text);
}

QString Local(const std::string& text) {
    return QString::fromStdString(text);
}

// One line on standard error, as it is (the window's own sentences).
void SayLine(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
}

// One line on standard error after the program's name.
void Say(const QString& line) {
    SayLine(QStringLiteral("kelocam: ") + line);
}

bool ParsePosition(const std::string& text, int* position) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 1000)
        return false;
    *position = static_cast<int>(value);
    return true;
}

bool ParseRecordKind(const std::string& text, int* kind) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 8 ||
        !RecordKindFromInt(static_cast<int>(value)))
        return false;
    *kind = static_cast<int>(value);
    return true;
}

bool ParseSeconds(const std::string& text, double* seconds) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0 && value <= 86400))
        return false;
    *seconds = value;
    return true;
}

bool ParseVideoSize(const std::string& text, int* width, int* height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    const std::string w = text.substr(0, x);
    const std::string h = text.substr(x + 1);
    char* end = nullptr;
    const long wide = std::strtol(w.c_str(), &end, 10);
    if (w.empty() || *end != '\0')
        return false;
    const long high = std::strtol(h.c_str(), &end, 10);
    if (h.empty() || *end != '\0' ||
        !IsUsableVideoMode({static_cast<int>(std::min(wide, 1L << 20)),
                            static_cast<int>(std::min(high, 1L << 20)),
                            kDefaultVideoMode.framesPerSecond}))
        return false;
    *width = static_cast<int>(wide);
    *height = static_cast<int>(high);
    return true;
}

bool ParseFps(const std::string& text, int* fps) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > kMaxVideoFps)
        return false;
    *fps = static_cast<int>(value);
    return true;
}

} // namespace

std::string HeadlessUsage() {
    return QCoreApplication::translate("kelo::HeadlessRunner", kHeadlessUsage).toStdString();
}

bool ParseHeadlessOptions(const std::vector<std::string>& args, HeadlessOptions* options,
                          std::string* error) {
    *options = HeadlessOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](int* position) {
            if (i + 1 >= args.size() || !ParsePosition(args[i + 1], position)) {
                *error = HeadlessRunner::tr("%1 needs a device position (1, 2, ...)")
                             .arg(Local(arg))
                             .toStdString();
                return false;
            }
            ++i;
            return true;
        };
        if (arg == "--headless") {
            continue;
        } else if (const TestDevicesOption taken =
                       ParseTestDevicesOption(arg, &options->testDevices);
                   taken != TestDevicesOption::kNotThisOption) {
            options->testDevicesOn = true;
            if (taken == TestDevicesOption::kBadList) {
                *error = kTestDevicesOptionError;
                return false;
            }
        } else if (arg == "--video-device") {
            if (!value(&options->videoDevicePosition))
                return false;
        } else if (arg == "--audio-device") {
            if (!value(&options->audioDevicePosition))
                return false;
        } else if (arg == "--snapshot") {
            options->snapshot = true;
        } else if (arg == "--face-cover") {
            options->faceCover = true;
        } else if (arg == "--background-blur") {
            options->backgroundBlur = true;
        } else if (arg == "--record") {
            if (i + 1 >= args.size() || !ParseRecordKind(args[i + 1], &options->recordKind)) {
                *error =
                    HeadlessRunner::tr("--record needs a recording kind from 0 to 8").toStdString();
                return false;
            }
            ++i;
        } else if (arg == "--video-size") {
            if (i + 1 >= args.size() ||
                !ParseVideoSize(args[i + 1], &options->videoWidth, &options->videoHeight)) {
                *error = HeadlessRunner::tr("--video-size needs WIDTHxHEIGHT (16x16 to 7680x4320)")
                             .toStdString();
                return false;
            }
            ++i;
        } else if (arg == "--fps") {
            if (i + 1 >= args.size() || !ParseFps(args[i + 1], &options->framesPerSecond)) {
                *error =
                    HeadlessRunner::tr("--fps needs frames per second from 1 to 120").toStdString();
                return false;
            }
            ++i;
        } else if (arg == "--seconds") {
            if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], &options->recordSeconds)) {
                *error = HeadlessRunner::tr(
                             "--seconds needs a length in seconds (more than 0, at most 86400)")
                             .toStdString();
                return false;
            }
            ++i;
        } else {
            *error = HeadlessRunner::tr("unknown argument: %1").arg(Local(arg)).toStdString();
            return false;
        }
    }
    if ((options->recordKind >= 0) != (options->recordSeconds > 0)) {
        *error = HeadlessRunner::tr("--record and --seconds go together").toStdString();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

void HeadlessRunner::PrintedList::Clear() {
    names_.clear();
    selected_ = -1;
}

void HeadlessRunner::PrintedList::Insert(int index, const std::string& name) {
    if (index < 0 || index > static_cast<int>(names_.size()))
        index = static_cast<int>(names_.size());
    names_.insert(names_.begin() + index, name);
}

void HeadlessRunner::PrintedList::Select(int index) {
    selected_ = index >= 0 && index < static_cast<int>(names_.size()) ? index : -1;
}

void HeadlessRunner::PrintedList::Print(const char* label) const {
    SayLine(Tr(label));
    if (names_.empty())
        SayLine(QStringLiteral("  ") + HeadlessRunner::tr("(none)"));
    for (std::size_t i = 0; i < names_.size(); ++i)
        std::fprintf(stderr, "%c %zu %s\n", static_cast<int>(i) == selected_ ? '*' : ' ', i + 1,
                     names_[i].c_str());
}

// ---------------------------------------------------------------------------------------------

HeadlessRunner::HeadlessRunner(HeadlessOptions options)
    : options_(std::move(options)), context_(g_main_context_new()) {
    loop_ = MainLoopPtr(g_main_loop_new(context_.get(), FALSE));
    // First of all, so that a stop request during start-up is not lost: SIGINT and SIGTERM end
    // the loop (or, when they come before it runs, make Run return after the start).
    for (int signalNumber : {SIGINT, SIGTERM}) {
        GSource* source = g_unix_signal_source_new(signalNumber);
        g_source_set_callback(source, &HeadlessRunner::OnSignal, this, nullptr);
        g_source_attach(source, context_.get());
        GSourcePtr release(source);
    }
    EnsureGstInitialized();
    DeviceSources sources;
    sources.systemDevices = true;
    sources.testDevicesOn = options_.testDevicesOn;
    sources.testDevices = options_.testDevices;
    RegisterPlatformComponents(registry_, sources);
    RegisterEffectFilters(registry_);
}

HeadlessRunner::~HeadlessRunner() {
    StopPreview();
    // Tasks still queued are dropped with the context, unrun.
}

void HeadlessRunner::StopPreview() {
    // No overlay tick may reach the engine once it is gone; the overlay's pictures go after the
    // engine, whose filter may read them until its pipeline is in NULL.
    if (overlay_)
        overlay_->StopTick();
    // Stop, wait for NULL, close the feed (all zeros), release.
    engine_.reset();
    overlay_.reset();
}

void HeadlessRunner::PostToOwnerThread(std::function<void()> task) {
    // Always through an idle source, never run at once: a task posted from the loop's own thread
    // (an error during a state change) must not re-enter the engine.
    GSource* source = g_idle_source_new();
    auto* owned = new std::function<void()>(std::move(task));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        owned, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, context_.get());
    GSourcePtr release(source);
}

void HeadlessRunner::Quit(int status) {
    status_ = status;
    g_main_loop_quit(loop_.get());
}

void HeadlessRunner::OnCaptureError(const std::string& message) {
    Say(tr("capture stopped: %1").arg(EngineReasonText(message)));
    Quit(1);
}

void HeadlessRunner::OnRecordingFramesDropped(const std::string& message) {
    Say(tr("recording: %1").arg(Local(message)));
}

void HeadlessRunner::OnSnapshotTaken(const SnapshotOutcome& outcome) {
    if (outcome.ok())
        Say(tr("photo written: %1").arg(Local(outcome.path)));
    else if (outcome.status == SnapshotStatus::InvalidSize)
        Say(tr("no photo: the photo size %1 of data.ini is not valid").arg(Local(photoSizeText_)));
    else
        Say(tr("no photo: %1").arg(Local(outcome.errorText)));
}

gboolean HeadlessRunner::OnSignal(gpointer self) {
    static_cast<HeadlessRunner*>(self)->Quit(static_cast<HeadlessRunner*>(self)->status_);
    return G_SOURCE_CONTINUE;
}

void HeadlessRunner::PrintCaptureMode(const CaptureEngine& engine) {
    const VideoMode mode = engine.negotiatedMode();
    Say(tr("capture mode %1x%2 at %3 frames per second")
            .arg(mode.width)
            .arg(mode.height)
            .arg(mode.framesPerSecond));
}

std::unique_ptr<CaptureEngine> HeadlessRunner::NewEngine() {
    VideoMode mode = SettingsStore().ReadVideoMode();
    // The command line over data.ini, each part on its own.
    if (options_.videoWidth > 0 && options_.videoHeight > 0) {
        mode.width = options_.videoWidth;
        mode.height = options_.videoHeight;
    }
    if (options_.framesPerSecond > 0)
        mode.framesPerSecond = options_.framesPerSecond;
    return std::make_unique<CaptureEngine>(mode.width, mode.height, mode.framesPerSecond, this,
                                           registry_);
}

bool HeadlessRunner::StartPreview() {
    // As RestartPreview: the stored capture mode, the remembered device positions.
    engine_ = NewEngine();
    const HRESULT result = engine_->BuildGraph(&surface_, nullptr, options_.videoDevicePosition,
                                               options_.audioDevicePosition);
    videoList_.Print(kVideoListLabel);
    audioList_.Print(kAudioListLabel);
    if (result == CaptureEngine::kNoVideoDevice) {
        SayLine(tr(kNoVideoDevice));
        return false;
    }
    if (result == E_FAIL) {
        Say(tr("the capture graph could not be built"));
        return false;
    }
    if (result == CaptureEngine::kNoAudioDevice)
        SayLine(tr(kNoAudioDevice));
    PrintCaptureMode(*engine_);
    if (engine_->ConnectPreview() == E_FAIL)
        Say(tr("the preview chain could not be connected"));
    if (FAILED(engine_->Run())) {
        Say(tr("the capture graph could not be started"));
        return false;
    }
    Say(tr("preview running"));
    return true;
}

void HeadlessRunner::RestoreEffects() {
    SettingsStore settings;
    // The colour page at start: adjustment on with the stored offsets when "Enble" is set.
    if (settings.ReadInt(SettingId::ColorAdjustEnabled) != 0) {
        engine_->SetColorAdjustOn(1);
        engine_->SetLightnessShift(0);
        engine_->SetSaturationShift(0);
        engine_->SetRedOffset(static_cast<int>(settings.ReadInt(SettingId::RedOffset)));
        engine_->SetGreenOffset(static_cast<int>(settings.ReadInt(SettingId::GreenOffset)));
        engine_->SetBlueOffset(static_cast<int>(settings.ReadInt(SettingId::BlueOffset)));
        Say(tr("colour adjustment restored"));
    }
    // RestoreEffect of the main window: the overlay family and effect saved last.
    if (const std::optional<OverlayFamily> family = settings.ReadOverlayFamily()) {
        const auto index = static_cast<int>(settings.ReadInt(SettingId::OverlayIndex));
        overlay_ = std::make_unique<HeadlessOverlay>(*engine_, context_.get());
        std::string file;
        if (overlay_->Start(*family, index, &file))
            Say(tr("overlay %1 %2 playing (%3)")
                    .arg(QString::fromUtf8(OverlayFamilyName(*family)))
                    .arg(index)
                    .arg(Local(file)));
        else if (index >= 1 && index <= 16)
            Say(tr("overlay effect file not readable or without a picture: %1").arg(Local(file)));
    }
    if (options_.faceCover) {
        engine_->ToggleFaceDetection();
        Say(tr("face cover on"));
    }
    // The "其它" page at start: the blur as data.ini keeps it, or on for this run.
    if (options_.backgroundBlur || settings.ReadInt(SettingId::BackgroundBlur) != 0) {
        engine_->SetBackgroundBlur(1);
        Say(tr("background blur on"));
    }
}

void HeadlessRunner::RequestSnapshotOnceFramesFlow() {
    GSource* source = g_timeout_source_new(50);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<HeadlessRunner*>(data);
            if (!self->engine_ || self->surface_.frames.load(std::memory_order_relaxed) == 0)
                return G_SOURCE_CONTINUE;
            // As the snapshot command reads them, at the time of the photo.
            SettingsStore settings;
            const std::string folder =
                settings.ReadText(SettingId::PhotoFolder, SettingReader::SnapshotCommand);
            const auto width = static_cast<int>(
                settings.ReadInt(SettingId::PhotoWidth, SettingReader::SnapshotCommand));
            const auto height = static_cast<int>(
                settings.ReadInt(SettingId::PhotoHeight, SettingReader::SnapshotCommand));
            // Said as data.ini has it: a number out of range would read as another one.
            self->photoSizeText_ =
                settings.ReadText(SettingId::PhotoWidth, SettingReader::SnapshotCommand) + " x " +
                settings.ReadText(SettingId::PhotoHeight, SettingReader::SnapshotCommand);
            self->engine_->RequestSnapshot(AsFolderPrefix(folder), width, height);
            Say(tr("photo requested (%1) in %2").arg(Local(self->photoSizeText_), Local(folder)));
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(source, context_.get());
    GSourcePtr release(source);
}

bool HeadlessRunner::StartRecording() {
    const RecordKind kind = *RecordKindFromInt(options_.recordKind);
    // As the record command: the preview engine goes, a new one records.
    StopPreview();
    engine_ = NewEngine();
    const HRESULT built = engine_->BuildGraph(&surface_, nullptr, options_.videoDevicePosition,
                                              options_.audioDevicePosition);
    if (built == CaptureEngine::kNoVideoDevice || built == E_FAIL) {
        Say(tr("no recording: %1")
                .arg(built == E_FAIL ? tr("the capture graph could not be built")
                                     : tr(kNoVideoDevice)));
        return false;
    }
    PrintCaptureMode(*engine_);
    SettingsStore settings;
    const std::string folder =
        settings.ReadText(SettingId::RecordFolder, SettingReader::RecordCommand);
    // A graph that failed is not run: it would look like a recording and write nothing usable.
    if (engine_->BuildRecordGraph(kind, AsFolderPrefix(folder)) != S_OK) {
        const bool noAudio =
            built == CaptureEngine::kNoAudioDevice && DescribeRecordKind(kind).hasAudio;
        const QString line =
            tr("no recording: the graph of kind %1 could not be built").arg(options_.recordKind);
        Say(noAudio ? line + QStringLiteral(": ") + tr(kNoAudioDevice) : line);
        return false;
    }
    recordFile_ = engine_->recordFileName();
    if (FAILED(engine_->Run())) {
        Say(tr("no recording: the graph could not start (can %1 be written?)")
                .arg(Local(recordFile_)));
        return false;
    }
    Say(tr("recording %1").arg(Local(recordFile_)));
    GSource* stop = g_timeout_source_new(static_cast<guint>(options_.recordSeconds * 1000));
    g_source_set_callback(
        stop,
        [](gpointer self) -> gboolean {
            static_cast<HeadlessRunner*>(self)->Quit(0);
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(stop, context_.get());
    GSourcePtr release(stop);
    return true;
}

bool HeadlessRunner::FinishRecording() {
    std::error_code error;
    const auto size = std::filesystem::file_size(recordFile_, error);
    if (error || size == 0) {
        Say(tr("no recording: %1 is missing or empty").arg(Local(recordFile_)));
        return false;
    }
    std::printf("%s\n", recordFile_.c_str());
    std::fflush(stdout);
    return true;
}

void HeadlessRunner::StartRecordingRepair() {
    // Recordings a crash left unfinished are mended on a worker and named once, as the window
    // does.
    const std::string folder =
        SettingsStore().ReadText(SettingId::RecordFolder, SettingReader::RecordCommand);
    repairWorker_ = std::thread([this, folder] {
        for (const RepairedRecording& repaired : RepairUnfinishedRecordings(folder)) {
            const std::string text = RepairedRecordingText(repaired);
            PostToOwnerThread([text] { std::fprintf(stderr, "kelocam: %s\n", text.c_str()); });
        }
    });
}

void HeadlessRunner::FinishRecordingRepair() {
    if (repairWorker_.joinable())
        repairWorker_.join();
    // What the worker posted after the loop ended is said now.
    while (g_main_context_iteration(context_.get(), FALSE)) {
    }
}

int HeadlessRunner::Run() {
    g_main_context_push_thread_default(context_.get());
    StartRecordingRepair();
    const bool recording = options_.recordKind >= 0;
    if (!StartPreview() || (recording && !StartRecording())) {
        status_ = 1;
    } else if (recording) {
        RestoreEffects(); // the recording shows the effects of data.ini, as the preview does
        g_main_loop_run(loop_.get());
        // Destroying the engine completes the file (end of stream, then stop).
        StopPreview();
        if (status_ == 0 && !FinishRecording())
            status_ = 1;
    } else {
        RestoreEffects();
        if (options_.snapshot)
            RequestSnapshotOnceFramesFlow();
        g_main_loop_run(loop_.get());
    }
    StopPreview();
    FinishRecordingRepair();
    Say(tr("stopped"));
    g_main_context_pop_thread_default(context_.get());
    return status_;
}

int RunHeadless(const std::vector<std::string>& args) {
    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessOptions(args, &options, &error)) {
        std::fprintf(stderr, "kelocam: %s\n%s", error.c_str(), HeadlessUsage().c_str());
        return 2;
    }
    WarnAboutMissingAssets();
    HeadlessRunner runner(std::move(options));
    return runner.Run();
}

} // namespace kelo
