// The settings dialog against a real data.ini in the test's own working directory; the folder
// picker is answered through the modal seam.
#include "app/settings/SettingsDialog.h"

#include "app/settings/SettingsStore.h"
#include "app/settings/UserFolders.h"
#include "support/TestSupport.h"
#include "ui/FolderDialog.h"
#include "ui/IconButton.h"
#include "ui/ModalSeam.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <sstream>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using ui::IDCANCEL;
using ui::IDOK;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class SettingsDialogTest : public testing::Test {
protected:
    fs::path DataIni() const { return dir_.path() / "data.ini"; }

    // Runs the dialog; `drive` plays the user inside the modal run.
    int Run(SettingsDialog& dialog, const std::function<void(SettingsDialog&)>& drive) {
        ui::ScopedModalDialogHandler answer([&](QDialog& shown) {
            // The first modal run is the settings dialog; nested ones (the picker) are
            // answered by the handlers installed inside `drive`.
            drive(dialog);
            return shown.result();
        });
        return dialog.DoModal();
    }

    QString EditText(SettingsDialog& dialog, int id) {
        return dialog.Control<QLineEdit>(id)->text();
    }

    std::vector<int> CheckedSizeButtons(SettingsDialog& dialog) {
        std::vector<int> checked;
        for (int id = 1021; id <= 1025; ++id) {
            if (dialog.Control<QRadioButton>(id)->isChecked()) {
                checked.push_back(id);
            }
        }
        return checked;
    }

    test::IsolatedDirectory dir_;
};

// A picker answer: shows `folder` and presses "选择", after moving the working directory there
// the way the platform's file dialog does while the user browses; an empty folder cancels
// after browsing to `browsed`.
ui::ModalDialogHandler Picker(const fs::path& folder, const fs::path& browsed = {}) {
    return [folder, browsed](QDialog& dialog) {
        auto* picker = qobject_cast<ui::FolderPickerWindow*>(&dialog);
        EXPECT_NE(picker, nullptr);
        if (!picker) {
            return int(QDialog::Rejected);
        }
        if (folder.empty()) {
            if (!browsed.empty()) {
                fs::current_path(browsed);
            }
            picker->reject();
            return picker->result();
        }
        fs::current_path(folder);
        picker->setDirectory(QString::fromStdString(folder.string()));
        picker->ChooseButton()->click();
        return picker->result();
    };
}

TEST_F(SettingsDialogTest, WithoutDataIniShowsTheDefaultsAnd640Checked) {
    SettingsDialog dialog;
    const int result = Run(dialog, [&](SettingsDialog& shown) {
        EXPECT_EQ(EditText(shown, 1005).toStdString(), UserPicturesFolder());
        EXPECT_EQ(EditText(shown, 1007).toStdString(), UserVideosFolder());
        EXPECT_EQ(CheckedSizeButtons(shown), std::vector<int>{1023});
        EXPECT_EQ(shown.PhotoSizeChoice(), 2);
        EXPECT_EQ(shown.SettingsPath(), (dir_.path() / "data.ini").string());
        QTest::keyClick(&shown, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(fs::exists(DataIni())); // reading wrote nothing, Cancel writes nothing
}

TEST_F(SettingsDialogTest, AWorkingDirectoryThatCannotBeReadGivesTheStoresPathNotTheRoot) {
    // The working directory was removed under the running program: the store's relative
    // "data.ini" is the settings file everywhere, never "/data.ini" at the root.
    const fs::path gone = dir_.path() / "gone";
    fs::create_directories(gone);
    test::ScopedWorkingDirectory inside(gone);
    fs::remove(gone);
    SettingsDialog dialog;
    Run(dialog, [&](SettingsDialog& shown) {
        EXPECT_EQ(shown.SettingsPath(), settingsPath());
        EXPECT_EQ(shown.SettingsPath(), "data.ini");
        QTest::keyClick(&shown, Qt::Key_Escape);
    });
}

TEST_F(SettingsDialogTest, StoredValuesAreShownAndSaveWritesWidthThenHeight) {
    WriteFile(DataIni(),
              "[PATCH]\r\nPIC=/srv/相片\r\nREC=/srv/录像\r\n[PICSIZE]\r\nWIDTH=1920\r\n");
    SettingsDialog dialog;
    const int result = Run(dialog, [&](SettingsDialog& shown) {
        EXPECT_EQ(EditText(shown, 1005), QStringLiteral("/srv/相片"));
        EXPECT_EQ(EditText(shown, 1007), QStringLiteral("/srv/录像"));
        EXPECT_EQ(CheckedSizeButtons(shown), std::vector<int>{1025});
        shown.Control<QRadioButton>(1022)->click();
        EXPECT_EQ(shown.PhotoSizeChoice(), 1);
        shown.Control<QAbstractButton>(IDOK)->click(); // "保存"
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ReadFile(DataIni()), "[PATCH]\r\nPIC=/srv/相片\r\nREC=/srv/录像\r\n[PICSIZE]\r\n"
                                   "WIDTH=320\r\nHEIGHT=240\r\n");
}

TEST_F(SettingsDialogTest, UnknownWidthChecksNoneAndSaveWritesNoSize) {
    const std::string before = "[PICSIZE]\r\nWIDTH=800\r\nHEIGHT=600\r\n";
    WriteFile(DataIni(), before);
    SettingsDialog dialog;
    const int result = Run(dialog, [&](SettingsDialog& shown) {
        EXPECT_TRUE(CheckedSizeButtons(shown).empty());
        EXPECT_EQ(shown.PhotoSizeChoice(), -1);
        QTest::keyClick(shown.Control<QLineEdit>(1005), Qt::Key_Return); // Enter = Save
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ReadFile(DataIni()), before);
}

TEST_F(SettingsDialogTest, TheCaptureModeOffersWhatTheCameraHasAndSaveStoresAChange) {
    WriteFile(DataIni(), "[VIDEO]\r\nWIDTH=640\r\nHEIGHT=480\r\nFPS=15\r\n");
    SettingsDialog dialog;
    // A camera of 320 x 240 and 640 x 480 at 15 and 30, and 1280 x 720 at 10 only.
    dialog.SetOfferedModes(
        {{320, 240, 15}, {320, 240, 30}, {640, 480, 15}, {640, 480, 30}, {1280, 720, 10}});
    const int result = Run(dialog, [&](SettingsDialog& shown) {
        EXPECT_TRUE(shown.Control<QRadioButton>(1032)->isChecked()); // 640*480
        EXPECT_TRUE(shown.Control<QRadioButton>(1036)->isChecked()); // 15
        EXPECT_TRUE(shown.Control(1031)->isEnabled());
        EXPECT_TRUE(shown.Control(1033)->isEnabled());  // 1280 x 720 exists, at some rate
        EXPECT_FALSE(shown.Control(1034)->isEnabled()); // no 1920 x 1080
        shown.Control<QRadioButton>(1033)->click();
        // 1280 x 720 has neither 15 nor 30.
        EXPECT_FALSE(shown.Control(1036)->isEnabled());
        EXPECT_FALSE(shown.Control(1037)->isEnabled());
        shown.Control<QRadioButton>(1031)->click();
        EXPECT_TRUE(shown.Control(1037)->isEnabled());
        shown.Control<QRadioButton>(1037)->click();
        shown.Control<QAbstractButton>(IDOK)->click();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(dialog.VideoModeChanged());
    EXPECT_EQ(SettingsStore(DataIni().string()).ReadVideoMode(), (VideoMode{320, 240, 30}));

    // Saved again unchanged: nothing to restart.
    SettingsDialog again;
    Run(again, [&](SettingsDialog& shown) { shown.Control<QAbstractButton>(IDOK)->click(); });
    EXPECT_FALSE(again.VideoModeChanged());
}

TEST_F(SettingsDialogTest, UnusableStoredModesReadAsTheDefault) {
    for (const char* text :
         {"WIDTH=0\r\nHEIGHT=240\r\nFPS=15", "WIDTH=-640\r\nHEIGHT=480",
          "WIDTH=99999\r\nHEIGHT=480", "FPS=0", "FPS=1000", "WIDTH=abc\r\nHEIGHT=720"}) {
        WriteFile(DataIni(), std::string("[VIDEO]\r\n") + text + "\r\n");
        EXPECT_EQ(SettingsStore(DataIni().string()).ReadVideoMode(), kDefaultVideoMode) << text;
    }
    WriteFile(DataIni(), "[VIDEO]\r\nWIDTH=1366\r\nHEIGHT=768\r\nFPS=30\r\n");
    EXPECT_EQ(SettingsStore(DataIni().string()).ReadVideoMode(), (VideoMode{1366, 768, 30}));
}

TEST_F(SettingsDialogTest, ChosenFolderIsStoredAtOnceAndKeptByCancel) {
    const fs::path photos = dir_.path() / "我的相片";
    fs::create_directories(photos);
    SettingsDialog dialog;
    const int result = Run(dialog, [&](SettingsDialog& shown) {
        shown.Control<QRadioButton>(1024)->click(); // a size, then Cancel: not stored
        {
            ui::ScopedModalDialogHandler pick(Picker(photos));
            shown.Control<QAbstractButton>(1006)->click();
        }
        EXPECT_EQ(EditText(shown, 1005).toStdString(), photos.string());
        EXPECT_EQ(ReadFile(DataIni()), "[PATCH]\r\nPIC=" + photos.string() + "\r\n");
        shown.Control<QAbstractButton>(IDCANCEL)->click(); // "取消"
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(ReadFile(DataIni()), "[PATCH]\r\nPIC=" + photos.string() + "\r\n");
}

TEST_F(SettingsDialogTest, RecordFolderGoesToRec) {
    const fs::path videos = dir_.path() / "videos";
    fs::create_directories(videos);
    SettingsDialog dialog;
    Run(dialog, [&](SettingsDialog& shown) {
        ui::ScopedModalDialogHandler pick(Picker(videos));
        shown.Control<QAbstractButton>(1008)->click();
        shown.reject();
    });
    EXPECT_EQ(EditText(dialog, 1007).toStdString(), videos.string());
    EXPECT_EQ(SettingsStore(DataIni().string()).ReadText(SettingId::RecordFolder), videos.string());
}

TEST_F(SettingsDialogTest, ChoosingAFolderLeavesTheWorkingDirectoryAsItWas) {
    const fs::path cwd = fs::current_path();
    const fs::path elsewhere = dir_.path() / "elsewhere";
    fs::create_directories(elsewhere);
    SettingsDialog dialog;
    Run(dialog, [&](SettingsDialog& shown) {
        {
            // The picker moved the working directory while browsing; a confirmed choice...
            ui::ScopedModalDialogHandler pick(Picker(elsewhere));
            shown.Control<QAbstractButton>(1006)->click();
        }
        EXPECT_EQ(fs::current_path(), cwd);
        {
            // ...and a cancelled one both put it back.
            ui::ScopedModalDialogHandler pick(Picker({}, elsewhere));
            shown.Control<QAbstractButton>(1008)->click();
        }
        EXPECT_EQ(fs::current_path(), cwd);
        shown.reject();
    });
    EXPECT_EQ(fs::current_path(), cwd);
    // data.ini stayed where it was: the choice was written to the working directory's file.
    EXPECT_TRUE(fs::exists(DataIni()));
    EXPECT_FALSE(fs::exists(elsewhere / "data.ini"));
    // The cancelled choice wrote no REC.
    EXPECT_EQ(ReadFile(DataIni()), "[PATCH]\r\nPIC=" + elsewhere.string() + "\r\n");
}

TEST_F(SettingsDialogTest, AFolderThatCannotBeStoredIsNotShownAsChosen) {
    WriteFile(DataIni(), "[PATCH]\r\nPIC=/srv/old\r\n");
    // A folder whose name holds a line break cannot be a data.ini value.
    const fs::path odd = dir_.path() / "two\nlines";
    fs::create_directories(odd);
    SettingsDialog dialog;
    Run(dialog, [&](SettingsDialog& shown) {
        ui::ScopedModalDialogHandler pick(Picker(odd));
        shown.Control<QAbstractButton>(1006)->click();
        shown.reject();
    });
    EXPECT_EQ(EditText(dialog, 1005), QStringLiteral("/srv/old"));
    EXPECT_EQ(ReadFile(DataIni()), "[PATCH]\r\nPIC=/srv/old\r\n");
}

TEST_F(SettingsDialogTest, ButtonsAreSkinnedIconButtons) {
    SettingsDialog dialog;
    dialog.Create();
    for (int id : {IDOK, IDCANCEL, 1006, 1008}) {
        auto* button = dialog.Control<ui::IconButton>(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(button->IsTransparent()) << id;
        EXPECT_FALSE(button->IconPixmap().isNull()) << id;
    }
    EXPECT_EQ(dialog.Control<ui::IconButton>(IDOK)->CurrentTextColor(), QColor(15, 15, 60));
    EXPECT_FALSE(dialog.Skin().isNull());
}

} // namespace
} // namespace kelo
