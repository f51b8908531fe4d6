// The folder picker. It is bound to a text that receives the result: DoModal returns IDOK when
// the user pressed "选择", and the text then holds the full path of the folder the picker was
// showing at that moment (whatever entry was highlighted in it; no trailing separator except
// for the root). Any other result means cancelled and leaves the text as it was. The picker
// never changes the working directory.
#pragma once

#include <QFileDialog>
#include <QString>

class QAbstractButton;
class QWidget;

namespace kelo::ui {

// The picker's window: a file dialog listing folders only, without the file name and file
// type rows, titled "选择文件夹", whose accept button reads "选择".
class FolderPickerWindow : public QFileDialog {
    Q_OBJECT
public:
    explicit FolderPickerWindow(const QString& startFolder, QWidget* owner = nullptr);

    // The folder shown when "选择" was pressed (empty before).
    const QString& ChosenFolder() const { return chosen_; }
    // The accept button ("选择").
    QAbstractButton* ChooseButton() const;

    void accept() override;

private:
    QString chosen_;
};

class CFolderDialog {
public:
    static constexpr const char* kTitle =
        QT_TRANSLATE_NOOP("kelo::ui::FolderPickerWindow", "选择文件夹");
    static constexpr const char* kChooseText =
        QT_TRANSLATE_NOOP("kelo::ui::FolderPickerWindow", "选择");

    // Starts in the working directory; no owner window.
    explicit CFolderDialog(QString& result);
    int DoModal();

private:
    QString& result_;
};

} // namespace kelo::ui
