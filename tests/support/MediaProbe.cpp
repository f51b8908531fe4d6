#include "support/MediaProbe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kelo::test {

int ProbedFile::CountOf(std::string_view codecType) const {
    int n = 0;
    for (const ProbedStream& s : streams)
        n += s.codecType == codecType ? 1 : 0;
    return n;
}

const ProbedStream* ProbedFile::FirstOf(std::string_view codecType) const {
    for (const ProbedStream& s : streams) {
        if (s.codecType == codecType)
            return &s;
    }
    return nullptr;
}

std::map<std::string, std::string> ParseFlatOutput(std::string_view text) {
    std::map<std::string, std::string> keys;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0)
            continue;
        std::string key(line.substr(0, eq));
        std::string_view raw = line.substr(eq + 1);
        std::string value;
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
            raw = raw.substr(1, raw.size() - 2);
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) {
                    ++i;
                    value += raw[i] == 'n' ? '\n' : raw[i] == 't' ? '\t' : raw[i];
                } else {
                    value += raw[i];
                }
            }
        } else {
            value = std::string(raw);
        }
        keys[std::move(key)] = std::move(value);
    }
    return keys;
}

double ParseRate(std::string_view rate) {
    const std::string text(rate);
    char* end = nullptr;
    const double num = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return 0;
    if (*end != '/')
        return num;
    const char* denText = end + 1;
    const double den = std::strtod(denText, &end);
    if (end == denText || den == 0)
        return 0;
    return num / den;
}

namespace {

const std::string* Find(const std::map<std::string, std::string>& keys, const std::string& key) {
    auto it = keys.find(key);
    return it == keys.end() ? nullptr : &it->second;
}

double Number(const std::map<std::string, std::string>& keys, const std::string& key,
              double fallback) {
    const std::string* value = Find(keys, key);
    if (!value || value->empty() || *value == "N/A")
        return fallback;
    char* end = nullptr;
    const double number = std::strtod(value->c_str(), &end);
    return end == value->c_str() ? fallback : number;
}

std::string Text(const std::map<std::string, std::string>& keys, const std::string& key) {
    const std::string* value = Find(keys, key);
    return value ? *value : std::string();
}

} // namespace

ProbedFile DescribeProbe(const std::map<std::string, std::string>& keys) {
    ProbedFile file;
    file.formatName = Text(keys, "format.format_name");
    file.durationSeconds = Number(keys, "format.duration", -1);
    const int count = static_cast<int>(Number(keys, "format.nb_streams", 0));
    for (int i = 0;; ++i) {
        const std::string prefix = "streams.stream." + std::to_string(i) + ".";
        if (!Find(keys, prefix + "index"))
            break;
        ProbedStream s;
        s.index = static_cast<int>(Number(keys, prefix + "index", i));
        s.codecType = Text(keys, prefix + "codec_type");
        s.codecName = Text(keys, prefix + "codec_name");
        s.codecTag = Text(keys, prefix + "codec_tag_string");
        s.width = static_cast<int>(Number(keys, prefix + "width", 0));
        s.height = static_cast<int>(Number(keys, prefix + "height", 0));
        s.frameRate = ParseRate(Text(keys, prefix + "r_frame_rate"));
        s.durationSeconds = Number(keys, prefix + "duration", -1);
        s.sampleRate = static_cast<int>(Number(keys, prefix + "sample_rate", 0));
        s.channels = static_cast<int>(Number(keys, prefix + "channels", 0));
        s.packetCount = static_cast<long long>(Number(keys, prefix + "nb_read_packets", -1));
        file.streams.push_back(std::move(s));
    }
    file.ok = !file.formatName.empty() && static_cast<int>(file.streams.size()) == count;
    if (!file.ok && file.error.empty())
        file.error = "ffprobe reported no container or an incomplete stream list";
    return file;
}

namespace {

// The path in single quotes, each quote inside it closed, escaped and reopened.
std::string ShellQuoted(const std::filesystem::path& file) {
    std::string quoted = "'";
    for (char c : file.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What the command prints on standard output (and error, when it redirects it); empty when it
// cannot be run. A probe that hangs on a file is ended after a minute (well inside any test's
// timeout) and says so, so the test fails with the file named instead of timing out silently.
std::string RunCommand(const std::string& command) {
    struct PipeClose {
        void operator()(FILE* f) const { pclose(f); }
    };
    std::string output;
    const std::string limited =
        "timeout -k 5 60 sh -c " + ShellQuoted(command) +
        " || { s=$?; { [ $s -eq 124 ] || [ $s -eq 137 ]; } && echo \"timed out: \"" +
        ShellQuoted(command) + "; }";
    std::unique_ptr<FILE, PipeClose> pipe(popen(limited.c_str(), "r"));
    if (!pipe)
        return output;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0)
        output.append(chunk, n);
    return output;
}

} // namespace

ProbedFile ProbeMediaFile(const std::filesystem::path& file, ProbeOptions options) {
    std::string command = "ffprobe -v error -show_format -show_streams ";
    if (options.countPackets)
        command += "-count_packets ";
    command += "-of flat " + ShellQuoted(file) + " 2>&1";
    const std::string output = RunCommand(command);
    ProbedFile probed = DescribeProbe(ParseFlatOutput(output));
    if (!probed.ok)
        probed.error = output.empty() ? std::string("ffprobe printed nothing") : output;
    return probed;
}

double StreamEndSeconds(const std::filesystem::path& file, std::string_view codecType) {
    const std::string selector = codecType == "audio" ? "a:0" : "v:0";
    const std::string output =
        RunCommand("ffprobe -v error -select_streams " + selector +
                   " -show_entries packet=pts_time,duration_time -of csv=p=0 " + ShellQuoted(file) +
                   " 2>/dev/null");
    double end = -1;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t stop = output.find('\n', start);
        if (stop == std::string::npos)
            stop = output.size();
        const std::string line = output.substr(start, stop - start);
        start = stop + 1;
        char* rest = nullptr;
        const double pts = std::strtod(line.c_str(), &rest);
        if (rest == line.c_str())
            continue;
        double duration = 0;
        if (*rest == ',')
            duration = std::strtod(rest + 1, nullptr);
        end = std::max(end, pts + duration);
    }
    return end;
}

std::vector<unsigned char> DecodePicture(const std::filesystem::path& file, double seconds,
                                         int width, int height) {
    // A still picture (a photo) has no time to seek to: ffmpeg then gives nothing.
    const std::string seek = seconds > 0 ? "-ss " + std::to_string(seconds) + " " : "";
    const std::string command = "ffmpeg -v error " + seek + "-i " + ShellQuoted(file) +
                                " -frames:v 1 -s " + std::to_string(width) + "x" +
                                std::to_string(height) +
                                " -f rawvideo -pix_fmt rgb24 - 2>/dev/null";
    const std::string bytes = RunCommand(command);
    if (bytes.size() != static_cast<std::size_t>(width) * height * 3)
        return {};
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::string DecodeErrors(const std::filesystem::path& file) {
    return RunCommand("ffmpeg -nostdin -v error -i " + ShellQuoted(file) + " -f null - 2>&1");
}

} // namespace kelo::test
