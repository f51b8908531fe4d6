// Dialog templates: the files parse, and the builder makes every control of the settings
// dialog and the main window under its id, with its text, visibility and pixel rectangle.
#include "support/TestSupport.h"
#include "ui/DialogBuilder.h"
#include "ui/IconButton.h"
#include "ui/SkinnedDialog.h"
#include "ui/SkinnedTabControl.h"
#include "ui/SkinnedTrackbar.h"
#include "ui/UpDownControl.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace kelo::ui {
namespace {

struct Expected {
    int id;
    const char* text;
    QRect du;
    bool hidden;
};

// The controls as the windows' tables list them.
const Expected kSettingsControls[] = {
    {1010, "我的相片:", {7, 33, 40, 8}, false},  {1005, "", {50, 32, 95, 12}, false},
    {1006, "", {153, 27, 25, 18}, false},        {1011, "录制视频:", {7, 58, 37, 9}, false},
    {1007, "", {49, 56, 97, 12}, false},         {1008, "", {152, 52, 26, 17}, false},
    {1026, "照片大小", {7, 91, 173, 49}, false}, {1021, "160*120", {36, 100, 37, 9}, false},
    {1022, "320*240", {36, 113, 38, 10}, false}, {1023, "640*480", {36, 126, 38, 9}, false},
    {1024, "1280*720", {84, 98, 44, 13}, false}, {1025, "1920*1080", {84, 113, 47, 9}, false},
    {1029, "原始尺寸", {84, 126, 47, 9}, false}, {1035, "视频", {7, 143, 173, 49}, false},
    {1031, "320*240", {36, 152, 44, 9}, false},  {1034, "1920*1080", {84, 165, 47, 9}, false},
    {1036, "15帧/秒", {138, 152, 40, 9}, false}, {1037, "30帧/秒", {138, 165, 40, 9}, false},
    // Save and Cancel, Record, Settings and the device labels are wider than the first
    // drawing: their English captions need the room.
    {1, "保存", {44, 199, 46, 22}, false},       {2, "取消", {94, 199, 46, 22}, false},
};

const Expected kMainControls[] = {
    {1000, "", {10, 59, 216, 163}, false},
    {1002, "录制", {95, 227, 45, 25}, false},
    {1018, "停止", {95, 227, 45, 25}, false},
    {1004, "拍照", {5, 227, 42, 25}, false},
    {1017, "延时", {50, 227, 42, 23}, false},
    {1005, "全屏", {142, 227, 42, 24}, false},
    {1006, "设置", {188, 227, 48, 23}, false},
    {1028, "", {108, 40, 48, 17}, false},
    {1020, "视频设备：", {225, 11, 48, 13}, false},
    {1009, "", {274, 7, 91, 53}, false},
    {1021, "录音设备：", {225, 31, 48, 13}, false},
    {1016, "", {274, 29, 91, 53}, false},
    {1014, "", {374, 4, 17, 10}, false},
    {1015, "", {391, 4, 17, 10}, false},
    {1030, "", {233, 59, 179, 162}, false},
    {1001, "Start", {50, 266, 34, 19}, true},
    {1003, "PlayMode", {50, 244, 34, 19}, true},
    {1, "确定", {105, 289, 50, 14}, true},
    {2, "取消", {105, 305, 50, 14}, true},
};

QString TextOf(const QWidget& widget) {
    if (auto* label = qobject_cast<const QLabel*>(&widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
        return button->text();
    }
    if (auto* group = qobject_cast<const QGroupBox*>(&widget)) {
        return group->title();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(&widget)) {
        return edit->text();
    }
    return {};
}

// Checks id, text, visibility and pixel rectangle of each control for base units `units`.
void ExpectControls(const QWidget& window, const Expected* begin, const Expected* end,
                    DialogBaseUnits units) {
    for (const Expected* e = begin; e != end; ++e) {
        SCOPED_TRACE(testing::Message() << "control " << e->id);
        QWidget* control = FindControl(window, e->id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ControlId(*control), e->id);
        EXPECT_EQ(TextOf(*control), QString::fromUtf8(e->text));
        EXPECT_EQ(control->isVisible(), !e->hidden);
        EXPECT_EQ(ControlRectDu(*control), e->du);
        const QRect px = control->geometry();
        const QRect want = DialogUnitsToPixels(e->du, units);
        EXPECT_EQ(px.topLeft(), want.topLeft());
        if (qobject_cast<QComboBox*>(control)) {
            // The template height of a combo box includes its list; the box is one line high.
            EXPECT_EQ(px.width(), want.width());
            EXPECT_LE(px.height(), want.height());
        } else if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control)) {
            EXPECT_GE(px.width(), want.width()); // widened to its text, never narrowed
            EXPECT_EQ(px.height(), want.height());
        } else {
            EXPECT_EQ(px.size(), want.size());
        }
    }
}

class DialogTemplateTest : public testing::Test {
    test::IsolatedDirectory dir_;
};

TEST_F(DialogTemplateTest, EveryTemplateOfTheStudioLoads) {
    const std::vector<int> expected = {100, 102, 130, 132, 149, 151, 160, 161, 162, 163};
    EXPECT_EQ(AvailableDialogTemplates(), expected);
    for (int id : expected) {
        QString error;
        const auto dialog = LoadDialogTemplate(id, &error);
        ASSERT_TRUE(dialog.has_value()) << error.toStdString();
        EXPECT_EQ(dialog->id, id);
        EXPECT_FALSE(dialog->controls.empty());
        for (const ControlTemplate& control : dialog->controls) {
            // Every control lies inside its dialog (hidden ones of the main window included).
            EXPECT_TRUE(QRect(QPoint(0, 0), dialog->sizeDu).contains(control.rectDu))
                << "dialog " << id << " control " << control.id;
        }
    }
    EXPECT_FALSE(LoadDialogTemplate(999).has_value());
}

TEST_F(DialogTemplateTest, DialogUnitsMapLikeThePlatformsDialogRectangles) {
    // One unit is 1.5 pixels; the corners are rounded, so the preview area of 216 x 163 units
    // at (10, 59) is 324 x 244 pixels.
    EXPECT_EQ(DialogUnitsToPixels(QRect(10, 59, 216, 163)), QRect(15, 89, 324, 244));
    EXPECT_EQ(DialogUnitsToPixels(QRect(7, 33, 40, 8)), QRect(11, 50, 60, 12));
    EXPECT_EQ(DialogUnitsToPixels(QSize(187, 169)), QSize(281, 254));
    EXPECT_EQ(DialogUnitsToPixels(QRect(4, 8, 4, 8), {8, 16}), QRect(8, 16, 8, 16));
}

TEST_F(DialogTemplateTest, SettingsDialogControlsExistWithTextsAndRectangles) {
    SkinnedDialog dialog(132, 0);
    dialog.show();
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(QSize(187, 221)));
    ExpectControls(dialog, std::begin(kSettingsControls), std::end(kSettingsControls), {});
    EXPECT_TRUE(dialog.Control<IconButton>(1)->isDefault());
    EXPECT_NE(dialog.Control<QLineEdit>(1005), nullptr);
    EXPECT_NE(dialog.Control<QRadioButton>(1025), nullptr);
    // The frame of the folders has no id but is there.
    const auto groups = dialog.findChildren<QGroupBox*>();
    ASSERT_EQ(groups.size(), 3);
    EXPECT_EQ(groups[0]->title(), QStringLiteral("存放路径"));
}

TEST_F(DialogTemplateTest, MainWindowControlsExistWithTextsVisibilityAndRectangles) {
    SkinnedDialog window(102, 0);
    window.show();
    ExpectControls(window, std::begin(kMainControls), std::end(kMainControls), {});
    EXPECT_NE(window.Control<SkinnedTabControl>(1030), nullptr);
    EXPECT_NE(window.Control<QComboBox>(1009), nullptr);
    for (int id : {1007, 1010, 1011, 1012, 1013}) {
        auto* trackbar = window.Control<SkinnedTrackbar>(id);
        ASSERT_NE(trackbar, nullptr) << id;
        EXPECT_FALSE(trackbar->isVisible()) << id;
    }
    ASSERT_NE(window.Control<QComboBox>(1008), nullptr);
    EXPECT_FALSE(window.Control(1008)->isVisible());
}

TEST_F(DialogTemplateTest, RectanglesFollowTheFontMetric) {
    const auto dialog = LoadDialogTemplate(132);
    ASSERT_TRUE(dialog);
    QWidget window;
    const DialogBaseUnits large{8, 16}; // one unit = 2 pixels
    BuildControls(*dialog, window, large);
    window.show();
    const Expected* begin = std::begin(kSettingsControls);
    ExpectControls(window, begin, std::end(kSettingsControls), large);
    EXPECT_EQ(FindControl(window, 1005)->geometry(), QRect(100, 64, 190, 24));
}

TEST_F(DialogTemplateTest, RadioGroupsFollowTheTemplateGroups) {
    SkinnedDialog dialog(130, 0);
    // Video and audio choices are two groups: checking one of each keeps both.
    SetRadioChoice(dialog, 1003, 1);
    SetRadioChoice(dialog, 1006, 1);
    EXPECT_EQ(GetRadioChoice(dialog, 1003), 1);
    EXPECT_EQ(GetRadioChoice(dialog, 1006), 1);
    EXPECT_TRUE(dialog.Control<QRadioButton>(1004)->isChecked());
    EXPECT_TRUE(dialog.Control<QRadioButton>(1007)->isChecked());
    // A click inside a group moves its check and leaves the other group alone.
    dialog.Control<QRadioButton>(1005)->click();
    EXPECT_EQ(GetRadioChoice(dialog, 1003), 2);
    EXPECT_FALSE(dialog.Control<QRadioButton>(1004)->isChecked());
    EXPECT_EQ(GetRadioChoice(dialog, 1006), 1);
    // -1 (and any index out of range) unchecks the group.
    SetRadioChoice(dialog, 1003, -1);
    EXPECT_EQ(GetRadioChoice(dialog, 1003), -1);
    SetRadioChoice(dialog, 1006, 7);
    EXPECT_EQ(GetRadioChoice(dialog, 1006), -1);
    // The audio radios are hidden in the template; the check box ends the video group.
    EXPECT_TRUE(dialog.Control(1006)->isHidden());
    EXPECT_EQ(GetRadioChoice(dialog, 1019), -1);
}

TEST_F(DialogTemplateTest, UpDownStepsItsBuddyWithinItsRange) {
    SkinnedDialog dialog(149, 0);
    auto* edit = dialog.Control<QLineEdit>(1027);
    auto* updown = dialog.Control<UpDownControl>(1029);
    ASSERT_NE(updown, nullptr);
    EXPECT_EQ(updown->Buddy(), edit);
    updown->SetRange(3, 60);
    edit->setText(QStringLiteral("59"));
    updown->StepUp();
    EXPECT_EQ(edit->text(), QStringLiteral("60"));
    updown->StepUp();
    EXPECT_EQ(edit->text(), QStringLiteral("60"));
    // Without a range set the platform's default (100 down to 0) applies: up counts down.
    UpDownControl plain;
    plain.SetPosition(50);
    plain.StepUp();
    EXPECT_EQ(plain.Position(), 49);
}

TEST(DialogTemplateParse, FaultsNameTheirLine) {
    QString error;
    EXPECT_FALSE(ParseDialogTemplate(QStringLiteral("1 static 0 0 1 1 \"x\""), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("line 1"))) << error.toStdString();
    const QString header = QStringLiteral("# c\ndialog 5 10 10 font \"F\" caption \"\" popup\n");
    EXPECT_FALSE(ParseDialogTemplate(header + QStringLiteral("1 spinner 0 0 1 1 \"\""), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("line 3"))) << error.toStdString();
    EXPECT_FALSE(ParseDialogTemplate(header + QStringLiteral("1 static 0 0 1 1 \"open"), &error));
    EXPECT_FALSE(ParseDialogTemplate(header + QStringLiteral("1 static 0 0 1 \"a\""), &error));
    EXPECT_FALSE(
        ParseDialogTemplate(header + QStringLiteral("1 static 0 0 1 1 \"a\" bold"), &error));
    EXPECT_FALSE(ParseDialogTemplate(QStringLiteral("# only a comment\n"), &error));

    const auto ok = ParseDialogTemplate(
        header + QStringLiteral("-1 static 1 2 3 4 \"say \\\"hi\\\" 好\" hidden group\n"), &error);
    ASSERT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(ok->sizeDu, QSize(10, 10));
    EXPECT_EQ(ok->fontFace, QStringLiteral("F"));
    ASSERT_EQ(ok->controls.size(), 1u);
    EXPECT_EQ(ok->controls[0].text, QStringLiteral("say \"hi\" 好"));
    EXPECT_EQ(ok->controls[0].rectDu, QRect(1, 2, 3, 4));
    EXPECT_TRUE(ok->controls[0].hidden);
    EXPECT_TRUE(ok->controls[0].groupStart);
}

} // namespace
} // namespace kelo::ui
