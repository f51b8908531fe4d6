#include "support/MediaProbe.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kelo::test {
namespace {

TEST(MediaProbe, ParsesFlatOutput) {
    const char* text = "streams.stream.0.index=0\n"
                       "streams.stream.0.codec_name=\"wmv2\"\n"
                       "streams.stream.0.codec_type=\"video\"\n"
                       "streams.stream.0.codec_tag_string=\"WMV2\"\n"
                       "streams.stream.0.width=320\n"
                       "streams.stream.0.height=240\n"
                       "streams.stream.0.r_frame_rate=\"15/1\"\n"
                       "streams.stream.0.duration=\"3.018000\"\n"
                       "streams.stream.1.index=1\n"
                       "streams.stream.1.codec_name=\"wmav2\"\n"
                       "streams.stream.1.codec_type=\"audio\"\n"
                       "streams.stream.1.sample_rate=\"44100\"\n"
                       "streams.stream.1.channels=2\n"
                       "streams.stream.1.duration=\"N/A\"\n"
                       "streams.stream.1.nb_read_packets=\"66\"\n"
                       "format.filename=\"/tmp/a \\\"b\\\".wmv\"\n"
                       "format.nb_streams=2\n"
                       "format.format_name=\"asf\"\n"
                       "format.duration=\"3600003.018000\"\n";
    const auto keys = ParseFlatOutput(text);
    EXPECT_EQ(keys.at("format.filename"), "/tmp/a \"b\".wmv");
    const ProbedFile file = DescribeProbe(keys);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.formatName, "asf");
    EXPECT_DOUBLE_EQ(file.durationSeconds, 3600003.018);
    ASSERT_EQ(file.streams.size(), 2u);
    EXPECT_EQ(file.CountOf("video"), 1);
    const ProbedStream* video = file.FirstOf("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codecName, "wmv2");
    EXPECT_EQ(video->codecTag, "WMV2");
    EXPECT_EQ(video->width, 320);
    EXPECT_DOUBLE_EQ(video->frameRate, 15.0);
    EXPECT_DOUBLE_EQ(video->durationSeconds, 3.018);
    const ProbedStream* audio = file.FirstOf("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 44100);
    EXPECT_EQ(audio->channels, 2);
    EXPECT_EQ(audio->durationSeconds, -1);
    EXPECT_EQ(audio->packetCount, 66);
}

TEST(MediaProbe, RatesAndIncompleteOutput) {
    EXPECT_DOUBLE_EQ(ParseRate("15/1"), 15.0);
    EXPECT_NEAR(ParseRate("30000/1001"), 29.97, 0.01);
    EXPECT_EQ(ParseRate("0/0"), 0);
    EXPECT_EQ(ParseRate("x"), 0);
    // Two streams announced, one listed: not a usable description.
    EXPECT_FALSE(DescribeProbe(ParseFlatOutput("format.format_name=\"avi\"\nformat.nb_streams=2\n"
                                               "streams.stream.0.index=0\n"))
                     .ok);
}

TEST(MediaProbe, ReportsFfprobesComplaintForABrokenFile) {
    IsolatedDirectory dir;
    const auto path = dir.path() / "it's not media.avi";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("RIFF but nothing else", f);
    std::fclose(f);
    const ProbedFile file = ProbeMediaFile(path);
    EXPECT_FALSE(file.ok);
    EXPECT_FALSE(file.error.empty());
}

} // namespace
} // namespace kelo::test
