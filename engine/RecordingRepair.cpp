#include "engine/RecordingRepair.h"

#include "platform/system/Handles.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kelo {

namespace {

constexpr std::string_view kMarkerSuffix = ".recording";

// ---------------------------------------------------------------------------------------------
// Little-endian reads and writes at an offset of an open file.

class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        struct stat info {};
        if (fd_.get() >= 0 && ::fstat(fd_.get(), &info) == 0)
            size_ = static_cast<std::uint64_t>(info.st_size);
    }
    bool ok() const { return fd_.get() >= 0; }
    std::uint64_t size() const { return size_; }

    bool Read(std::uint64_t at, void* out, std::size_t bytes) const {
        return at + bytes <= size_ && ::pread(fd_.get(), out, bytes, static_cast<off_t>(at)) ==
                                          static_cast<ssize_t>(bytes);
    }
    template <typename T> bool Get(std::uint64_t at, T* value) const {
        std::array<unsigned char, sizeof(T)> bytes{};
        if (!Read(at, bytes.data(), bytes.size()))
            return false;
        std::uint64_t v = 0;
        for (std::size_t i = sizeof(T); i-- > 0;)
            v = (v << 8) | bytes[i];
        *value = static_cast<T>(v);
        return true;
    }
    bool Write(std::uint64_t at, const void* data, std::size_t bytes) {
        return ::pwrite(fd_.get(), data, bytes, static_cast<off_t>(at)) ==
               static_cast<ssize_t>(bytes);
    }
    template <typename T> bool Put(std::uint64_t at, T value) {
        std::array<unsigned char, sizeof(T)> bytes{};
        auto v = static_cast<std::uint64_t>(value);
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(v & 0xFF);
            v >>= 8;
        }
        return Write(at, bytes.data(), bytes.size());
    }
    bool Truncate(std::uint64_t size) {
        if (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0)
            return false;
        size_ = size;
        return true;
    }
    bool Sync() { return ::fsync(fd_.get()) == 0; }

private:
    UniqueFd fd_;
    std::uint64_t size_ = 0;
};

bool FourCc(const File& file, std::uint64_t at, const char* expected) {
    char code[4];
    return file.Read(at, code, 4) && std::memcmp(code, expected, 4) == 0;
}

// ---------------------------------------------------------------------------------------------
// RIFF WAVE

RepairOutcome RepairWave(File& file) {
    // Chunks after "RIFF" size "WAVE": fmt, then data (which runs to the end when cut off).
    std::uint64_t at = 12;
    std::uint16_t blockAlign = 0;
    while (at + 8 <= file.size()) {
        std::uint32_t size = 0;
        if (!file.Get(at + 4, &size))
            return RepairOutcome::Unreadable;
        if (FourCc(file, at, "fmt ")) {
            (void)file.Get(at + 8 + 12, &blockAlign);
        } else if (FourCc(file, at, "data")) {
            const std::uint64_t available = file.size() - (at + 8);
            if (size <= available) {
                std::uint32_t riff = 0;
                (void)file.Get(4, &riff);
                if (riff + 8ull <= file.size())
                    return RepairOutcome::Complete;
            }
            std::uint64_t data = std::min<std::uint64_t>(available, 0xFFFFFFFFull - at);
            if (blockAlign > 0)
                data -= data % blockAlign;
            const std::uint64_t end = at + 8 + data;
            if (!file.Truncate(end) ||
                !file.Put<std::uint32_t>(at + 4, static_cast<std::uint32_t>(data)) ||
                !file.Put<std::uint32_t>(4, static_cast<std::uint32_t>(end - 8)))
                return RepairOutcome::Unreadable;
            return RepairOutcome::Repaired;
        }
        at += 8 + size + (size & 1);
    }
    return RepairOutcome::Unreadable;
}

// ---------------------------------------------------------------------------------------------
// AVI

struct AviStream {
    std::uint64_t strhAt = 0; // the strh chunk's data
    bool video = false;
    std::uint32_t sampleSize = 0;
    std::uint64_t chunks = 0;
    std::uint64_t bytes = 0;
};

bool IsStreamChunk(const char id[4], int* stream) {
    if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9')
        return false;
    const std::string_view kind(id + 2, 2);
    if (kind != "dc" && kind != "db" && kind != "wb")
        return false;
    *stream = (id[0] - '0') * 10 + (id[1] - '0');
    return true;
}

RepairOutcome RepairAvi(File& file) {
    // The header list: avih, the streams' strh, the dmlh of the OpenDML list.
    std::uint64_t avihAt = 0;
    std::uint64_t dmlhAt = 0;
    std::uint64_t moviAt = 0; // the "LIST" of movi
    std::vector<AviStream> streams;
    std::uint64_t at = 12;
    std::uint64_t listEnd = file.size();
    while (at + 8 <= listEnd && !moviAt) {
        std::uint32_t size = 0;
        if (!file.Get(at + 4, &size))
            return RepairOutcome::Unreadable;
        if (FourCc(file, at, "LIST")) {
            if (FourCc(file, at + 8, "movi")) {
                moviAt = at;
                break;
            }
            at += 12; // into the list: hdrl, strl, odml
            continue;
        }
        if (FourCc(file, at, "avih"))
            avihAt = at + 8;
        else if (FourCc(file, at, "dmlh"))
            dmlhAt = at + 8;
        else if (FourCc(file, at, "strh")) {
            AviStream stream;
            stream.strhAt = at + 8;
            stream.video = FourCc(file, at + 8, "vids");
            (void)file.Get(at + 8 + 44, &stream.sampleSize);
            streams.push_back(stream);
        }
        at += 8 + size + (size & 1);
    }
    if (!moviAt || !avihAt)
        return RepairOutcome::Unreadable;
    std::uint32_t moviSize = 0;
    (void)file.Get(moviAt + 4, &moviSize);
    const std::uint64_t moviData = moviAt + 12;

    // Walk the chunks to the last complete one. A second RIFF (AVIX) and its movi list are
    // stepped into; indexes and padding are stepped over.
    struct Entry {
        char id[4];
        std::uint32_t offset; // from the movi fourcc
        std::uint32_t size;
    };
    std::vector<Entry> entries;
    bool secondRiff = false;
    std::uint64_t firstRiffEnd = 0;
    std::uint64_t end = moviData;
    bool cutOff = false; // the last chunk is shorter than its header says (the disk filled)
    at = moviData;
    while (at + 8 <= file.size()) {
        char id[4];
        std::uint32_t size = 0;
        if (!file.Read(at, id, 4) || !file.Get(at + 4, &size))
            break;
        if (std::memcmp(id, "RIFF", 4) == 0 || std::memcmp(id, "LIST", 4) == 0) {
            if (std::memcmp(id, "RIFF", 4) == 0 && !secondRiff) {
                secondRiff = true;
                firstRiffEnd = at;
            }
            at += 12;
            end = at;
            continue;
        }
        const std::uint64_t next = at + 8 + size + (size & 1);
        if (next > file.size() && at + 8 + size > file.size()) {
            cutOff = true; // cut off inside this chunk
            break;
        }
        int stream = 0;
        if (IsStreamChunk(id, &stream) && static_cast<std::size_t>(stream) < streams.size()) {
            streams[static_cast<std::size_t>(stream)].chunks++;
            streams[static_cast<std::size_t>(stream)].bytes += size;
            if (!secondRiff)
                entries.push_back({{id[0], id[1], id[2], id[3]},
                                   static_cast<std::uint32_t>(at - (moviAt + 8)),
                                   size});
        } else if (std::memcmp(id, "idx1", 4) == 0 && !secondRiff) {
            break; // the index of a finished file
        }
        end = std::min(next, file.size());
        at = next;
    }

    // A file whose sizes already cover its chunks was finished, unless the muxer counted a
    // chunk the full disk cut short: that one is dropped below.
    std::uint32_t riffSize = 0;
    (void)file.Get(4, &riffSize);
    if (!cutOff && !secondRiff && moviAt + 8 + moviSize >= end && riffSize + 8ull >= end)
        return RepairOutcome::Complete;

    std::uint64_t videoFrames = 0;
    for (const AviStream& s : streams)
        videoFrames = std::max(videoFrames, s.video ? s.chunks : 0);
    if (!file.Truncate(end))
        return RepairOutcome::Unreadable;
    const std::uint64_t firstEnd = secondRiff ? firstRiffEnd : end;
    bool ok =
        file.Put<std::uint32_t>(moviAt + 4, static_cast<std::uint32_t>(firstEnd - moviAt - 8)) &&
        file.Put<std::uint32_t>(avihAt + 16, static_cast<std::uint32_t>(videoFrames));
    if (dmlhAt)
        ok = ok && file.Put<std::uint32_t>(dmlhAt, static_cast<std::uint32_t>(videoFrames));
    for (const AviStream& s : streams) {
        // A stream's length: frames for video, samples (blocks) for sound.
        const std::uint64_t length =
            s.video || s.sampleSize == 0 ? s.chunks : s.bytes / s.sampleSize;
        ok = ok && file.Put<std::uint32_t>(s.strhAt + 32, static_cast<std::uint32_t>(length));
    }
    if (secondRiff) {
        // Each extra RIFF runs to the next one or the end, and its movi list with it.
        std::uint64_t riffAt = firstRiffEnd;
        while (ok && riffAt + 24 <= end) {
            std::uint32_t size = 0;
            (void)file.Get(riffAt + 4, &size);
            std::uint64_t next = riffAt + 8 + size;
            if (size == 0 || next > end)
                next = end;
            ok = file.Put<std::uint32_t>(riffAt + 4,
                                         static_cast<std::uint32_t>(next - riffAt - 8)) &&
                 file.Put<std::uint32_t>(riffAt + 16,
                                         static_cast<std::uint32_t>(next - riffAt - 20));
            riffAt = next;
        }
        ok = ok && file.Put<std::uint32_t>(4, static_cast<std::uint32_t>(firstRiffEnd - 8));
        return ok ? RepairOutcome::Repaired : RepairOutcome::Unreadable;
    }

    // The idx1 index after the movi list; without room for it the sizes alone are put right.
    std::vector<unsigned char> index(8 + entries.size() * 16);
    std::memcpy(index.data(), "idx1", 4);
    const auto put32 = [&index](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            index[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
    };
    put32(4, static_cast<std::uint32_t>(entries.size() * 16));
    constexpr std::uint32_t kKeyFrame = 0x10;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(index.data() + 8 + i * 16, entries[i].id, 4);
        put32(8 + i * 16 + 4, kKeyFrame);
        put32(8 + i * 16 + 8, entries[i].offset);
        put32(8 + i * 16 + 12, entries[i].size);
    }
    std::uint64_t fileEnd = end;
    if (file.Write(end, index.data(), index.size())) {
        fileEnd = end + index.size();
        // The main header says an index is there.
        std::uint32_t flags = 0;
        if (file.Get(avihAt + 12, &flags))
            ok = ok && file.Put<std::uint32_t>(avihAt + 12, flags | 0x10);
    } else {
        (void)file.Truncate(end); // a full disk: no index, the rest still stands
    }
    ok = ok && file.Put<std::uint32_t>(4, static_cast<std::uint32_t>(fileEnd - 8));
    return ok ? RepairOutcome::Repaired : RepairOutcome::Unreadable;
}

// ---------------------------------------------------------------------------------------------
// ASF

constexpr unsigned char kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr unsigned char kAsfFilePropertiesGuid[16] = {
    0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

bool IsAsf(const File& file) {
    unsigned char guid[16];
    return file.Read(0, guid, 16) && std::memcmp(guid, kAsfHeaderGuid, 16) == 0;
}

// The send time (ms) of the data packet at `at`, from its payload parsing information.
bool PacketSendTime(const File& file, std::uint64_t at, std::uint32_t* sendMs) {
    std::uint8_t flags = 0;
    if (!file.Get(at, &flags))
        return false;
    if (flags & 0x80) { // error correction data first
        at += 1 + (flags & 0x0F);
        if (!file.Get(at, &flags))
            return false;
    }
    const auto fieldBytes = [](int type) { return type == 3 ? 4 : type; };
    at += 2; // the length type flags and the property flags
    at += static_cast<std::uint64_t>(fieldBytes((flags >> 5) & 3)); // packet length
    at += static_cast<std::uint64_t>(fieldBytes((flags >> 1) & 3)); // sequence
    at += static_cast<std::uint64_t>(fieldBytes((flags >> 3) & 3)); // padding length
    return file.Get(at, sendMs);
}

RepairOutcome RepairAsf(File& file) {
    std::uint64_t headerSize = 0;
    std::uint32_t objects = 0;
    if (!file.Get(16, &headerSize) || !file.Get(24, &objects))
        return RepairOutcome::Unreadable;
    std::uint64_t props = 0;
    for (std::uint64_t at = 30; at + 24 <= headerSize;) {
        unsigned char guid[16];
        std::uint64_t size = 0;
        if (!file.Read(at, guid, 16) || !file.Get(at + 16, &size) || size < 24)
            return RepairOutcome::Unreadable;
        if (std::memcmp(guid, kAsfFilePropertiesGuid, 16) == 0)
            props = at + 24;
        at += size;
    }
    if (!props)
        return RepairOutcome::Unreadable;
    // File properties: file id 16, file size 8, created 8, packets 8, play duration 8, send
    // duration 8, preroll 8, flags 4, min packet size 4, max packet size 4, bit rate 4.
    std::uint64_t packetsInHeader = 0;
    std::uint64_t prerollMs = 0;
    std::uint32_t flags = 0;
    std::uint32_t packetSize = 0;
    if (!file.Get(props + 32, &packetsInHeader) || !file.Get(props + 56, &prerollMs) ||
        !file.Get(props + 64, &flags) || !file.Get(props + 72, &packetSize) || packetSize == 0)
        return RepairOutcome::Unreadable;
    const std::uint64_t packetsAt = headerSize + 50;
    if (file.size() < packetsAt + packetSize)
        return RepairOutcome::Unreadable; // not one whole packet
    const std::uint64_t packets = (file.size() - packetsAt) / packetSize;
    std::uint64_t playDuration = 0;
    (void)file.Get(props + 40, &playDuration);
    if (packetsInHeader > 0 && playDuration > 0)
        return RepairOutcome::Complete;

    std::uint32_t lastSendMs = 0;
    if (!PacketSendTime(file, packetsAt + (packets - 1) * packetSize, &lastSendMs))
        return RepairOutcome::Unreadable;
    // Cut to whole packets only when there is no index after them (the writer never got that
    // far).
    const std::uint64_t end = packetsAt + packets * packetSize;
    if (!file.Truncate(end))
        return RepairOutcome::Unreadable;
    constexpr std::uint64_t kUnitsPerMs = 10000;
    constexpr std::uint32_t kBroadcast = 0x1;
    constexpr std::uint32_t kSeekable = 0x2;
    const bool ok = file.Put<std::uint64_t>(props + 16, end) &&
                    file.Put<std::uint64_t>(props + 32, packets) &&
                    file.Put<std::uint64_t>(props + 40, (lastSendMs + prerollMs) * kUnitsPerMs) &&
                    file.Put<std::uint64_t>(props + 48, lastSendMs * kUnitsPerMs) &&
                    file.Put<std::uint32_t>(props + 64, (flags & ~kBroadcast) | kSeekable) &&
                    file.Put<std::uint64_t>(headerSize + 16, 50 + packets * packetSize) &&
                    file.Put<std::uint64_t>(headerSize + 40, packets);
    return ok ? RepairOutcome::Repaired : RepairOutcome::Unreadable;
}

// True when the marker names a process that still runs (this one, or another studio).
bool WriterStillRuns(const std::string& marker) {
    char text[32] = {};
    UniqueFd fd(::open(marker.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::read(fd.get(), text, sizeof text - 1) <= 0)
        return false;
    const long pid = std::strtol(text, nullptr, 10);
    if (pid <= 0)
        return false;
    if (pid == ::getpid())
        return true;
    // Another process of that number: a studio still recording, or a number used again.
    char comm[64] = {};
    const std::string commPath = "/proc/" + std::to_string(pid) + "/comm";
    UniqueFd commFd(::open(commPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (commFd.get() < 0 || ::read(commFd.get(), comm, sizeof comm - 1) <= 0)
        return false;
    return std::string_view(comm).substr(0, 7) == "kelocam";
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

std::string RecordingMarkerPath(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return file.substr(0, nameStart) + "." + file.substr(nameStart) + std::string(kMarkerSuffix);
}

bool RecordingMarker::Create(const std::string& file) {
    Finish();
    const std::string marker = RecordingMarkerPath(file);
    UniqueFd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        return false;
    // The writer's process: a studio that is still running keeps its marker.
    const std::string pid = std::to_string(::getpid()) + "\n";
    (void)::write(fd.get(), pid.data(), pid.size()); // an empty marker counts as another's
    file_ = file;
    return true;
}

void RecordingMarker::Finish() {
    if (file_.empty())
        return;
    // A writer stopped by an error (a full disk) left the file as a crash would.
    (void)RepairRecording(file_);
    (void)::unlink(RecordingMarkerPath(file_).c_str());
    file_.clear();
}

RepairOutcome RepairRecording(const std::string& path) {
    File file(path);
    if (!file.ok() || file.size() < 12)
        return RepairOutcome::Unreadable;
    RepairOutcome outcome = RepairOutcome::Unreadable;
    if (FourCc(file, 0, "RIFF") && FourCc(file, 8, "WAVE"))
        outcome = RepairWave(file);
    else if (FourCc(file, 0, "RIFF") && FourCc(file, 8, "AVI "))
        outcome = RepairAvi(file);
    else if (IsAsf(file))
        outcome = RepairAsf(file);
    else if (FourCc(file, 4, "ftyp") || FourCc(file, 0, "ID3\x04") || FourCc(file, 0, "ID3\x03") ||
             EndsWith(path, ".mp3"))
        outcome = RepairOutcome::Playable;
    if (outcome == RepairOutcome::Repaired)
        (void)file.Sync(); // the mended header is on disk before the marker goes
    return outcome;
}

std::vector<RepairedRecording> RepairUnfinishedRecordings(const std::string& folder) {
    std::vector<std::string> markers;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name.size() > 1 + kMarkerSuffix.size() && name.front() == '.' &&
                EndsWith(name, kMarkerSuffix))
                markers.emplace_back(name);
        }
        ::closedir(dir);
    }
    std::sort(markers.begin(), markers.end());
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    std::vector<RepairedRecording> found;
    for (const std::string& marker : markers) {
        const std::string file =
            prefix + marker.substr(1, marker.size() - 1 - kMarkerSuffix.size());
        if (WriterStillRuns(prefix + marker))
            continue;
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0) {
            RepairedRecording repaired;
            repaired.file = file;
            repaired.outcome = RepairRecording(file);
            found.push_back(std::move(repaired));
        }
        (void)::unlink((prefix + marker).c_str());
    }
    return found;
}

} // namespace kelo
