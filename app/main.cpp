// kelocam: the webcam studio. The window opens by default; --headless runs the capture engine
// alone (app/headless/HeadlessRunner.h); --help lists every option.
#include "app/settings/ProgramEnvironment.h"
#include "app/StudioApplication.h"

int main(int argc, char** argv) {
    // --version and --from-desktop come before any mode and are gone from argv afterwards.
    if (std::optional<int> status = kelo::ApplyProgramOptions(&argc, argv))
        return *status;
    return kelo::StudioMain(argc, argv);
}
