// The nine recording set-ups the record format dialog offers, and what each one writes.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kelo {

enum class RecordKind : int {
    AviVideoAudio = 0,
    AviVideo = 1,
    PcmAudio = 2,
    WmvVideoAudio = 3,
    WmvVideo = 4,
    WavAudio = 5,
    Mp4VideoAudio = 6,
    Mp4Video = 7,
    Mp3Audio = 8,
};

inline constexpr int kRecordKindCount = 9;

// Argument of ConfigureAsfWriter: which streams the writer's profile keeps.
enum class AsfStreams : int { Video = 0, Audio = 1, AudioVideo = 2 };

// The container each kind writes: ".avi" AVI, ".WMV" ASF, and the others what their extensions
// say (an MP4 file, an MPEG audio stream, a RIFF WAVE file).
enum class RecordContainer { Avi, Asf, Mp4, Mp3, Wav };

struct RecordKindInfo {
    std::string_view extension; // ".avi", ".WMV", ".wav", ".mp4", ".mp3"
    RecordContainer container;  // what the extension says
    bool hasAudio;
    bool hasVideo;
    bool compressed; // the streams are encoded (everything but the AVI kinds' raw video and PCM)
};

// For a value outside the nine: an entry with no extension and no streams.
const RecordKindInfo& DescribeRecordKind(RecordKind kind);

// The kind for a number 0 to 8 (the dialog's choice, the command line's KIND); none otherwise.
std::optional<RecordKind> RecordKindFromInt(int value);

// The file of a recording started at `when`: folder + local time "%H-%M-%S %m.%d.%Y" + the kind's
// extension, for example "/home/ann/Videos/14-05-09 12.07.2026.mp4". A folder without a trailing
// separator gets one, so that the file lands inside it rather than beside it.
std::string RecordFileName(const std::string& folder, RecordKind kind, std::time_t when);

} // namespace kelo
