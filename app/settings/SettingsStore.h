// data.ini: the table of every section and key the program keeps, with types and defaults, and
// the typed reads and writes that every part of the program goes through (no other code spells
// a section or key name).
//
// Settings are not kept in memory: each read goes to the file when the value is needed and each
// write goes to the file at once, key by key, through the private-profile functions. A store
// object only remembers which file it works on (built from the working directory when the
// store is made, as each window and command does when it starts its work).
//
// Plain C++ (no Qt), for the windows, the headless mode and engine-side code alike.
// Thread safety: any thread; see PrivateProfile.h.
#pragma once

#include "platform/contracts/VideoMode.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelo {

// The working directory followed by "/data.ini" (any length). Built again by every user.
std::string settingsPath();

// Every key of data.ini.
enum class SettingId {
    PhotoFolder,        // [PATCH] PIC
    RecordFolder,       // [PATCH] REC
    PhotoWidth,         // [PICSIZE] WIDTH
    PhotoHeight,        // [PICSIZE] HEIGHT
    OverlayFamily,      // [Effect] Effect
    OverlayIndex,       // [Effect] Index
    OverlayFile,        // [Effect] GifName
    ColorAdjustEnabled, // [ColorAdjust] Enble
    RedOffset,          // [RGB] R
    GreenOffset,        // [RGB] G
    BlueOffset,         // [RGB] B
    BackgroundBlur,     // [Effect] BackgroundBlur
    VideoWidth,         // [VIDEO] WIDTH
    VideoHeight,        // [VIDEO] HEIGHT
    VideoFps,           // [VIDEO] FPS
};

enum class SettingType { Text, Integer };

// The parts of the program that read settings. Two keys have a default that depends on the
// reader: REC and WIDTH.
enum class SettingReader { Any, SettingsDialog, SnapshotCommand, RecordCommand };

// What a missing key reads as.
enum class DefaultKind {
    Text,           // `text`
    Integer,        // `number`
    PicturesFolder, // the user's pictures folder (UserFolders.h): "C:" on Windows
    VideosFolder,   // the user's videos folder: "C:" (settings dialog) or "Error" (record
                    // command) on Windows
    NeverRead,      // written only; reads give empty text
};

struct SettingDefault {
    SettingReader reader = SettingReader::Any;
    DefaultKind kind = DefaultKind::Text;
    std::string_view text;
    std::int32_t number = 0;
};

struct SettingEntry {
    SettingId id;
    std::string_view section; // written exactly so, including "PATCH" and "Enble"
    std::string_view key;
    SettingType type;
    // The first default whose reader matches applies; readers not listed get the first one.
    std::array<SettingDefault, 2> defaults;
};

namespace detail {
constexpr SettingDefault Folder(DefaultKind kind, SettingReader reader = SettingReader::Any) {
    return {reader, kind, {}, 0};
}
constexpr SettingDefault Number(std::int32_t n, SettingReader reader = SettingReader::Any) {
    return {reader, DefaultKind::Integer, {}, n};
}
constexpr SettingDefault Unread() {
    return {SettingReader::Any, DefaultKind::NeverRead, {}, 0};
}
constexpr SettingDefault Text(std::string_view text) {
    return {SettingReader::Any, DefaultKind::Text, text, 0};
}
} // namespace detail

// The table, in the order of SettingId.
// clang-format off
inline constexpr std::array<SettingEntry, 15> kSettingsTable = {{
    {SettingId::PhotoFolder, "PATCH", "PIC", SettingType::Text,
     {detail::Folder(DefaultKind::PicturesFolder),
      detail::Folder(DefaultKind::PicturesFolder)}},
    {SettingId::RecordFolder, "PATCH", "REC", SettingType::Text,
     {detail::Folder(DefaultKind::VideosFolder, SettingReader::SettingsDialog),
      detail::Folder(DefaultKind::VideosFolder, SettingReader::RecordCommand)}},
    {SettingId::PhotoWidth, "PICSIZE", "WIDTH", SettingType::Integer,
     {detail::Number(640, SettingReader::SettingsDialog),
      detail::Number(320, SettingReader::SnapshotCommand)}},
    {SettingId::PhotoHeight, "PICSIZE", "HEIGHT", SettingType::Integer,
     {detail::Number(240), detail::Number(240)}},
    {SettingId::OverlayFamily, "Effect", "Effect", SettingType::Text,
     {detail::Text(""), detail::Text("")}},
    {SettingId::OverlayIndex, "Effect", "Index", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::OverlayFile, "Effect", "GifName", SettingType::Text,
     {detail::Unread(), detail::Unread()}},
    {SettingId::ColorAdjustEnabled, "ColorAdjust", "Enble", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::RedOffset, "RGB", "R", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::GreenOffset, "RGB", "G", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::BlueOffset, "RGB", "B", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::BackgroundBlur, "Effect", "BackgroundBlur", SettingType::Integer,
     {detail::Number(0), detail::Number(0)}},
    {SettingId::VideoWidth, "VIDEO", "WIDTH", SettingType::Integer,
     {detail::Number(kDefaultVideoMode.width), detail::Number(kDefaultVideoMode.width)}},
    {SettingId::VideoHeight, "VIDEO", "HEIGHT", SettingType::Integer,
     {detail::Number(kDefaultVideoMode.height), detail::Number(kDefaultVideoMode.height)}},
    {SettingId::VideoFps, "VIDEO", "FPS", SettingType::Integer,
     {detail::Number(kDefaultVideoMode.framesPerSecond),
      detail::Number(kDefaultVideoMode.framesPerSecond)}},
}};
// clang-format on

const SettingEntry& FindSetting(SettingId id);

// The default `reader` gets for `id` when the key is missing; folders resolved now.
const SettingDefault& DefaultFor(SettingId id, SettingReader reader);
std::string DefaultText(SettingId id, SettingReader reader);

// The three overlay families as stored in [Effect] Effect ("Frame", "Led", "Cartoon").
enum class OverlayFamily { Frame, Led, Cartoon };
std::string_view OverlayFamilyName(OverlayFamily family);
// Exact, case-sensitive match; anything else is no family.
std::optional<OverlayFamily> ParseOverlayFamily(std::string_view text);

// The photo sizes the settings dialog offers, in the order of its size buttons.
struct PhotoSize {
    std::int32_t width;
    std::int32_t height;
};
// The last, "原始尺寸", is the frame as captured, stored as 0 x 0.
inline constexpr std::array<PhotoSize, 6> kPhotoSizes = {
    {{160, 120}, {320, 240}, {640, 480}, {1280, 720}, {1920, 1080}, {0, 0}}};
// Position of `width` in kPhotoSizes, or -1 for a width not offered.
int PhotoSizeIndex(std::uint32_t width);

// The capture sizes and rates the settings dialog offers, in the order of its buttons.
inline constexpr std::array<PhotoSize, 4> kVideoSizes = {
    {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}}};
inline constexpr std::array<int, 2> kVideoRates = {15, 30};
// The limits of a stored or asked-for capture mode (the headless studio takes any size inside
// them): sides 16 to 7680 x 4320, 1 to 120 frames per second.
inline constexpr int kMaxVideoWidth = 7680;
inline constexpr int kMaxVideoHeight = 4320;
inline constexpr int kMaxVideoFps = 120;
bool IsUsableVideoMode(VideoMode mode);

// A setting that could not be written (read-only file or folder, full disk, a file that is not
// settings): the file and errno. Every failed write of a SettingsStore is handed to the handler,
// on the thread that wrote. The window installs one that says the first in its own box; without
// one, each file and reason is said once on standard error. Never silent.
using SettingsWriteFailureHandler = std::function<void(const std::string& path, int error)>;
void SetSettingsWriteFailureHandler(SettingsWriteFailureHandler handler);
// Why, in the studio's words ("没有写入权限", "磁盘空间不足" ...).
std::string SettingsWriteFailureReason(int error);
// "设置无法保存：" with the file and the reason: what the user is told.
std::string SettingsWriteFailureText(const std::string& path, int error);

// Reads and writes of one data.ini. Every call goes to the file.
class SettingsStore {
public:
    // The file of the working directory as it is now.
    SettingsStore();
    explicit SettingsStore(std::string path);

    const std::string& path() const { return path_; }

    // Text of a key, whole (not cut at 259 characters); the reader's default when missing.
    std::string ReadText(SettingId id, SettingReader reader = SettingReader::Any) const;
    // Integer of a key with the platform's rule (unsigned, modulo 2^32; text without digits
    // reads 0); the reader's default when missing or empty.
    std::uint32_t ReadInt(SettingId id, SettingReader reader = SettingReader::Any) const;

    // Each returns whether the value reached the file; a failure also goes to the handler
    // above.
    bool WriteText(SettingId id, std::string_view value) const;
    bool WriteInt(SettingId id, std::int32_t value) const; // "%d"

    // Typed reads of the start-up restore.
    std::optional<OverlayFamily> ReadOverlayFamily() const;
    // The capture mode every engine is made for ([VIDEO] WIDTH, HEIGHT, FPS); a mode that is
    // missing or cannot be used reads as kDefaultVideoMode.
    VideoMode ReadVideoMode() const;

    // The write orders other code and stored files rely on. Each writes every key even when
    // one fails, and returns whether all reached the file.
    // Tab change to an overlay tab: "Effect" = family, "Index" = "", "GifName" = "".
    bool WriteOverlayTabChange(OverlayFamily family) const;
    // Overlay button: "Index" = number, "GifName" = path of the effect file.
    bool WriteOverlayButton(std::int32_t index, std::string_view effectFile) const;
    // Settings dialog Save: "WIDTH", then "HEIGHT".
    bool WritePhotoSize(PhotoSize size) const;
    // Settings dialog Save: [VIDEO] "WIDTH", "HEIGHT", "FPS".
    bool WriteVideoMode(VideoMode mode) const;
    // Colour page after every adjustment: "R", "G", "B".
    bool WriteColorOffsets(std::int32_t red, std::int32_t green, std::int32_t blue) const;
    // Colour page check box: "Enble" = 1 or 0.
    bool WriteColorAdjustEnabled(bool on) const;
    // "其它" page check box "背景虚化": "BackgroundBlur" = 1 or 0.
    bool WriteBackgroundBlur(bool on) const;

private:
    std::string path_;
};

} // namespace kelo
