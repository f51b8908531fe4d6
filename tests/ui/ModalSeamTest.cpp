// The modal seam (message boxes and modal runs that tests record and answer) and the folder
// picker driven through it.
#include "ui/ModalSeam.h"

#include "support/TestSupport.h"
#include "ui/FolderDialog.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace kelo::ui {
namespace {

namespace fs = std::filesystem;

class ModalSeamTest : public testing::Test {
protected:
    test::IsolatedDirectory dir_;
};

TEST_F(ModalSeamTest, MessageBoxesAreRecordedAndAnswered) {
    QWidget owner;
    {
        MessageBoxRecorder recorder(IDCANCEL);
        EXPECT_EQ(ShowMessageBox(&owner, QStringLiteral("请插入USB无视频设备!"),
                                 QStringLiteral("温馨提示"), MessageBoxStyle::OkCancel),
                  IDCANCEL);
        QApplication::setApplicationDisplayName(QStringLiteral("Kelo"));
        EXPECT_EQ(AfxMessageBox(QStringLiteral("无音频设备")), IDCANCEL);
        ASSERT_EQ(recorder.Requests().size(), 2u);
        EXPECT_EQ(recorder.Requests()[0].owner, &owner);
        EXPECT_EQ(recorder.Requests()[0].text, QStringLiteral("请插入USB无视频设备!"));
        EXPECT_EQ(recorder.Requests()[0].caption, QStringLiteral("温馨提示"));
        EXPECT_EQ(recorder.Requests()[0].style, MessageBoxStyle::OkCancel);
        // The application's box: no owner, the application's title.
        EXPECT_EQ(recorder.Requests()[1].owner, nullptr);
        EXPECT_EQ(recorder.Requests()[1].caption, QStringLiteral("Kelo"));

        // An inner handler wins while it lives, then the outer one answers again.
        {
            MessageBoxRecorder inner(IDYES);
            EXPECT_EQ(AfxMessageBox(QStringLiteral("x"), MessageBoxStyle::YesNo), IDYES);
            EXPECT_EQ(inner.Requests().size(), 1u);
        }
        EXPECT_EQ(AfxMessageBox(QStringLiteral("y")), IDCANCEL);
        EXPECT_EQ(recorder.Requests().size(), 3u);
    }
}

TEST_F(ModalSeamTest, ARealMessageBoxCanBeAnsweredFromTheEventLoop) {
    // Without a handler the box really runs; it reports the button that was pressed.
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->isVisible() && top->windowTitle() == QStringLiteral("提示")) {
                for (auto* button : top->findChildren<QAbstractButton*>()) {
                    if (button->text() == QStringLiteral("否")) {
                        button->click();
                    }
                }
            }
        }
    });
    EXPECT_EQ(ShowMessageBox(nullptr, QStringLiteral("继续?"), QStringLiteral("提示"),
                             MessageBoxStyle::YesNo),
              IDNO);
}

TEST_F(ModalSeamTest, ABoxAboutAVeryLongPathFitsOnTheScreenAndKeepsTheWholePathInItsDetails) {
    const QString path = QStringLiteral("/home/someone/") + QString(120 * 1024, QLatin1Char('d')) +
                         QStringLiteral("/14-03-27 12.08.2026.jpg");
    const QString text = QStringLiteral("照片保存失败：") + path;
    QRect box;
    QRect button;
    QRect screen;
    QString details;
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* shown = qobject_cast<QMessageBox*>(top);
            if (!shown || !shown->isVisible())
                continue;
            box = shown->frameGeometry();
            screen = shown->screen()->availableGeometry();
            details = shown->detailedText();
            QAbstractButton* ok = shown->button(QMessageBox::Ok) ? shown->button(QMessageBox::Ok)
                                                                 : shown->buttons().first();
            button = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
            ok->click();
        }
    });
    EXPECT_EQ(ShowMessageBox(nullptr, text, QStringLiteral("提示")), IDOK);
    EXPECT_TRUE(screen.contains(box)) << box.width() << " x " << box.height();
    EXPECT_TRUE(screen.contains(button));
    EXPECT_EQ(details, text);
    const QString elided = ElideForMessageBox(text);
    EXPECT_TRUE(elided.startsWith(QStringLiteral("照片保存失败：/home/someone/")));
    EXPECT_TRUE(elided.endsWith(QStringLiteral("/14-03-27 12.08.2026.jpg")));
    EXPECT_EQ(ElideForMessageBox(QStringLiteral("请插入USB无视频设备!")),
              QStringLiteral("请插入USB无视频设备!"));
}

// Drives the picker: shows `folder` (highlighting `highlight` in it when given) and presses
// "选择"; or cancels when `folder` is empty.
ModalDialogHandler PickFolder(const fs::path& folder, const QString& highlight = {}) {
    return [folder, highlight](QDialog& dialog) {
        auto* picker = qobject_cast<FolderPickerWindow*>(&dialog);
        EXPECT_NE(picker, nullptr);
        if (!picker) {
            return int(QDialog::Rejected);
        }
        if (folder.empty()) {
            picker->reject();
            return picker->result();
        }
        picker->setDirectory(QString::fromStdString(folder.string()));
        if (!highlight.isEmpty()) {
            picker->selectFile(highlight);
        }
        QAbstractButton* choose = picker->ChooseButton();
        EXPECT_NE(choose, nullptr);
        if (choose) {
            EXPECT_EQ(choose->text(), QStringLiteral("选择"));
            EXPECT_TRUE(choose->isEnabled());
            choose->click();
        }
        return picker->result();
    };
}

TEST_F(ModalSeamTest, FolderPickerReturnsTheFolderItShowsWhenChooseIsPressed) {
    const fs::path shown = dir_.path() / "相片";
    fs::create_directories(shown / "sub");
    const fs::path cwd = fs::current_path();

    QString result = QStringLiteral("unchanged");
    {
        ScopedModalDialogHandler answer(PickFolder(shown, QStringLiteral("sub")));
        CFolderDialog picker(result);
        EXPECT_EQ(picker.DoModal(), IDOK);
    }
    // The folder being shown, not the highlighted subfolder, without a trailing slash.
    EXPECT_EQ(result.toStdString(), shown.string());
    EXPECT_EQ(fs::current_path(), cwd);

    // The root keeps its slash.
    {
        ScopedModalDialogHandler answer(PickFolder("/"));
        CFolderDialog picker(result);
        EXPECT_EQ(picker.DoModal(), IDOK);
    }
    EXPECT_EQ(result, QStringLiteral("/"));
}

TEST_F(ModalSeamTest, FolderPickerCancelledLeavesTheTextAlone) {
    QString result = QStringLiteral("before");
    ScopedModalDialogHandler answer(PickFolder({}));
    CFolderDialog picker(result);
    EXPECT_EQ(picker.DoModal(), IDCANCEL);
    EXPECT_EQ(result, QStringLiteral("before"));
}

TEST_F(ModalSeamTest, FolderPickerShowsOnlyTheFolderView) {
    ScopedModalDialogHandler answer([](QDialog& dialog) -> int {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("选择文件夹"));
        for (const char* name :
             {"fileNameEdit", "fileNameLabel", "fileTypeCombo", "fileTypeLabel"}) {
            auto* child = dialog.findChild<QWidget*>(QLatin1String(name));
            EXPECT_NE(child, nullptr) << name;
            EXPECT_TRUE(child && !child->isVisible()) << name;
        }
        // It starts in the working directory.
        auto* picker = qobject_cast<FolderPickerWindow*>(&dialog);
        EXPECT_EQ(fs::path(picker->directory().absolutePath().toStdString()), fs::current_path());
        dialog.reject();
        return dialog.result();
    });
    QString result;
    CFolderDialog(result).DoModal();
}

} // namespace
} // namespace kelo::ui
