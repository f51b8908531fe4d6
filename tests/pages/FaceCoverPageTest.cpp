// The face cover page: its check box and the process-wide switch stay in step.
#include "app/pages/FaceCoverPage.h"

#include "app/settings/SettingsStore.h"
#include "engine/EffectState.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

namespace kelo {
namespace {

TEST(FaceCoverPageTest, TwoClicksLeaveTheCoverOffAndAHiddenPageKeepsItOn) {
    test::IsolatedDirectory dir;
    FaceCoverPage page;
    page.show();
    auto* box = page.Control<QCheckBox>(FaceCoverPage::kFaceCoverCheck);
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->isChecked());
    for (const int id : FaceCoverPage::kHiddenButtons) {
        auto* button = page.Control<QPushButton>(id);
        ASSERT_TRUE(button);
        EXPECT_FALSE(button->isVisible());
        button->click(); // does nothing
    }
    EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 0);

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 1);
    // Another tab shown: the page is hidden, the cover stays on.
    page.hide();
    EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 1);
    page.show();
    QTest::keyClick(box, Qt::Key_Escape); // a page is no dialog: Escape does not hide it
    EXPECT_TRUE(page.isVisible());

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data.ini"));
}

TEST(FaceCoverPageTest, TheBlurBoxComesBackAsDataIniKeepsItAndEachClickIsStored) {
    test::IsolatedDirectory dir;
    std::ofstream(dir.path() / "data.ini") << "[Effect]\r\nBackgroundBlur=1\r\n";
    {
        FaceCoverPage page;
        page.show();
        auto* box = page.Control<QCheckBox>(FaceCoverPage::kBackgroundBlurCheck);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), QStringLiteral("背景虚化"));
        // Below the face cover box.
        auto* face = page.Control<QCheckBox>(FaceCoverPage::kFaceCoverCheck);
        ASSERT_TRUE(face);
        EXPECT_GT(box->geometry().top(), face->geometry().bottom());
        EXPECT_TRUE(box->isChecked());
        EXPECT_EQ(ProcessEffectState().backgroundBlurOn.load(), 1);

        QTest::mouseClick(box, Qt::LeftButton);
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(ProcessEffectState().backgroundBlurOn.load(), 0);
        EXPECT_EQ(SettingsStore().ReadInt(SettingId::BackgroundBlur), 0u);
        EXPECT_EQ(ProcessEffectState().Load().faceDetectionOn, 0); // the other switch untouched
    }
    // The next start finds it off.
    FaceCoverPage next;
    next.show();
    EXPECT_FALSE(next.Control<QCheckBox>(FaceCoverPage::kBackgroundBlurCheck)->isChecked());
    QTest::mouseClick(next.Control<QCheckBox>(FaceCoverPage::kBackgroundBlurCheck), Qt::LeftButton);
    EXPECT_EQ(SettingsStore().ReadInt(SettingId::BackgroundBlur), 1u);
    EXPECT_EQ(ProcessEffectState().backgroundBlurOn.load(), 1);
}

} // namespace
} // namespace kelo
