// kelocam: the webcam studio. The window opens by default; --headless runs the capture engine
// alone (app/HeadlessRunner.h); --help lists every option.
#include "app/StudioApplication.h"

int main(int argc, char** argv) {
    return kelo::StudioMain(argc, argv);
}
