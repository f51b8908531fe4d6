// Media types as the graph's callers see them: a major type, a subtype and a format block
// (video frame geometry or audio wave format), and the identifiers that name them. Inside the
// layer a media type is turned into GStreamer caps; RGB24 always means bottom-up BGR rows.
#pragma once

#include "platform/system/Handles.h"
#include "platform/system/HResult.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kelo {

// Major types, subtypes, format types and pin categories (GUID strings, upper case).
inline constexpr std::string_view MEDIATYPE_Video = "{73646976-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIATYPE_Audio = "{73647561-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIATYPE_Stream = "{E436EB83-524F-11CE-9F53-0020AF0BA770}";
inline constexpr std::string_view MEDIASUBTYPE_RGB24 = "{E436EB7D-524F-11CE-9F53-0020AF0BA770}";
inline constexpr std::string_view MEDIASUBTYPE_RGB32 = "{E436EB7E-524F-11CE-9F53-0020AF0BA770}";
inline constexpr std::string_view MEDIASUBTYPE_YUY2 = "{32595559-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIASUBTYPE_I420 = "{30323449-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIASUBTYPE_MJPG = "{47504A4D-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIASUBTYPE_PCM = "{00000001-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIASUBTYPE_MP3 = "{00000055-0000-0010-8000-00AA00389B71}";
inline constexpr std::string_view MEDIASUBTYPE_Avi = "{E436EB88-524F-11CE-9F53-0020AF0BA770}";
inline constexpr std::string_view FORMAT_VideoInfo = "{05589F80-C356-11CE-BF01-00AA0055595A}";
inline constexpr std::string_view FORMAT_WaveFormatEx = "{05589F81-C356-11CE-BF01-00AA0055595A}";
inline constexpr std::string_view PIN_CATEGORY_CAPTURE = "{FB6C4281-0353-11D1-905F-0000C0CC16BA}";
inline constexpr std::string_view PIN_CATEGORY_PREVIEW = "{FB6C4282-0353-11D1-905F-0000C0CC16BA}";

// Device and compressor categories of the system device enumerator.
inline constexpr std::string_view CLSID_VideoInputDeviceCategory =
    "{860BB310-5D01-11D0-BD3B-00A0C911CE86}";
inline constexpr std::string_view CLSID_AudioInputDeviceCategory =
    "{33D9A762-90C8-11D0-BD43-00A0C911CE86}";
inline constexpr std::string_view CLSID_VideoCompressorCategory =
    "{33D9A760-90C8-11D0-BD43-00A0C911CE86}";
inline constexpr std::string_view CLSID_AudioCompressorCategory =
    "{33D9A761-90C8-11D0-BD43-00A0C911CE86}";

// Results of the graph layer that are not in HResult.h.
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = static_cast<HRESULT>(0x0004022Du);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = static_cast<HRESULT>(0x00040237u);

// Frame duration unit: 100 nanoseconds.
inline constexpr std::int64_t kUnitsPerSecond = 10000000;

// The VIDEOINFOHEADER fields the program reads and writes.
struct VideoInfo {
    int width = 0;                    // biWidth
    int height = 0;                   // biHeight (positive: bottom-up rows for RGB)
    int bitCount = 0;                 // biBitCount
    int sizeImage = 0;                // biSizeImage
    std::int64_t avgTimePerFrame = 0; // 100-ns units
};

// The WAVEFORMATEX fields the program reads and writes.
struct WaveFormat {
    int samplesPerSec = 0;
    int channels = 0;
    int bitsPerSample = 0;
};

struct MediaType {
    std::string majorType;  // MEDIATYPE_*
    std::string subtype;    // MEDIASUBTYPE_*
    std::string formatType; // FORMAT_* or empty (no format block)
    bool fixedSizeSamples = false;
    int sampleSize = 0;
    VideoInfo video;  // valid when formatType is FORMAT_VideoInfo
    WaveFormat audio; // valid when formatType is FORMAT_WaveFormatEx

    bool isVideo() const;
    bool isAudio() const;
};

// Whole-string comparison of identifiers without regard to case.
bool SameId(std::string_view a, std::string_view b);

// Caps for a media type. Only the fields that are set constrain the caps: a video type without a
// format block is "any raw video of that subtype". RGB24 is GStreamer's BGR.
CapsPtr CapsFromMediaType(const MediaType& type);

// The media type of fixed caps (the first structure of non-fixed caps, with its ranges fixated).
// False when the caps name nothing the layer knows.
bool MediaTypeFromCaps(const GstCaps* caps, MediaType* type);

// The padded stride of a bottom-up DIB row.
inline int DibStride(int width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

} // namespace kelo
