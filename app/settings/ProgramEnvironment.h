// What the studio settles before its window or its headless engine starts: the version it
// reports, the working folder when the desktop menu starts it, and the check of its assets.
// Plain C++ (no Qt), for both modes.
#pragma once

#include <optional>
#include <string>

namespace kelo {

// "kelocam 0.1": the program and the project's version.
const char* ProgramVersionText();

// The lines of --help for the options above.
const char* ProgramOptionsUsage();

// The option of the desktop entry: the studio works in EnterDesktopWorkingFolder's folder.
inline constexpr const char* kFromDesktopOption = "--from-desktop";

// The folder a studio started from the desktop menu works in: "<UserConfigFolder()>/kelocam".
std::string DesktopWorkingFolder();

// Makes DesktopWorkingFolder (and its parents, private to the user) when missing and makes it
// the working directory, so that data.ini lands there and not in the home folder the menu
// starts programs in. False with the reason when the folder cannot be made or entered; the
// working directory is then unchanged.
bool EnterDesktopWorkingFolder(std::string* folder, std::string* error);

// Handles the options that come before any mode, and takes them out of argv (argc shrinks) so
// that the modes never see them: "--version" prints ProgramVersionText and gives exit status 0;
// "--from-desktop" enters the desktop working folder (a failure is one line on stderr, and the
// studio runs where it was started). Empty when the program goes on with what is left.
std::optional<int> ApplyProgramOptions(int* argc, char** argv);

// Looks each read-only asset up once at start (effect pack, shutter sound, face cascade), so
// that a missing one is named on stderr, with where it was looked for, before anything else.
void WarnAboutMissingAssets();

} // namespace kelo
