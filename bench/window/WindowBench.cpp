// The studio as people start it, with its window, on the offscreen platform and the test
// devices, for N seconds a run (default 10):
//   time from process start to the first frame painted in the preview (target under 1 s),
//   CPU per second of wall time with every effect off (target under 6 % of one core) and with a
//   light overlay, colour adjustment and the face cover on (target under 30 %),
//   resident memory at the end of the run (target under 200 MB).
// Each scenario runs --runs times (default 3) in a fresh folder; the medians are printed.
// The first-frame time comes from the studio's "kelo.window" log line, stamped with the
// monotonic clock, against the monotonic time of the fork.
#include "bench/support/BenchMeasure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using kelo::bench::Median;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// utime + stime of the process and its threads, in clock ticks.
long long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

struct RunResult {
    double firstFrameMs = -1;
    double cpuPercentWhole = -1;  // over the whole run
    double cpuPercentSteady = -1; // from 2 s to the end
    double residentMb = -1;
};

RunResult RunOnce(const fs::path& program, bool effectsOn, double seconds) {
    char folderTemplate[] = "/tmp/kelo-window-bench-XXXXXX";
    const fs::path dir = mkdtemp(folderTemplate);
    if (effectsOn) {
        std::ofstream ini(dir / "data.ini");
        ini << "[Effect]\nEffect=Led\nIndex=4\n[ColorAdjust]\nEnble=1\n[RGB]\nR=40\nG=0\nB=-20\n";
    }
    const fs::path log = dir / "log.txt";
    const std::string feedName = "/kelo-window-bench-" + std::to_string(getpid());
    const long long start = MonotonicMs();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QT_LOGGING_RULES", "kelo.window.info=true", 1);
        setenv("KELOCAM_FEED_NAME", feedName.c_str(), 1);
        setenv("KELOCAM_DATA_DIR", KELO_BINARY_DIR, 1);
        std::vector<std::string> args{program.string(), "--test-devices"};
        if (effectsOn)
            args.push_back("--face-cover");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    RunResult result;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    long long steadyTicks = -1;
    long long steadyAt = 0;
    const long long end = start + static_cast<long long>(seconds * 1000);
    long long endTicks = -1;
    while (MonotonicMs() < end) {
        std::this_thread::sleep_for(20ms);
        if (steadyTicks < 0 && MonotonicMs() >= start + 2000) {
            steadyTicks = CpuTicks(pid);
            steadyAt = MonotonicMs();
        }
        if (result.firstFrameMs < 0) {
            std::ifstream in(log);
            std::string line;
            while (std::getline(in, line)) {
                const auto at = line.find("first frame painted at ");
                if (at != std::string::npos) {
                    result.firstFrameMs =
                        static_cast<double>(std::atoll(line.c_str() + at + 23) - start);
                    break;
                }
            }
        }
    }
    endTicks = CpuTicks(pid);
    const long long endAt = MonotonicMs();
    result.residentMb = ResidentKb(pid) / 1024.0;
    result.cpuPercentWhole = 100.0 * endTicks / ticksPerSecond / ((endAt - start) / 1000.0);
    if (steadyTicks >= 0)
        result.cpuPercentSteady =
            100.0 * (endTicks - steadyTicks) / ticksPerSecond / ((endAt - steadyAt) / 1000.0);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "window_bench: the studio did not exit cleanly; its log:\n");
        std::ifstream in(log);
        std::fprintf(stderr, "%s\n", std::string((std::istreambuf_iterator<char>(in)), {}).c_str());
    }
    fs::remove_all(dir);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(3.0, std::atof(argv[++i]));
        else {
            std::fprintf(stderr, "usage: window_bench [--runs N] [--seconds S]\n");
            return 2;
        }
    }
    const fs::path program = fs::path(KELO_BINARY_DIR) / "app" / "kelocam";
    std::printf("kelocam with its window, offscreen, test devices, %.0f s a run, %d runs "
                "(medians)\n",
                seconds, runs);
    for (bool effectsOn : {false, true}) {
        std::vector<double> first, whole, steady, resident;
        for (int i = 0; i < runs; ++i) {
            const RunResult r = RunOnce(program, effectsOn, seconds);
            first.push_back(r.firstFrameMs);
            whole.push_back(r.cpuPercentWhole);
            steady.push_back(r.cpuPercentSteady);
            resident.push_back(r.residentMb);
        }
        const double cpuTarget = effectsOn ? 30.0 : 6.0;
        std::printf("\n%s\n", effectsOn ? "light overlay + colour adjustment + face cover"
                                        : "every effect off");
        std::printf("  first frame painted  %7.0f ms     target < 1000 ms  (ratio %.2f)\n",
                    Median(first), Median(first) / 1000.0);
        std::printf("  CPU, whole run       %7.1f %%      target < %.0f %%   (ratio %.2f)\n",
                    Median(whole), cpuTarget, Median(whole) / cpuTarget);
        std::printf("  CPU, after 2 s       %7.1f %%      target < %.0f %%   (ratio %.2f)\n",
                    Median(steady), cpuTarget, Median(steady) / cpuTarget);
        std::printf("  resident memory      %7.1f MB     target < 200 MB   (ratio %.2f)\n",
                    Median(resident), Median(resident) / 200.0);
    }
    return 0;
}
