#include "tools/kelocam-vcam/BridgeOptions.h"

#include <charconv>

namespace kelo::vcam {

namespace {

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty())
        return std::nullopt;
    return value;
}

QString Local(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr const char* kUsage = QT_TRANSLATE_NOOP(
    "kelo::vcam::BridgeText",
    "Usage: kelocam-vcam [--pipewire] [--device /dev/videoN] [--y4m FILE|-]\n"
    "                    [--size WxH] [--format yuy2|i420] [--frames N]\n"
    "\n"
    "Delivers the Kelo studio's processed video to other programs. Creates the shared\n"
    "memory block the studio writes (or opens it when it exists) and follows the\n"
    "studio's HD block (the same name with HD appended) while the studio writes it, at\n"
    "the studio's size and rate; otherwise the 320x240 block at 15 frames per second.\n"
    "Each frame goes out upright:\n"
    "  --pipewire      as a PipeWire camera, \"Kelo Virtual Camera\" (node kelo-vcam)\n"
    "  --device PATH   to a v4l2loopback device (load it with card_label=\"Kelo Virtual\n"
    "                  Camera\" exclusive_caps=1)\n"
    "  --y4m FILE      as a YUV4MPEG2 stream (4:2:0); - writes to standard output\n"
    "  --size WxH      scale to this size (even width; default: the studio's size)\n"
    "  --format F      what the PipeWire camera and the device are given: yuy2 (default)\n"
    "                  or i420\n"
    "  --frames N      stop after N frames\n"
    "Without an output option it picks one: PipeWire when a PipeWire daemon answers, else\n"
    "a loopback device labelled \"Kelo Virtual Camera\".\n"
    "\n"
    "Stops on SIGINT or SIGTERM and leaves the block in place. Only one bridge runs per\n"
    "block. The block is /KeloVCam unless KELOCAM_FEED_NAME names another.\n");

} // namespace

std::optional<FrameSize> ParseFrameSize(const std::string& text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    const auto width = ParseInteger(std::string_view(text).substr(0, x));
    const auto height = ParseInteger(std::string_view(text).substr(x + 1));
    if (!width || !height)
        return std::nullopt;
    if (*width < 2 || *width > kMaxFrameDimension || *width % 2 != 0)
        return std::nullopt;
    if (*height < 2 || *height > kMaxFrameDimension)
        return std::nullopt;
    return FrameSize{static_cast<int>(*width), static_cast<int>(*height)};
}

ParsedOptions ParseBridgeOptions(const std::vector<std::string>& args) {
    BridgeOptions options;
    ParsedOptions result;
    auto fail = [&result](const QString& message) {
        result.error = message.toStdString();
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.showHelp = true;
            continue;
        }
        if (arg == "--pipewire") {
            options.pipewire = true;
            continue;
        }
        // Every other option takes a value: "--name value" or "--name=value".
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const bool known = name == "--device" || name == "--y4m" || name == "--size" ||
                           name == "--format" || name == "--frames";
        if (!known)
            return fail(BridgeText::tr("unknown argument \"%1\"").arg(Local(arg)));
        if (!value) {
            if (i + 1 >= args.size())
                return fail(BridgeText::tr("%1 needs a value").arg(Local(name)));
            value = args[++i];
        }

        if (name == "--device") {
            if (value->empty())
                return fail(BridgeText::tr("--device needs a device path such as /dev/video10"));
            options.devicePath = *value;
        } else if (name == "--y4m") {
            if (value->empty())
                return fail(BridgeText::tr("--y4m needs a file name, or - for standard output"));
            options.y4mPath = *value;
        } else if (name == "--size") {
            const auto size = ParseFrameSize(*value);
            if (!size)
                return fail(BridgeText::tr("--size wants WxH with an even width, each side 2 to "
                                           "4096 (got \"%1\")")
                                .arg(Local(*value)));
            options.size = *size;
            options.sizeGiven = true;
        } else if (name == "--format") {
            if (*value == "yuy2" || *value == "YUY2")
                options.deviceFormat = PixelFormat::YUY2;
            else if (*value == "i420" || *value == "I420")
                options.deviceFormat = PixelFormat::I420;
            else
                return fail(
                    BridgeText::tr("--format is yuy2 or i420 (got \"%1\")").arg(Local(*value)));
        } else if (name == "--frames") {
            const auto frames = ParseInteger(*value);
            if (!frames || *frames <= 0)
                return fail(BridgeText::tr("--frames wants a positive count (got \"%1\")")
                                .arg(Local(*value)));
            options.frameLimit = *frames;
        }
    }

    result.options = options;
    return result;
}

std::string UsageText() {
    return BridgeText::tr(kUsage).toStdString();
}

void Say(std::FILE* log, const QString& line) {
    std::fprintf(log, "kelocam-vcam: %s\n", line.toUtf8().constData());
}

} // namespace kelo::vcam
