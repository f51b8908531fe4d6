// kelocam: the webcam studio. The window is started by default; --headless runs the capture
// engine alone (see app/HeadlessRunner.h).
#include "app/HeadlessRunner.h"
#include "app/ProgramEnvironment.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (std::optional<int> status = kelo::ApplyProgramOptions(&argc, argv))
        return *status;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help") {
            std::printf(
                "%s\n%s%s"
                "Environment: KELOCAM_FEED_NAME (the virtual camera's shared-memory block,\n"
                "default /KeloVCam), KELOCAM_DATA_DIR (read-only assets after the working\n"
                "directory, before ../share/kelocam beside the program).\n",
                kelo::ProgramVersionText(), kelo::HeadlessUsage(), kelo::ProgramOptionsUsage());
            return 0;
        }
        if (arg == "--headless")
            return kelo::RunHeadless(args);
    }
    std::fprintf(stderr, "kelocam: this build has no studio window yet; run it with --headless\n%s",
                 kelo::HeadlessUsage());
    return 2;
}
