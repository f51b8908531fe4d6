// Command line of kelocam-vcam.
#pragma once

#include "tools/kelocam-vcam/FeedConverter.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// After the feed's layouts: Qt's keyword macro "slots" would rename the HD block's member.
#include <QCoreApplication>

namespace kelo::vcam {

inline constexpr int kFramesPerSecond = 15;

// What the bridge says goes through the studio's translation, in the language the studio's
// window would speak (the program installs it, app/settings/Translations.h).
struct BridgeText {
    Q_DECLARE_TR_FUNCTIONS(kelo::vcam::BridgeText)
};

// One line on `log` after the program's name.
void Say(std::FILE* log, const QString& line);

struct BridgeOptions {
    std::string devicePath;                       // --device: a v4l2loopback output device
    bool pipewire = false;                        // --pipewire: publish a PipeWire camera
    std::string y4mPath;                          // --y4m: a file, or "-" for standard output
    FrameSize size;                               // --size WxH (every output)
    bool sizeGiven = false; // --size was given: no output follows the studio's size
    PixelFormat deviceFormat = PixelFormat::YUY2; // --format: what the device and PipeWire get
    std::int64_t frameLimit = 0; // --frames N: stop after N frames (0: run until stopped)
    bool showHelp = false;
    // No output option given: the bridge picks what the machine has (see OutputChoice.h).
    bool chooseOutput() const { return devicePath.empty() && y4mPath.empty() && !pipewire; }
};

struct ParsedOptions {
    std::optional<BridgeOptions> options; // none when the command line is wrong
    std::string error;                    // what was wrong, for the user
};

ParsedOptions ParseBridgeOptions(const std::vector<std::string>& args);

// "WxH" with an even width (a pixel pair shares its chroma) and both sides 2..4096.
std::optional<FrameSize> ParseFrameSize(const std::string& text);

std::string UsageText();

} // namespace kelo::vcam
