#include "engine/RecordKind.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace kelo {
namespace {

// Local time of the file names: pinned to one zone for the test's life.
class FixedTimeZone {
public:
    explicit FixedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~FixedTimeZone() {
        if (previous_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", previous_.c_str(), 1);
        tzset();
    }

private:
    std::string previous_;
};

// 7 December 2026, 14:05:09 UTC.
constexpr std::time_t kSample = 1796652309;

TEST(RecordFileName, LocalTimeThenTheKindsExtension) {
    FixedTimeZone utc("UTC");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::Mp4VideoAudio, kSample),
              "/rec/14-05-09 12.07.2026.mp4");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::AviVideoAudio, kSample),
              "/rec/14-05-09 12.07.2026.avi");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::PcmAudio, kSample),
              "/rec/14-05-09 12.07.2026.avi");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::WmvVideo, kSample),
              "/rec/14-05-09 12.07.2026.WMV");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::WavAudio, kSample),
              "/rec/14-05-09 12.07.2026.wav");
    EXPECT_EQ(RecordFileName("/rec/", RecordKind::Mp3Audio, kSample),
              "/rec/14-05-09 12.07.2026.mp3");
}

TEST(RecordFileName, UsesTheLocalZoneAndCompletesTheFolder) {
    FixedTimeZone kiribati("Pacific/Kiritimati"); // UTC+14: already 8 December there
    EXPECT_EQ(RecordFileName("/home/ann/Videos", RecordKind::AviVideo, kSample),
              "/home/ann/Videos/04-05-09 12.08.2026.avi");
    // Two recordings started in the same second share the name.
    EXPECT_EQ(RecordFileName("/v/", RecordKind::AviVideo, kSample),
              RecordFileName("/v/", RecordKind::PcmAudio, kSample));
}

// Which container and streams each kind writes is shown on real files, kind by kind, in
// RecordGraphTest (AllKinds).
TEST(RecordKind, FromIntAcceptsZeroToEightOnly) {
    for (int i = 0; i < kRecordKindCount; ++i) {
        ASSERT_TRUE(RecordKindFromInt(i).has_value());
        EXPECT_EQ(static_cast<int>(*RecordKindFromInt(i)), i);
    }
    EXPECT_FALSE(RecordKindFromInt(-1).has_value());
    EXPECT_FALSE(RecordKindFromInt(9).has_value());
    // A stray value describes nothing rather than reading past the table.
    const RecordKindInfo& none = DescribeRecordKind(static_cast<RecordKind>(42));
    EXPECT_TRUE(none.extension.empty());
    EXPECT_FALSE(none.hasAudio || none.hasVideo);
}

} // namespace
} // namespace kelo
