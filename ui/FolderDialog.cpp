#include "ui/FolderDialog.h"

#include "ui/ModalSeam.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace kelo::ui {

FolderPickerWindow::FolderPickerWindow(const QString& startFolder, QWidget* owner)
    : QFileDialog(owner) {
    // Qt's own dialog: the platform's native one could not be told which button means what.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(tr(CFolderDialog::kTitle));
    setLabelText(QFileDialog::Accept, tr(CFolderDialog::kChooseText));
    setLabelText(QFileDialog::Reject, tr("取消"));
    setLabelText(QFileDialog::LookIn, tr("查找范围:"));
    setDirectory(startFolder);
    // Only the folder view matters: hide the file name and file type rows.
    for (const char* name : {"fileNameEdit", "fileNameLabel", "fileTypeCombo", "fileTypeLabel"}) {
        if (auto* child = findChild<QWidget*>(QLatin1String(name))) {
            child->hide();
        }
    }
}

QAbstractButton* FolderPickerWindow::ChooseButton() const {
    auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

void FolderPickerWindow::accept() {
    // The folder being shown, not an entry highlighted in it: QFileDialog::accept would go into
    // a highlighted folder instead of ending.
    chosen_ = QDir::cleanPath(directory().absolutePath());
    QDialog::accept();
}

CFolderDialog::CFolderDialog(QString& result) : result_(result) {}

int CFolderDialog::DoModal() {
    FolderPickerWindow picker(QDir::currentPath());
    const int result = RunModalDialog(picker);
    if (result != QDialog::Accepted || picker.ChosenFolder().isEmpty()) {
        return IDCANCEL;
    }
    result_ = QDir::toNativeSeparators(picker.ChosenFolder());
    return IDOK;
}

} // namespace kelo::ui
