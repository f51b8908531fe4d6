// The studio's application object and its command line. Without --headless, `kelocam` opens the
// main window: the application object initialises GStreamer and the class registry (the
// platform's components and the effect filters), runs MainDialog modally, destroys it when the
// modal run returns, and tears the registry down after the window.
#pragma once

#include "platform/graph/DeviceEnumerator.h"

#include <string>
#include <vector>

namespace kelo {

struct StudioOptions {
    bool help = false;
    bool headless = false; // the rest of the command line belongs to the headless mode
    bool testDevicesOn = false;
    TestDevices testDevices;
    bool faceCover = false; // start with the face cover on ("遮盖脸部" checked)
};

// Parses the arguments after the program name. False with a message for an unknown or
// malformed option (exit status 2).
bool ParseStudioOptions(const std::vector<std::string>& args, StudioOptions* options,
                        std::string* error);

// Every option of the program, the window's and the headless mode's.
std::string StudioUsage();

// Runs the window until it is closed; the exit status (0).
int RunStudio(int argc, char** argv, const StudioOptions& options);

// main() of the program.
int StudioMain(int argc, char** argv);

} // namespace kelo
