// The record format dialog (template 130): a page of video choices (AVI, WMV, MP4 and "with
// sound") and a page of audio choices (MP3, WAV, PCM) in the same places, switched by the two
// icon buttons at the top. OK reads both radio groups, whichever page shows, and gives the
// format of the page that showed last; RecordKindFor turns it into the recording set-up.
#pragma once

#include "engine/RecordKind.h"
#include "ui/SkinnedDialog.h"

#include <optional>

namespace kelo {

// The formats of the dialog, as its result numbers them.
enum class RecordFormat : int { Avi = 0, Wmv = 1, Mp4 = 2, Mp3 = 3, Wav = 4, Pcm = 5 };

// The recording set-up of a format and the "录相+录音" box (which the audio formats ignore).
// None for a number outside 0..5.
std::optional<RecordKind> RecordKindFor(int format, bool withAudio);

class RecordFormatDialog : public ui::SkinnedDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 130;
    static constexpr int kShowVideoChoices = 1017;
    static constexpr int kShowAudioChoices = 1018;
    static constexpr int kFirstVideoRadio = 1003; // 1003 AVI, 1004 WMV, 1005 MP4
    static constexpr int kFirstAudioRadio = 1006; // 1006 MP3, 1007 WAV, 1008 PCM
    static constexpr int kWithAudioCheck = 1019;

    explicit RecordFormatDialog(QWidget* parent = nullptr);

    // Index of the checked video radio (0 AVI, 1 WMV, 2 MP4) and audio radio (0 MP3, 1 WAV,
    // 2 PCM); both 1 at creation, read back on OK.
    int videoFormat = 1;
    int audioFormat = 1;
    // 0 while the video choices show, 1 while the audio choices show.
    int audioPage = 0;
    // After OK: the format (RecordFormat) and the state of "录相+录音".
    int format = 0;
    bool withAudio = true;

    // After OK: the set-up the choice records with.
    std::optional<RecordKind> ChosenKind() const { return RecordKindFor(format, withAudio); }

    void accept() override;

protected:
    void OnInitDialog() override;

private:
    // The message table: every command of the dialog arrives here.
    void OnCommand(int controlId);
    void ShowPage(int page);
};

} // namespace kelo
