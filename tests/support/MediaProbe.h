// What ffprobe (from Debian's ffmpeg package) says about a media file: the container, each
// stream's codec, picture size, frame rate and duration. Tests and benchmarks check recordings
// with it. ffprobe's "flat" output (one key=value a line) is parsed here, so no JSON library is
// needed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::test {

struct ProbedStream {
    int index = -1;
    std::string codecType; // "video", "audio"
    std::string codecName; // "wmv2", "wmav2", "msmpeg4v2", "mp3", "rawvideo", "pcm_s16le"...
    std::string codecTag;  // the four-character code as ffprobe prints it ("MP42")
    int width = 0;
    int height = 0;
    double frameRate = 0;        // r_frame_rate as a number (0 when unknown)
    double durationSeconds = -1; // -1 when ffprobe does not know
    int sampleRate = 0;
    int channels = 0;
    long long packetCount = -1; // nb_read_packets, with ProbeOptions::countPackets
};

struct ProbedFile {
    bool ok = false;
    std::string error;      // why probing failed (ffprobe's own message)
    std::string formatName; // "avi", "asf"
    double durationSeconds = -1;
    std::vector<ProbedStream> streams;

    int CountOf(std::string_view codecType) const;
    // The first stream of that type, or null.
    const ProbedStream* FirstOf(std::string_view codecType) const;
};

// Parses ffprobe's "flat" output (-of flat) of -show_format -show_streams into key -> value,
// with string values unquoted and unescaped.
std::map<std::string, std::string> ParseFlatOutput(std::string_view text);
// Builds the description from the parsed keys.
ProbedFile DescribeProbe(const std::map<std::string, std::string>& keys);
// "15/1" -> 15, "30000/1001" -> 29.97..., "0/0" or garbage -> 0.
double ParseRate(std::string_view rate);

struct ProbeOptions {
    bool countPackets = false; // reads the whole file to count every stream's packets
};

// Runs ffprobe on the file.
ProbedFile ProbeMediaFile(const std::filesystem::path& file, ProbeOptions options = {});

// When the first stream of the type ("video", "audio") ends: the largest packet time plus its
// duration, in seconds, read packet by packet (containers such as AVI do not state it for PCM
// audio). -1 when the file has no such stream.
double StreamEndSeconds(const std::filesystem::path& file, std::string_view codecType);

// One picture of the file's video at `seconds`, as ffmpeg decodes and shows it: upright rows of
// red, green, blue bytes, width * height * 3 of them. Empty when nothing could be decoded.
std::vector<unsigned char> DecodePicture(const std::filesystem::path& file, double seconds,
                                         int width, int height);

// What ffmpeg says when it decodes the whole file (every stream, to its end): empty when the
// file decodes without an error.
std::string DecodeErrors(const std::filesystem::path& file);

} // namespace kelo::test
