#include "support/ChildProgram.h"

#include "support/TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelo::test {

ChildProgram::ChildProgram(const std::filesystem::path& program, std::vector<std::string> args,
                           ChildOptions options)
    : log_(std::move(options.logFile)) {
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::string path = program.string();
    std::vector<char*> argv{path.data()};
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string log = log_.string();
    pid_ = fork();
    if (pid_ == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (options.standardOutputToo)
            dup2(fd, 1);
        dup2(fd, 2);
        for (const auto& [name, value] : options.environment)
            setenv(name.c_str(), value.c_str(), 1);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ChildProgram::Log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ChildProgram::WaitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (Log().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int ChildProgram::Wait(std::chrono::seconds deadline) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            // A hang is only worth something with the place it hangs in.
            const std::string command = "{ echo 'kelo test: the child did not end within " +
                                        std::to_string(deadline.count()) +
                                        " s; its threads:'; gdb -p " + std::to_string(pid_) +
                                        " -batch -nx -ex 'thread apply all bt' 2>&1; } >> '" +
                                        log_.string() + "' 2>&1";
            (void)std::system(command.c_str());
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ChildProgram::Stop(int signalNumber) {
    kill(pid_, signalNumber);
    return Wait();
}

std::filesystem::path StudioProgramPath() {
    return BinaryDir() / "app" / "kelocam";
}

} // namespace kelo::test
