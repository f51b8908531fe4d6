#include "GalleryDialogs.h"

#include "app/settings/SettingsDialog.h"
#include "ui/IconButton.h"
#include "ui/Skin.h"
#include "ui/SkinnedTabControl.h"
#include "ui/SkinnedTrackbar.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace kelo::gallery {
namespace {

using kelo::SettingsDialog;
using ui::IconButton;
using ui::SkinnedDialog;

void Dress(SkinnedDialog& dialog, int id, int icon, bool coloured = true) {
    auto* button = dialog.Control<IconButton>(id);
    if (!button) {
        return;
    }
    button->SetIcon(icon);
    button->DressOnSkin();
    if (!coloured) {
        button->SetDefaultColors();
    }
}

void DressOkCancel(SkinnedDialog& dialog) {
    Dress(dialog, 1, ui::skin::kOkIcon);
    Dress(dialog, 2, ui::skin::kCancelIcon);
}

void DressColorPage(SkinnedDialog& page) {
    static const std::pair<int, int> buttons[] = {
        {1038, 155}, {1039, 158}, {1040, 157}, {1041, 156}, {1036, 159}};
    for (const auto& [id, icon] : buttons) {
        Dress(page, id, icon);
    }
    for (int id : {1034, 1035, 1031, 1032, 1033}) {
        if (auto* slider = page.Control<ui::SkinnedTrackbar>(id)) {
            slider->SetSkin(ui::skin::kTrackbarChannel, ui::skin::kTrackbarThumb,
                            ui::skin::kTrackbarThumbActive);
            const bool shift = id == 1034 || id == 1035;
            slider->setRange(shift ? -255 : 0, 255);
            slider->setSingleStep(0);
        }
    }
}

void DressOverlayPage(SkinnedDialog& page, int firstButton) {
    for (int n = 0; n < 16; ++n) {
        if (auto* button = page.Control<IconButton>(firstButton + n)) {
            button->DressOnSkin();
        }
    }
}

std::unique_ptr<SkinnedDialog> MakePage(int id, QWidget* parent) {
    auto page = std::make_unique<SkinnedDialog>(id, ui::skin::kPageBackground, parent);
    if (id == 151) {
        DressColorPage(*page);
    } else if (id >= 160 && id <= 162) {
        DressOverlayPage(*page, id == 160 ? 1040 : id == 161 ? 1056 : 1072);
    }
    page->Create();
    return page;
}

void DressMainWindow(SkinnedDialog& window) {
    static const std::pair<int, int> commands[] = {{1002, 136}, {1018, 150}, {1004, 137},
                                                   {1017, 148}, {1005, 138}, {1006, 139}};
    for (const auto& [id, icon] : commands) {
        Dress(window, id, icon);
    }
    Dress(window, 1014, 140, false);
    Dress(window, 1015, 141, false);
    if (auto* stop = window.Control(1018)) {
        stop->hide();
    }
    if (auto* video = window.Control<QComboBox>(1009)) {
        video->addItems({QStringLiteral("Test Camera"), QStringLiteral("USB 摄像头")});
    }
    if (auto* audio = window.Control<QComboBox>(1016)) {
        audio->addItem(QStringLiteral("Test Microphone"));
    }
    if (auto* status = window.Control<QLabel>(1028)) {
        status->setText(QStringLiteral("录制中..."));
    }
    auto* tabs = window.Control<ui::SkinnedTabControl>(1030);
    if (!tabs) {
        return;
    }
    tabs->SetBackground(ui::skin::kPageBackground);
    static const std::pair<int, const char*> pages[] = {
        {151, "色彩调节"}, {160, "相框"}, {161, "灯光"}, {162, "动画"}, {163, "其它"}};
    for (const auto& [id, text] : pages) {
        // The tab control owns the page from here (it becomes its child).
        tabs->InsertItem(tabs->Count(), QString::fromUtf8(text), MakePage(id, tabs).release());
    }
}

} // namespace

std::vector<int> GalleryDialogIds() {
    return {100, 102, 130, 132, 149, 151, 160, 161, 162, 163};
}

std::unique_ptr<SkinnedDialog> MakeGalleryDialog(int id) {
    const bool isPage = id == 151 || (id >= 160 && id <= 163);
    if (isPage) {
        auto page = MakePage(id, nullptr);
        page->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        return page;
    }
    if (id == SettingsDialog::kTemplateId) {
        // The real dialog, initialised from the data.ini of the working directory.
        auto settings = std::make_unique<SettingsDialog>();
        settings->Create();
        return settings;
    }
    const int skin = id == 102 ? ui::skin::kMainBackground : ui::skin::kPageBackground;
    auto dialog = std::make_unique<SkinnedDialog>(id, skin);
    switch (id) {
    case 102:
        DressMainWindow(*dialog);
        break;
    case 130:
        DressOkCancel(*dialog);
        Dress(*dialog, 1017, 145);
        Dress(*dialog, 1018, 146);
        if (auto* withSound = dialog->Control<QAbstractButton>(1019)) {
            withSound->setChecked(true);
        }
        ui::SetRadioChoice(*dialog, 1003, 1);
        break;
    case 149:
        DressOkCancel(*dialog);
        if (auto* seconds = dialog->Control<QLineEdit>(1027)) {
            seconds->setText(QStringLiteral("3"));
        }
        break;
    default:
        break;
    }
    dialog->Create();
    return dialog;
}

} // namespace kelo::gallery
