// The profile object of the ASF writer: an ordered list of stream configurations, each with the
// media type the writer accepts on that stream's input and the encoder that compresses it.
// It stands in for the Windows Media profile interfaces: a profile manager makes empty profiles,
// a profile hands out copies of its streams, a stream's media type is read and written whole,
// and ReconfigStream / AddStream put a changed stream back. Configuring the writer with a
// profile builds the writer's encoders from it (AsfWriterFilter).
//
// Plain values, no GStreamer: the whole object is copied freely and used on the UI thread only.
#pragma once

#include "platform/system/HResult.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelo {

// Returned when a stream number or index does not exist in a profile.
inline constexpr HRESULT NS_E_INVALID_STREAM = static_cast<HRESULT>(0xC00D002Au);

enum class WmtVersion : std::uint32_t { V4_0 = 0x00040000, V7_0 = 0x00070000, V8_0 = 0x00080000 };

enum class WmMajorType { Audio, Video };

// The format block of a video stream (the fields of VIDEOINFOHEADER the program works with).
struct VideoInfoHeader {
    std::int64_t AvgTimePerFrame = 0; // 100-ns units per frame
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biSizeImage = 0;
};

// The format block of an audio stream (WAVEFORMATEX).
struct WaveFormatEx {
    std::uint16_t nChannels = 2;
    std::uint32_t nSamplesPerSec = 44100;
    std::uint16_t wBitsPerSample = 16;
};

inline constexpr std::uint32_t kVideoInfoFormatSize = 88; // sizeof(VIDEOINFOHEADER)
inline constexpr std::uint32_t kWaveFormatExSize = 18;    // sizeof(WAVEFORMATEX)

enum class WmFormatType { None, VideoInfo, WaveFormatEx };

// One stream's media type: major type, format type and block, sample properties.
struct WmMediaType {
    WmMajorType majorType = WmMajorType::Video;
    WmFormatType formatType = WmFormatType::None;
    std::uint32_t formatSize = 0;
    bool fixedSizeSamples = false;
    std::uint32_t sampleSize = 0;
    VideoInfoHeader video; // meaningful when formatType is VideoInfo
    WaveFormatEx audio;    // meaningful when formatType is WaveFormatEx
};

// One stream of a profile: its number in the file, its encoder and rates, its input media type.
class WmStreamConfig {
public:
    WmStreamConfig() = default;
    WmStreamConfig(std::uint16_t streamNumber, std::string encoderFactory, std::uint32_t bitrate,
                   std::uint32_t bufferWindowMs, WmMediaType mediaType);

    std::uint16_t GetStreamNumber() const { return streamNumber_; }
    WmMajorType GetStreamType() const { return mediaType_.majorType; }
    // Name of the GStreamer encoder factory that compresses this stream.
    const std::string& GetEncoderFactory() const { return encoderFactory_; }
    std::uint32_t GetBitrate() const { return bitrate_; }
    void SetBitrate(std::uint32_t bitsPerSecond) { bitrate_ = bitsPerSecond; }
    std::uint32_t GetBufferWindow() const { return bufferWindowMs_; }

    // The stream's media properties (IWMMediaProps): the media type, read and written whole.
    [[nodiscard]] HRESULT GetMediaType(WmMediaType* type) const;
    // Refuses a type of the other major type (a stream never changes from audio to video).
    [[nodiscard]] HRESULT SetMediaType(const WmMediaType& type);

private:
    std::uint16_t streamNumber_ = 0;
    std::string encoderFactory_;
    std::uint32_t bitrate_ = 0;
    std::uint32_t bufferWindowMs_ = 0;
    WmMediaType mediaType_;
};

class WmProfile {
public:
    WmProfile() = default;
    explicit WmProfile(WmtVersion version) : version_(version) {}

    WmtVersion GetVersion() const { return version_; }
    std::uint32_t GetStreamCount() const { return static_cast<std::uint32_t>(streams_.size()); }
    // A copy of the stream at this index (0-based, in the order the streams were added).
    [[nodiscard]] HRESULT GetStream(std::uint32_t index, WmStreamConfig* stream) const;
    // Replaces the stream that has the same stream number; NS_E_INVALID_STREAM when there is none.
    [[nodiscard]] HRESULT ReconfigStream(const WmStreamConfig& stream);
    // Appends a copy of the stream; E_INVALIDARG when its number is already taken or is 0.
    [[nodiscard]] HRESULT AddStream(const WmStreamConfig& stream);

    const std::vector<WmStreamConfig>& streams() const { return streams_; }

private:
    WmtVersion version_ = WmtVersion::V8_0;
    std::vector<WmStreamConfig> streams_;
};

class WmProfileManager {
public:
    [[nodiscard]] HRESULT SetSystemProfileVersion(WmtVersion version);
    WmtVersion GetSystemProfileVersion() const { return version_; }
    [[nodiscard]] HRESULT CreateEmptyProfile(WmtVersion version, WmProfile* profile) const;

private:
    WmtVersion version_ = WmtVersion::V8_0;
};

// The writer's own default profile: stream 0 audio (WMA 2, 44.1 kHz stereo 16-bit input,
// 64 kbit/s), stream 1 video (WMV 2, 320 x 240 24-bit input at 30 frames per second,
// 340 kbit/s), both with a 3 s buffer window.
WmProfile DefaultAsfWriterProfile();

// Bytes of one uncompressed frame: rows padded to 4 bytes, as a DIB.
std::uint32_t DibImageSize(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

} // namespace kelo
