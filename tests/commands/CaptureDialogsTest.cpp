// The delay dialog and the record format dialog as a user drives them, through the modal seam.
#include "app/dialogs/DelayDialog.h"
#include "app/dialogs/RecordFormatDialog.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/UpDownControl.h"

#include <functional>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QLineEdit>

namespace kelo {
namespace {

using ui::IDCANCEL;
using ui::IDOK;

// Runs `dialog` modally; `drive` plays the user inside the run.
template <class Dialog> int RunModal(Dialog& dialog, const std::function<void(Dialog&)>& drive) {
    ui::ScopedModalDialogHandler answer([&](QDialog& shown) {
        drive(dialog);
        return shown.result();
    });
    return dialog.DoModal();
}

void Click(ui::SkinnedDialog& dialog, int id) {
    auto* button = dialog.Control<QAbstractButton>(id);
    ASSERT_NE(button, nullptr) << id;
    button->click();
}

class DelayDialogTest : public testing::Test {
protected:
    test::IsolatedDirectory dir_;
};

TEST_F(DelayDialogTest, OpensWithThreeAndReturnsTheSecondsTyped) {
    DelayDialog dialog;
    const int result = RunModal<DelayDialog>(dialog, [](DelayDialog& d) {
        auto* edit = d.Control<QLineEdit>(DelayDialog::kSecondsEdit);
        EXPECT_EQ(edit->text(), QStringLiteral("3"));
        edit->setText(QStringLiteral(" 60 "));
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.seconds, 60);
}

TEST_F(DelayDialogTest, AValueOutsideThreeToSixtyKeepsTheDialogOpenWithTheRangeMessage) {
    ui::MessageBoxRecorder boxes;
    DelayDialog dialog;
    int okPresses = 0;
    const int result = RunModal<DelayDialog>(dialog, [&](DelayDialog& d) {
        auto* edit = d.Control<QLineEdit>(DelayDialog::kSecondsEdit);
        for (const char* wrong : {"2", "61", "-5", "99999999999", "", "4x", "3.5"}) {
            edit->setText(QString::fromUtf8(wrong));
            Click(d, IDOK);
            ++okPresses;
            EXPECT_TRUE(d.isVisible()) << wrong; // still open
        }
        edit->setText(QStringLiteral("5"));
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.seconds, 5);
    ASSERT_EQ(boxes.Requests().size(), size_t(okPresses));
    const QString range = QStringLiteral("请输入一个介于 3 和 60 之间的整数。");
    const QString integer = QStringLiteral("请输入一个整数。");
    const std::vector<QString> expected = {range, range, range, integer, integer, integer, integer};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(boxes.Requests()[i].text, expected[i]) << i;
}

TEST_F(DelayDialogTest, CancelLeavesTheSecondsAndTheUpDownKeepsItsDefaultRange) {
    DelayDialog dialog;
    const int result = RunModal<DelayDialog>(dialog, [](DelayDialog& d) {
        auto* spin = d.Control<ui::UpDownControl>(DelayDialog::kSecondsUpDown);
        ASSERT_NE(spin, nullptr);
        // The default range runs from 100 down to 0: "up" counts towards 0.
        EXPECT_EQ(spin->Lower(), 100);
        EXPECT_EQ(spin->Upper(), 0);
        spin->StepUp();
        EXPECT_EQ(d.Control<QLineEdit>(DelayDialog::kSecondsEdit)->text(), QStringLiteral("2"));
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.seconds, 3);
}

class RecordFormatDialogTest : public testing::Test {
protected:
    bool Visible(ui::SkinnedDialog& d, int id) { return d.Control(id)->isVisibleTo(&d); }
    test::IsolatedDirectory dir_;
};

TEST_F(RecordFormatDialogTest, OpensOnTheVideoChoicesWithWmvWavAndSoundChecked) {
    RecordFormatDialog dialog;
    const int result = RunModal<RecordFormatDialog>(dialog, [&](RecordFormatDialog& d) {
        for (int id : {1003, 1004, 1005, 1019})
            EXPECT_TRUE(Visible(d, id)) << id;
        for (int id : {1006, 1007, 1008})
            EXPECT_FALSE(Visible(d, id)) << id;
        EXPECT_TRUE(d.Control<QAbstractButton>(1004)->isChecked());
        EXPECT_TRUE(d.Control<QAbstractButton>(1007)->isChecked());
        EXPECT_TRUE(d.Control<QAbstractButton>(1019)->isChecked());
        EXPECT_EQ(d.audioPage, 0);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.format, int(RecordFormat::Wmv));
    EXPECT_TRUE(dialog.withAudio);
    EXPECT_EQ(dialog.ChosenKind(), RecordKind::WmvVideoAudio);
}

TEST_F(RecordFormatDialogTest, TheAudioPageAndBackKeepsTheVideoChoice) {
    RecordFormatDialog dialog;
    RunModal<RecordFormatDialog>(dialog, [&](RecordFormatDialog& d) {
        Click(d, 1005); // MP4
        Click(d, 1019); // without sound
        Click(d, RecordFormatDialog::kShowAudioChoices);
        EXPECT_EQ(d.audioPage, 1);
        EXPECT_TRUE(Visible(d, 1006));
        EXPECT_FALSE(Visible(d, 1005));
        EXPECT_FALSE(Visible(d, 1019));
        Click(d, 1008); // PCM, then back to the video choices
        Click(d, RecordFormatDialog::kShowVideoChoices);
        EXPECT_EQ(d.audioPage, 0);
        Click(d, IDOK);
    });
    EXPECT_EQ(dialog.videoFormat, 2);
    EXPECT_EQ(dialog.audioFormat, 2); // read although hidden
    EXPECT_EQ(dialog.ChosenKind(), RecordKind::Mp4Video);

    RecordFormatDialog audio;
    RunModal<RecordFormatDialog>(audio, [&](RecordFormatDialog& d) {
        Click(d, RecordFormatDialog::kShowAudioChoices);
        Click(d, 1006); // MP3
        Click(d, IDOK);
    });
    EXPECT_EQ(audio.format, int(RecordFormat::Mp3));
    EXPECT_EQ(audio.ChosenKind(), RecordKind::Mp3Audio);
}

TEST(RecordKindTable, EveryFormatAndSoundChoiceGivesItsKind) {
    struct Row {
        RecordFormat format;
        bool withAudio;
        RecordKind kind;
    };
    const Row rows[] = {
        {RecordFormat::Avi, true, RecordKind::AviVideoAudio},
        {RecordFormat::Avi, false, RecordKind::AviVideo},
        {RecordFormat::Wmv, true, RecordKind::WmvVideoAudio},
        {RecordFormat::Wmv, false, RecordKind::WmvVideo},
        {RecordFormat::Mp4, true, RecordKind::Mp4VideoAudio},
        {RecordFormat::Mp4, false, RecordKind::Mp4Video},
        {RecordFormat::Mp3, true, RecordKind::Mp3Audio},
        {RecordFormat::Mp3, false, RecordKind::Mp3Audio},
        {RecordFormat::Wav, true, RecordKind::WavAudio},
        {RecordFormat::Wav, false, RecordKind::WavAudio},
        {RecordFormat::Pcm, true, RecordKind::PcmAudio},
        {RecordFormat::Pcm, false, RecordKind::PcmAudio},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RecordKindFor(int(row.format), row.withAudio), row.kind) << int(row.format);
    EXPECT_EQ(RecordKindFor(-1, true), std::nullopt);
    EXPECT_EQ(RecordKindFor(6, true), std::nullopt);
}

} // namespace
} // namespace kelo
