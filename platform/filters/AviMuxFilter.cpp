#include "platform/filters/AviMuxFilter.h"

#include "platform/filters/ElementChain.h"
#include "platform/filters/RowFlipElement.h"
#include "platform/system/GstRuntime.h"

#include <cstdio>
#include <cstring>
#include <gst/video/video.h>
#include <string>
#include <vector>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

// What a peer produces, from its caps: "video/x-raw", "video/..." (compressed), and so on.
enum class StreamShape { Unknown, RawVideo, Video, RawAudio, Audio };

StreamShape ShapeOf(GstPad* peer) {
    CapsPtr caps(gst_pad_query_caps(peer, nullptr));
    if (!caps || gst_caps_is_any(caps.get()) || gst_caps_is_empty(caps.get()))
        return StreamShape::Unknown;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    if (std::strcmp(name, "video/x-raw") == 0)
        return StreamShape::RawVideo;
    if (g_str_has_prefix(name, "video/"))
        return StreamShape::Video;
    if (std::strcmp(name, "audio/x-raw") == 0)
        return StreamShape::RawAudio;
    if (g_str_has_prefix(name, "audio/"))
        return StreamShape::Audio;
    return StreamShape::Unknown;
}

} // namespace

std::shared_ptr<AviMuxFilter> AviMuxFilter::Create() {
    EnsureGstInitialized();
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    ElementPtr muxRef = ElementPtr::RefSink(gst_element_factory_make("avimux", nullptr));
    if (!muxRef || !gst_bin_add(GST_BIN(bin.get()), muxRef.get()))
        return nullptr;
    PadPtr muxSrc(gst_element_get_static_pad(muxRef.get(), "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("AVI Out", muxSrc.get()));
    std::shared_ptr<AviMuxFilter> filter(new AviMuxFilter(std::move(bin), std::move(muxRef)));
    filter->AddFreeInput();
    return filter;
}

AviMuxFilter::AviMuxFilter(ElementPtr bin, ElementPtr mux)
    : BaseFilter(std::move(bin)), mux_(std::move(mux)) {}

AviMuxFilter::~AviMuxFilter() {
    // The free input's handler points at this object; the bin may outlive it inside a graph.
    if (lastHandler_) {
        char name[32];
        std::snprintf(name, sizeof name, "Input %02d", inputCount_);
        PadPtr pad(gst_element_get_static_pad(element(), name));
        if (pad)
            g_signal_handler_disconnect(pad.get(), lastHandler_);
    }
}

void AviMuxFilter::AddFreeInput() {
    char name[32];
    std::snprintf(name, sizeof name, "Input %02d", ++inputCount_);
    GstPad* pad = gst_ghost_pad_new_no_target(name, GST_PAD_SINK);
    lastHandler_ =
        g_signal_connect(pad, "linked", G_CALLBACK(+[](GstPad* input, GstPad* peer, gpointer self) {
                             static_cast<AviMuxFilter*>(self)->OnInputLinked(input, peer);
                         }),
                         this);
    gst_element_add_pad(element(), pad);
}

// Runs on the thread that links (the UI thread, while the graph is stopped).
void AviMuxFilter::OnInputLinked(GstPad* input, GstPad* peer) {
    g_signal_handler_disconnect(input, lastHandler_);
    lastHandler_ = 0;

    const StreamShape shape = ShapeOf(peer);
    const bool video = shape == StreamShape::RawVideo || shape == StreamShape::Video;
    const bool audio = shape == StreamShape::RawAudio || shape == StreamShape::Audio;
    if (video || audio)
        ConnectInput(input, video, shape == StreamShape::RawVideo, shape == StreamShape::RawAudio);
    AddFreeInput();
}

// Every input gets its own queue (and so its own streaming thread): the muxer waits for data on
// all its inputs, and a live source held up by another stream would fall behind.
bool AviMuxFilter::ConnectInput(GstPad* input, bool video, bool rawVideo, bool rawAudio) {
    std::vector<const char*> factories{"queue"};
    if (rawVideo)
        factories.insert(factories.end(), {kRowFlipFactory, "videoconvert"});
    if (rawAudio)
        factories.push_back("audioconvert");
    ElementChain chain;
    if (!chain.Make(factories))
        return false;

    // The muxer owns its request pad; the reference returned here is only for linking.
    PadPtr request(gst_element_request_pad_simple(mux_.get(), video ? "video_%u" : "audio_%u"));
    if (!request) {
        GST_WARNING("avimux gave no %s input", video ? "video" : "audio");
        return false;
    }
    if (!chain.AddAndLink(GST_BIN(element()))) {
        gst_element_release_request_pad(mux_.get(), request.get());
        return false;
    }
    PadPtr lastSrc(gst_element_get_static_pad(chain.back(), "src"));
    const bool linked = gst_pad_link(lastSrc.get(), request.get()) == GST_PAD_LINK_OK;
    if (!linked) {
        // An input that never gets data would hold the muxer up for good.
        GST_WARNING("cannot link the %s chain to avimux", video ? "video" : "audio");
        gst_element_release_request_pad(mux_.get(), request.get());
    }
    PadPtr firstSink(gst_element_get_static_pad(chain.front(), "sink"));
    if (!gst_ghost_pad_set_target(GST_GHOST_PAD(input), firstSink.get()))
        GST_WARNING("cannot point the input at its chain");
    chain.SyncStateWithParent();
    if (linked)
        (video ? videoStreams_ : audioStreams_)++;
    return linked;
}

} // namespace kelo
