// What the window shows when a photo or a recording has been saved: the flash over the preview
// and the strip with the file's picture and name, which opens the file's folder when clicked
// (through the folder seam: no file manager starts).
#include "app/window/SavedNotice.h"

#include "app/settings/Translations.h"
#include "app/window/PreviewWidget.h"
#include "support/TestSupport.h"
#include "ui/PhotoStrip.h"

#include <gtest/gtest.h>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

namespace kelo {
namespace {

class SavedNoticeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetOpenFolderHandler([this](const QString& folder) {
            opened.push_back(folder.toStdString());
            return true;
        });
        window.resize(627, 494);
        preview = new PreviewWidget(&window);
        preview->setGeometry(15, 88, 324, 245);
        window.show();
        photo = (dir.path() / "14-03-27 12.08.2026.jpg").string();
        QImage picture(1280, 720, QImage::Format_RGB888);
        picture.fill(QColor(200, 40, 40));
        ASSERT_TRUE(picture.save(QString::fromStdString(photo), "JPEG"));
    }
    void TearDown() override { ui::SetOpenFolderHandler({}); }

    test::IsolatedDirectory dir;
    QWidget window;
    PreviewWidget* preview = nullptr;
    std::string photo;
    std::vector<std::string> opened;
};

TEST_F(SavedNoticeTest, APhotoFlashesAndItsStripNamesItAndOpensItsFolder) {
    AnnouncePhotoSaved(window, preview, photo);
    auto* flash = preview->findChild<ui::PhotoFlash*>();
    ASSERT_NE(flash, nullptr);
    EXPECT_TRUE(flash->isVisible());
    EXPECT_EQ(flash->parentWidget()->rect(), flash->geometry());
    EXPECT_LT(ui::PhotoFlash::kFlashMs, 200);
    // Over well before the strip goes.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !flash->isVisible(); }, 10000));

    ui::PhotoStrip& strip = SavedStrip(window);
    EXPECT_TRUE(strip.isVisible());
    EXPECT_EQ("已保存：14-03-27 12.08.2026.jpg", strip.Text().toStdString());
    EXPECT_EQ(photo, strip.SavedPath().toStdString());
    // Under the preview's command buttons, inside the window's visible region.
    EXPECT_GT(strip.geometry().top(), preview->geometry().bottom());
    EXPECT_LT(strip.geometry().bottom(), window.height() - 40);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, strip.rect().center());
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(dir.path().string(), opened.front());
    // It goes by itself.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !strip.isVisible(); }, ui::PhotoStrip::kShowMs * 4));
}

TEST_F(SavedNoticeTest, TheStripSpeaksEnglishOnAnEnglishDesktopAndShowsThePhotosPicture) {
    const InstalledTranslation english(Language::English);
    ASSERT_TRUE(english.Active());
    AnnouncePhotoSaved(window, preview, photo);
    ui::PhotoStrip& strip = SavedStrip(window);
    EXPECT_EQ("Saved: 14-03-27 12.08.2026.jpg", strip.Text().toStdString());
    const QPixmap thumbnail =
        ui::PhotoStrip::PhotoThumbnail(QString::fromStdString(photo), {40, 30});
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_LE(thumbnail.width(), 40);
    EXPECT_NEAR(qRed(thumbnail.toImage().pixel(5, 5)), 200, 12);
    strip.ShowSaved(QStringLiteral("/videos/12-00-00 01.01.2027.mp4"), {}, DurationText(83000));
    EXPECT_EQ("Saved: 12-00-00 01.01.2027.mp4 (1:23)", strip.Text().toStdString());
}

TEST(SavedNoticeText, DurationsReadAsMinutesAndSeconds) {
    EXPECT_EQ("0:00", DurationText(0).toStdString());
    EXPECT_EQ("0:09", DurationText(9999).toStdString());
    EXPECT_EQ("59:59", DurationText(3599000).toStdString());
    EXPECT_EQ("1:00:05", DurationText(3605000).toStdString());
}

} // namespace
} // namespace kelo
