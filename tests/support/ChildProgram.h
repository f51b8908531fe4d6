// A program the test starts as a child process, in the test's working directory, with its
// output in a file the test reads while it runs. A child still running when the object goes is
// killed and reaped, so a failed assertion never leaves a studio running behind the test.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kelo::test {

struct ChildOptions {
    std::filesystem::path logFile;                                // standard error goes here
    bool standardOutputToo = false;                               // and standard output
    std::vector<std::pair<std::string, std::string>> environment; // set in the child only
};

class ChildProgram {
public:
    ChildProgram(const std::filesystem::path& program, std::vector<std::string> args,
                 ChildOptions options);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // What the child has written to its log so far.
    std::string Log() const;
    // True once the log holds `text`; false when `timeout` ran out first.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout) const;
    // Waits for the child to end: its exit status, or 128 + the signal that ended it. A child
    // still running at the deadline (under the test's own timeout) gets its threads' stacks
    // written into its log, where the failing assertion shows them, and is killed.
    int Wait(std::chrono::seconds deadline = std::chrono::seconds(90));
    // Sends the signal, then waits as Wait does.
    int Stop(int signalNumber);

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// The studio program of this build.
std::filesystem::path StudioProgramPath();

} // namespace kelo::test
