// The overlay pages with real engines on the test devices and GIF files written by the tests:
// what reaches the overlay filter, in which order and at which tick; what data.ini receives;
// that no call reaches an engine the page was told to let go of; and what the feed shows.
#include "app/pages/EffectPage.h"

#include "app/settings/SettingsStore.h"
#include "effects/gif/GifAnimation.h"
#include "PageTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/PrivateProfile.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <QTest>

namespace kelo {
namespace {

using namespace std::chrono_literals;
using test::OverlayCall;

class EffectPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Only the files a test writes exist: no installed pack to fall back on.
        setenv("KELOCAM_DATA_DIR", (dir.path() / "no-data").c_str(), 1);
        registry = test::MakePageTestRegistry(&log);
    }

    // The frame index of each picture shown (-1 for a picture of no frame), clears as 'C'.
    std::string Shown(const EffectPage& page) {
        std::string out;
        for (const OverlayCall& call : log.Take()) {
            if (call.isClear()) {
                out += 'C';
                continue;
            }
            int index = -1;
            for (int i = 0; page.Decoder() && i < page.Decoder()->GetFrameCount(); ++i) {
                if (page.Decoder()->GetFrameBits(i) == call.picture)
                    index = i;
            }
            out += index < 0 ? '?' : static_cast<char>('0' + index);
        }
        return out;
    }

    // What each of `ticks` ticks showed, '.' for nothing: "..1" = picture 1 on the third tick.
    std::string Ticks(EffectPage& page, int ticks) {
        std::string out;
        for (int i = 0; i < ticks; ++i) {
            page.OnAnimationTick();
            const std::string shown = Shown(page);
            out += shown.empty() ? "." : shown;
        }
        return out;
    }

    std::string Ini(const char* section, const char* key) const {
        char buffer[4096] = {};
        GetPrivateProfileStringA(section, key, "<missing>", buffer, sizeof buffer,
                                 (dir.path() / "data.ini").c_str());
        return buffer;
    }

    test::IsolatedDirectory dir;
    test::OverlayCallLog log;
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    std::unique_ptr<ClassRegistry> registry;
};

TEST_F(EffectPageTest, DelaysPlayInOrderAZeroDelayAdvancesOnTheNextTickAndTheLoopRestarts) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Cartoon, 5), {10, 20, 30},
                       {3, 0, 5});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Cartoon);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    EXPECT_TRUE(page.IsTimerActive());

    page.SelectEffect(5);

    page.FinishPendingLoad();
    EXPECT_EQ(Shown(page), "C0"); // cleared, then picture 0 at once
    EXPECT_EQ(Ticks(page, 18), "..12....0..12....0");
    EXPECT_EQ(page.OverlayCode(), kOverlayKeyFaded); // the cartoon's own code on every tick

    EXPECT_EQ(Ini("Effect", "Index"), "5");
    EXPECT_EQ(Ini("Effect", "GifName"), dir.path().string() + "//Effect//cartoon//005猫.gif");
}

TEST_F(EffectPageTest, AWorkingDirectoryLongerThan260BytesLoadsAndStoresThePathWhole) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    test::ScopedWorkingDirectory cwd(deep);
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 12), {1, 2}, {1, 1});
    EffectPage page(EffectPageKind::Frame);
    page.Create();
    page.StartAnimation();
    page.SelectEffect(12);
    page.FinishPendingLoad();
    EXPECT_EQ(page.FrameCount(), 2u);
    const std::string stored = [&] {
        char buffer[4096] = {};
        GetPrivateProfileStringA("Effect", "GifName", "", buffer, sizeof buffer,
                                 (deep / "data.ini").c_str());
        return std::string(buffer);
    }();
    EXPECT_GT(stored.size(), 400u);
    EXPECT_EQ(stored, deep.string() + "//Effect//frame//012花丛.gif");
}

TEST_F(EffectPageTest, OnePictureEffectIsShownAgainEachTimeItsDelayRunsOut) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 3), {200}, {2});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Light);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(3);
    page.FinishPendingLoad();
    EXPECT_EQ(Shown(page), "C0");
    EXPECT_EQ(Ticks(page, 6), ".0.0.0");
}

TEST_F(EffectPageTest, ASecondButtonClearsShowsItsPictureZeroAtOnceAndPictureOneNext) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 6), {1, 2, 3}, {4, 4, 4});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 7), {9, 8}, {2, 2});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Frame);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(6);
    page.FinishPendingLoad();
    const std::string shown1 = Shown(page);
    EXPECT_EQ(shown1 + Ticks(page, 5), "C0...1.");

    page.SelectEffect(7);

    page.FinishPendingLoad();
    const std::vector<OverlayCall> calls = log.Take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].isClear());
    EXPECT_EQ(calls[1].picture, page.Decoder()->GetFrameBits(0));
    EXPECT_EQ(calls[1].command, kOverlayKey); // frame 7's own code
    EXPECT_EQ(Ticks(page, 4), ".1.0");
    EXPECT_EQ(Ini("Effect", "Index"), "7");
}

TEST_F(EffectPageTest, WhileAPressDecodesThePlayingEffectGoesOnAndOnlyTheLastPressPlays) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 6), {1, 2, 3}, {4, 4, 4});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 7), {9, 8}, {2, 2});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 8), {7}, {1});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Frame);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(6);
    page.FinishPendingLoad();
    (void)Shown(page);
    const GifAnimation* playing = page.Decoder();

    // Two presses in a row: the choice is stored at once, the effect of 6 plays meanwhile, and
    // the first press's decode, however late it ends, plays nothing.
    page.SelectEffect(7);
    page.SelectEffect(8);
    EXPECT_EQ(Ini("Effect", "Index"), "8");
    EXPECT_EQ(page.Decoder(), playing);
    EXPECT_EQ(Shown(page), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.LoadPending(); }, 20000));
    QTest::qWait(50); // a stale result would arrive now
    EXPECT_EQ(page.FrameCount(), 1u);
    EXPECT_EQ(Shown(page).substr(0, 2), "C0"); // then the page's own timer may show it again

    // Stopped while a file decodes: nothing plays.
    page.SelectEffect(7);
    page.StopAnimation();
    QTest::qWait(200);
    EXPECT_FALSE(page.IsStarted());
    EXPECT_FALSE(page.LoadPending());
}

TEST_F(EffectPageTest, AMissingFileLeavesThePlayingEffectAloneAndAnEmptyFileShowsNothing) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Cartoon, 1), {1, 2, 3},
                       {3, 3, 3});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Cartoon);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(1);
    page.FinishPendingLoad();
    const std::string shown2 = Shown(page);
    EXPECT_EQ(shown2 + Ticks(page, 1), "C0.");

    page.SelectEffect(2);

    page.FinishPendingLoad(); // no such file anywhere: the effect that plays goes on
    EXPECT_EQ(Shown(page), "");
    EXPECT_EQ(page.FrameCount(), 3u);
    EXPECT_EQ(Ticks(page, 5), ".1..2"); // the countdown that was running goes on
    EXPECT_EQ(Ini("Effect", "Index"), "2");
    EXPECT_EQ(Ini("Effect", "GifName"), dir.path().string() + "//Effect//cartoon//002流星妖精.gif");

    // A file that opens but holds no image: the overlay stays cleared and nothing is shown.
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Cartoon, 4), {}, {});
    page.SelectEffect(4);
    page.FinishPendingLoad();
    EXPECT_EQ(Shown(page), "C");
    EXPECT_EQ(page.FrameCount(), 0u);
    EXPECT_EQ(Ticks(page, 4), "....");
}

TEST_F(EffectPageTest,
       AnIndexOutsideTheButtonsStartsThePageWithNoEffectAndAStoppedPageRestartsEmpty) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 16), {50, 60}, {2, 2});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Light);
    page.Create();
    page.SetEngine(engine.get());
    for (const int index : {0, 17}) {
        page.StartAnimation();
        page.SelectEffect(index);
        page.FinishPendingLoad();
        EXPECT_EQ(Ticks(page, 5), ".....");
        EXPECT_EQ(page.Decoder()->GetFrameCount(), 0);
        EXPECT_EQ(Ini("Effect", "Index"), "<missing>");
    }

    page.SelectEffect(16);

    page.FinishPendingLoad();
    const std::string shown3 = Shown(page);
    EXPECT_EQ(shown3 + Ticks(page, 1), "C0.");
    page.StopAnimation();
    EXPECT_FALSE(page.IsStarted());
    EXPECT_FALSE(page.IsTimerActive());
    EXPECT_EQ(Shown(page), "C"); // cleared before the pictures were freed
    // Started again without an effect: the countdown left runs out on an empty decoder, which
    // has no picture to hand over.
    page.StartAnimation();
    EXPECT_EQ(Ticks(page, 6), "......");
}

TEST_F(EffectPageTest, TheLightPageBlendsEveryTickByScreenAndFrameButtonOneStartsItsPage) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 1), {1, 2}, {1, 1});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 2), {1, 2}, {1, 1});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 1), {1, 2}, {1, 1});
    auto engine = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(engine);

    EffectPage frame(EffectPageKind::Frame);
    frame.Create();
    frame.SetEngine(engine.get());
    frame.SelectEffect(2);
    frame.FinishPendingLoad(); // a stopped page has nothing to play into
    EXPECT_FALSE(frame.IsStarted());
    EXPECT_EQ(Ini("Effect", "Index"), "2");
    log.Take();
    frame.SelectEffect(1);
    frame.FinishPendingLoad();
    EXPECT_TRUE(frame.IsStarted());
    const std::string shown4 = Shown(frame);
    EXPECT_EQ(shown4 + Ticks(frame, 2), "C010");
    frame.StopAnimation();
    log.Take();

    EffectPage light(EffectPageKind::Light);
    light.Create();
    light.SetEngine(engine.get());
    light.StartAnimation();
    light.SelectEffect(1);
    light.FinishPendingLoad();
    light.OnAnimationTick();
    for (const OverlayCall& call : log.Take()) {
        if (!call.isClear()) {
            EXPECT_EQ(call.command, kOverlayScreen);
        }
    }
}

TEST_F(EffectPageTest, WithoutAnEngineOrItsOverlayFilterDecodingTimingAndWritesGoOn) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Cartoon, 3), {1, 2, 3},
                       {1, 1, 1});
    EffectPage page(EffectPageKind::Cartoon);
    page.Create();
    page.StartAnimation();
    page.SelectEffect(3);
    page.FinishPendingLoad();
    EXPECT_EQ(page.FrameCount(), 3u);
    page.OnAnimationTick();
    EXPECT_EQ(page.FrameIndex(), 1u);
    EXPECT_EQ(Ini("Effect", "Index"), "3");

    // An engine whose BmpOverlayFiler could not be made.
    test::OverlayCallLog unused;
    auto bare = test::MakePageTestRegistry(&unused, false);
    auto engine = test::StartEngine(*bare, owner, surface, false);
    ASSERT_TRUE(engine);
    page.SetEngine(engine.get());
    page.SelectEffect(3);
    page.FinishPendingLoad();
    page.OnAnimationTick();
    EXPECT_EQ(page.FrameIndex(), 1u);
    EXPECT_EQ(page.ShownPicture(), nullptr);
    page.SetEngine(nullptr);

    // A page handed an engine shows its next picture there.
    auto working = test::StartEngine(*registry, owner, surface, false);
    ASSERT_TRUE(working);
    page.SetEngine(working.get());
    const std::string shown5 = Shown(page);
    EXPECT_EQ(shown5 + Ticks(page, 1), "2");
    ReleaseEngine(working, {&page}); // before the page: it still holds the engine
}

// Under AddressSanitizer this also shows that no call reaches an engine once it is destroyed
// and that no filter reads a picture after the page freed it.
TEST_F(EffectPageTest, EnginesReplacedUnderAPlayingPageGetNoCallAfterTheyWereLetGo) {
    test::ScopedFeedName feed;
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 4), {40, 80, 120},
                       {1, 1, 1});
    auto engine = test::StartEngine(*registry, owner, surface);
    ASSERT_TRUE(engine);
    EffectPage page(EffectPageKind::Light);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(4);
    page.FinishPendingLoad();

    for (int round = 1; round <= 50; ++round) {
        // Frames flow over the page's pictures while it advances.
        const int presented = surface.framesPresented();
        for (int i = 0; i < 3; ++i)
            page.OnAnimationTick();
        ASSERT_TRUE(
            owner.WaitUntil([&] { return surface.framesPresented() >= presented + 2; }, 20s));
        ReleaseEngine(engine, {&page});
        // The engine let go of had its picture taken away before it was destroyed.
        const std::vector<OverlayCall> calls = log.Take();
        ASSERT_FALSE(calls.empty());
        EXPECT_TRUE(calls.back().isClear()) << "round " << round;
        for (const OverlayCall& call : calls)
            ASSERT_EQ(call.filter, round) << "round " << round;
        page.OnAnimationTick(); // no engine: nothing to call
        engine = test::StartEngine(*registry, owner, surface);
        ASSERT_TRUE(engine);
        HandOverEngine(engine.get(), {&page});
        owner.RunPendingTasks();
    }
    // Destroyed while it still holds a running engine: the picture is taken away first.
    log.Take();
    {
        EffectPage last(EffectPageKind::Light);
        last.SetEngine(engine.get());
        last.StartAnimation();
        last.SelectEffect(4);
        last.FinishPendingLoad();
        page.SetEngine(nullptr);
    }
    const std::vector<OverlayCall> calls = log.Take();
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(calls.back().isClear());
}

TEST_F(EffectPageTest, APlayingLightEffectReachesTheFeedAndStopTakesItAwayWithinTwoFrames) {
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    // A grey light: its screen blend lifts every byte of the test pattern to 160 or more.
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 9), {160}, {5});
    auto engine = test::StartEngine(*registry, owner, surface);
    ASSERT_TRUE(engine);
    const auto darkShare = [&] { return test::DarkShareOfUpperHalf(feedView, 150); };
    ASSERT_TRUE(owner.WaitUntil([&] { return darkShare() > 0.2; }, 20s))
        << "the test pattern never reached the feed";

    EffectPage page(EffectPageKind::Light);
    page.Create();
    page.SetEngine(engine.get());
    page.StartAnimation();
    page.SelectEffect(9);
    page.FinishPendingLoad();
    EXPECT_TRUE(owner.WaitUntil([&] { return darkShare() == 0.0; }, 20s)) << darkShare();

    page.StopAnimation();
    const int presented = surface.framesPresented();
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= presented + 2; }, 20s));
    EXPECT_GT(darkShare(), 0.2);
    ReleaseEngine(engine, {&page});
}

} // namespace
} // namespace kelo
