#include "tools/kelocam-vcam/probe/BridgeProcess.h"

#include <cstring>
#include <fcntl.h>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kelo::vcam::probe {

namespace {

double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

} // namespace

BridgeProcess::~BridgeProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    CloseFds();
}

std::filesystem::path BridgeProcess::Executable() {
    return KELOCAM_VCAM_PATH;
}

bool BridgeProcess::Start(const std::vector<std::string>& args, const Environment& extraEnv) {
    return StartProgram(Executable(), args, extraEnv);
}

bool BridgeProcess::StartProgram(const std::filesystem::path& programPath,
                                 const std::vector<std::string>& args, const Environment& extraEnv,
                                 const std::filesystem::path& workingDirectory) {
    if (pid_ > 0)
        return false;
    CloseFds();
    stderrText_.clear();

    int outFds[2] = {-1, -1};
    int errFds[2] = {-1, -1};
    if (pipe2(outFds, O_CLOEXEC) != 0)
        return false;
    UniqueFd outRead(outFds[0]);
    UniqueFd outWrite(outFds[1]);
    if (pipe2(errFds, O_CLOEXEC) != 0)
        return false;
    UniqueFd errRead(errFds[0]);
    UniqueFd errWrite(errFds[1]);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& [key, value] : extraEnv)
        env[key] = value;
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : env)
        envStrings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    const std::string program = programPath.string();
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    // The child starts with default signal handling, whatever the test runner set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    // Only the child writes: our write ends close here, so the reads see the end of its output.
    outWrite.reset();
    errWrite.reset();
    if (rc != 0)
        return false;
    pid_ = pid;
    stdout_ = std::move(outRead);
    stderr_ = std::move(errRead);
    fcntl(stderr_.get(), F_SETFL, fcntl(stderr_.get(), F_GETFL) | O_NONBLOCK);
    return true;
}

void BridgeProcess::Signal(int signalNumber) const {
    if (pid_ > 0)
        ::kill(pid_, signalNumber);
}

void BridgeProcess::DrainStderr() {
    if (!stderr_)
        return;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(stderr_.get(), chunk, sizeof chunk);
        if (n <= 0)
            break;
        stderrText_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string BridgeProcess::Stderr() {
    DrainStderr();
    return stderrText_;
}

std::optional<int> BridgeProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DrainStderr(); // keep the child from blocking on a full error pipe
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            pid_ = -1;
            cpuSeconds_ = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
            DrainStderr();
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            if (WIFSIGNALED(status))
                return 128 + WTERMSIG(status);
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<int> BridgeProcess::Stop(std::chrono::milliseconds timeout) {
    Signal(SIGTERM);
    return Wait(timeout);
}

void BridgeProcess::CloseStdout() {
    stdout_.reset();
}

void BridgeProcess::CloseFds() {
    stdout_.reset();
    stderr_.reset();
}

} // namespace kelo::vcam::probe
