// A child process (kelocam-vcam, or the studio) with its standard output on a pipe (the Y4M stream
// when run with
// "--y4m -") and its standard error collected.
#pragma once

#include "platform/system/Handles.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kelo::vcam::probe {

class BridgeProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    BridgeProcess() = default;
    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;
    ~BridgeProcess(); // kills a child still running

    // The built kelocam-vcam.
    static std::filesystem::path Executable();

    // Starts kelocam-vcam with `args`, the environment of this process plus `extraEnv`.
    bool Start(const std::vector<std::string>& args, const Environment& extraEnv = {});
    // The same for another program (the studio, in end-to-end tests), optionally in another
    // working directory.
    bool StartProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                      const Environment& extraEnv = {},
                      const std::filesystem::path& workingDirectory = {});

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int stdoutFd() const {
        return stdout_.get();
    } // borrowed; closed by CloseStdout or the destructor
    // Closes our end of the child's standard output (a viewer that goes away).
    void CloseStdout();

    void Signal(int signalNumber) const;
    // The exit status once the child ended (128 + signal when a signal killed it); none when it
    // still runs after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Sends SIGTERM and waits.
    std::optional<int> Stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What the child wrote to standard error so far.
    std::string Stderr();
    // CPU time of the ended child (user + system), from wait4.
    double cpuSeconds() const { return cpuSeconds_; }

private:
    void DrainStderr();
    void CloseFds();

    pid_t pid_ = -1;
    UniqueFd stdout_;
    UniqueFd stderr_;
    std::string stderrText_;
    double cpuSeconds_ = 0;
};

} // namespace kelo::vcam::probe
