// The compressors found by friendly name: "MPEG Layer-3" is the LAME encoder; the MPEG-4 video
// codec is the MPEG-4 V2 encoder (AVI fourcc MP42). A compressor whose GStreamer element is not
// installed is not listed. Video compressors take the graph's bottom-up RGB24 and turn the rows
// upright before encoding.
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"
#include "platform/graph/Pin.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelo {

inline constexpr const char* kMp3CompressorName = "MPEG Layer-3";
inline constexpr const char* kMpeg4CompressorName = "Microsoft MPEG-4 Video Codec V1";

struct CompressorEntry {
    std::string friendlyName;
    std::string_view category; // CLSID_VideoCompressorCategory or CLSID_AudioCompressorCategory
    std::function<FilterPtr()> create;
};

// The installed compressors in enumeration order.
std::vector<CompressorEntry> InstalledCompressors();

// The MPEG-4 compressor's bit rate at 320 x 240 and 15 frames per second (its encoder's own).
inline constexpr std::uint32_t kMpeg4BitsPerSecond = 200000;

// Sets the bit rate of a video compressor made by this catalogue (the first element inside it
// that has one). False when it has none.
bool SetVideoCompressorBitrate(const FilterPtr& compressor, std::uint32_t bitsPerSecond);

// The MP3 encoder. Its output pin's stream configuration sets the sample rate it encodes at:
// one of the rates MPEG audio has (8000 ... 48000); any other is refused and the rate is kept.
class Mp3Encoder : public BaseFilter, public IPinExtensions, public IAMStreamConfig {
public:
    static std::shared_ptr<Mp3Encoder> Create();

    ComPtr PinInterfaces(PinDirection direction, GstPad* pad) override;
    [[nodiscard]] HRESULT GetFormat(MediaType* type) override;
    [[nodiscard]] HRESULT SetFormat(const MediaType& type) override;

    // Pins hand out this filter as their interface object; it must be shared.
    void SetSelf(const std::weak_ptr<Mp3Encoder>& self) { self_ = self; }

private:
    Mp3Encoder(ElementPtr bin, GstElement* rate);

    GstElement* rate_ = nullptr; // borrowed: the capsfilter before the encoder
    int samplesPerSec_ = 44100;
    int channels_ = 2;
    std::weak_ptr<Mp3Encoder> self_;
};

} // namespace kelo
