#include "platform/filters/AsfWriterFilter.h"

#include "platform/filters/RunningTimeStamps.h"
#include "platform/system/GstRuntime.h"

#include <cstdio>
#include <cstdlib>
#include <gst/video/video.h>
#include <numeric>

namespace kelo {

namespace {

// True while the element is in the NULL or READY state (a file name may still change).
bool IsStopped(GstElement* element) {
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(element, &current, &pending, 0);
    return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

} // namespace

void FrameRateFromDuration(std::int64_t avgTimePerFrame, int* numerator, int* denominator) {
    if (avgTimePerFrame <= 0) {
        *numerator = 0;
        *denominator = 1;
        return;
    }
    // An integer rate whose truncated duration is exactly this one is that rate.
    const std::int64_t rounded = (kUnitsPerSecond + avgTimePerFrame / 2) / avgTimePerFrame;
    if (rounded > 0 && kUnitsPerSecond / rounded == avgTimePerFrame) {
        *numerator = static_cast<int>(rounded);
        *denominator = 1;
        return;
    }
    const std::int64_t divisor = std::gcd(kUnitsPerSecond, avgTimePerFrame);
    std::int64_t num = kUnitsPerSecond / divisor;
    std::int64_t den = avgTimePerFrame / divisor;
    while (den > G_MAXINT) {
        num = (num + 5) / 10;
        den = (den + 5) / 10;
    }
    *numerator = static_cast<int>(num);
    *denominator = static_cast<int>(den);
}

std::shared_ptr<AsfWriterFilter> AsfWriterFilter::Create() {
    EnsureGstInitialized();
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    if (!sink)
        return nullptr;
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    gst_bin_add(GST_BIN(bin.get()), sink);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    std::shared_ptr<AsfWriterFilter> filter(
        new AsfWriterFilter(std::move(bin), ElementPtr::Ref(sink)));
    if (FAILED(filter->ConfigureFilterUsingProfile(DefaultAsfWriterProfile())))
        return nullptr;
    return filter;
}

AsfWriterFilter::AsfWriterFilter(ElementPtr bin, ElementPtr sink)
    : BaseFilter(std::move(bin)), sink_(std::move(sink)) {}

AsfWriterFilter::~AsfWriterFilter() = default;

HRESULT AsfWriterFilter::SetFileName(std::string_view path, const MediaType*) {
    if (path.empty())
        return E_INVALIDARG;
    if (!IsStopped(element()))
        return E_UNEXPECTED;
    fileName_ = std::string(path);
    g_object_set(sink_.get(), "location", fileName_.c_str(), nullptr);
    return S_OK;
}

HRESULT AsfWriterFilter::GetCurFile(std::string* path) const {
    if (!path)
        return E_POINTER;
    *path = fileName_;
    return fileName_.empty() ? E_FAIL : S_OK;
}

HRESULT AsfWriterFilter::ConfigureFilterUsingProfile(const WmProfile& profile) {
    if (profile.GetStreamCount() == 0)
        return E_INVALIDARG;
    if (!IsStopped(element()))
        return E_UNEXPECTED;
    for (const Input& input : inputs_) {
        if (input.ghost && gst_pad_is_linked(input.ghost))
            return E_UNEXPECTED; // the graph is wired to the current inputs
    }
    if (FAILED(RemoveInputs()))
        return E_FAIL;
    int audio = 0;
    int video = 0;
    for (const WmStreamConfig& stream : profile.streams()) {
        const bool isAudio = stream.GetStreamType() == WmMajorType::Audio;
        if (FAILED(AddInput(stream, isAudio ? ++audio : ++video))) {
            RemoveInputs();
            return E_FAIL;
        }
    }
    profile_ = profile;
    return S_OK;
}

HRESULT AsfWriterFilter::GetCurrentProfile(WmProfile* profile) const {
    if (!profile)
        return E_POINTER;
    *profile = profile_;
    return S_OK;
}

HRESULT AsfWriterFilter::SetIndexMode(bool indexFile) {
    // asfmux writes its index whenever the output is seekable; a file is always seekable here.
    indexFile_ = indexFile;
    g_object_set(mux_.get(), "streamable", FALSE, nullptr);
    return S_OK;
}

HRESULT AsfWriterFilter::GetIndexMode(bool* indexFile) const {
    if (!indexFile)
        return E_POINTER;
    *indexFile = indexFile_;
    return S_OK;
}

HRESULT AsfWriterFilter::AddInput(const WmStreamConfig& stream, int ordinal) {
    WmMediaType type;
    stream.GetMediaType(&type);
    const bool isAudio = type.majorType == WmMajorType::Audio;

    std::vector<const char*> factories;
    if (isAudio)
        factories = {"queue", "audioconvert", "audioresample", "capsfilter"};
    else
        factories = {"queue", "videoflip", "videoconvert", "videoscale", "videorate", "capsfilter"};
    factories.push_back(stream.GetEncoderFactory().c_str());

    Input input;
    for (const char* factory : factories) {
        GstElement* e = gst_element_factory_make(factory, nullptr);
        if (!e) {
            for (GstElement* made : input.chain)
                gst_object_unref(gst_object_ref_sink(made));
            return E_FAIL;
        }
        input.chain.push_back(e);
    }
    GstElement* caps = input.chain[input.chain.size() - 2];
    GstElement* encoder = input.chain.back();

    CapsPtr wanted;
    if (isAudio) {
        wanted.reset(gst_caps_new_simple(
            "audio/x-raw", "rate", G_TYPE_INT, static_cast<int>(type.audio.nSamplesPerSec),
            "channels", G_TYPE_INT, static_cast<int>(type.audio.nChannels), nullptr));
    } else {
        g_object_set(input.chain[1], "video-direction", GST_VIDEO_ORIENTATION_VERT, nullptr);
        int num = 0;
        int den = 1;
        FrameRateFromDuration(type.video.AvgTimePerFrame, &num, &den);
        wanted.reset(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, type.video.biWidth,
                                         "height", G_TYPE_INT, std::abs(type.video.biHeight),
                                         nullptr));
        if (num > 0)
            gst_caps_set_simple(wanted.get(), "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    }
    g_object_set(caps, "caps", wanted.get(), nullptr);
    if (stream.GetBitrate() > 0 &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), "bitrate"))
        g_object_set(encoder, "bitrate", static_cast<gint>(stream.GetBitrate()), nullptr);

    GstBin* bin = GST_BIN(element());
    for (GstElement* e : input.chain)
        gst_bin_add(bin, e);
    for (std::size_t i = 0; i + 1 < input.chain.size(); ++i)
        gst_element_link(input.chain[i], input.chain[i + 1]);

    // The muxer owns its request pad; the reference returned here is only for linking.
    PadPtr muxPad(gst_element_request_pad_simple(mux_.get(), isAudio ? "audio_%u" : "video_%u"));
    PadPtr encoderSrc(gst_element_get_static_pad(encoder, "src"));
    if (!muxPad || gst_pad_link(encoderSrc.get(), muxPad.get()) != GST_PAD_LINK_OK) {
        inputs_.push_back(input);
        return E_FAIL;
    }
    StampWithRunningTime(encoderSrc.get());

    char name[32];
    std::snprintf(name, sizeof name, "%s Input %02d", isAudio ? "Audio" : "Video", ordinal);
    PadPtr firstSink(gst_element_get_static_pad(input.chain.front(), "sink"));
    input.ghost = gst_ghost_pad_new(name, firstSink.get());
    gst_element_add_pad(element(), input.ghost);
    inputs_.push_back(input);
    return S_OK;
}

// Takes out every input and puts in a fresh muxer: asfmux numbers its streams in the order its
// pads were requested and does not forget released ones.
HRESULT AsfWriterFilter::RemoveInputs() {
    GstBin* bin = GST_BIN(element());
    for (Input& input : inputs_) {
        if (input.ghost)
            gst_element_remove_pad(element(), input.ghost);
        for (GstElement* e : input.chain) {
            gst_element_set_state(e, GST_STATE_NULL);
            gst_bin_remove(bin, e);
        }
    }
    inputs_.clear();

    GstElement* fresh = gst_element_factory_make("asfmux", nullptr);
    if (!fresh)
        return E_FAIL;
    if (mux_) {
        gst_element_set_state(mux_.get(), GST_STATE_NULL);
        gst_bin_remove(bin, mux_.get());
    }
    mux_ = ElementPtr::Ref(fresh);
    gst_bin_add(bin, fresh);
    g_object_set(fresh, "streamable", FALSE, nullptr);
    return gst_element_link(fresh, sink_.get()) ? S_OK : E_FAIL;
}

} // namespace kelo
