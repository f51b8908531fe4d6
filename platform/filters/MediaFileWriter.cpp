#include "platform/filters/MediaFileWriter.h"

#include "platform/filters/ElementChain.h"
#include "platform/filters/RowFlipElement.h"
#include "platform/system/GstRuntime.h"

#include <algorithm>
#include <cstdio>
#include <gst/video/video.h>
#include <thread>
#include <vector>

GST_DEBUG_CATEGORY_EXTERN(kelo_graph_debug);
#define GST_CAT_DEFAULT kelo_graph_debug

namespace kelo {

namespace {

// filesink's buffer-mode "unbuffered": every buffer goes to the kernel as it comes, so a kill
// loses nothing that was encoded.
constexpr int kUnbuffered = 2;

bool IsStopped(GstElement* element) {
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(element, &current, &pending, 0);
    return current <= GST_STATE_READY && pending <= GST_STATE_READY;
}

// Adds and links elements after one another in the bin; false (with a warning) when one is
// missing or a link fails. The bin owns what was added.
bool AddSeries(GstBin* bin, const std::vector<GstElement*>& elements) {
    for (GstElement* element : elements) {
        if (!element || !gst_bin_add(bin, element))
            return false;
    }
    for (std::size_t i = 0; i + 1 < elements.size(); ++i) {
        if (!gst_element_link(elements[i], elements[i + 1])) {
            GST_WARNING("cannot link %s to %s", GST_ELEMENT_NAME(elements[i]),
                        GST_ELEMENT_NAME(elements[i + 1]));
            return false;
        }
    }
    return true;
}

GstElement* Make(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element)
        GST_WARNING("cannot make the element %s", factory);
    return element;
}

} // namespace

std::shared_ptr<MediaFileWriter> MediaFileWriter::Create(MediaContainer container,
                                                         const MediaWriterSettings& settings) {
    EnsureGstInitialized();
    if (!settings.audio && !settings.video)
        return nullptr;
    if (container != MediaContainer::Mp4 && (settings.video || !settings.audio))
        return nullptr; // sound alone in MP3 and WAV
    ElementPtr bin = ElementPtr::RefSink(gst_bin_new(nullptr));
    std::shared_ptr<MediaFileWriter> writer(new MediaFileWriter(std::move(bin), container));
    if (!writer->Build(settings))
        return nullptr;
    return writer;
}

MediaFileWriter::MediaFileWriter(ElementPtr bin, MediaContainer container)
    : BaseFilter(std::move(bin)), container_(container) {}

MediaFileWriter::~MediaFileWriter() = default;

bool MediaFileWriter::Build(const MediaWriterSettings& settings) {
    GstBin* bin = GST_BIN(element());
    sink_ = Make("filesink");
    if (!sink_)
        return false;
    // Written by the muxer's pace, not the clock's.
    g_object_set(sink_, "sync", FALSE, "async", FALSE, "buffer-mode", kUnbuffered, nullptr);

    std::vector<GstElement*> tail;
    switch (container_) {
    case MediaContainer::Mp4: {
        mux_ = Make("mp4mux");
        if (!mux_)
            break;
        // A fragmented MP4: the moov (tracks, no samples) first, then a moof and its mdat for
        // every second; at the end of the stream the duration goes into the moov and a
        // fragment index (mfra) after the last fragment. A file cut off by a crash keeps every
        // fragment written and reads as it lies. (The "first-moov-then-finalise" mode, which
        // would end as a plain MP4, leaves sound-and-video files that ffmpeg refuses when it
        // is cut off: its sound fragments carry runs without sample sizes.)
        g_object_set(mux_, "fragment-duration", kFragmentMs, "force-chunks", TRUE, nullptr);
        tail = {mux_, sink_};
        break;
    }
    case MediaContainer::Mp3: {
        // The encoder sits in the input; the stream then gets its Xing header (rewritten with
        // the frame count and seek table at the end) and an ID3v2 tag in front.
        mux_ = Make("xingmux");
        GstElement* tag = Make("id3v2mux");
        if (!mux_ || !tag) {
            if (tag)
                gst_object_unref(tag);
            break;
        }
        gst_tag_setter_add_tags(GST_TAG_SETTER(tag), GST_TAG_MERGE_REPLACE, GST_TAG_ENCODER, "Kelo",
                                nullptr);
        tail = {mux_, tag, sink_};
        break;
    }
    case MediaContainer::Wav:
        mux_ = Make("wavenc");
        tail = {mux_, sink_};
        break;
    }
    if (!mux_ || !AddSeries(bin, tail))
        return false;
    // Sound first, as the ASF writer's profile has it.
    if (settings.audio && !AddInput(true, settings))
        return false;
    if (settings.video && !AddInput(false, settings))
        return false;
    return true;
}

bool MediaFileWriter::AddInput(bool audio, const MediaWriterSettings& settings) {
    std::vector<const char*> factories{"queue"};
    switch (container_) {
    case MediaContainer::Mp4:
        if (audio)
            factories.insert(factories.end(),
                             {"audioconvert", "audioresample", "voaacenc", "aacparse"});
        else
            factories.insert(factories.end(), {kRowFlipFactory, "videoconvert", "capsfilter",
                                               "openh264enc", "h264parse"});
        break;
    case MediaContainer::Mp3:
        factories.insert(factories.end(), {"audioconvert", "audioresample", "lamemp3enc"});
        break;
    case MediaContainer::Wav:
        factories.insert(factories.end(), {"audioconvert", "capsfilter"});
        break;
    }
    ElementChain chain;
    if (!chain.Make(factories))
        return false;

    if (container_ == MediaContainer::Mp4 && !audio) {
        CapsPtr i420(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr));
        g_object_set(chain.at(3), "caps", i420.get(), nullptr);
        // A real-time set-up from the first frame: the fastest complexity, the camera usage,
        // a key frame every two seconds, threads for the larger modes.
        GstElement* encoder = chain.at(4);
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        g_object_set(encoder, "bitrate", settings.videoBitsPerSecond, "multi-thread", threads,
                     "gop-size", static_cast<guint>(std::max(settings.framesPerSecond, 1) * 2),
                     nullptr);
        gst_util_set_object_arg(G_OBJECT(encoder), "complexity", "low");
        gst_util_set_object_arg(G_OBJECT(encoder), "usage-type", "camera");
        gst_util_set_object_arg(G_OBJECT(encoder), "rate-control", "bitrate");
    } else if (container_ == MediaContainer::Mp4) {
        g_object_set(chain.at(3), "bitrate", kAacBitsPerSecond, nullptr);
    } else if (container_ == MediaContainer::Mp3) {
        // Constant bit rate: a file cut off by a crash still tells its length by its size.
        GstElement* encoder = chain.back();
        gst_util_set_object_arg(G_OBJECT(encoder), "target", "bitrate");
        g_object_set(encoder, "bitrate", kMp3KilobitsPerSecond, "cbr", TRUE, nullptr);
    } else {
        CapsPtr pcm16(
            gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", nullptr));
        g_object_set(chain.back(), "caps", pcm16.get(), nullptr);
    }

    if (!chain.AddAndLink(GST_BIN(element())))
        return false;
    // The muxer owns its request pad; the reference returned here is only for linking. xingmux
    // and wavenc have one static input.
    PadPtr muxPad;
    if (container_ == MediaContainer::Mp4)
        muxPad.reset(gst_element_request_pad_simple(mux_, audio ? "audio_%u" : "video_%u"));
    else
        muxPad.reset(gst_element_get_static_pad(mux_, "sink"));
    PadPtr lastSrc(gst_element_get_static_pad(chain.back(), "src"));
    if (!muxPad || gst_pad_link(lastSrc.get(), muxPad.get()) != GST_PAD_LINK_OK) {
        GST_WARNING("cannot link the %s input to %s", audio ? "audio" : "video",
                    GST_ELEMENT_NAME(mux_));
        return false;
    }

    char name[32];
    std::snprintf(name, sizeof name, "%s Input 01", audio ? "Audio" : "Video");
    PadPtr firstSink(gst_element_get_static_pad(chain.front(), "sink"));
    GstPad* ghost = gst_ghost_pad_new(name, firstSink.get());
    if (!ghost || !gst_element_add_pad(element(), ghost)) {
        GST_WARNING("cannot add the input %s", name);
        return false;
    }
    // The elements stay in the bin, which owns them from now on.
    return true;
}

HRESULT MediaFileWriter::SetFileName(std::string_view path, const MediaType*) {
    if (path.empty())
        return E_INVALIDARG;
    if (!IsStopped(element()))
        return E_UNEXPECTED;
    fileName_ = std::string(path);
    g_object_set(sink_, "location", fileName_.c_str(), nullptr);
    if (container_ == MediaContainer::Mp3) {
        // The tag names the recording by its file.
        GstElement* tag = nullptr;
        GstIterator* it = gst_bin_iterate_elements(GST_BIN(element()));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* candidate = GST_ELEMENT(g_value_get_object(&item));
            if (GST_IS_TAG_SETTER(candidate))
                tag = candidate;
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        if (tag) {
            const std::size_t slash = fileName_.rfind('/');
            std::string title = fileName_.substr(slash == std::string::npos ? 0 : slash + 1);
            if (const std::size_t dot = title.rfind('.'); dot != std::string::npos)
                title.resize(dot);
            gst_tag_setter_add_tags(GST_TAG_SETTER(tag), GST_TAG_MERGE_REPLACE, GST_TAG_TITLE,
                                    title.c_str(), nullptr);
        }
    }
    return S_OK;
}

HRESULT MediaFileWriter::GetCurFile(std::string* path) const {
    if (!path)
        return E_POINTER;
    *path = fileName_;
    return fileName_.empty() ? E_FAIL : S_OK;
}

} // namespace kelo
