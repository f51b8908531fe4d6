// kelocam-vcam: the Linux counterpart of the virtual camera source filter. See UsageText().
#include "tools/kelocam-vcam/Bridge.h"
#include "tools/kelocam-vcam/BridgeOptions.h"

#include <atomic>
#include <clocale>
#include <cstdio>
#include <opencv2/core.hpp>
#include <signal.h>
#include <string>
#include <vector>

// After the bridge's headers (see BridgeOptions.h).
#include "app/settings/Translations.h"

#include <QCoreApplication>

namespace {

std::atomic<bool> g_stopRequested{false}; // lock-free, so safe to set from a signal handler
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    g_stopRequested.store(true);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked write or sleep returns and sees the request
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe shows up as EPIPE from write, which ends the stream cleanly.
    signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv) {
    using namespace kelo::vcam;
    // For the translation alone (no event loop runs): the bridge speaks the language the
    // studio's window would, from the same file.
    QCoreApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C"); // Qt took the locale from the environment
    const kelo::InstalledTranslation translation(
        kelo::ChooseLanguage(kelo::ProcessLocaleEnvironment()));
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedOptions parsed = ParseBridgeOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "kelocam-vcam: %s\n\n%s", parsed.error.c_str(), UsageText().c_str());
        return kExitUsage;
    }
    if (parsed.options->showHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    // One 320 x 240 frame 15 times a second: OpenCV's worker threads would cost more than they
    // save.
    cv::setNumThreads(0);
    InstallSignalHandlers();
    return RunBridge(*parsed.options, g_stopRequested, stderr);
}
