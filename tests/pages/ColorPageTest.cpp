// The colour page: what it restores from data.ini, what it sends to the effect state and the
// feed, what it stores, and what the switch does to the sliders and presets.
#include "app/pages/ColorPage.h"

#include "engine/EffectState.h"
#include "PageTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/PrivateProfile.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/SkinnedTrackbar.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCheckBox>
#include <QTest>

namespace kelo {
namespace {

using namespace std::chrono_literals;

class ColorPageTest : public ::testing::Test {
protected:
    std::string Ini(const char* section, const char* key) const {
        return test::IniValue(dir.path(), section, key);
    }
    void WriteIni(const char* section, const char* key, const char* value) const {
        ASSERT_TRUE(WritePrivateProfileStringA(section, key, value, ini().c_str()));
    }
    std::string ini() const { return (dir.path() / "data.ini").string(); }

    static void Click(ColorPage& page, int id) { page.Control<QAbstractButton>(id)->click(); }
    static std::vector<int> Sliders(const ColorPage& page) {
        return {page.SliderPosition(ColorPage::kRedSlider),
                page.SliderPosition(ColorPage::kGreenSlider),
                page.SliderPosition(ColorPage::kBlueSlider),
                page.SliderPosition(ColorPage::kLightnessSlider),
                page.SliderPosition(ColorPage::kSaturationSlider)};
    }
    static std::vector<int> State() {
        const EffectState::Values v = ProcessEffectState().Load();
        return {v.redOffset, v.greenOffset, v.blueOffset, v.lightnessShift, v.saturationShift};
    }

    test::IsolatedDirectory dir;
};

TEST_F(ColorPageTest, FirstStartWithoutDataIniLeavesTheAdjustmentOffAndWritesNothing) {
    ColorPage page;
    page.Create();
    EXPECT_TRUE(page.IsAdjustDisabled());
    EXPECT_EQ(Sliders(page), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(ProcessEffectState().Load().colorAdjustOn, 0);
    EXPECT_FALSE(std::filesystem::exists(ini()));

    // Ranges as the labels promise; the keyboard's line step does not move a slider.
    auto* lightness = page.Control<ui::SkinnedTrackbar>(ColorPage::kLightnessSlider);
    EXPECT_EQ(lightness->minimum(), -255);
    EXPECT_EQ(page.Control<ui::SkinnedTrackbar>(ColorPage::kBlueSlider)->minimum(), 0);
    EXPECT_EQ(page.Control<ui::SkinnedTrackbar>(ColorPage::kBlueSlider)->maximum(), 255);
}

TEST_F(ColorPageTest, SwitchedOnWithRed75TheFeedIsRedFromTheFirstFrameAndTheFileIsRewritten) {
    WriteIni("ColorAdjust", "Enble", "1");
    WriteIni("RGB", "R", "75");
    WriteIni("RGB", "G", "0");
    ColorPage page;
    page.Create();
    EXPECT_FALSE(page.IsAdjustDisabled());
    EXPECT_EQ(Sliders(page), (std::vector<int>{75, 0, 0, 0, 0}));
    EXPECT_EQ(ProcessEffectState().Load().colorAdjustOn, 1);
    EXPECT_EQ(State(), (std::vector<int>{75, 0, 0, 0, 0}));
    EXPECT_EQ(Ini("ColorAdjust", "Enble"), "1");
    EXPECT_EQ(Ini("RGB", "B"), "0"); // written back, although it was missing

    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    test::OverlayCallLog log;
    auto registry = test::MakePageTestRegistry(&log);
    test::RecordingOwner owner;
    test::RecordingSurface surface{324, 244};
    auto engine = test::StartEngine(*registry, owner, surface);
    ASSERT_TRUE(engine);
    ASSERT_TRUE(owner.WaitUntil([&] { return surface.framesPresented() >= 1; }, 20s));
    // The test pattern has bars without red; in the feed no pixel of the upper half has a red
    // byte below the offset (a little less for the lightness round trip).
    int lowRed = 0;
    for (std::size_t i = 120 * kFeedRowBytes; i < kFeedBytes; i += 3)
        lowRed += feedView.data()[i + 2] < 70;
    EXPECT_EQ(lowRed, 0);
}

TEST_F(ColorPageTest, StoredOffsetsOutOfRangeComeBackAtTheSlidersEnds) {
    WriteIni("ColorAdjust", "Enble", "1");
    WriteIni("RGB", "R", "-5");
    WriteIni("RGB", "G", "300");
    ColorPage page;
    page.Create();
    EXPECT_EQ(Sliders(page), (std::vector<int>{0, 255, 0, 0, 0}));
    EXPECT_EQ(Ini("RGB", "R") + "," + Ini("RGB", "G"), "0,255");
}

TEST_F(ColorPageTest, PresetsSetTheSlidersWhenOnAndOnlyShowTheMessageWhenOff) {
    WriteIni("ColorAdjust", "Enble", "1");
    ColorPage page;
    page.Create();
    Click(page, ColorPage::kYellowLightButton);
    EXPECT_EQ(Sliders(page), (std::vector<int>{105, 135, 0, 0, 0}));
    EXPECT_EQ(State(), (std::vector<int>{105, 135, 0, 0, 0}));
    EXPECT_EQ(Ini("RGB", "R") + Ini("RGB", "G") + Ini("RGB", "B"), "1051350");

    // Switched off: the values stay in the effect state, only the switch changes.
    QTest::mouseClick(page.Control<QCheckBox>(ColorPage::kDisableCheck), Qt::LeftButton);
    EXPECT_TRUE(page.IsAdjustDisabled());
    EXPECT_EQ(ProcessEffectState().Load().colorAdjustOn, 0);
    EXPECT_EQ(Ini("ColorAdjust", "Enble"), "0");
    EXPECT_EQ(State(), (std::vector<int>{105, 135, 0, 0, 0}));

    ui::MessageBoxRecorder boxes;
    for (const int id : {ColorPage::kBlueLightButton, ColorPage::kYellowLightButton,
                         ColorPage::kPurpleLightButton, ColorPage::kRedLightButton})
        Click(page, id);
    ASSERT_EQ(boxes.Requests().size(), 4u);
    EXPECT_EQ(boxes.Requests()[0].text, QStringLiteral("请启用色彩调节功能!"));
    EXPECT_EQ(boxes.Requests()[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(Sliders(page), (std::vector<int>{105, 135, 0, 0, 0}));
    EXPECT_EQ(Ini("RGB", "R"), "105");
}

TEST_F(ColorPageTest, DraggingWhileOffSnapsEverySliderToZeroAndStoresZeros) {
    WriteIni("ColorAdjust", "Enble", "1");
    WriteIni("RGB", "R", "47");
    WriteIni("RGB", "G", "47");
    WriteIni("RGB", "B", "87");
    ColorPage page;
    page.show();
    page.Control<ui::SkinnedTrackbar>(ColorPage::kSaturationSlider)->setValue(30);
    page.ApplyColorAdjust();
    QTest::mouseClick(page.Control<QCheckBox>(ColorPage::kDisableCheck), Qt::LeftButton);

    auto* lightness = page.Control<ui::SkinnedTrackbar>(ColorPage::kLightnessSlider);
    const QPoint thumb = lightness->ThumbRect().center();
    QTest::mousePress(lightness, Qt::LeftButton, {}, thumb);
    QTest::mouseMove(lightness, thumb + QPoint(30, 0));
    QTest::mouseRelease(lightness, Qt::LeftButton, {}, thumb + QPoint(30, 0));
    EXPECT_EQ(Sliders(page), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(State(), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(Ini("RGB", "R") + Ini("RGB", "G") + Ini("RGB", "B"), "000");
}

TEST_F(ColorPageTest, LightnessAndSaturationAreNotStoredAndComeBackAsZero) {
    WriteIni("ColorAdjust", "Enble", "1");
    {
        ColorPage page;
        page.Create();
        page.Control<ui::SkinnedTrackbar>(ColorPage::kLightnessSlider)->setValue(-120);
        page.Control<ui::SkinnedTrackbar>(ColorPage::kSaturationSlider)->setValue(90);
        page.Control<ui::SkinnedTrackbar>(ColorPage::kRedSlider)->setValue(12);
        page.ApplyColorAdjust();
        EXPECT_EQ(ProcessEffectState().Load().lightnessShift, -120);
    }
    ColorPage again;
    again.Create();
    EXPECT_EQ(Sliders(again), (std::vector<int>{12, 0, 0, 0, 0}));
    EXPECT_EQ(ProcessEffectState().Load().lightnessShift, 0);
    EXPECT_EQ(ProcessEffectState().Load().saturationShift, 0);
}

} // namespace
} // namespace kelo
