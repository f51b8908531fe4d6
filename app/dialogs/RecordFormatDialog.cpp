#include "app/dialogs/RecordFormatDialog.h"

#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <QAbstractButton>

namespace kelo {
namespace {

using ui::IconButton;

using ui::skin::kCancelIcon;
using ui::skin::kOkIcon;
constexpr int kVideoPageIcon = 145;
constexpr int kAudioPageIcon = 146;

constexpr int kChoicesPerPage = 3;

} // namespace

std::optional<RecordKind> RecordKindFor(int format, bool withAudio) {
    switch (static_cast<RecordFormat>(format)) {
    case RecordFormat::Avi:
        return withAudio ? RecordKind::AviVideoAudio : RecordKind::AviVideo;
    case RecordFormat::Wmv:
        return withAudio ? RecordKind::WmvVideoAudio : RecordKind::WmvVideo;
    case RecordFormat::Mp4:
        return withAudio ? RecordKind::Mp4VideoAudio : RecordKind::Mp4Video;
    case RecordFormat::Mp3:
        return RecordKind::Mp3Audio;
    case RecordFormat::Wav:
        return RecordKind::WavAudio;
    case RecordFormat::Pcm:
        return RecordKind::PcmAudio;
    }
    return std::nullopt;
}

RecordFormatDialog::RecordFormatDialog(QWidget* parent)
    : ui::SkinnedDialog(kTemplateId, ui::skin::kPageBackground, parent) {
    connect(this, &SkinnedDialog::command, this, &RecordFormatDialog::OnCommand);
}

void RecordFormatDialog::OnInitDialog() {
    static constexpr std::pair<int, int> kIcons[] = {{ui::IDOK, kOkIcon},
                                                     {ui::IDCANCEL, kCancelIcon},
                                                     {kShowVideoChoices, kVideoPageIcon},
                                                     {kShowAudioChoices, kAudioPageIcon}};
    for (const auto& [id, icon] : kIcons) {
        if (auto* button = Control<IconButton>(id)) {
            button->SetIcon(icon);
            button->DressOnSkin();
        }
    }
    if (auto* withSound = Control<QAbstractButton>(kWithAudioCheck))
        withSound->setChecked(true);
    ui::SetRadioChoice(*this, kFirstVideoRadio, videoFormat);
    ui::SetRadioChoice(*this, kFirstAudioRadio, audioFormat);
    ShowPage(0);
}

void RecordFormatDialog::OnCommand(int controlId) {
    if (controlId == kShowVideoChoices)
        ShowPage(0);
    else if (controlId == kShowAudioChoices)
        ShowPage(1);
    // 1 (OK) and 2 (Cancel) end the dialog through accept() and reject().
}

void RecordFormatDialog::ShowPage(int page) {
    const bool audio = page == 1;
    for (int i = 0; i < kChoicesPerPage; ++i) {
        if (QWidget* radio = Control(kFirstVideoRadio + i))
            radio->setVisible(!audio);
        if (QWidget* radio = Control(kFirstAudioRadio + i))
            radio->setVisible(audio);
    }
    if (QWidget* withSound = Control(kWithAudioCheck))
        withSound->setVisible(!audio);
    audioPage = audio ? 1 : 0;
}

void RecordFormatDialog::accept() {
    // Both groups are read, whichever shows: a trip to the other page keeps this one's choice.
    videoFormat = ui::GetRadioChoice(*this, kFirstVideoRadio);
    audioFormat = ui::GetRadioChoice(*this, kFirstAudioRadio);
    const int first = audioPage == 1 ? static_cast<int>(RecordFormat::Mp3) : 0;
    const int choice = audioPage == 1 ? audioFormat : videoFormat;
    format = choice < 0 ? -1 : first + choice; // -1: nothing checked, no kind

    if (auto* withSound = Control<QAbstractButton>(kWithAudioCheck))
        withAudio = withSound->isChecked();
    SkinnedDialog::accept();
}

} // namespace kelo
