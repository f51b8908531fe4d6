// kelo-pipeline-demo: the studio's frame pipeline without a window.
//
//   videotestsrc (moving ball, 320 x 240, 15 frames/s) -> videoconvert -> row flip (bottom-up
//   BGR, as every frame inside the graph) -> BmpOverlayFiler -> OpenCV ProxyTrans Filer
//   (FrameCallback: face cover, colour adjustment, caption, virtual camera feed) -> Overlay
//   Filer -> fakesink
//
// The processed frames go into the feed object (FeedObjectName(), "/KeloVCam" unless
// KELOCAM_FEED_NAME says otherwise) as soon as the virtual camera has created it; the program
// says on stderr whether it is writing. Runs until Ctrl+C (or --frames=N).
//
// Options: --frames=N  --face  --adjust=LIGHTNESS,SATURATION,BLUE,GREEN,RED
//          --overlay=110|111|112 (a generated picture: stars for 110, a frame border otherwise)
//          --pattern=NAME (videotestsrc pattern, default ball)
#include "effects/BmpOverlayFilter.h"
#include "effects/EffectFilterControl.h"
#include "effects/EffectFilters.h"
#include "effects/OverlayFilter.h"
#include "engine/EffectState.h"
#include "engine/FramePipeline.h"
#include "engine/VirtualCameraFeed.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/graph/BaseFilter.h"
#include "platform/graph/ClassIds.h"
#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib-unix.h>
#include <gst/gst.h>
#include <memory>
#include <string>
#include <vector>

using namespace kelo;

namespace {

struct Options {
    long frames = -1;
    bool face = false;
    bool adjust = false;
    int shifts[5] = {0, 0, 0, 0, 0};
    int overlay = 0;
    std::string pattern = "ball";
};

bool StartsWith(const char* arg, const char* prefix, const char** rest) {
    std::size_t n = std::strlen(prefix);
    if (std::strncmp(arg, prefix, n) != 0)
        return false;
    *rest = arg + n;
    return true;
}

bool Parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const char* rest = nullptr;
        if (StartsWith(argv[i], "--frames=", &rest)) {
            o->frames = std::strtol(rest, nullptr, 10);
        } else if (std::strcmp(argv[i], "--face") == 0) {
            o->face = true;
        } else if (StartsWith(argv[i], "--adjust=", &rest)) {
            o->adjust = true;
            if (std::sscanf(rest, "%d,%d,%d,%d,%d", &o->shifts[0], &o->shifts[1], &o->shifts[2],
                            &o->shifts[3], &o->shifts[4]) < 1)
                return false;
        } else if (StartsWith(argv[i], "--overlay=", &rest)) {
            o->overlay = std::atoi(rest);
            if (o->overlay != kOverlayScreen && o->overlay != kOverlayKey &&
                o->overlay != kOverlayKeyFaded)
                return false;
        } else if (StartsWith(argv[i], "--pattern=", &rest)) {
            o->pattern = rest;
        } else {
            return false;
        }
    }
    return true;
}

// A 320 x 240 overlay picture (bottom-up BGR): white stars on black for the screen blend, a
// coloured border around a magenta (transparent) middle for the key rules.
std::vector<std::uint8_t> MakePicture(int command) {
    std::vector<std::uint8_t> picture(kFeedBytes, 0);
    for (int y = 0; y < kFeedHeight; ++y) {
        for (int x = 0; x < kFeedWidth; ++x) {
            std::uint8_t* p = picture.data() + y * kFeedRowBytes + x * 3;
            if (command == kOverlayScreen) {
                unsigned hash =
                    static_cast<unsigned>(x * 73856093) ^ static_cast<unsigned>(y * 19349663);
                if (hash % 97 == 0)
                    p[0] = p[1] = p[2] = 255;
            } else {
                bool border = x < 12 || x >= kFeedWidth - 12 || y < 12 || y >= kFeedHeight - 12;
                p[0] = border ? 40 : 255;
                p[1] = border ? 180 : 0;
                p[2] = border ? 230 : 255;
            }
        }
    }
    return picture;
}

struct Demo {
    GMainLoop* loop = nullptr;
    long frameLimit = -1;
    bool feedWasOpen = false;
    std::string feedName;
};

// Streaming thread: counts frames for --frames.
std::atomic<long> framesSeen{0};

GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer) {
    framesSeen.fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

gboolean OnTick(gpointer data) {
    auto* demo = static_cast<Demo*>(data);
    bool open = ProcessVirtualCameraFeed().isOpen();
    if (open != demo->feedWasOpen) {
        if (open)
            std::fprintf(stderr, "kelo-pipeline-demo: writing the processed frames into %s\n",
                         demo->feedName.c_str());
        demo->feedWasOpen = open;
    }
    if (demo->frameLimit >= 0 && framesSeen.load() >= demo->frameLimit)
        g_main_loop_quit(demo->loop);
    return G_SOURCE_CONTINUE;
}

gboolean OnSignal(gpointer data) {
    g_main_loop_quit(static_cast<Demo*>(data)->loop);
    return G_SOURCE_CONTINUE; // removed with the others after the loop
}

gboolean OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* demo = static_cast<Demo*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* raw = nullptr;
        gst_message_parse_error(message, &raw, nullptr);
        GErrorPtr error(raw);
        std::fprintf(stderr, "kelo-pipeline-demo: %s\n", error ? error->message : "error");
        g_main_loop_quit(demo->loop);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        g_main_loop_quit(demo->loop);
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s [--frames=N] [--face] [--adjust=L,S,B,G,R] "
                     "[--overlay=110|111|112] [--pattern=NAME]\n",
                     argv[0]);
        return 2;
    }
    EnsureGstInitialized();

    ClassRegistry registry;
    RegisterEffectFilters(registry);
    std::shared_ptr<BaseFilter> bmp, proxy, overlay;
    if (FAILED(registry.CreateInstance(CLSID_BmpOverlayFilter, &bmp)) ||
        FAILED(registry.CreateInstance(CLSID_ProxyTransFilter, &proxy)) ||
        FAILED(registry.CreateInstance(CLSID_OverlayFilter, &overlay))) {
        std::fprintf(stderr, "kelo-pipeline-demo: the effect filters cannot be created\n");
        return 1;
    }
    if (auto control =
            QueryInterface<OverlayFilterControl>(std::static_pointer_cast<ComObject>(overlay)))
        control->SetMode(kOverlayModePassThrough);
    if (auto control =
            QueryInterface<ProxyTransControl>(std::static_pointer_cast<ComObject>(proxy)))
        control->RegisterCallback(FrameCallback, 0);
    auto bmpControl = QueryInterface<BmpOverlayControl>(std::static_pointer_cast<ComObject>(bmp));
    std::vector<std::uint8_t> picture; // lives until after the clear below
    if (options.overlay != 0 && bmpControl) {
        picture = MakePicture(options.overlay);
        bmpControl->ShowOverlayPicture(options.overlay, picture.data());
    }

    EffectState& state = ProcessEffectState();
    if (options.face)
        state.ToggleFaceDetection();
    if (options.adjust) {
        state.SetColorAdjustOn(1);
        state.SetLightnessShift(options.shifts[0]);
        state.SetSaturationShift(options.shifts[1]);
        state.SetBlueOffset(options.shifts[2]);
        state.SetGreenOffset(options.shifts[3]);
        state.SetRedOffset(options.shifts[4]);
    }

    std::string description =
        "videotestsrc is-live=true pattern=" + options.pattern +
        " ! video/x-raw,width=320,height=240,framerate=15/1 ! videoconvert"
        " ! videoflip video-direction=vert ! video/x-raw,format=BGR ! identity name=head";
    GError* raw = nullptr;
    GstElement* bin = gst_parse_launch(description.c_str(), &raw);
    GErrorPtr error(raw);
    if (!bin || error) {
        std::fprintf(stderr, "kelo-pipeline-demo: %s\n", error ? error->message : "no pipeline");
        return 1;
    }
    ElementPtr pipeline = ElementPtr::RefSink(bin);
    ElementPtr head(gst_bin_get_by_name(GST_BIN(bin), "head"));
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add_many(GST_BIN(bin), bmp->element(), proxy->element(), overlay->element(), sink,
                     nullptr);
    if (!gst_element_link_many(head.get(), bmp->element(), proxy->element(), overlay->element(),
                               sink, nullptr)) {
        std::fprintf(stderr, "kelo-pipeline-demo: the filters cannot be linked\n");
        return 1;
    }
    PadPtr sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, CountFrame, nullptr, nullptr);

    Demo demo;
    demo.frameLimit = options.frames;
    demo.feedName = FeedObjectName();
    MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    demo.loop = loop.get();
    BusPtr bus(gst_element_get_bus(bin));
    guint busWatch = gst_bus_add_watch(bus.get(), OnBusMessage, &demo);
    guint tick = g_timeout_add(200, OnTick, &demo);
    guint sigint = g_unix_signal_add(SIGINT, OnSignal, &demo);
    guint sigterm = g_unix_signal_add(SIGTERM, OnSignal, &demo);

    std::fprintf(stderr,
                 "kelo-pipeline-demo: test pattern -> BmpOverlayFiler -> OpenCV ProxyTrans Filer "
                 "-> Overlay Filer; face cover %s, colour adjustment %s, overlay %d. Ctrl+C "
                 "stops.\n",
                 options.face ? "on" : "off", options.adjust ? "on" : "off", options.overlay);
    if (gst_element_set_state(bin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::fprintf(stderr, "kelo-pipeline-demo: the pipeline does not start\n");
        return 1;
    }
    // The first frame tries to open the feed; say so if it is not there.
    g_timeout_add_seconds(
        1,
        [](gpointer data) -> gboolean {
            auto* d = static_cast<Demo*>(data);
            if (!ProcessVirtualCameraFeed().isOpen())
                std::fprintf(stderr,
                             "kelo-pipeline-demo: %s does not exist yet, frames are not "
                             "delivered; start the virtual camera (kelocam-vcam) to receive "
                             "them\n",
                             d->feedName.c_str());
            return G_SOURCE_REMOVE;
        },
        &demo);
    g_main_loop_run(loop.get());

    gst_element_set_state(bin, GST_STATE_NULL);
    g_source_remove(tick);
    g_source_remove(busWatch);
    g_source_remove(sigint);
    g_source_remove(sigterm);
    if (bmpControl)
        bmpControl->ClearOverlay(kOverlayClear, 0, 0, 0, 0);
    // As the engine's teardown: after the pipeline stopped, the feed is cleared and closed.
    CloseVirtualCameraFeed();
    std::fprintf(stderr, "kelo-pipeline-demo: stopped after %ld frames\n", framesSeen.load());
    return 0;
}
