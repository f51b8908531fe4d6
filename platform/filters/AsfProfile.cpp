#include "platform/filters/AsfProfile.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kelo {

WmStreamConfig::WmStreamConfig(std::uint16_t streamNumber, std::string encoderFactory,
                               std::uint32_t bitrate, std::uint32_t bufferWindowMs,
                               WmMediaType mediaType)
    : streamNumber_(streamNumber), encoderFactory_(std::move(encoderFactory)), bitrate_(bitrate),
      bufferWindowMs_(bufferWindowMs), mediaType_(mediaType) {}

HRESULT WmStreamConfig::GetMediaType(WmMediaType* type) const {
    if (!type)
        return E_POINTER;
    *type = mediaType_;
    return S_OK;
}

HRESULT WmStreamConfig::SetMediaType(const WmMediaType& type) {
    if (type.majorType != mediaType_.majorType)
        return E_INVALIDARG;
    mediaType_ = type;
    return S_OK;
}

HRESULT WmProfile::GetStream(std::uint32_t index, WmStreamConfig* stream) const {
    if (!stream)
        return E_POINTER;
    if (index >= streams_.size())
        return NS_E_INVALID_STREAM;
    *stream = streams_[index];
    return S_OK;
}

HRESULT WmProfile::ReconfigStream(const WmStreamConfig& stream) {
    auto it = std::find_if(streams_.begin(), streams_.end(), [&](const WmStreamConfig& s) {
        return s.GetStreamNumber() == stream.GetStreamNumber();
    });
    if (it == streams_.end())
        return NS_E_INVALID_STREAM;
    *it = stream;
    return S_OK;
}

HRESULT WmProfile::AddStream(const WmStreamConfig& stream) {
    if (stream.GetStreamNumber() == 0)
        return E_INVALIDARG;
    for (const WmStreamConfig& s : streams_) {
        if (s.GetStreamNumber() == stream.GetStreamNumber())
            return E_INVALIDARG;
    }
    streams_.push_back(stream);
    return S_OK;
}

HRESULT WmProfileManager::SetSystemProfileVersion(WmtVersion version) {
    version_ = version;
    return S_OK;
}

HRESULT WmProfileManager::CreateEmptyProfile(WmtVersion version, WmProfile* profile) const {
    if (!profile)
        return E_POINTER;
    *profile = WmProfile(version);
    return S_OK;
}

std::uint32_t DibImageSize(std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
    const std::int64_t stride = ((static_cast<std::int64_t>(width) * bitCount + 31) / 32) * 4;
    return static_cast<std::uint32_t>(std::llabs(height) * stride);
}

WmProfile DefaultAsfWriterProfile() {
    WmProfile profile(WmtVersion::V8_0);

    WmMediaType audio;
    audio.majorType = WmMajorType::Audio;
    audio.formatType = WmFormatType::WaveFormatEx;
    audio.formatSize = kWaveFormatExSize;
    audio.fixedSizeSamples = true;
    audio.audio = WaveFormatEx{2, 44100, 16};
    audio.sampleSize = audio.audio.nChannels * audio.audio.wBitsPerSample / 8;
    // Numbers 1 and 2 in an empty profile: both are always taken.
    (void)profile.AddStream(WmStreamConfig(1, "avenc_wmav2", 64000, 3000, audio));

    WmMediaType video;
    video.majorType = WmMajorType::Video;
    video.formatType = WmFormatType::VideoInfo;
    video.formatSize = kVideoInfoFormatSize;
    video.video.biWidth = 320;
    video.video.biHeight = 240;
    video.video.biBitCount = 24;
    video.video.biSizeImage = DibImageSize(320, 240, 24);
    video.video.AvgTimePerFrame = 10000000 / 30;
    video.fixedSizeSamples = true;
    video.sampleSize = video.video.biSizeImage;
    (void)profile.AddStream(WmStreamConfig(2, "avenc_wmv2", 340000, 3000, video));
    return profile;
}

} // namespace kelo
