// What kelocam-vcam delivers to when its command line names no output: the PipeWire camera when
// a PipeWire daemon answers (no root needed), else the v4l2loopback device labelled "Kelo Virtual
// Camera", else nothing, and the user is told the three ways and how to get each.
#pragma once

#include <filesystem>
#include <string>

namespace kelo::vcam {

// "/dev/videoN" of the video device under `classFolder` (one folder per device, its label in
// the file "name") labelled "Kelo Virtual Camera"; the lowest N when there are several. Empty
// when there is none.
std::string FindLoopbackDevice(const std::filesystem::path& classFolder = "/sys/class/video4linux");

struct OutputChoice {
    enum class Kind { PipeWire, Loopback, None };
    Kind kind = Kind::None;
    std::string devicePath; // Loopback: the device
    std::string message;    // for standard error: what was chosen and why, or the three ways
};

// The choice from what the machine has: `pipewireSocket` non-empty when a daemon answers there,
// `loopbackDevice` non-empty when such a device exists.
OutputChoice ChooseOutput(const std::string& pipewireSocket, const std::string& loopbackDevice);

} // namespace kelo::vcam
