// Rendered dialogs: every template drawn with its skin is not blank, the skin covers the client
// area wherever no control is, and every visible text is drawn in a font that has its glyphs.
// The gallery tool writes the same pictures as PNG files.
#include "support/TestSupport.h"
#include "ui/DialogTemplate.h"
#include "ui/Skin.h"
#include "ui/SkinnedDialog.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QRawFont>
#include <QSet>

namespace kelo::ui {
namespace {

int DistinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.pixel(x, y));
        }
    }
    return static_cast<int>(colours.size());
}

QString VisibleText(const QWidget& widget) {
    if (auto* label = qobject_cast<const QLabel*>(&widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        return button->text();
    }
    if (auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        return group->title();
    }
    return {};
}

class ScreenshotTest : public testing::TestWithParam<int> {
protected:
    test::IsolatedDirectory dir_;
};

TEST_P(ScreenshotTest, SkinCoversTheClientAreaAndEveryTextHasItsGlyphs) {
    const int id = GetParam();
    const int skinId = id == 102 ? skin::kMainBackground : skin::kPageBackground;
    SkinnedDialog dialog(id, skinId);
    dialog.show();
    const QImage shot = dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), dialog.size());
    EXPECT_GT(DistinctColours(shot), 50) << "a blank picture";

    // The skin stretched over the client area, as the dialog should have drawn it.
    const QPixmap skin = LoadSkinBitmap(skinId);
    ASSERT_FALSE(skin.isNull());
    QImage expected(dialog.size(), QImage::Format_RGB32);
    {
        QPainter painter(&expected);
        painter.drawPixmap(expected.rect(), skin);
    }
    QRegion controls;
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible()) {
            controls += child->geometry().adjusted(-1, -1, 1, 1);
        }
    }
    int skinPixels = 0;
    int wrong = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (controls.contains(QPoint(x, y))) {
                continue;
            }
            ++skinPixels;
            wrong += shot.pixel(x, y) != expected.pixel(x, y);
        }
    }
    EXPECT_GT(skinPixels, shot.width() * shot.height() / 6); // most of it, even on dense pages
    EXPECT_EQ(wrong, 0) << "pixels that are not the skin, of " << skinPixels;

    // Every visible text: its font has every glyph, and something is drawn where it stands.
    int texts = 0;
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QString text = VisibleText(*child);
        if (!child->isVisible() || text.trimmed().isEmpty()) {
            continue;
        }
        ++texts;
        SCOPED_TRACE(text.toStdString());
        const QRawFont font = QRawFont::fromFont(child->font());
        ASSERT_TRUE(font.isValid());
        EXPECT_EQ(font.familyName(), CjkFontFamily());
        for (const QChar c : text) {
            if (!c.isSpace()) {
                EXPECT_TRUE(font.supportsCharacter(c))
                    << "no glyph for U+" << std::hex << int(c.unicode());
            }
        }
        const QRect area = child->geometry() & shot.rect();
        int drawn = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                drawn += shot.pixel(x, y) != expected.pixel(x, y);
            }
        }
        EXPECT_GT(drawn, 10) << "nothing drawn for the text";
    }
    if (id != 102 && id != 163 && id != 160) {
        EXPECT_GT(texts, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Dialogs, ScreenshotTest,
                         testing::Values(100, 102, 130, 132, 149, 151, 160, 161, 162, 163));

TEST(ChromeGallery, WritesANonBlankPictureOfEveryDialog) {
    test::IsolatedDirectory dir;
    const QString program = QString::fromStdString(
        (test::BinaryDir() / "tools" / "chrome-gallery" / "chrome-gallery").string());
    ASSERT_TRUE(QFileInfo::exists(program)) << program.toStdString();
    const QString out = QString::fromStdString((dir.path() / "shots").string());
    QProcess gallery;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gallery.setProcessEnvironment(env);
    gallery.start(program, {QStringLiteral("--screenshot"), out});
    ASSERT_TRUE(gallery.waitForFinished(60000));
    EXPECT_EQ(gallery.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gallery.exitCode(), 0) << gallery.readAllStandardError().toStdString();

    for (int id : {100, 102, 130, 132, 149, 151, 160, 161, 162, 163}) {
        const QImage picture(QDir(out).filePath(QStringLiteral("dialog-%1.png").arg(id)));
        ASSERT_FALSE(picture.isNull()) << id;
        const auto dialogTemplate = LoadDialogTemplate(id);
        ASSERT_TRUE(dialogTemplate);
        EXPECT_EQ(picture.size(), DialogUnitsToPixels(dialogTemplate->sizeDu)) << id;
        EXPECT_GT(DistinctColours(picture), 50) << id;
    }
}

} // namespace
} // namespace kelo::ui
