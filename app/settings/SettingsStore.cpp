#include "app/settings/SettingsStore.h"

#include "app/settings/UserFolders.h"
#include "platform/system/PrivateProfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelo {

namespace {

// Text values were read into 260-byte buffers; folder paths on Linux may be longer, so the
// buffer grows until the value fits (a cut path would send photos to the wrong folder).
constexpr std::uint32_t kTextBufferBytes = 260;
constexpr std::uint32_t kLargestTextBytes = 1u << 20;

std::string Key(std::string_view name) {
    return std::string(name);
}

struct FailureHandling {
    std::mutex mutex;
    SettingsWriteFailureHandler handler;                // guarded by mutex
    std::set<std::pair<std::string, int>> saidOnStderr; // guarded by mutex
};

FailureHandling& Failures() {
    static FailureHandling failures;
    return failures;
}

void ReportWriteFailure(const std::string& path, int error) {
    SettingsWriteFailureHandler handler;
    {
        std::lock_guard lock(Failures().mutex);
        handler = Failures().handler;
        if (!handler && !Failures().saidOnStderr.emplace(path, error).second)
            return;
    }
    if (handler)
        handler(path, error);
    else
        std::fprintf(stderr, "kelocam: %s\n", SettingsWriteFailureText(path, error).c_str());
}

} // namespace

void SetSettingsWriteFailureHandler(SettingsWriteFailureHandler handler) {
    std::lock_guard lock(Failures().mutex);
    Failures().handler = std::move(handler);
}

std::string SettingsWriteFailureReason(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "没有写入权限";
    case EROFS:
        return "只读文件系统";
    case ENOSPC:
    case EDQUOT:
        return "磁盘空间不足";
    case ENOENT:
    case ENOTDIR:
        return "文件夹不存在";
    case EFBIG:
        return "文件太大，不是设置文件";
    case EISDIR:
    case ESPIPE:
        return "不是普通文件";
    case EINVAL:
        return "内容无法写入设置文件";
    default:
        return std::strerror(error);
    }
}

std::string SettingsWriteFailureText(const std::string& path, int error) {
    return "设置无法保存：" + path + "（" + SettingsWriteFailureReason(error) + "）";
}

std::string settingsPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()))
            break;
        if (errno != ERANGE)
            return "data.ini"; // the working directory is gone: relative to it all the same
        buffer.resize(buffer.size() * 2);
    }
    std::string path = buffer.data();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + "data.ini";
}

const SettingEntry& FindSetting(SettingId id) {
    const SettingEntry& entry = kSettingsTable[static_cast<std::size_t>(id)];
    return entry; // the table is in SettingId order (checked below)
}

static_assert(
    [] {
        for (std::size_t i = 0; i < kSettingsTable.size(); ++i) {
            if (static_cast<std::size_t>(kSettingsTable[i].id) != i)
                return false;
        }
        return true;
    }(),
    "kSettingsTable must list the settings in SettingId order");

const SettingDefault& DefaultFor(SettingId id, SettingReader reader) {
    const SettingEntry& entry = FindSetting(id);
    for (const SettingDefault& d : entry.defaults) {
        if (d.reader == reader)
            return d;
    }
    return entry.defaults[0];
}

std::string DefaultText(SettingId id, SettingReader reader) {
    const SettingDefault& d = DefaultFor(id, reader);
    switch (d.kind) {
    case DefaultKind::Text:
        return std::string(d.text);
    case DefaultKind::Integer:
        return std::to_string(d.number);
    case DefaultKind::PicturesFolder:
        return UserPicturesFolder();
    case DefaultKind::VideosFolder:
        return UserVideosFolder();
    case DefaultKind::NeverRead:
        break;
    }
    return {};
}

std::string_view OverlayFamilyName(OverlayFamily family) {
    switch (family) {
    case OverlayFamily::Frame:
        return "Frame";
    case OverlayFamily::Led:
        return "Led";
    case OverlayFamily::Cartoon:
        return "Cartoon";
    }
    return {};
}

std::optional<OverlayFamily> ParseOverlayFamily(std::string_view text) {
    for (OverlayFamily f : {OverlayFamily::Frame, OverlayFamily::Led, OverlayFamily::Cartoon}) {
        if (text == OverlayFamilyName(f))
            return f;
    }
    return std::nullopt;
}

int PhotoSizeIndex(std::uint32_t width) {
    for (std::size_t i = 0; i < kPhotoSizes.size(); ++i) {
        if (static_cast<std::uint32_t>(kPhotoSizes[i].width) == width)
            return static_cast<int>(i);
    }
    return -1;
}

bool IsUsableVideoMode(VideoMode mode) {
    // Negative numbers in the file read as huge unsigned values, which become negative here.
    return mode.width >= 16 && mode.width <= kMaxVideoWidth && mode.height >= 16 &&
           mode.height <= kMaxVideoHeight && mode.framesPerSecond >= 1 &&
           mode.framesPerSecond <= kMaxVideoFps;
}

SettingsStore::SettingsStore() : path_(settingsPath()) {}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

std::string SettingsStore::ReadText(SettingId id, SettingReader reader) const {
    const SettingEntry& entry = FindSetting(id);
    const std::string section = Key(entry.section);
    const std::string key = Key(entry.key);
    // A value that cannot be present marks "missing": the private-profile call then copies it
    // back, and the reader's default (perhaps a folder looked up now) is used instead. A line
    // break never reads back from a file, so it cannot be a stored value.
    static constexpr char kMissing[] = "\n";
    std::vector<char> buffer(kTextBufferBytes);
    for (;;) {
        const std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
        const std::uint32_t n = GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing,
                                                         buffer.data(), size, path_.c_str());
        if (n + 1 < size || size >= kLargestTextBytes) {
            std::string value(buffer.data(), n);
            if (value == kMissing)
                return DefaultText(id, reader);
            return value;
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::uint32_t SettingsStore::ReadInt(SettingId id, SettingReader reader) const {
    const SettingEntry& entry = FindSetting(id);
    return GetPrivateProfileIntA(Key(entry.section).c_str(), Key(entry.key).c_str(),
                                 DefaultFor(id, reader).number, path_.c_str());
}

bool SettingsStore::WriteText(SettingId id, std::string_view value) const {
    const SettingEntry& entry = FindSetting(id);
    if (WritePrivateProfileStringA(Key(entry.section).c_str(), Key(entry.key).c_str(),
                                   std::string(value).c_str(), path_.c_str()))
        return true;
    ReportWriteFailure(path_, errno);
    return false;
}

bool SettingsStore::WriteInt(SettingId id, std::int32_t value) const {
    return WriteText(id, std::to_string(value));
}

std::optional<OverlayFamily> SettingsStore::ReadOverlayFamily() const {
    return ParseOverlayFamily(ReadText(SettingId::OverlayFamily));
}

VideoMode SettingsStore::ReadVideoMode() const {
    const VideoMode mode{static_cast<int>(ReadInt(SettingId::VideoWidth)),
                         static_cast<int>(ReadInt(SettingId::VideoHeight)),
                         static_cast<int>(ReadInt(SettingId::VideoFps))};
    return IsUsableVideoMode(mode) ? mode : kDefaultVideoMode;
}

bool SettingsStore::WriteVideoMode(VideoMode mode) const {
    bool ok = WriteInt(SettingId::VideoWidth, mode.width);
    ok = WriteInt(SettingId::VideoHeight, mode.height) && ok;
    ok = WriteInt(SettingId::VideoFps, mode.framesPerSecond) && ok;
    return ok;
}

bool SettingsStore::WriteOverlayTabChange(OverlayFamily family) const {
    bool ok = WriteText(SettingId::OverlayFamily, OverlayFamilyName(family));
    ok = WriteText(SettingId::OverlayIndex, "") && ok;
    ok = WriteText(SettingId::OverlayFile, "") && ok;
    return ok;
}

bool SettingsStore::WriteOverlayButton(std::int32_t index, std::string_view effectFile) const {
    bool ok = WriteInt(SettingId::OverlayIndex, index);
    ok = WriteText(SettingId::OverlayFile, effectFile) && ok;
    return ok;
}

bool SettingsStore::WritePhotoSize(PhotoSize size) const {
    bool ok = WriteInt(SettingId::PhotoWidth, size.width);
    ok = WriteInt(SettingId::PhotoHeight, size.height) && ok;
    return ok;
}

bool SettingsStore::WriteColorOffsets(std::int32_t red, std::int32_t green,
                                      std::int32_t blue) const {
    bool ok = WriteInt(SettingId::RedOffset, red);
    ok = WriteInt(SettingId::GreenOffset, green) && ok;
    ok = WriteInt(SettingId::BlueOffset, blue) && ok;
    return ok;
}

bool SettingsStore::WriteColorAdjustEnabled(bool on) const {
    return WriteInt(SettingId::ColorAdjustEnabled, on ? 1 : 0);
}

bool SettingsStore::WriteBackgroundBlur(bool on) const {
    return WriteInt(SettingId::BackgroundBlur, on ? 1 : 0);
}

} // namespace kelo
