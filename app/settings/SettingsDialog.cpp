#include "app/settings/SettingsDialog.h"

#include "ui/FolderDialog.h"
#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <filesystem>
#include <QAbstractButton>
#include <QLineEdit>
#include <system_error>

namespace kelo {
namespace {

using ui::IconButton;

constexpr int kSaveIcon = ui::skin::kOkIcon;
using ui::skin::kCancelIcon;
constexpr int kFolderIcon = 147;

} // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : ui::SkinnedDialog(kTemplateId, ui::skin::kPageBackground, parent) {
    connect(this, &SkinnedDialog::command, this, &SettingsDialog::OnCommand);
}

void SettingsDialog::OnInitDialog() {
    // The radio group shows photoSizeChoice = -1: no size button checked.
    ui::SetRadioChoice(*this, kFirstSizeButton, photoSizeChoice);

    for (const auto& [id, icon] :
         {std::pair{ui::IDOK, kSaveIcon}, std::pair{ui::IDCANCEL, kCancelIcon}}) {
        if (auto* button = Control<IconButton>(id)) {
            button->SetIcon(icon);
            button->DressOnSkin();
        }
    }
    for (const int id : {kChoosePhotoFolder, kChooseRecordFolder}) {
        if (auto* button = Control<IconButton>(id)) {
            button->SetIcon(kFolderIcon);
            button->DrawTransparent(true);
        }
    }

    std::error_code error;
    savedWorkingDirectory = std::filesystem::current_path(error).string();
    settingsPath = kelo::settingsPath(); // the one path every reader and writer uses
    const SettingsStore store(settingsPath);

    if (auto* edit = Control<QLineEdit>(kPhotoFolderEdit)) {
        edit->setText(QString::fromStdString(
            store.ReadText(SettingId::PhotoFolder, SettingReader::SettingsDialog)));
    }
    if (auto* edit = Control<QLineEdit>(kRecordFolderEdit)) {
        edit->setText(QString::fromStdString(
            store.ReadText(SettingId::RecordFolder, SettingReader::SettingsDialog)));
    }

    // "HEIGHT" is not read: the width alone picks the button.
    const int index =
        PhotoSizeIndex(store.ReadInt(SettingId::PhotoWidth, SettingReader::SettingsDialog));
    if (index >= 0) {
        photoSizeChoice = index;
        ui::SetRadioChoice(*this, kFirstSizeButton, index);
    }

    const VideoMode mode = store.ReadVideoMode();
    for (std::size_t i = 0; i < kVideoSizes.size(); ++i) {
        if (kVideoSizes[i].width == mode.width && kVideoSizes[i].height == mode.height)
            videoSizeChoice = static_cast<int>(i);
    }
    for (std::size_t i = 0; i < kVideoRates.size(); ++i) {
        if (kVideoRates[i] == mode.framesPerSecond)
            rateChoice = static_cast<int>(i);
    }
    ui::SetRadioChoice(*this, kFirstVideoSizeButton, videoSizeChoice);
    ui::SetRadioChoice(*this, kFirstRateButton, rateChoice);
    UpdateVideoChoices();
}

bool SettingsDialog::Offers(int width, int height, int framesPerSecond) const {
    if (offeredModes.empty())
        return true; // a camera that takes any mode, or none known
    for (const OfferedMode& m : offeredModes) {
        if ((width == 0 || (m.width == width && m.height == height)) &&
            (framesPerSecond == 0 || m.framesPerSecond == framesPerSecond))
            return true;
    }
    return false;
}

void SettingsDialog::UpdateVideoChoices() {
    for (std::size_t i = 0; i < kVideoSizes.size(); ++i) {
        if (QWidget* button = Control(kFirstVideoSizeButton + static_cast<int>(i)))
            button->setEnabled(Offers(kVideoSizes[i].width, kVideoSizes[i].height, 0));
    }
    const PhotoSize size = videoSizeChoice >= 0
                               ? kVideoSizes[static_cast<std::size_t>(videoSizeChoice)]
                               : PhotoSize{0, 0};
    for (std::size_t i = 0; i < kVideoRates.size(); ++i) {
        if (QWidget* button = Control(kFirstRateButton + static_cast<int>(i)))
            button->setEnabled(Offers(size.width, size.height, kVideoRates[i]));
    }
    // A rate the chosen size does not have gives way to one it has.
    if (rateChoice >= 0 &&
        !Offers(size.width, size.height, kVideoRates[static_cast<std::size_t>(rateChoice)])) {
        rateChoice = -1;
        for (std::size_t i = kVideoRates.size(); i-- > 0;) {
            if (Offers(size.width, size.height, kVideoRates[i])) {
                rateChoice = static_cast<int>(i);
                break;
            }
        }
        ui::SetRadioChoice(*this, kFirstRateButton, rateChoice);
    }
}

void SettingsDialog::OnCommand(int controlId) {
    if (controlId == kChoosePhotoFolder) {
        ChooseFolder(kPhotoFolderEdit, SettingId::PhotoFolder);
    } else if (controlId == kChooseRecordFolder) {
        ChooseFolder(kRecordFolderEdit, SettingId::RecordFolder);
    } else if ((controlId >= kFirstSizeButton && controlId < kFirstSizeButton + 5) ||
               controlId == kOriginalSizeButton) {
        photoSizeChoice = controlId == kOriginalSizeButton ? 5 : controlId - kFirstSizeButton;
    } else if (controlId >= kFirstVideoSizeButton &&
               controlId < kFirstVideoSizeButton + static_cast<int>(kVideoSizes.size())) {
        videoSizeChoice = controlId - kFirstVideoSizeButton;
        UpdateVideoChoices();
    } else if (controlId >= kFirstRateButton &&
               controlId < kFirstRateButton + static_cast<int>(kVideoRates.size())) {
        rateChoice = controlId - kFirstRateButton;
    }
    // 1 (Save) and 2 (Cancel) end the dialog through accept() and reject().
}

void SettingsDialog::ChooseFolder(int editId, SettingId key) {
    QString folder;
    ui::CFolderDialog picker(folder);
    if (picker.DoModal() == ui::IDOK) {
        // Stored at once: a later Cancel keeps it.
        const SettingsStore store(settingsPath);
        const bool stored = store.WriteText(key, folder.toStdString());
        if (auto* edit = Control<QLineEdit>(editId)) {
            // The edit shows what photos or recordings will use: a folder that could not be
            // stored (a name data.ini cannot hold, a folder without write rights) is not it.
            edit->setText(stored ? folder
                                 : QString::fromStdString(
                                       store.ReadText(key, SettingReader::SettingsDialog)));
        }
    }
    // data.ini and the effect files are found through the working directory, so it is put back
    // after every choice, a cancelled one included.
    RestoreWorkingDirectory();
}

void SettingsDialog::RestoreWorkingDirectory() const {
    if (savedWorkingDirectory.empty()) {
        return;
    }
    std::error_code error;
    if (std::filesystem::current_path(error) != std::filesystem::path(savedWorkingDirectory)) {
        std::filesystem::current_path(savedWorkingDirectory, error);
    }
}

void SettingsDialog::accept() {
    if (photoSizeChoice >= 0 && photoSizeChoice < static_cast<int>(kPhotoSizes.size())) {
        SettingsStore(settingsPath)
            .WritePhotoSize(kPhotoSizes[static_cast<size_t>(photoSizeChoice)]);
    }
    if (videoSizeChoice >= 0 && rateChoice >= 0) {
        const SettingsStore store(settingsPath);
        const PhotoSize size = kVideoSizes[static_cast<std::size_t>(videoSizeChoice)];
        const VideoMode chosen{size.width, size.height,
                               kVideoRates[static_cast<std::size_t>(rateChoice)]};
        // Written only when changed: a Save that changed nothing leaves data.ini as it was.
        if (chosen != store.ReadVideoMode())
            videoModeChanged = store.WriteVideoMode(chosen);
    }
    SkinnedDialog::accept();
}

} // namespace kelo
