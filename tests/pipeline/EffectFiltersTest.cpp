// The three effect filters in real pipelines: created through the class registry, linked as the
// studio links them (BmpOverlayFiler -> ProxyTrans -> Overlay Filer), frames pulled from a sink.
#include "effects/filters/EffectFilters.h"

#include "effects/filters/BmpOverlayFilter.h"
#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilterControl.h"
#include "effects/filters/OverlayFilter.h"
#include "effects/filters/ProxyTransFilter.h"
#include "platform/graph/BaseFilter.h"
#include "platform/graph/ClassIds.h"
#include "TestGraph.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelo {
namespace {

// Frame colour of the test pattern: videotestsrc solid-color takes 0xAARRGGBB.
constexpr std::uint8_t kFrameB = 40, kFrameG = 100, kFrameR = 200;
const char* kSolidSource = "pattern=solid-color foreground-color=0xffc86428 num-buffers=";

struct Filters {
    std::shared_ptr<BaseFilter> bmp, proxy, overlay;
    std::shared_ptr<BmpOverlayControl> bmpControl;
    std::shared_ptr<ProxyTransControl> proxyControl;
    std::shared_ptr<OverlayFilterControl> overlayControl;
};

Filters CreateFilters() {
    ClassRegistry registry;
    RegisterEffectFilters(registry);
    Filters f;
    EXPECT_EQ(registry.CreateInstance(CLSID_BmpOverlayFilter, &f.bmp), S_OK);
    EXPECT_EQ(registry.CreateInstance(CLSID_ProxyTransFilter, &f.proxy), S_OK);
    EXPECT_EQ(registry.CreateInstance(CLSID_OverlayFilter, &f.overlay), S_OK);
    f.bmpControl = QueryInterface<BmpOverlayControl>(std::static_pointer_cast<ComObject>(f.bmp));
    f.proxyControl =
        QueryInterface<ProxyTransControl>(std::static_pointer_cast<ComObject>(f.proxy));
    f.overlayControl =
        QueryInterface<OverlayFilterControl>(std::static_pointer_cast<ComObject>(f.overlay));
    EXPECT_TRUE(f.bmpControl && f.proxyControl && f.overlayControl);
    if (f.overlayControl) {
        EXPECT_EQ(f.overlayControl->SetMode(kOverlayModePassThrough), S_OK);
    }
    return f;
}

std::vector<GstElement*> Chain(const Filters& f) {
    return {f.bmp->element(), f.proxy->element(), f.overlay->element()};
}

// A picture of the overlay layout (bottom-up, 960 bytes a row) in one colour.
std::vector<std::uint8_t> Picture(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::vector<std::uint8_t> picture(kOverlayStride * kOverlayHeight);
    for (std::size_t i = 0; i < picture.size(); i += 3) {
        picture[i] = b;
        picture[i + 1] = g;
        picture[i + 2] = r;
    }
    return picture;
}

void SetPixel(std::vector<std::uint8_t>& picture, int x, int memoryRow, std::uint8_t b,
              std::uint8_t g, std::uint8_t r) {
    std::uint8_t* p = picture.data() + memoryRow * kOverlayStride + x * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

// The callback's view of the frames: counted and stamped on the streaming thread.
std::atomic<int> callbackCalls{0};
std::atomic<bool> callbackOnOtherThread{true};
std::atomic<bool> callbackHeaderOk{true};
std::thread::id testThread;

void StampingCallback(FrameImage* frame) {
    callbackCalls.fetch_add(1);
    if (std::this_thread::get_id() == testThread)
        callbackOnOtherThread = false;
    bool ok = frame->width == 320 && frame->height == 240 && frame->depth == kFrameDepth8U &&
              frame->nChannels == 3 && frame->origin == kFrameOriginBottomLeft && !frame->roi &&
              frame->widthStep == 960 && frame->imageSize == frame->widthStep * frame->height;
    if (!ok)
        callbackHeaderOk = false;
    // Paint the first memory row white: the change must reach the output.
    std::memset(frame->imageData, 255, static_cast<std::size_t>(frame->width) * 3);
}

TEST(EffectFilters, RegistryCreatesEachFilterWithItsControlAndOneSinkAndOneSrcPad) {
    Filters f = CreateFilters();
    for (const auto& filter : {f.bmp, f.proxy, f.overlay}) {
        ASSERT_TRUE(filter);
        GstElement* element = filter->element();
        ASSERT_NE(element, nullptr);
        PadPtr sink(gst_element_get_static_pad(element, "sink"));
        PadPtr src(gst_element_get_static_pad(element, "src"));
        EXPECT_TRUE(sink && src);
        EXPECT_EQ(element->numpads, 2);
        CapsPtr caps(gst_pad_query_caps(sink.get(), nullptr));
        CapsPtr bgr(gst_caps_from_string("video/x-raw,format=BGR,width=640,height=480"));
        CapsPtr rgb(gst_caps_from_string("video/x-raw,format=RGB,width=320,height=240"));
        EXPECT_TRUE(gst_caps_can_intersect(caps.get(), bgr.get()));
        EXPECT_FALSE(gst_caps_can_intersect(caps.get(), rgb.get()));
    }
    // Each answers only its own interface.
    EXPECT_FALSE(QueryInterface<ProxyTransControl>(std::static_pointer_cast<ComObject>(f.bmp)));
    EXPECT_FALSE(QueryInterface<BmpOverlayControl>(std::static_pointer_cast<ComObject>(f.overlay)));
}

TEST(EffectFilters, CallbackRunsOncePerFrameOnTheStreamingThreadAndItsChangesReachTheOutput) {
    testThread = std::this_thread::get_id();
    Filters f = CreateFilters();
    ASSERT_EQ(f.proxyControl->RegisterCallback(StampingCallback, 0), S_OK);
    constexpr int kFrames = 12;
    test::TestGraph graph(std::string(kSolidSource) + std::to_string(kFrames), 320, 240, Chain(f));
    ASSERT_TRUE(graph.ok()) << graph.Error();
    ASSERT_TRUE(graph.Play()) << graph.Error();
    int frames = 0;
    while (auto frame = graph.Pull()) {
        ++frames;
        // Row 0 stamped by the callback, the rest as the source made it (Overlay Filer mode 2
        // passes frames through unchanged, no picture in BmpOverlayFiler changes nothing).
        EXPECT_EQ(frame->Pixel(5, 0)[0], 255);
        EXPECT_EQ(frame->Pixel(319, 0)[2], 255);
        const std::uint8_t* p = frame->Pixel(160, 120);
        EXPECT_EQ(p[0], kFrameB);
        EXPECT_EQ(p[1], kFrameG);
        EXPECT_EQ(p[2], kFrameR);
    }
    EXPECT_TRUE(graph.Error().empty()) << graph.Error();
    EXPECT_EQ(frames, kFrames);
    EXPECT_EQ(callbackCalls.load(), kFrames);
    EXPECT_TRUE(callbackOnOtherThread.load());
    EXPECT_TRUE(callbackHeaderOk.load());
}

std::uint8_t ScreenOf(int frame, int picture) {
    return static_cast<std::uint8_t>(255 - ((255 - frame) * (255 - picture) + 127) / 255);
}
std::uint8_t FadedOf(int frame, int picture) {
    return static_cast<std::uint8_t>((frame * 40 + picture * 60 + 50) / 100);
}

// Pixel check with the output's own row order: memory row 0 is the bottom of the picture, the
// same as in the overlay picture.
void ExpectPixel(const test::TestFrame& frame, int x, int row, int b, int g, int r) {
    const std::uint8_t* p = frame.Pixel(x, row);
    EXPECT_EQ(p[0], b) << "at " << x << "," << row;
    EXPECT_EQ(p[1], g) << "at " << x << "," << row;
    EXPECT_EQ(p[2], r) << "at " << x << "," << row;
}

// The screen blend runs sixteen bytes at a time: every pair of frame and picture bytes (the
// 320 x 240 frame holds each of the 65536 pairs) must come out as the byte-wise rule gives.
TEST(EffectFilters, ScreenGivesTheRuleForEveryPairOfBytes) {
    std::vector<std::uint8_t> picture(kOverlayPictureBytes);
    std::vector<std::uint8_t> frame(kOverlayPictureBytes);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i % 256);
        picture[i] = static_cast<std::uint8_t>((i / 256) % 256);
    }
    BmpOverlayProcessor overlay;
    ASSERT_EQ(overlay.Show(kOverlayScreen, picture.data()), S_OK);
    overlay.ProcessFrame(frame.data(), kOverlayWidth, kOverlayHeight,
                         static_cast<int>(kOverlayStride));
    int wrong = 0;
    for (std::size_t i = 0; i < frame.size(); ++i)
        wrong += frame[i] != ScreenOf(static_cast<int>(i % 256), static_cast<int>((i / 256) % 256));
    EXPECT_EQ(wrong, 0);
    ASSERT_EQ(overlay.Clear(kOverlayClear), S_OK);
}

TEST(EffectFilters, EachBlendRuleShowsInTheOutputPixels) {
    // Grey picture with a magenta (key) pixel block at the bottom-left corner and a black block
    // at the top-right corner.
    std::vector<std::uint8_t> picture = Picture(90, 150, 30);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            SetPixel(picture, x, y, 255, 0, 255);
            SetPixel(picture, 310 + x, 230 + y, 0, 0, 0);
        }

    struct Case {
        int command;
        int b, g, r;     // expected in the middle
        bool keyVisible; // key block shows the frame
    };
    const Case cases[] = {
        {kOverlayScreen, ScreenOf(kFrameB, 90), ScreenOf(kFrameG, 150), ScreenOf(kFrameR, 30),
         false},
        {kOverlayKey, 90, 150, 30, true},
        {kOverlayKeyFaded, FadedOf(kFrameB, 90), FadedOf(kFrameG, 150), FadedOf(kFrameR, 30), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        // New filters for every graph, as the engine builds them (an element leaves its old
        // pipeline only when that pipeline is finalised, which may happen a little later).
        Filters f = CreateFilters();
        ASSERT_EQ(f.bmpControl->ShowOverlayPicture(c.command, picture.data()), S_OK);
        test::TestGraph graph(std::string(kSolidSource) + "2", 320, 240, Chain(f));
        ASSERT_TRUE(graph.Play()) << graph.Error();
        auto frame = graph.Pull();
        ASSERT_TRUE(frame) << graph.Error();
        ExpectPixel(*frame, 160, 120, c.b, c.g, c.r);
        if (c.keyVisible) {
            ExpectPixel(*frame, 3, 3, kFrameB, kFrameG, kFrameR);
            // Black is opaque for the key rules (at 60 % for 112).
            if (c.command == kOverlayKey)
                ExpectPixel(*frame, 315, 235, 0, 0, 0);
            else
                ExpectPixel(*frame, 315, 235, FadedOf(kFrameB, 0), FadedOf(kFrameG, 0),
                            FadedOf(kFrameR, 0));
        } else {
            // Screen: black is transparent, magenta glows.
            ExpectPixel(*frame, 315, 235, kFrameB, kFrameG, kFrameR);
            ExpectPixel(*frame, 3, 3, 255, ScreenOf(kFrameG, 0), 255);
        }
        ASSERT_EQ(f.bmpControl->ClearOverlay(kOverlayClear, 0, 0, 0, 0), S_OK);
    }
}

TEST(EffectFilters, PictureIsScaledToFramesOfAnotherSize) {
    Filters f = CreateFilters();
    // Left half blue, right half green.
    std::vector<std::uint8_t> picture = Picture(255, 0, 0);
    for (int y = 0; y < 240; ++y)
        for (int x = 160; x < 320; ++x)
            SetPixel(picture, x, y, 0, 255, 0);
    ASSERT_EQ(f.bmpControl->ShowOverlayPicture(kOverlayKey, picture.data()), S_OK);
    test::TestGraph graph(std::string(kSolidSource) + "1", 640, 480, Chain(f));
    ASSERT_TRUE(graph.Play()) << graph.Error();
    auto frame = graph.Pull();
    ASSERT_TRUE(frame) << graph.Error();
    ASSERT_EQ(frame->width, 640);
    ExpectPixel(*frame, 0, 0, 255, 0, 0);
    ExpectPixel(*frame, 319, 479, 255, 0, 0);
    ExpectPixel(*frame, 320, 0, 0, 255, 0);
    ExpectPixel(*frame, 639, 479, 0, 255, 0);
}

// The frame-sized copy of the picture follows every picture handed over (even in the same
// buffer) and every change of frame size; the magenta key stays exactly transparent.
TEST(EffectFilters, TheScaledPictureFollowsNewPicturesAndFrameSizes) {
    BmpOverlayProcessor processor;
    std::vector<std::uint8_t> picture = Picture(255, 0, 255); // all key
    for (int y = 0; y < 240; ++y)
        for (int x = 160; x < 320; ++x)
            SetPixel(picture, x, y, 0, 0, 200); // right half red
    auto blend = [&](int width, int height) {
        std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * 3 * height, 10);
        processor.ProcessFrame(frame.data(), width, height, width * 3);
        return frame;
    };
    auto red = [](const std::vector<std::uint8_t>& frame, int width, int x, int y) {
        return frame[(static_cast<std::size_t>(y) * width + x) * 3 + 2];
    };
    ASSERT_EQ(processor.Show(kOverlayKey, picture.data()), S_OK);
    std::vector<std::uint8_t> hd = blend(1280, 720);
    EXPECT_EQ(red(hd, 1280, 0, 0), 10); // key: the frame shows through
    EXPECT_EQ(red(hd, 1280, 639, 719), 10);
    EXPECT_EQ(red(hd, 1280, 640, 0), 200);
    EXPECT_EQ(red(hd, 1280, 1279, 719), 200);

    // The page's next picture arrives in the same buffer: the left half red too.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 160; ++x)
            SetPixel(picture, x, y, 0, 0, 90);
    ASSERT_EQ(processor.Show(kOverlayKey, picture.data()), S_OK);
    hd = blend(1280, 720);
    EXPECT_EQ(red(hd, 1280, 0, 0), 90);
    EXPECT_EQ(red(hd, 1280, 1279, 719), 200);
    // Another frame size, then the picture's own size, read as it is.
    const std::vector<std::uint8_t> odd = blend(176, 144);
    EXPECT_EQ(red(odd, 176, 87, 143), 90);
    EXPECT_EQ(red(odd, 176, 88, 0), 200);
    const std::vector<std::uint8_t> own = blend(320, 240);
    EXPECT_EQ(red(own, 320, 159, 239), 90);
    EXPECT_EQ(red(own, 320, 160, 0), 200);
}

TEST(EffectFilters, ClearingRemovesThePictureFromTheFollowingFrames) {
    Filters f = CreateFilters();
    std::vector<std::uint8_t> picture = Picture(0, 255, 0);
    ASSERT_EQ(f.bmpControl->ShowOverlayPicture(kOverlayKey, picture.data()), S_OK);
    test::TestGraph graph(std::string(kSolidSource) + "40", 320, 240, Chain(f));
    ASSERT_TRUE(graph.Play()) << graph.Error();
    auto first = graph.Pull();
    ASSERT_TRUE(first) << graph.Error();
    ExpectPixel(*first, 100, 100, 0, 255, 0);

    // Unknown commands change nothing.
    EXPECT_EQ(f.bmpControl->ClearOverlay(1010, 0, 0, 0, 0), E_INVALIDARG);
    EXPECT_EQ(f.bmpControl->ShowOverlayPicture(113, picture.data()), E_INVALIDARG);

    ASSERT_EQ(f.bmpControl->ClearOverlay(kOverlayClear, 0, 0, 0, 0), S_OK);
    // The picture is the caller's again: overwrite it. Frames already blended before the clear
    // may still be queued (at most the sink's one and one in flight); after those, none shows
    // the picture.
    std::fill(picture.begin(), picture.end(), std::uint8_t{7});
    int frames = 0, blended = 0;
    bool sawClean = false;
    while (auto frame = graph.Pull()) {
        ++frames;
        const std::uint8_t* p = frame->Pixel(100, 100);
        bool clean = p[0] == kFrameB && p[1] == kFrameG && p[2] == kFrameR;
        if (clean)
            sawClean = true;
        else
            ++blended;
        EXPECT_TRUE(clean || !sawClean) << "picture came back after frame " << frames;
        EXPECT_NE(p[0], 7) << "the filter read the picture after the clear returned";
    }
    EXPECT_EQ(frames, 39);
    EXPECT_TRUE(sawClean);
    EXPECT_LE(blended, 3);
}

// The window thread shows and clears pictures that it frees right after each clear, while
// frames flow. Under AddressSanitizer a read after the clear is a use after free; under
// ThreadSanitizer an unguarded read is a race.
TEST(EffectFilters, PicturesFreedRightAfterClearAreNeverReadAgain) {
    Filters f = CreateFilters();
    test::TestGraph graph("pattern=ball is-live=false num-buffers=150", 320, 240, Chain(f));
    ASSERT_TRUE(graph.Play()) << graph.Error();
    std::atomic<bool> done{false};
    std::thread consumer([&] {
        while (graph.Pull()) {
        }
        done = true;
    });
    const int commands[] = {kOverlayScreen, kOverlayKey, kOverlayKeyFaded};
    int round = 0;
    while (!done) {
        auto picture = std::make_unique<std::vector<std::uint8_t>>(
            Picture(static_cast<std::uint8_t>(round), 255, 0));
        f.bmpControl->ShowOverlayPicture(commands[round % 3], picture->data());
        std::this_thread::yield();
        f.bmpControl->ClearOverlay(kOverlayClear, 0, 0, 0, 0);
        picture.reset();
        ++round;
    }
    consumer.join();
    EXPECT_GT(round, 0);
    EXPECT_TRUE(graph.Error().empty()) << graph.Error();
}

// Messages of the effects' logging category, collected while it lives.
class EffectsLog {
public:
    EffectsLog() {
        gst_debug_set_threshold_for_name("kelo-effects", GST_LEVEL_DEBUG);
        gst_debug_add_log_function(&EffectsLog::Collect, this, nullptr);
    }
    ~EffectsLog() {
        gst_debug_remove_log_function_by_data(this);
        gst_debug_unset_threshold_for_name("kelo-effects");
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    static void Collect(GstDebugCategory* category, GstDebugLevel, const gchar*, const gchar*, gint,
                        GObject*, GstDebugMessage* message, gpointer self) noexcept {
        if (std::strcmp(gst_debug_category_get_name(category), "kelo-effects") != 0)
            return;
        auto* log = static_cast<EffectsLog*>(self);
        std::lock_guard lock(log->mutex_);
        log->text_ += gst_debug_message_get(message);
        log->text_ += '\n';
    }

    std::mutex mutex_;
    std::string text_;
};

TEST(EffectFilters, DiagnosticsAreOffByDefaultAndNameWhatWasRefused) {
    Filters f = CreateFilters();
    ASSERT_NE(kelo_effects_debug, nullptr);
    EXPECT_LT(gst_debug_category_get_threshold(kelo_effects_debug), GST_LEVEL_WARNING);

    EffectsLog log;
    std::vector<std::uint8_t> picture = Picture(1, 2, 3);
    EXPECT_EQ(f.bmpControl->ShowOverlayPicture(4321, picture.data()), E_INVALIDARG);
    EXPECT_NE(log.Text().find("picture refused: command 4321"), std::string::npos) << log.Text();

    PadPtr input(gst_element_get_static_pad(f.bmp->element(), "sink"));
    CapsPtr yuv(gst_caps_from_string("video/x-raw,format=I420,width=320,height=240"));
    EXPECT_FALSE(gst_pad_query_accept_caps(input.get(), yuv.get()));
    const std::string text = log.Text();
    EXPECT_NE(text.find("caps not accepted on the input side"), std::string::npos) << text;
    EXPECT_NE(text.find("I420"), std::string::npos) << text;
}

TEST(EffectFilters, ElementOutlivingItsFilterStillPassesFrames) {
    // The graph may hold the element after the component is gone; the element owns its state.
    ElementPtr element;
    {
        Filters f = CreateFilters();
        std::vector<std::uint8_t> picture = Picture(0, 0, 0);
        f.bmpControl->ShowOverlayPicture(kOverlayScreen, picture.data());
        f.bmpControl->ClearOverlay(kOverlayClear, 0, 0, 0, 0);
        element = ElementPtr::Ref(f.bmp->element());
    }
    test::TestGraph graph(std::string(kSolidSource) + "3", 320, 240, {element.get()});
    ASSERT_TRUE(graph.Play()) << graph.Error();
    int frames = 0;
    while (auto frame = graph.Pull()) {
        ++frames;
        ExpectPixel(*frame, 10, 10, kFrameB, kFrameG, kFrameR);
    }
    EXPECT_EQ(frames, 3);
}

} // namespace
} // namespace kelo
