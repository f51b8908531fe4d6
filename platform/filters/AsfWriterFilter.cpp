#include "platform/filters/AsfWriterFilter.h"

#include "platform/filters/RunningTimeStamps.h"
#include "platform/system/GstRuntime.h"

#include <cstdio>
#include <cstdlib>
#include <gst/video/video.h>
#include <numeric>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

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
    ElementPtr sink = ElementPtr::RefSink(gst_element_factory_make("filesink", nullptr));
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    if (!sink || !gst_bin_add(GST_BIN(bin.get()), sink.get()))
        return nullptr;
    // Unbuffered: every packet reaches the kernel as it is muxed, so a crash loses none.
    g_object_set(sink.get(), "sync", FALSE, "async", FALSE, "buffer-mode", 2, nullptr);
    std::shared_ptr<AsfWriterFilter> filter(new AsfWriterFilter(std::move(bin), std::move(sink)));
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
            (void)RemoveInputs(); // E_FAIL is the answer whatever the clean-up gives
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
    if (FAILED(stream.GetMediaType(&type)))
        return E_FAIL;
    const bool isAudio = type.majorType == WmMajorType::Audio;

    std::vector<const char*> factories;
    if (isAudio)
        factories = {"queue", "audioconvert", "audioresample", "capsfilter"};
    else
        // Converted before the flip: flipping the planar picture moves half the bytes of the
        // RGB rows, the larger share of the branch's time at HD (the same picture).
        factories = {"queue", "videoconvert", "videoflip", "videoscale", "videorate", "capsfilter"};
    factories.push_back(stream.GetEncoderFactory().c_str());

    Input input;
    if (!input.chain.Make(factories))
        return E_FAIL;
    GstElement* caps = input.chain.at(input.chain.size() - 2);
    GstElement* encoder = input.chain.back();

    CapsPtr wanted;
    if (isAudio) {
        wanted.reset(gst_caps_new_simple(
            "audio/x-raw", "rate", G_TYPE_INT, static_cast<int>(type.audio.nSamplesPerSec),
            "channels", G_TYPE_INT, static_cast<int>(type.audio.nChannels), nullptr));
    } else {
        g_object_set(input.chain.at(2), "video-direction", GST_VIDEO_ORIENTATION_VERT, nullptr);
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

    if (!input.chain.AddAndLink(GST_BIN(element())))
        return E_FAIL;

    // The muxer owns its request pad; the reference returned here is only for linking.
    PadPtr muxPad(gst_element_request_pad_simple(mux_.get(), isAudio ? "audio_%u" : "video_%u"));
    PadPtr encoderSrc(gst_element_get_static_pad(encoder, "src"));
    if (!muxPad || gst_pad_link(encoderSrc.get(), muxPad.get()) != GST_PAD_LINK_OK) {
        GST_WARNING("cannot link %s to asfmux", GST_ELEMENT_NAME(encoder));
        if (muxPad)
            gst_element_release_request_pad(mux_.get(), muxPad.get());
        inputs_.push_back(std::move(input)); // taken out by RemoveInputs
        return E_FAIL;
    }
    StampWithRunningTime(encoderSrc.get());

    char name[32];
    std::snprintf(name, sizeof name, "%s Input %02d", isAudio ? "Audio" : "Video", ordinal);
    PadPtr firstSink(gst_element_get_static_pad(input.chain.front(), "sink"));
    input.ghost = gst_ghost_pad_new(name, firstSink.get());
    if (!gst_element_add_pad(element(), input.ghost)) {
        GST_WARNING("cannot add the input %s", name);
        input.ghost = nullptr; // the refused pad was sunk and released by the element
        inputs_.push_back(std::move(input));
        return E_FAIL;
    }
    inputs_.push_back(std::move(input));
    return S_OK;
}

// Takes out every input and puts in a fresh muxer: asfmux numbers its streams in the order its
// pads were requested and does not forget released ones.
HRESULT AsfWriterFilter::RemoveInputs() {
    GstBin* bin = GST_BIN(element());
    for (Input& input : inputs_) {
        if (input.ghost)
            (void)gst_element_remove_pad(element(), input.ghost); // added by AddInput: it is there
        input.chain.RemoveFromBin();
    }
    inputs_.clear();

    ElementPtr fresh = ElementPtr::RefSink(gst_element_factory_make("asfmux", nullptr));
    if (!fresh) {
        GST_WARNING("cannot make the element asfmux");
        return E_FAIL;
    }
    if (mux_) {
        (void)gst_element_set_state(mux_.get(), GST_STATE_NULL); // NULL never fails to be set
        (void)gst_bin_remove(bin, mux_.get()); // added below on an earlier call: it is there
        mux_.reset();
    }
    if (!gst_bin_add(bin, fresh.get()))
        return E_FAIL;
    mux_ = std::move(fresh);
    g_object_set(mux_.get(), "streamable", FALSE, nullptr);
    if (!gst_element_link(mux_.get(), sink_.get())) {
        GST_WARNING("cannot link asfmux to filesink");
        return E_FAIL;
    }
    return S_OK;
}

} // namespace kelo
