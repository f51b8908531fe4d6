// The overlay pages with real engines on the test devices and GIF files written by the tests:
// what reaches the overlay filter, in which order and at which tick; what data.ini receives;
// that no call reaches an engine the page was told to let go of; and what the feed shows.
#include "app/pages/EffectPage.h"

#include "app/settings/SettingsStore.h"
#include "effects/gif/GifAnimation.h"
#include "PageTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <QTest>
#include <set>

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

    // An engine on the test devices, built and connected (run: its preview runs too).
    std::unique_ptr<CaptureEngine> Engine(bool run = false) {
        return test::StartEngine(*registry, owner, surface, run);
    }

    // A page of `kind` on `engine` (may be null), started, with effect `index` chosen and
    // decoded: what a press on a button of a running page does.
    std::unique_ptr<EffectPage> Playing(EffectPageKind kind, CaptureEngine* engine, int index) {
        auto page = std::make_unique<EffectPage>(kind);
        page->Create();
        page->SetEngine(engine);
        page->StartAnimation();
        page->SelectEffect(index);
        page->FinishPendingLoad();
        return page;
    }

    // The frame index of each picture shown (-1 for a picture of no frame), clears as 'C'.
    // The overlay codes of the pictures collect in `codesShown`.
    std::string Shown(const EffectPage& page) {
        std::string out;
        for (const OverlayCall& call : log.Take()) {
            if (call.isClear()) {
                out += 'C';
                continue;
            }
            codesShown.insert(call.command);
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

    // What was shown so far, then what each of `ticks` ticks showed.
    std::string ShownThenTicks(EffectPage& page, int ticks) {
        const std::string shown = Shown(page);
        return shown + Ticks(page, ticks);
    }

    std::string Ini(const char* section, const char* key) const {
        return test::IniValue(dir.path(), section, key);
    }

    test::IsolatedDirectory dir;
    test::OverlayCallLog log;
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    std::unique_ptr<ClassRegistry> registry;
    std::set<int> codesShown;
};

// Each family's page: the pictures' delays in hundredths run out on the 10 ms ticks (a zero
// delay advances on the next tick), the loop starts again, a one-picture effect is shown again
// each time its delay runs out, and every picture goes with the family's own overlay code.
TEST_F(EffectPageTest, DelaysPlayInOrderAndLoopWithTheFamilysOwnOverlayCode) {
    struct Case {
        EffectPageKind kind;
        EffectFamily family;
        int index;
        std::vector<int> greys, delays;
        int ticks;
        const char* shown; // "C0": cleared, then picture 0 at once; then one letter a tick
        int code;
        const char* gifName;
    };
    const Case cases[] = {
        {EffectPageKind::Cartoon, EffectFamily::Cartoon, 5, {10, 20, 30}, {3, 0, 5}, 18,
         "C0..12....0..12....0", kOverlayKeyFaded, "cartoon//005猫.gif"},
        {EffectPageKind::Light, EffectFamily::Light, 3, {200}, {2}, 6, "C0.0.0.0", kOverlayScreen,
         nullptr},
        {EffectPageKind::Frame, EffectFamily::Frame, 1, {1, 2}, {1, 1}, 2, "C010", kOverlayKey,
         nullptr},
    };
    auto engine = Engine();
    ASSERT_TRUE(engine);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        test::WriteGreyGif(test::EffectFileInWorkingDir(c.family, c.index), c.greys, c.delays);
        log.Take(); // the clear of the page before
        codesShown.clear();
        auto page = Playing(c.kind, engine.get(), c.index);
        EXPECT_TRUE(page->IsTimerActive());
        EXPECT_EQ(ShownThenTicks(*page, c.ticks), c.shown);
        EXPECT_EQ(codesShown, std::set<int>{c.code});
        EXPECT_EQ(Ini("Effect", "Index"), std::to_string(c.index));
        if (c.gifName) {
            EXPECT_EQ(Ini("Effect", "GifName"), dir.path().string() + "//Effect//" + c.gifName);
        }
    }
}

TEST_F(EffectPageTest, AWorkingDirectoryLongerThan260BytesLoadsAndStoresThePathWhole) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    test::ScopedWorkingDirectory cwd(deep);
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 12), {1, 2}, {1, 1});
    auto page = Playing(EffectPageKind::Frame, nullptr, 12);
    EXPECT_EQ(page->FrameCount(), 2u);
    const std::string stored = test::IniValue(deep, "Effect", "GifName");
    EXPECT_GT(stored.size(), 400u);
    EXPECT_EQ(stored, deep.string() + "//Effect//frame//012花丛.gif");
}

TEST_F(EffectPageTest, ASecondButtonClearsShowsItsPictureZeroAtOnceAndPictureOneNext) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 6), {1, 2, 3}, {4, 4, 4});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 7), {9, 8}, {2, 2});
    auto engine = Engine();
    ASSERT_TRUE(engine);
    auto playing = Playing(EffectPageKind::Frame, engine.get(), 6);
    EffectPage& page = *playing;
    EXPECT_EQ(ShownThenTicks(page, 5), "C0...1.");

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
    auto engine = Engine();
    ASSERT_TRUE(engine);
    auto playingPage = Playing(EffectPageKind::Frame, engine.get(), 6);
    EffectPage& page = *playingPage;
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
    auto engine = Engine();
    ASSERT_TRUE(engine);
    auto playing = Playing(EffectPageKind::Cartoon, engine.get(), 1);
    EffectPage& page = *playing;
    EXPECT_EQ(ShownThenTicks(page, 1), "C0.");

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
    auto engine = Engine();
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
    EXPECT_EQ(ShownThenTicks(page, 1), "C0.");
    page.StopAnimation();
    EXPECT_FALSE(page.IsStarted());
    EXPECT_FALSE(page.IsTimerActive());
    EXPECT_EQ(Shown(page), "C"); // cleared before the pictures were freed
    // Started again without an effect: the countdown left runs out on an empty decoder, which
    // has no picture to hand over.
    page.StartAnimation();
    EXPECT_EQ(Ticks(page, 6), "......");
}

TEST_F(EffectPageTest, AStoppedPageStoresTheChoiceAndFrameButtonOneStartsItsPage) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 1), {1, 2}, {1, 1});
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Frame, 2), {1, 2}, {1, 1});
    auto engine = Engine();
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
    EXPECT_EQ(ShownThenTicks(frame, 2), "C010");
}

TEST_F(EffectPageTest, WithoutAnEngineOrItsOverlayFilterDecodingTimingAndWritesGoOn) {
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Cartoon, 3), {1, 2, 3},
                       {1, 1, 1});
    auto withoutEngine = Playing(EffectPageKind::Cartoon, nullptr, 3);
    EffectPage& page = *withoutEngine;
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
    auto working = Engine();
    ASSERT_TRUE(working);
    page.SetEngine(working.get());
    EXPECT_EQ(ShownThenTicks(page, 1), "2");
    ReleaseEngine(working, {&page}); // before the page: it still holds the engine
}

// Under AddressSanitizer this also shows that no call reaches an engine once it is destroyed
// and that no filter reads a picture after the page freed it.
TEST_F(EffectPageTest, EnginesReplacedUnderAPlayingPageGetNoCallAfterTheyWereLetGo) {
    test::ScopedFeedName feed;
    test::WriteGreyGif(test::EffectFileInWorkingDir(EffectFamily::Light, 4), {40, 80, 120},
                       {1, 1, 1});
    auto engine = Engine(true);
    ASSERT_TRUE(engine);
    auto playing = Playing(EffectPageKind::Light, engine.get(), 4);
    EffectPage& page = *playing;

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
        engine = Engine(true);
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
    auto engine = Engine(true);
    ASSERT_TRUE(engine);
    const auto darkShare = [&] { return test::DarkShareOfUpperHalf(feedView, 150); };
    ASSERT_TRUE(owner.WaitUntil([&] { return darkShare() > 0.2; }, 20s))
        << "the test pattern never reached the feed";

    auto playing = Playing(EffectPageKind::Light, engine.get(), 9);
    EffectPage& page = *playing;
    EXPECT_TRUE(owner.WaitUntil([&] { return darkShare() == 0.0; }, 20s)) << darkShare();

    page.StopAnimation();
    const int presented = surface.framesPresented();
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= presented + 2; }, 20s));
    EXPECT_GT(darkShare(), 0.2);
    ReleaseEngine(engine, {&page});
}

} // namespace
} // namespace kelo
