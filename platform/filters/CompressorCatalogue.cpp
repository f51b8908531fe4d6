#include "platform/filters/CompressorCatalogue.h"

#include "platform/graph/ElementFactory.h"
#include "platform/graph/MediaType.h"

namespace kelo {

namespace {

FilterPtr MakeMpeg4Encoder() {
    // Bottom-up RGB24 in: converted to planar YUV first and flipped upright there, which moves
    // half the bytes of flipping the RGB rows (the same picture: the 2 x 2 chroma blocks of an
    // even height map onto each other). The encoder has no threads of its own; the conversion
    // and flip were the larger share of its branch's time at 1280 x 720.
    ElementPtr bin =
        MakeBin("videoconvert ! video/x-raw,format=I420 ! videoflip video-direction=vert "
                "! avenc_msmpeg4v2");
    return bin ? std::make_shared<BaseFilter>(std::move(bin)) : nullptr;
}

constexpr int kMpegAudioRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

} // namespace

bool SetVideoCompressorBitrate(const FilterPtr& compressor, std::uint32_t bitsPerSecond) {
    if (!compressor || !compressor->element() || !GST_IS_BIN(compressor->element()))
        return false;
    bool set = false;
    IteratorPtr it(gst_bin_iterate_recurse(GST_BIN(compressor->element())));
    GValue item = G_VALUE_INIT;
    while (!set && gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        // libav's encoders take bits per second as a 64-bit integer.
        GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "bitrate");
        if (property && property->value_type == G_TYPE_INT64) {
            g_object_set(element, "bitrate", static_cast<gint64>(bitsPerSecond), nullptr);
            set = true;
        } else if (property && property->value_type == G_TYPE_INT) {
            g_object_set(element, "bitrate", static_cast<gint>(bitsPerSecond), nullptr);
            set = true;
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return set;
}

std::vector<CompressorEntry> InstalledCompressors() {
    std::vector<CompressorEntry> all;
    if (HasElementFactory("avenc_msmpeg4v2"))
        all.push_back({kMpeg4CompressorName, CLSID_VideoCompressorCategory, &MakeMpeg4Encoder});
    if (HasElementFactory("lamemp3enc"))
        all.push_back({kMp3CompressorName, CLSID_AudioCompressorCategory,
                       []() -> FilterPtr { return Mp3Encoder::Create(); }});
    return all;
}

std::shared_ptr<Mp3Encoder> Mp3Encoder::Create() {
    ElementPtr bin = MakeBin("audioconvert ! audioresample ! capsfilter name=rate "
                             "caps=audio/x-raw,rate=44100,channels=2 ! lamemp3enc");
    if (!bin)
        return nullptr;
    ElementPtr rate(gst_bin_get_by_name(GST_BIN(bin.get()), "rate"));
    if (!rate)
        return nullptr;
    auto encoder = std::shared_ptr<Mp3Encoder>(new Mp3Encoder(std::move(bin), rate.get()));
    encoder->SetSelf(encoder);
    return encoder;
}

Mp3Encoder::Mp3Encoder(ElementPtr bin, GstElement* rate)
    : BaseFilter(std::move(bin)), rate_(rate) {}

ComPtr Mp3Encoder::PinInterfaces(PinDirection direction, GstPad*) {
    return direction == PinDirection::Output ? self_.lock() : nullptr;
}

HRESULT Mp3Encoder::GetFormat(MediaType* type) {
    if (!type)
        return E_POINTER;
    *type = MediaType{};
    type->majorType = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_MP3;
    type->formatType = FORMAT_WaveFormatEx;
    type->audio.samplesPerSec = samplesPerSec_;
    type->audio.channels = channels_;
    return S_OK;
}

HRESULT Mp3Encoder::SetFormat(const MediaType& type) {
    if (!type.isAudio() || !SameId(type.formatType, FORMAT_WaveFormatEx))
        return VFW_E_INVALIDMEDIATYPE;
    bool known = false;
    for (int rate : kMpegAudioRates)
        known = known || rate == type.audio.samplesPerSec;
    if (!known || type.audio.channels < 1 || type.audio.channels > 2)
        return VFW_E_INVALIDMEDIATYPE;
    samplesPerSec_ = type.audio.samplesPerSec;
    channels_ = type.audio.channels;
    CapsPtr caps(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, samplesPerSec_, "channels",
                                     G_TYPE_INT, channels_, nullptr));
    g_object_set(rate_, "caps", caps.get(), nullptr);
    return S_OK;
}

} // namespace kelo
