#include "platform/AsfWriter.h"

#include "platform/ElementFactory.h"
#include "platform/MediaType.h"

#include <cstdio>

namespace kelo {

HRESULT AsfStreamConfig::GetMediaType(MediaType* type) const {
    if (!type)
        return E_POINTER;
    *type = type_;
    return S_OK;
}

HRESULT AsfStreamConfig::SetMediaType(const MediaType& type) {
    if (type.isAudio() != type_.isAudio() || type.isVideo() != type_.isVideo())
        return E_INVALIDARG; // a stream keeps its kind
    type_ = type;
    return S_OK;
}

HRESULT AsfProfile::GetStream(int index, std::shared_ptr<AsfStreamConfig>* stream) const {
    if (!stream)
        return E_POINTER;
    if (index < 0 || index >= GetStreamCount())
        return E_INVALIDARG;
    *stream = std::make_shared<AsfStreamConfig>(streams_[static_cast<std::size_t>(index)]);
    return S_OK;
}

HRESULT AsfProfile::ReconfigStream(const AsfStreamConfig& stream) {
    for (AsfStreamConfig& s : streams_) {
        if (s.streamNumber() == stream.streamNumber()) {
            s = stream;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT AsfProfile::AddStream(const AsfStreamConfig& stream) {
    for (const AsfStreamConfig& s : streams_) {
        if (s.streamNumber() == stream.streamNumber())
            return E_INVALIDARG;
    }
    streams_.push_back(stream);
    return S_OK;
}

HRESULT AsfProfileManager::SetSystemProfileVersion(int version) {
    return version == kWMT_VER_8_0 ? S_OK : E_INVALIDARG;
}

HRESULT AsfProfileManager::CreateEmptyProfile(int version,
                                              std::shared_ptr<AsfProfile>* profile) const {
    if (!profile)
        return E_POINTER;
    if (version != kWMT_VER_8_0)
        return E_INVALIDARG;
    *profile = std::make_shared<AsfProfile>();
    return S_OK;
}

AsfProfile DefaultAsfProfile() {
    MediaType audio;
    audio.majorType = MEDIATYPE_Audio;
    audio.subtype = MEDIASUBTYPE_PCM;
    audio.formatType = FORMAT_WaveFormatEx;
    audio.audio = WaveFormat{44100, 2, 16};
    MediaType video;
    video.majorType = MEDIATYPE_Video;
    video.subtype = MEDIASUBTYPE_RGB24;
    video.formatType = FORMAT_VideoInfo;
    video.video = VideoInfo{320, 240, 24, DibStride(320, 24) * 240, 333333};
    AsfProfile profile;
    profile.AddStream(AsfStreamConfig(1, audio));
    profile.AddStream(AsfStreamConfig(2, video));
    return profile;
}

std::shared_ptr<WMAsfWriter> WMAsfWriter::Create() {
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    ElementPtr file = MakeElement("filesink");
    if (!bin || !file || !HasElementFactory("asfmux") || !HasElementFactory("avenc_wmav2") ||
        !HasElementFactory("avenc_wmv2"))
        return nullptr;
    g_object_set(file.get(), "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(bin.get()), file.get());
    auto writer = std::shared_ptr<WMAsfWriter>(new WMAsfWriter(std::move(bin), file.get()));
    if (FAILED(writer->ConfigureFilterUsingProfile(DefaultAsfProfile())))
        return nullptr;
    return writer;
}

WMAsfWriter::WMAsfWriter(ElementPtr bin, GstElement* file)
    : BaseFilter(std::move(bin)), file_(file) {}

HRESULT WMAsfWriter::SetFileName(std::string_view path, const MediaType*) {
    if (path.empty())
        return E_INVALIDARG;
    path_ = std::string(path);
    g_object_set(file_, "location", path_.c_str(), nullptr);
    return S_OK;
}

HRESULT WMAsfWriter::GetCurFile(std::string* path) const {
    if (!path)
        return E_POINTER;
    *path = path_;
    return path_.empty() ? E_FAIL : S_OK;
}

HRESULT WMAsfWriter::GetCurrentProfile(std::shared_ptr<AsfProfile>* profile) const {
    if (!profile)
        return E_POINTER;
    *profile = std::make_shared<AsfProfile>(profile_);
    return S_OK;
}

void WMAsfWriter::RemoveInputs() {
    GstElement* bin = element();
    // Our ghost inputs, the encoders, and the muxer itself: asfmux keeps counting the streams of
    // pads given back, so every configuration gets a new one.
    std::vector<PadPtr> sinks;
    GST_OBJECT_LOCK(bin);
    for (GList* l = GST_ELEMENT_CAST(bin)->sinkpads; l; l = l->next)
        sinks.push_back(PadPtr::Ref(static_cast<GstPad*>(l->data)));
    GST_OBJECT_UNLOCK(bin);
    for (const PadPtr& pad : sinks)
        gst_element_remove_pad(bin, pad.get());
    for (const ElementPtr& input : inputs_) {
        gst_element_set_state(input.get(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(bin), input.get());
    }
    inputs_.clear();
    if (mux_) {
        gst_element_set_state(mux_, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(bin), mux_);
        mux_ = nullptr;
    }
}

HRESULT WMAsfWriter::ConfigureFilterUsingProfile(const AsfProfile& profile) {
    GstElement* bin = element();
    GST_OBJECT_LOCK(bin);
    bool linked = false;
    for (GList* l = GST_ELEMENT_CAST(bin)->sinkpads; l; l = l->next)
        linked = linked || gst_pad_is_linked(static_cast<GstPad*>(l->data));
    const bool stopped = GST_STATE(bin) == GST_STATE_NULL;
    GST_OBJECT_UNLOCK(bin);
    if (linked || !stopped)
        return E_UNEXPECTED;
    RemoveInputs();
    ElementPtr mux = MakeElement("asfmux");
    if (!mux)
        return E_FAIL;
    gst_bin_add(GST_BIN(bin), mux.get());
    mux_ = mux.get(); // the bin holds it
    if (!gst_element_link(mux_, file_)) {
        RemoveInputs();
        return E_FAIL;
    }

    for (int i = 0; i < profile.GetStreamCount(); ++i) {
        std::shared_ptr<AsfStreamConfig> stream;
        profile.GetStream(i, &stream);
        const MediaType& type = stream->type();
        char description[512];
        if (type.isAudio()) {
            std::snprintf(
                description, sizeof description,
                "audioconvert ! audioresample ! capsfilter caps=audio/x-raw,rate=%d,channels=%d ! "
                "avenc_wmav2",
                type.audio.samplesPerSec > 0 ? type.audio.samplesPerSec : 44100,
                type.audio.channels > 0 ? type.audio.channels : 2);
        } else if (type.isVideo()) {
            // Bottom-up RGB24 in: rows upright first. The profile's size and rate are what the
            // encoder gets.
            const std::int64_t frame =
                type.video.avgTimePerFrame > 0 ? type.video.avgTimePerFrame : 666666;
            gint num = 0;
            gint den = 1;
            gst_util_double_to_fraction(
                static_cast<double>(kUnitsPerSecond) / static_cast<double>(frame), &num, &den);
            std::snprintf(
                description, sizeof description,
                "videoflip video-direction=vert ! videoconvert ! videoscale ! videorate ! "
                "capsfilter caps=video/x-raw,width=%d,height=%d,framerate=%d/%d ! avenc_wmv2",
                type.video.width > 0 ? type.video.width : 320,
                type.video.height != 0 ? std::abs(type.video.height) : 240, num, den);
        } else {
            RemoveInputs();
            return VFW_E_INVALIDMEDIATYPE;
        }
        ElementPtr input = MakeBin(description);
        if (!input) {
            RemoveInputs();
            return E_FAIL;
        }
        gst_bin_add(GST_BIN(bin), input.get());
        PadPtr src(gst_element_get_static_pad(input.get(), "src"));
        PadPtr muxPad(
            gst_element_request_pad_simple(mux_, type.isAudio() ? "audio_%u" : "video_%u"));
        PadPtr sink(gst_element_get_static_pad(input.get(), "sink"));
        inputs_.push_back(input);
        if (!muxPad || gst_pad_link(src.get(), muxPad.get()) != GST_PAD_LINK_OK) {
            RemoveInputs();
            return E_FAIL;
        }
        gst_element_add_pad(bin, gst_ghost_pad_new(type.isAudio() ? "audio" : "video", sink.get()));
    }
    profile_ = profile;
    return S_OK;
}

HRESULT WMAsfWriter::SetIndexMode(bool index) {
    // asfmux writes its index (and a seekable header) when the file is completed.
    indexed_ = index;
    return S_OK;
}

} // namespace kelo
