#include "platform/graph/MediaType.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <gst/audio/audio.h>
#include <gst/video/video.h>

namespace kelo {

bool SameId(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool MediaType::isVideo() const {
    return SameId(majorType, MEDIATYPE_Video);
}
bool MediaType::isAudio() const {
    return SameId(majorType, MEDIATYPE_Audio);
}

namespace {

struct VideoSubtype {
    std::string_view subtype;
    const char* format; // GStreamer raw format, or null for a compressed type
    int bitCount;
};

constexpr VideoSubtype kVideoSubtypes[] = {
    {MEDIASUBTYPE_RGB24, "BGR", 24},  {MEDIASUBTYPE_RGB32, "BGRx", 32},
    {MEDIASUBTYPE_YUY2, "YUY2", 16},  {MEDIASUBTYPE_I420, "I420", 12},
    {MEDIASUBTYPE_MJPG, nullptr, 24},
};

} // namespace

CapsPtr CapsFromMediaType(const MediaType& type) {
    if (type.isVideo()) {
        GstStructure* s = nullptr;
        if (type.subtype.empty()) {
            s = gst_structure_new_empty("video/x-raw");
        } else {
            for (const VideoSubtype& v : kVideoSubtypes) {
                if (!SameId(v.subtype, type.subtype))
                    continue;
                s = v.format ? gst_structure_new("video/x-raw", "format", G_TYPE_STRING, v.format,
                                                 nullptr)
                             : gst_structure_new_empty("image/jpeg");
                break;
            }
        }
        if (!s)
            return nullptr;
        if (SameId(type.formatType, FORMAT_VideoInfo)) {
            if (type.video.width > 0)
                gst_structure_set(s, "width", G_TYPE_INT, type.video.width, nullptr);
            if (type.video.height != 0)
                gst_structure_set(s, "height", G_TYPE_INT, std::abs(type.video.height), nullptr);
            if (type.video.avgTimePerFrame > 0) {
                gint num = 0;
                gint den = 1;
                const double rate = static_cast<double>(kUnitsPerSecond) /
                                    static_cast<double>(type.video.avgTimePerFrame);
                // A whole rate in 100-ns units is cut short (15: 666666): read it as whole, as
                // cameras offer it.
                const double whole = std::round(rate);
                if (whole >= 1 && std::abs(rate - whole) < whole * 1e-5)
                    num = static_cast<gint>(whole);
                else
                    gst_util_double_to_fraction(rate, &num, &den);
                gst_structure_set(s, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
            }
        }
        GstCaps* caps = gst_caps_new_empty();
        gst_caps_append_structure(caps, s);
        return CapsPtr(caps);
    }
    if (type.isAudio()) {
        GstStructure* s = nullptr;
        const bool hasFormat = SameId(type.formatType, FORMAT_WaveFormatEx);
        if (type.subtype.empty() || SameId(type.subtype, MEDIASUBTYPE_PCM)) {
            s = gst_structure_new("audio/x-raw", "layout", G_TYPE_STRING, "interleaved", nullptr);
            if (hasFormat && type.audio.bitsPerSample > 0) {
                const char* format = type.audio.bitsPerSample == 8    ? "U8"
                                     : type.audio.bitsPerSample == 24 ? "S24LE"
                                     : type.audio.bitsPerSample == 32 ? "S32LE"
                                                                      : "S16LE";
                gst_structure_set(s, "format", G_TYPE_STRING, format, nullptr);
            }
        } else if (SameId(type.subtype, MEDIASUBTYPE_MP3)) {
            s = gst_structure_new("audio/mpeg", "mpegversion", G_TYPE_INT, 1, "layer", G_TYPE_INT,
                                  3, nullptr);
        } else {
            return nullptr;
        }
        if (hasFormat && type.audio.samplesPerSec > 0)
            gst_structure_set(s, "rate", G_TYPE_INT, type.audio.samplesPerSec, nullptr);
        if (hasFormat && type.audio.channels > 0)
            gst_structure_set(s, "channels", G_TYPE_INT, type.audio.channels, nullptr);
        GstCaps* caps = gst_caps_new_empty();
        gst_caps_append_structure(caps, s);
        return CapsPtr(caps);
    }
    return nullptr;
}

bool MediaTypeFromCaps(const GstCaps* caps, MediaType* type) {
    if (!caps || !type || gst_caps_is_empty(caps) || gst_caps_is_any(caps))
        return false;
    CapsPtr fixed(gst_caps_fixate(gst_caps_copy_nth(caps, 0)));
    const GstStructure* s = gst_caps_get_structure(fixed.get(), 0);
    const std::string_view name = gst_structure_get_name(s);
    *type = MediaType{};
    if (name == "video/x-raw" || name == "image/jpeg") {
        type->majorType = MEDIATYPE_Video;
        type->formatType = FORMAT_VideoInfo;
        const char* format = gst_structure_get_string(s, "format");
        type->video.bitCount = 24;
        for (const VideoSubtype& v : kVideoSubtypes) {
            if (name == "image/jpeg"
                    ? v.format == nullptr
                    : (v.format && format && std::string_view(format) == v.format)) {
                type->subtype = v.subtype;
                type->video.bitCount = v.bitCount;
                break;
            }
        }
        if (type->subtype.empty() && format) {
            // Another raw format: report its own bit depth.
            const GstVideoFormatInfo* info =
                gst_video_format_get_info(gst_video_format_from_string(format));
            if (info)
                type->video.bitCount = static_cast<int>(GST_VIDEO_FORMAT_INFO_BITS(info) *
                                                        GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info));
        }
        gst_structure_get_int(s, "width", &type->video.width);
        gst_structure_get_int(s, "height", &type->video.height);
        gint num = 0;
        gint den = 1;
        if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0)
            type->video.avgTimePerFrame = kUnitsPerSecond * den / num;
        type->video.sizeImage =
            DibStride(type->video.width, type->video.bitCount) * std::abs(type->video.height);
        type->fixedSizeSamples = name == "video/x-raw";
        type->sampleSize = type->fixedSizeSamples ? type->video.sizeImage : 0;
        return true;
    }
    if (name == "audio/x-raw" || name == "audio/mpeg") {
        type->majorType = MEDIATYPE_Audio;
        type->formatType = FORMAT_WaveFormatEx;
        type->subtype = name == "audio/mpeg" ? MEDIASUBTYPE_MP3 : MEDIASUBTYPE_PCM;
        gst_structure_get_int(s, "rate", &type->audio.samplesPerSec);
        gst_structure_get_int(s, "channels", &type->audio.channels);
        if (const char* format = gst_structure_get_string(s, "format")) {
            GstAudioFormat f = gst_audio_format_from_string(format);
            if (f != GST_AUDIO_FORMAT_UNKNOWN)
                type->audio.bitsPerSample = gst_audio_format_get_info(f)->width;
        }
        return true;
    }
    return false;
}

} // namespace kelo
