#include "platform/filters/AsfProfile.h"

#include "platform/filters/AsfWriterFilter.h"

#include <gtest/gtest.h>

namespace kelo {
namespace {

TEST(AsfProfile, DefaultProfileHasAudioFirstThenVideo) {
    const WmProfile profile = DefaultAsfWriterProfile();
    ASSERT_EQ(profile.GetStreamCount(), 2u);
    WmStreamConfig audio;
    WmStreamConfig video;
    ASSERT_EQ(profile.GetStream(0, &audio), S_OK);
    ASSERT_EQ(profile.GetStream(1, &video), S_OK);
    EXPECT_EQ(audio.GetStreamType(), WmMajorType::Audio);
    EXPECT_EQ(audio.GetEncoderFactory(), "avenc_wmav2");
    EXPECT_EQ(video.GetStreamType(), WmMajorType::Video);
    EXPECT_EQ(video.GetEncoderFactory(), "avenc_wmv2");
    EXPECT_NE(audio.GetStreamNumber(), video.GetStreamNumber());
    WmStreamConfig none;
    EXPECT_EQ(profile.GetStream(2, &none), NS_E_INVALID_STREAM);
}

TEST(AsfProfile, EditedStreamGoesBackOnlyWhereItsNumberExists) {
    WmProfile current = DefaultAsfWriterProfile();
    WmStreamConfig video;
    ASSERT_EQ(current.GetStream(1, &video), S_OK);
    WmMediaType type;
    ASSERT_EQ(video.GetMediaType(&type), S_OK);
    type.video.biWidth = 640;
    ASSERT_EQ(video.SetMediaType(type), S_OK);

    // The copy does not change the profile until it is put back.
    WmStreamConfig unchanged;
    EXPECT_EQ(current.GetStream(1, &unchanged), S_OK);
    WmMediaType unchangedType;
    EXPECT_EQ(unchanged.GetMediaType(&unchangedType), S_OK);
    EXPECT_EQ(unchangedType.video.biWidth, 320);

    EXPECT_EQ(current.ReconfigStream(video), S_OK);
    WmStreamConfig reread;
    EXPECT_EQ(current.GetStream(1, &reread), S_OK);
    WmMediaType rereadType;
    EXPECT_EQ(reread.GetMediaType(&rereadType), S_OK);
    EXPECT_EQ(rereadType.video.biWidth, 640);

    WmProfileManager manager;
    WmProfile empty;
    ASSERT_EQ(manager.CreateEmptyProfile(WmtVersion::V8_0, &empty), S_OK);
    EXPECT_EQ(empty.GetStreamCount(), 0u);
    EXPECT_EQ(empty.ReconfigStream(video), NS_E_INVALID_STREAM);
    EXPECT_EQ(empty.AddStream(video), S_OK);
    EXPECT_EQ(empty.AddStream(video), E_INVALIDARG) << "stream numbers are unique";
    EXPECT_EQ(empty.GetStreamCount(), 1u);
}

TEST(AsfProfile, StreamKeepsItsMajorType) {
    WmStreamConfig audio;
    EXPECT_EQ(DefaultAsfWriterProfile().GetStream(0, &audio), S_OK);
    WmMediaType video;
    video.majorType = WmMajorType::Video;
    EXPECT_EQ(audio.SetMediaType(video), E_INVALIDARG);
}

TEST(AsfProfile, DibImageSizePadsRowsToFourBytes) {
    EXPECT_EQ(DibImageSize(320, 240, 24), 230400u);
    EXPECT_EQ(DibImageSize(320, -240, 32), 307200u);
    EXPECT_EQ(DibImageSize(321, 1, 24), 964u); // 963 bytes padded to 964
}

TEST(AsfProfile, FrameRateFromFrameDuration) {
    int n = 0;
    int d = 0;
    FrameRateFromDuration(666666, &n, &d); // 10,000,000 / 15, truncated
    EXPECT_EQ(n, 15);
    EXPECT_EQ(d, 1);
    FrameRateFromDuration(333333, &n, &d);
    EXPECT_EQ(n, 30);
    EXPECT_EQ(d, 1);
    FrameRateFromDuration(400000, &n, &d);
    EXPECT_EQ(n, 25);
    EXPECT_EQ(d, 1);
    FrameRateFromDuration(417084, &n, &d); // 23.976 fps: kept as a fraction
    EXPECT_NEAR(static_cast<double>(n) / d, 23.976, 0.001);
    FrameRateFromDuration(0, &n, &d);
    EXPECT_EQ(n, 0);
}

} // namespace
} // namespace kelo
