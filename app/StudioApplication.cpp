#include "app/StudioApplication.h"

#include "app/headless/HeadlessRunner.h"
#include "app/settings/ProgramEnvironment.h"
#include "app/settings/Translations.h"
#include "app/window/MainDialog.h"
#include "effects/filters/EffectFilters.h"
#include "platform/PlatformComponents.h"
#include "platform/system/GstRuntime.h"
#include "ui/Skin.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QSocketNotifier>
#include <unistd.h>

namespace kelo {

namespace {

// The terminal's texts (usage, option errors) are translated as the window's are.
constexpr const char* kTextContext = "kelo::StudioApplication";

QString Tr(const char* text) {
    return QCoreApplication::translate(kTextContext, text);
}

constexpr const char* kWindowUsage = QT_TRANSLATE_NOOP(
    "kelo::StudioApplication",
    "usage: kelocam [--test-devices[=VIDEO1,...;AUDIO1,...]] [--face-cover]\n"
    "       kelocam --headless [options of the headless mode, below]\n"
    "       kelocam --help\n"
    "Opens the studio window with the cameras and microphones of this machine.\n"
    "  --test-devices          add one \"Test Camera\" (a moving pattern) and one \"Test\n"
    "                          Microphone\" (a tone) to the device lists\n"
    "  --test-devices=V,...;A,...\n"
    "                          add test devices with these names, in this order (an empty\n"
    "                          list adds none of that kind; no ';' adds no microphone)\n"
    "  --face-cover            start with the face cover on (\"遮盖脸部\" checked)\n"
    "  --headless              run the capture engine without the window\n"
    "  --help                  show this text\n");
// After the options that come before any mode (ProgramOptionsUsage).
constexpr const char* kEnvironmentUsage = QT_TRANSLATE_NOOP(
    "kelo::StudioApplication",
    "Environment: KELOCAM_FEED_NAME (the virtual camera's shared-memory block, default\n"
    "/KeloVCam), KELOCAM_DATA_DIR (read-only assets after the working directory, before\n"
    "../share/kelocam beside the program), KELOCAM_LANG=zh|en (the window's language; by\n"
    "default Chinese on a Chinese desktop, LANG/LC_MESSAGES zh_*, else English; the\n"
    "terminal's texts too).\n\n");

// Ends every message box, modal dialog and popup menu that is open over the studio: each runs
// an event loop of its own, which would otherwise keep the process alive after the window has
// gone. Their callers see a cancelled box, and the window checks after each that it is still
// open. Window thread.
void CloseOpenDialogs(QWidget& window) {
    // A box may open another as it ends: a bounded number of rounds.
    for (int round = 0; round < 8; ++round) {
        bool closed = false;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget == &window || !widget->isVisible())
                continue;
            if (auto* dialog = qobject_cast<QDialog*>(widget)) {
                dialog->done(QDialog::Rejected);
                closed = true;
            } else if (widget->windowType() == Qt::Popup) {
                widget->close();
                closed = true;
            }
        }
        if (!closed)
            return;
    }
}

// SIGINT and SIGTERM (Ctrl+C, the session ending) close the window as its close button does,
// so the graph stops in order and the feed is left black. The handler only writes one byte into
// a pipe; the window thread reads it.
class StopSignals {
public:
    explicit StopSignals(QWidget& window) {
        if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        writeFd_ = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &window, [this, &window] {
            char drained[16];
            while (read(fds_[0], drained, sizeof drained) > 0) {
            }
            CloseOpenDialogs(window);
            window.close();
        });
        struct sigaction action {};
        action.sa_handler = [](int) {
            const char byte = 1;
            (void)!write(writeFd_, &byte, 1); // async-signal-safe; a full pipe already says it
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals() {
        if (writeFd_ < 0)
            return;
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        notifier_.reset();
        writeFd_ = -1;
        close(fds_[0]);
        close(fds_[1]);
    }

private:
    static inline int writeFd_ = -1;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

} // namespace

bool ParseStudioOptions(const std::vector<std::string>& args, StudioOptions* options,
                        std::string* error) {
    *options = StudioOptions{};
    for (const std::string& arg : args) {
        if (arg == "--headless") {
            options->headless = true;
            return true;
        }
    }
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (const TestDevicesOption taken =
                       ParseTestDevicesOption(arg, &options->testDevices);
                   taken != TestDevicesOption::kNotThisOption) {
            options->testDevicesOn = true;
            if (taken == TestDevicesOption::kBadList) {
                *error = kTestDevicesOptionError;
                return false;
            }
        } else if (arg == "--face-cover") {
            options->faceCover = true;
        } else if (arg == "--video-device" || arg == "--audio-device" || arg == "--snapshot" ||
                   arg == "--record" || arg == "--seconds") {
            *error = QCoreApplication::translate(
                         "kelo::StudioApplication",
                         "%1 belongs to the headless mode (kelocam --headless %1 ...)")
                         .arg(QString::fromStdString(arg))
                         .toStdString();
            return false;
        } else {
            *error = QCoreApplication::translate("kelo::StudioApplication", "unknown option: %1")
                         .arg(QString::fromStdString(arg))
                         .toStdString();
            return false;
        }
    }
    return true;
}

std::string StudioUsage() {
    return (Tr(kWindowUsage) + Tr(ProgramOptionsUsage()) + Tr(kEnvironmentUsage)).toStdString() +
           HeadlessUsage();
}

int RunStudio(int argc, char** argv, const StudioOptions& options) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelocam"));
    // Before any window: the texts are translated when they are made.
    const InstalledTranslation translation(ChooseLanguage(ProcessLocaleEnvironment()));
    ui::InstallApplicationFont();
    QApplication::setWindowIcon(QIcon(ui::LoadSkinIcon(ui::skin::kAppIcon)));

    // Instance initialisation: GStreamer and the class registry in place of COM.
    EnsureGstInitialized();
    ClassRegistry registry;
    DeviceSources sources;
    sources.systemDevices = true;
    sources.testDevicesOn = options.testDevicesOn;
    sources.testDevices = options.testDevices;
    // One set of test devices for the engines and the window's monitor.
    if (sources.testDevicesOn)
        sources.testProvider = std::make_shared<TestDeviceProvider>(sources.testDevices);
    // The window's monitor follows the devices; the lists read the system's devices from it.
    auto devices =
        std::make_shared<DeviceMonitor>(sources, std::vector<std::string>{kVirtualCameraName});
    sources.systemMonitor = devices;
    RegisterPlatformComponents(registry, sources);
    RegisterEffectFilters(registry);
    WarnAboutMissingAssets();
    {
        MainDialog dialog(registry);
        dialog.FollowDevices(devices);
        StopSignals stopSignals(dialog);
        dialog.Create(); // the dialog initialisation, as the modal run would start it
        if (options.faceCover) {
            // As a click on the box, so that its mark and the switch stay in step.
            if (EnginePage* page = dialog.Page(MainDialog::kFaceCoverTab)) {
                if (auto* box = page->Control<QAbstractButton>(FaceCoverPage::kFaceCoverCheck))
                    box->click();
            }
        }
        (void)dialog.DoModal(); // whatever its result, the program ends with the window
    }
    // Instance exit: the registry goes after the window and its last engine. GStreamer stays
    // initialised until the process ends (an asynchronous shutter sound may still be playing).
    return 0;
}

int StudioMain(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    StudioOptions options;
    std::string error;
    if (ParseStudioOptions(args, &options, &error) && !options.headless && !options.help)
        return RunStudio(argc, argv, options);
    // The terminal's modes: an application object without a window, for the translation (the
    // same choice of language and the same file as the window's).
    QCoreApplication terminal(argc, argv);
    // Qt takes the C library's locale from the environment; numbers on the command line and in
    // data.ini keep reading with a point.
    std::setlocale(LC_NUMERIC, "C");
    const InstalledTranslation translation(ChooseLanguage(ProcessLocaleEnvironment()));
    // Again, now that the messages are translated.
    if (!ParseStudioOptions(args, &options, &error)) {
        std::fputs(QCoreApplication::translate("kelo::StudioApplication",
                                               "kelocam: %1\nTry kelocam --help.\n")
                       .arg(QString::fromStdString(error))
                       .toUtf8()
                       .constData(),
                   stderr);
        return 2;
    }
    if (options.headless)
        return RunHeadless(args);
    std::fputs(StudioUsage().c_str(), stdout);
    return 0;
}

} // namespace kelo
