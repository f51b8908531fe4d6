// Linked into every test program: a test still running shortly before ctest's timeout writes
// every thread's stack to its output and aborts, so a hang seen once (often only on the loaded
// CI machine) tells where it hangs instead of ending in "Timeout" with nothing else to go on.
// KELO_TEST_HANG_SECONDS (set per test by kelo_add_gtest) is the time it gets; unset: none.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

struct HangWatchdog {
    HangWatchdog() {
        const char* text = std::getenv("KELO_TEST_HANG_SECONDS");
        const long seconds = text ? std::strtol(text, nullptr, 10) : 0;
        if (seconds <= 0)
            return;
        // gdb is started by this process but attaches to it: allowed where ptrace is
        // restricted to descendants only with this permission.
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        // Detached: it sleeps through a test that ends in time and dies with the process.
        std::thread([seconds] {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            std::fprintf(stderr, "kelo test: still running after %ld s; its threads:\n", seconds);
            std::fflush(stderr);
            const std::string command =
                "gdb -p " + std::to_string(getpid()) + " -batch -nx -ex 'thread apply all bt' 1>&2";
            (void)std::system(command.c_str());
            std::abort();
        }).detach();
    }
};

const HangWatchdog watchdog;

} // namespace
