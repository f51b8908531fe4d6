// Every text of every dialog fits its box, in Chinese and in English (this binary runs once more
// at QT_SCALE_FACTOR=2): no label, button caption or group title is cut. And the effect buttons:
// their picture fills them, a person and a screen reader can name each one, the effect that
// plays is marked.
#include "app/pages/EffectPage.h"
#include "app/settings/Translations.h"
#include "app/window/MainDialog.h"
#include "effects/gif/EffectCatalog.h"
#include "support/TestSupport.h"
#include "ui/IconButton.h"
#include "ui/Skin.h"
#include "ui/SkinnedDialog.h"
#include "ui/SkinnedTabControl.h"

#include <gtest/gtest.h>
#include <memory>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace kelo {
namespace {

// What does not fit in `dialog`, one line per text.
std::string CutTexts(const ui::SkinnedDialog& dialog) {
    std::string cut;
    auto report = [&](const QWidget& widget, const QString& text, int need, int room) {
        cut += "template " + std::to_string(dialog.TemplateId()) + " control " +
               std::to_string(ui::ControlId(widget)) + " \"" + text.toStdString() +
               "\": " + std::to_string(need) + " px in " + std::to_string(room) + "\n";
    };
    for (QWidget* widget : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->isHidden())
            continue;
        // A control without a text of its own is named after its label, for screen readers.
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QAbstractSlider*>(widget)) {
            if (widget->accessibleName().isEmpty())
                report(*widget, QStringLiteral("(no accessible name)"), 0, 0);
        }
        const QFontMetrics metrics = widget->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            const int need = metrics.horizontalAdvance(label->text());
            if (need > label->width())
                report(*label, label->text(), need, label->width());
        } else if (auto* button = qobject_cast<ui::IconButton*>(widget);
                   button && !button->text().isEmpty() && !button->IconFills()) {
            // Every captioned button of the studio shows an icon left of its caption.
            if (button->IconPixmap().isNull()) {
                QPixmap icon(32, 32);
                icon.fill(Qt::gray);
                button->SetIcon(icon);
            }
            const QString text = QString(button->text()).remove(u'&');
            const int need = metrics.horizontalAdvance(text);
            const int room = button->CurrentLayout().text.width();
            if (need > room)
                report(*button, text, need, room);
        } else if (auto* box = qobject_cast<QAbstractButton*>(widget);
                   box && (qobject_cast<QCheckBox*>(box) || qobject_cast<QRadioButton*>(box))) {
            // The builder widens these to their text; they must stay inside the window.
            if (box->sizeHint().width() > box->width())
                report(*box, box->text(), box->sizeHint().width(), box->width());
            if (box->geometry().right() >= dialog.width())
                report(*box, box->text(), box->geometry().right() + 1, dialog.width());
        } else if (auto* group = qobject_cast<QGroupBox*>(widget);
                   group && !group->title().isEmpty()) {
            const int need = metrics.horizontalAdvance(group->title()) + 16;
            if (need > group->width())
                report(*group, group->title(), need, group->width());
        }
    }
    return cut;
}

class LayoutTest : public ::testing::TestWithParam<Language> {};

TEST_P(LayoutTest, NoTextOfAnyDialogIsCut) {
    const InstalledTranslation translation(GetParam());
    ASSERT_EQ(GetParam() == Language::English, translation.Active());
    for (const int id : ui::AvailableDialogTemplates()) {
        // The overlay pages show no captions, only their pictures (EffectButtonsTest).
        if (id == 160 || id == 161 || id == 162)
            continue;
        ui::SkinnedDialog dialog(id, 0);
        dialog.ensurePolished();
        EXPECT_EQ("", CutTexts(dialog)) << "scale " << dialog.devicePixelRatioF();
    }
}

// The five effect tabs side by side fit the tab control: no tab is cut or scrolled to.
TEST_P(LayoutTest, TheEffectTabsFitTheirControl) {
    const InstalledTranslation translation(GetParam());
    ASSERT_EQ(GetParam() == Language::English, translation.Active());
    ui::SkinnedDialog window(MainDialog::kTemplateId, 0);
    auto* tabs = window.Control<ui::SkinnedTabControl>(MainDialog::kEffectTabs);
    ASSERT_NE(tabs, nullptr);
    for (int tab = MainDialog::kColorTab; tab <= MainDialog::kFaceCoverTab; ++tab)
        tabs->InsertItem(tab, MainDialog::TabText(tab), nullptr);
    EXPECT_LE(tabs->TabBar()->sizeHint().width(), tabs->width());
    if (GetParam() == Language::English)
        EXPECT_EQ("Lights", MainDialog::TabText(MainDialog::kLightTab).toStdString());
    else
        EXPECT_EQ("灯光", MainDialog::TabText(MainDialog::kLightTab).toStdString());
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LayoutTest,
                         ::testing::Values(Language::Chinese, Language::English),
                         [](const auto& info) {
                             return info.param == Language::Chinese ? "Chinese" : "English";
                         });

class EffectButtonsTest : public ::testing::TestWithParam<EffectPageKind> {
protected:
    test::IsolatedDirectory cwd;
};

TEST_P(EffectButtonsTest, ThePictureFillsEachButtonWhichIsNamedAndMarkedWhenItPlays) {
    EffectPage page(GetParam());
    page.Create();
    const EffectPageDifferences& differences = page.Differences();
    for (int n = 1; n <= EffectPage::kButtonCount; ++n) {
        auto* button = page.Control<ui::IconButton>(differences.firstButtonId + n - 1);
        ASSERT_NE(button, nullptr);
        const EffectEntry& effect = *FindEffect(differences.family, n);
        EXPECT_TRUE(button->text().isEmpty()) << "no caption to cut";
        EXPECT_FALSE(button->accessibleName().isEmpty()) << n;
        EXPECT_EQ(button->accessibleName(), button->toolTip());
        EXPECT_EQ(EffectPage::EffectName(effect), button->accessibleName());
        ASSERT_FALSE(button->IconPixmap().isNull()) << "no thumbnail for " << effect.fileName;
        // Drawn at the button's size, sharp on this screen: scale 2 gets the "@2x" drawing.
        const QSize shown = button->CurrentLayout().icon.size();
        EXPECT_GE(shown.width(), button->width() - 2 * ui::IconButton::kFillMargin - 1) << n;
        EXPECT_GE(button->IconPixmap().devicePixelRatio(), page.devicePixelRatioF() > 1 ? 2 : 1);
    }
    EXPECT_EQ(0, page.MarkedButton());
    page.StartAnimation();
    page.SelectEffect(4);
    // The effect is decoded off the window thread; the mark moves when it plays.
    page.FinishPendingLoad();
    EXPECT_EQ(4, page.MarkedButton());
    for (int n = 1; n <= EffectPage::kButtonCount; ++n)
        EXPECT_EQ(n == 4,
                  page.Control<ui::IconButton>(differences.firstButtonId + n - 1)->isChecked());
    // A click on the marked button keeps it marked; another moves the mark.
    page.Control<ui::IconButton>(differences.firstButtonId + 3)->click();
    EXPECT_TRUE(page.Control<ui::IconButton>(differences.firstButtonId + 3)->isChecked());
    page.FinishPendingLoad();
    page.Control<ui::IconButton>(differences.firstButtonId + 6)->click();
    // Until the new effect plays, the one that plays keeps the mark.
    EXPECT_EQ(4, page.MarkedButton());
    EXPECT_FALSE(page.Control<ui::IconButton>(differences.firstButtonId + 6)->isChecked());
    page.FinishPendingLoad();
    EXPECT_EQ(7, page.MarkedButton());
    EXPECT_FALSE(page.Control<ui::IconButton>(differences.firstButtonId + 3)->isChecked());
    page.StopAnimation();
    EXPECT_EQ(0, page.MarkedButton());
}

INSTANTIATE_TEST_SUITE_P(Pages, EffectButtonsTest,
                         ::testing::Values(EffectPageKind::Frame, EffectPageKind::Light,
                                           EffectPageKind::Cartoon));

TEST(EffectButtonsNames, EveryNamedEffectHasItsNameTranslated) {
    const InstalledTranslation english(Language::English);
    ASSERT_TRUE(english.Active());
    for (const EffectEntry& effect : AllEffects()) {
        const QString name = EffectPage::EffectName(effect);
        EXPECT_FALSE(name.isEmpty());
        for (const QChar c : name)
            EXPECT_LT(c.unicode(), 0x2E80) << effect.fileName << ": " << name.toStdString();
    }
    EXPECT_EQ("Meteor shower",
              EffectPage::EffectName(*FindEffect(EffectFamily::Light, 1)).toStdString());
    EXPECT_EQ("Effect 5",
              EffectPage::EffectName(*FindEffect(EffectFamily::Light, 5)).toStdString());
}

} // namespace
} // namespace kelo

namespace kelo {
namespace {

// Every picture of the skin has its "@2x" drawing, chosen on a dense screen at the same size in
// the window's units.
TEST(SkinLayoutTest, EveryPictureIsDrawnForTheScreensDensity) {
    const bool dense = ui::ScreenPixelRatio() > 1.0;
    int pictures = 0;
    for (int id = 100; id < 300; ++id) {
        for (const bool bitmap : {false, true}) {
            const QString path =
                QStringLiteral(":/kelo/skin/%1-%2.png")
                    .arg(bitmap ? QStringLiteral("bitmap") : QStringLiteral("icon"))
                    .arg(id);
            QPixmap plain;
            if (!plain.load(path))
                continue;
            ++pictures;
            const QPixmap chosen = bitmap ? ui::LoadSkinBitmap(id) : ui::LoadSkinIcon(id);
            EXPECT_TRUE(QPixmap().load(ui::HighDensitySibling(path))) << path.toStdString();
            EXPECT_EQ(dense ? 2.0 : 1.0, chosen.devicePixelRatio()) << path.toStdString();
            EXPECT_EQ(plain.size(), chosen.deviceIndependentSize().toSize()) << path.toStdString();
        }
    }
    EXPECT_GT(pictures, 20);
}

} // namespace
} // namespace kelo
