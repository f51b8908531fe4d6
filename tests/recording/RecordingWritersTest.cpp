// The file-writing components on their own, in real pipelines with test sources: what lands in
// the file is checked with ffprobe.
#include "platform/filters/AsfWriterFilter.h"
#include "platform/filters/AviMuxFilter.h"
#include "platform/filters/StreamFilters.h"
#include "platform/system/GstRuntime.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace kelo {
namespace {

using namespace std::chrono_literals;

// The first sink pad of `element` that is not linked yet.
PadPtr FreeInput(GstElement* element) {
    PadPtr found;
    IteratorPtr it(gst_element_iterate_sink_pads(element));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (!gst_pad_is_linked(pad))
            found = PadPtr::Ref(pad);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return found;
}

class WriterPipeline : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureGstInitialized();
        pipeline_ = ElementPtr::RefSink(gst_pipeline_new(nullptr));
    }
    void TearDown() override { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }

    // A live 320 x 240 BGR source at 15 frames per second, or a live audio source.
    GstElement* AddSource(const char* description) {
        GErrorPtr error;
        GError* raw = nullptr;
        GstElement* bin = gst_parse_bin_from_description(description, TRUE, &raw);
        error.reset(raw);
        EXPECT_TRUE(bin) << (error ? error->message : "");
        gst_bin_add(GST_BIN(pipeline_.get()), bin);
        return bin;
    }
    GstElement* AddVideoSource(const char* pattern = "ball") {
        const std::string d =
            std::string("videotestsrc is-live=true pattern=") + pattern +
            " ! capsfilter caps=\"video/x-raw,format=BGR,width=320,height=240,framerate=15/1\"";
        return AddSource(d.c_str());
    }
    GstElement* AddAudioSource() {
        return AddSource(
            "audiotestsrc is-live=true ! capsfilter caps=\"audio/x-raw,rate=44100,channels=2\"");
    }
    void Add(GstElement* element) { gst_bin_add(GST_BIN(pipeline_.get()), element); }
    static void Link(GstElement* from, GstElement* to) {
        PadPtr src(gst_element_get_static_pad(from, "src"));
        if (!src)
            src.reset(gst_element_get_static_pad(from, "AVI Out"));
        PadPtr sink = FreeInput(to);
        ASSERT_TRUE(src && sink);
        ASSERT_EQ(gst_pad_link(src.get(), sink.get()), GST_PAD_LINK_OK);
    }
    // Runs for `duration`, then ends the streams and waits until they have reached the file.
    // recorded(): the stream time when the end was asked for, what the file must hold however
    // slowly a loaded machine got there.
    void Record(std::chrono::milliseconds duration) {
        ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING),
                  GST_STATE_CHANGE_FAILURE);
        std::this_thread::sleep_for(duration);
        const GstClockTime running = gst_element_get_current_running_time(pipeline_.get());
        recorded_ =
            GST_CLOCK_TIME_IS_VALID(running) ? static_cast<double>(running) / GST_SECOND : -1;
        gst_element_send_event(pipeline_.get(), gst_event_new_eos());
        BusPtr bus(gst_element_get_bus(pipeline_.get()));
        MessagePtr done(gst_bus_timed_pop_filtered(
            bus.get(), 5 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        ASSERT_TRUE(done) << "end-of-stream never reached the file";
        EXPECT_EQ(GST_MESSAGE_TYPE(done.get()), GST_MESSAGE_EOS);
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }

    double recorded() const { return recorded_; }

    test::IsolatedDirectory dir_;
    ElementPtr pipeline_;
    double recorded_ = -1;
};

TEST_F(WriterPipeline, AviMuxTakesAnyNumberOfInputsAndWritesBothStreams) {
    auto mux = AviMuxFilter::Create();
    auto writer = FileWriter::Create();
    ASSERT_TRUE(mux && writer);
    const std::string file = (dir_.path() / "both.avi").string();
    ASSERT_EQ(writer->SetFileName(file, nullptr), S_OK);
    Add(mux->element());
    Add(writer->element());
    Link(mux->element(), writer->element());
    Link(AddAudioSource(), mux->element());
    Link(AddVideoSource(), mux->element());
    EXPECT_EQ(mux->AudioStreamCount(), 1);
    EXPECT_EQ(mux->VideoStreamCount(), 1);
    EXPECT_TRUE(FreeInput(mux->element())) << "a free input is always there";

    Record(2000ms);
    const auto probed = test::ProbeMediaFile(file, {true});
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.formatName, "avi");
    ASSERT_EQ(probed.streams.size(), 2u);
    const auto* video = probed.FirstOf("video");
    const auto* audio = probed.FirstOf("audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->codecName, "rawvideo");
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_DOUBLE_EQ(video->frameRate, 15.0);
    EXPECT_EQ(audio->codecName, "pcm_s16le");
    EXPECT_NEAR(probed.durationSeconds, recorded(), 0.3)
        << "video " << video->packetCount << " " << video->durationSeconds << " s, audio "
        << audio->durationSeconds << " s";
}

// Reads one pixel (R, G, B) of the first frame of a file, as ffmpeg decodes it.
std::string FirstFramePixel(const std::string& file, int x, int y) {
    const std::string command = "ffmpeg -v error -i '" + file +
                                "' -frames:v 1 -vf crop=1:1:" + std::to_string(x) + ":" +
                                std::to_string(y) + " -f rawvideo -pix_fmt rgb24 - 2>/dev/null";
    std::string bytes;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[16];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
        bytes.assign(buffer, n);
        pclose(pipe);
    }
    return bytes;
}

TEST_F(WriterPipeline, AviMuxTurnsBottomUpFramesUpright) {
    // The source's first row in memory (the top in GStreamer's order) is white in the SMPTE
    // pattern, its last row is dark. Frames in the graph are bottom-up, so that memory-first row
    // is the picture's bottom: the file must show it at the bottom.
    auto mux = AviMuxFilter::Create();
    auto writer = FileWriter::Create();
    ASSERT_TRUE(mux && writer);
    const std::string file = (dir_.path() / "rows.avi").string();
    writer->SetFileName(file, nullptr);
    Add(mux->element());
    Add(writer->element());
    Link(mux->element(), writer->element());
    Link(AddVideoSource("smpte"), mux->element());
    Record(500ms);
    EXPECT_EQ(FirstFramePixel(file, 10, 234), std::string("\xff\xff\xff", 3));
    EXPECT_NE(FirstFramePixel(file, 10, 5), std::string("\xff\xff\xff", 3));
}

TEST_F(WriterPipeline, AsfWriterReportsTheRealDuration) {
    auto writer = AsfWriterFilter::Create();
    ASSERT_TRUE(writer);
    const std::string file = (dir_.path() / "both.WMV").string();
    ASSERT_EQ(writer->SetFileName(file, nullptr), S_OK);
    // The default profile with the frame size and rate of the sources.
    WmProfile profile = DefaultAsfWriterProfile();
    WmStreamConfig video;
    EXPECT_EQ(profile.GetStream(1, &video), S_OK);
    WmMediaType type;
    EXPECT_EQ(video.GetMediaType(&type), S_OK);
    type.video.AvgTimePerFrame = 666666;
    EXPECT_EQ(video.SetMediaType(type), S_OK);
    EXPECT_EQ(profile.ReconfigStream(video), S_OK);
    ASSERT_EQ(writer->ConfigureFilterUsingProfile(profile), S_OK);
    ASSERT_EQ(writer->SetIndexMode(true), S_OK);
    Add(writer->element());
    Link(AddAudioSource(), writer->element());
    Link(AddVideoSource(), writer->element());

    Record(2000ms);
    const auto probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.formatName, "asf");
    ASSERT_EQ(probed.streams.size(), 2u);
    const auto* v = probed.FirstOf("video");
    const auto* a = probed.FirstOf("audio");
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->codecName, "wmv2");
    EXPECT_EQ(v->width, 320);
    EXPECT_EQ(v->height, 240);
    EXPECT_DOUBLE_EQ(v->frameRate, 15.0);
    EXPECT_EQ(a->codecName, "wmav2");
    EXPECT_NEAR(probed.durationSeconds, recorded(), 0.3);
}

TEST_F(WriterPipeline, AsfWriterInputsFollowTheProfile) {
    auto writer = AsfWriterFilter::Create();
    ASSERT_TRUE(writer);
    EXPECT_TRUE(PadPtr(gst_element_get_static_pad(writer->element(), "Audio Input 01")));
    WmProfile videoOnly;
    WmStreamConfig video;
    EXPECT_EQ(DefaultAsfWriterProfile().GetStream(1, &video), S_OK);
    ASSERT_EQ(videoOnly.AddStream(video), S_OK);
    ASSERT_EQ(writer->ConfigureFilterUsingProfile(videoOnly), S_OK);
    PadPtr audioPin(gst_element_get_static_pad(writer->element(), "Audio Input 01"));
    PadPtr videoPin(gst_element_get_static_pad(writer->element(), "Video Input 01"));
    EXPECT_FALSE(audioPin);
    EXPECT_TRUE(videoPin);
    EXPECT_EQ(writer->ConfigureFilterUsingProfile(WmProfile()), E_INVALIDARG);

    const std::string file = (dir_.path() / "video.WMV").string();
    writer->SetFileName(file, nullptr);
    Add(writer->element());
    Link(AddVideoSource(), writer->element());
    Record(1000ms);
    const auto probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.streams.size(), 1u);
    EXPECT_EQ(probed.CountOf("video"), 1);
    EXPECT_NEAR(probed.durationSeconds, recorded(), 0.3);
    EXPECT_EQ(writer->SetFileName("elsewhere.WMV", nullptr), S_OK) << "stopped again: may change";
}

} // namespace
} // namespace kelo
