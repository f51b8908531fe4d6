// Which language the environment chooses, the English texts where a person sees them first,
// the Chinese ones exactly as written, and the build's check that refuses a text without its
// English translation.
#include "app/dialogs/DelayDialog.h"
#include "app/settings/Translations.h"
#include "app/window/MainDialog.h"
#include "support/TestSupport.h"
#include "ui/DialogBuilder.h"
#include "ui/FolderDialog.h"
#include "ui/SkinnedDialog.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QProcess>

namespace kelo {
namespace {

TEST(TranslationTest, TheEnvironmentChoosesTheLanguage) {
    struct Case {
        const char* kelocamLang;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "zh_CN.UTF-8", Language::Chinese},
        {nullptr, nullptr, nullptr, "zh_TW.UTF-8", Language::Chinese},
        {nullptr, nullptr, nullptr, "en_US.UTF-8", Language::English},
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", Language::English},
        {nullptr, nullptr, nullptr, "C.UTF-8", Language::English},
        {nullptr, nullptr, nullptr, nullptr, Language::English},
        // LC_ALL over LC_MESSAGES over LANG; empty means not set.
        {nullptr, "en_GB.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", Language::English},
        {nullptr, "", "zh_CN.UTF-8", "en_US.UTF-8", Language::Chinese},
        {nullptr, nullptr, "en_US.UTF-8", "zh_CN.UTF-8", Language::English},
        // KELOCAM_LANG over everything; a value it does not know is ignored.
        {"zh", nullptr, nullptr, "en_US.UTF-8", Language::Chinese},
        {"en", "zh_CN.UTF-8", nullptr, "zh_CN.UTF-8", Language::English},
        {"fr", nullptr, nullptr, "zh_CN.UTF-8", Language::Chinese},
        {"", nullptr, nullptr, "zh_CN.UTF-8", Language::Chinese},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ChooseLanguage({c.kelocamLang, c.lcAll, c.lcMessages, c.lang}))
            << (c.kelocamLang ? c.kelocamLang : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
            << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
    }
}

QString ControlText(const ui::SkinnedDialog& dialog, int id) {
    if (auto* button = dialog.Control<QAbstractButton>(id))
        return button->text();
    if (auto* label = dialog.Control<QLabel>(id))
        return label->text();
    return QStringLiteral("(no control %1)").arg(id);
}

TEST(TranslationTest, AnEnglishDesktopGetsTheEnglishWindow) {
    test::IsolatedDirectory cwd;
    const InstalledTranslation english(ChooseLanguage({nullptr, nullptr, nullptr, "en_US.UTF-8"}));
    ASSERT_TRUE(english.Active()) << "translations/kelocam_en.qm was not found";
    ui::SkinnedDialog window(102, 134);
    EXPECT_EQ("Record", ControlText(window, 1002).toStdString());
    EXPECT_EQ("Stop", ControlText(window, 1018).toStdString());
    EXPECT_EQ("Photo", ControlText(window, 1004).toStdString());
    EXPECT_EQ("Settings", ControlText(window, 1006).toStdString());
    EXPECT_EQ("Camera:", ControlText(window, 1020).toStdString());
    EXPECT_EQ("Microphone:", ControlText(window, 1021).toStdString());
    ui::SkinnedDialog settings(132, 142);
    EXPECT_EQ("Save", ControlText(settings, 1).toStdString());
    EXPECT_EQ("Cancel", ControlText(settings, 2).toStdString());
    // Texts of the code, with their arguments.
    EXPECT_EQ("Please enter a whole number from 3 to 60.",
              DelayDialog::OutOfRangeText(3, 60).toStdString());
    ui::FolderPickerWindow picker(QString::fromStdString(cwd.path().string()));
    EXPECT_EQ("Choose a folder", picker.windowTitle().toStdString());
    // A recording's reason from the engine: its words translated, the folder kept; a device's
    // own text as it is.
    EXPECT_EQ("the disk is full (/v)",
              MainDialog::RecordingFailureReason("磁盘空间不足（/v）").toStdString());
    EXPECT_EQ("no permission to write (/a（b）)",
              MainDialog::RecordingFailureReason("没有写入权限（/a（b））").toStdString());
    EXPECT_EQ("video capture: Device unplugged",
              MainDialog::RecordingFailureReason("video capture: Device unplugged").toStdString());
}

TEST(TranslationTest, AChineseDesktopGetsTheTextsExactlyAsWritten) {
    const InstalledTranslation chinese(ChooseLanguage({nullptr, nullptr, nullptr, "zh_CN.UTF-8"}));
    EXPECT_FALSE(chinese.Active());
    for (const int id : ui::AvailableDialogTemplates()) {
        ui::SkinnedDialog dialog(id, 0);
        for (const ui::ControlTemplate& control : dialog.Template().controls) {
            if (control.id == ui::kStaticControlId || control.kind == ui::ControlKind::Icon)
                continue;
            QWidget* widget = dialog.Control(control.id);
            ASSERT_NE(widget, nullptr) << id << "/" << control.id;
            QString shown;
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                shown = button->text();
            else if (auto* label = qobject_cast<QLabel*>(widget))
                shown = label->text();
            else
                continue;
            EXPECT_EQ(control.text.toUtf8().toStdString(), shown.toUtf8().toStdString())
                << "template " << id << " control " << control.id;
        }
    }
    EXPECT_EQ("请输入一个介于 3 和 60 之间的整数。",
              DelayDialog::OutOfRangeText(3, 60).toStdString());
    EXPECT_EQ("磁盘空间不足（/v）",
              MainDialog::RecordingFailureReason("磁盘空间不足（/v）").toStdString());
}

// The build's check, on a small set of its own: one source file, one translation file.
class TranslationCheckTest : public ::testing::Test {
protected:
    int RunCheck(std::string* output) {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QStringLiteral(KELO_PYTHON),
                    {QStringLiteral(KELO_TRANSLATIONS_SCRIPT), QStringLiteral("check"),
                     QStringLiteral("--lupdate"), QStringLiteral(KELO_LUPDATE),
                     QStringLiteral("--ts"), Path("studio_en.ts"), Path("src")});
        EXPECT_TRUE(check.waitForFinished(60000));
        *output = check.readAll().toStdString();
        return check.exitStatus() == QProcess::NormalExit ? check.exitCode() : -1;
    }
    QString Path(const char* name) const {
        return QString::fromStdString((dir.path() / name).string());
    }
    void Write(const char* name, const std::string& text) {
        std::filesystem::create_directories((dir.path() / name).parent_path());
        std::ofstream(dir.path() / name) << text;
    }
    static std::string Ts(const std::string& translation) {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
               "<TS version=\"2.1\" language=\"en\" sourcelanguage=\"zh_CN\">\n<context>\n"
               "<name>Window</name>\n<message>\n<source>拍照</source>\n" +
               translation + "\n</message>\n</context>\n</TS>\n";
    }
    test::TempDir dir;
};

TEST_F(TranslationCheckTest, FailsOnATextWithoutTranslationAndPassesOnceTranslated) {
    Write("src/window.cpp",
          "#include <QCoreApplication>\n"
          "QString A() { return QCoreApplication::translate(\"Window\", \"拍照\"); }\n"
          "QString B() { return QCoreApplication::translate(\"Window\", \"录制\"); }\n");
    Write("studio_en.ts", Ts("<translation>Photo</translation>"));
    std::string output;
    EXPECT_EQ(1, RunCheck(&output)) << output;
    EXPECT_NE(output.find("[Window] 录制"), std::string::npos) << output;
    EXPECT_EQ(output.find("拍照"), std::string::npos) << output;

    // An entry left unfinished counts as missing too.
    Write("src/window.cpp",
          "#include <QCoreApplication>\n"
          "QString A() { return QCoreApplication::translate(\"Window\", \"拍照\"); }\n");
    Write("studio_en.ts", Ts("<translation type=\"unfinished\">Photo</translation>"));
    EXPECT_EQ(1, RunCheck(&output)) << output;
    EXPECT_NE(output.find("[Window] 拍照"), std::string::npos) << output;

    Write("studio_en.ts", Ts("<translation>Photo</translation>"));
    EXPECT_EQ(0, RunCheck(&output)) << output;
}

} // namespace
} // namespace kelo
