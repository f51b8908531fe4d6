#include "engine/RecordKind.h"

#include <array>

namespace kelo {

namespace {

constexpr std::array<RecordKindInfo, kRecordKindCount> kKinds{{
    {".avi", RecordContainer::Avi, true, true, false},  // AviVideoAudio
    {".avi", RecordContainer::Avi, false, true, false}, // AviVideo
    {".avi", RecordContainer::Avi, true, false, false}, // PcmAudio
    {".WMV", RecordContainer::Asf, true, true, true},   // WmvVideoAudio
    {".WMV", RecordContainer::Asf, false, true, true},  // WmvVideo
    {".wav", RecordContainer::Wav, true, false, false}, // WavAudio: 16-bit PCM
    {".mp4", RecordContainer::Mp4, true, true, true},   // Mp4VideoAudio: H.264 and AAC
    {".mp4", RecordContainer::Mp4, false, true, true},  // Mp4Video
    {".mp3", RecordContainer::Mp3, true, false, true},  // Mp3Audio
}};

} // namespace

const RecordKindInfo& DescribeRecordKind(RecordKind kind) {
    // A value cast from outside 0 to 8 names nothing: no extension, no streams.
    static constexpr RecordKindInfo kNone{"", RecordContainer::Avi, false, false, false};
    const auto index = static_cast<std::size_t>(kind);
    return index < kKinds.size() ? kKinds[index] : kNone;
}

std::optional<RecordKind> RecordKindFromInt(int value) {
    if (value < 0 || value >= kRecordKindCount)
        return std::nullopt;
    return static_cast<RecordKind>(value);
}

std::string RecordFileName(const std::string& folder, RecordKind kind, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "%H-%M-%S %m.%d.%Y", &local);
    std::string name = folder;
    if (!name.empty() && name.back() != '/')
        name += '/';
    name += stamp;
    name += DescribeRecordKind(kind).extension;
    return name;
}

} // namespace kelo
