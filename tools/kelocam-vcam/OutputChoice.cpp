#include "tools/kelocam-vcam/OutputChoice.h"

#include <charconv>
#include <system_error>

#include "platform/system/InputFile.h"
#include "tools/kelocam-vcam/BridgeOptions.h"
#include "tools/kelocam-vcam/PipeWireOutput.h"

namespace kelo::vcam {

namespace {

// N of "videoN", or -1.
int VideoNumber(const std::string& folderName) {
    constexpr std::string_view prefix = "video";
    if (folderName.size() <= prefix.size() || folderName.compare(0, prefix.size(), prefix) != 0)
        return -1;
    int number = -1;
    const char* first = folderName.data() + prefix.size();
    const char* last = folderName.data() + folderName.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    return ec == std::errc() && end == last ? number : -1;
}

} // namespace

std::string FindLoopbackDevice(const std::filesystem::path& classFolder) {
    std::error_code ec;
    int best = -1;
    for (const auto& entry : std::filesystem::directory_iterator(classFolder, ec)) {
        const int number = VideoNumber(entry.path().filename().string());
        if (number < 0 || (best >= 0 && number > best))
            continue;
        // Opened as every file the bridge reads: without waiting, a regular file only.
        std::string label;
        (void)ReadInputFile((entry.path() / "name").string(), 4096, &label);
        label = label.substr(0, label.find('\n'));
        if (label == kPipeWireNodeDescription)
            best = number;
    }
    return best < 0 ? std::string() : "/dev/video" + std::to_string(best);
}

OutputChoice ChooseOutput(const std::string& pipewireSocket, const std::string& loopbackDevice) {
    OutputChoice choice;
    if (!pipewireSocket.empty()) {
        choice.kind = OutputChoice::Kind::PipeWire;
        choice.message = BridgeText::tr("no output given; a PipeWire daemon answers at %1: "
                                        "publishing the PipeWire camera \"Kelo Virtual Camera\" "
                                        "(--pipewire)")
                             .arg(QString::fromStdString(pipewireSocket))
                             .toStdString();
        return choice;
    }
    if (!loopbackDevice.empty()) {
        choice.kind = OutputChoice::Kind::Loopback;
        choice.devicePath = loopbackDevice;
        choice.message = BridgeText::tr("no output given and no PipeWire daemon answers; writing "
                                        "to the loopback device \"Kelo Virtual Camera\" "
                                        "(--device %1)")
                             .arg(QString::fromStdString(loopbackDevice))
                             .toStdString();
        return choice;
    }
    choice.message =
        BridgeText::tr(
            "no output given, and this machine has neither a PipeWire daemon nor a loopback device "
            "labelled \"Kelo Virtual Camera\". Three ways:\n"
            "  --pipewire      a PipeWire camera, no root needed: install the Debian packages\n"
            "                  pipewire, wireplumber and gstreamer1.0-pipewire, then\n"
            "                  systemctl --user start pipewire wireplumber\n"
            "  --device PATH   a v4l2loopback device: sudo apt-get install v4l2loopback-dkms, "
            "then\n"
            "                  sudo modprobe v4l2loopback video_nr=10 card_label=\"Kelo Virtual "
            "Camera\" exclusive_caps=1\n"
            "  --y4m FILE|-    a YUV4MPEG2 stream to a file or to another program:\n"
            "                  kelocam-vcam --y4m - | ffplay -f yuv4mpegpipe -i -")
            .toStdString();
    return choice;
}

} // namespace kelo::vcam
