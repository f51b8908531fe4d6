#include "ui/ModalSeam.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace kelo::ui {
namespace {

// Window thread only.
MessageBoxHandler& CurrentMessageBoxHandler() {
    static MessageBoxHandler handler;
    return handler;
}

ModalDialogHandler& CurrentModalDialogHandler() {
    static ModalDialogHandler handler;
    return handler;
}

int ShowRealMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(request.owner);
    box.setWindowTitle(request.caption);
    const QString shown = ElideForMessageBox(request.text);
    box.setText(shown);
    // What was cut stays readable, in the scrolling details.
    if (shown != request.text)
        box.setDetailedText(request.text);
    box.setIcon(request.style == MessageBoxStyle::YesNo ? QMessageBox::Question
                                                        : QMessageBox::Information);
    switch (request.style) {
    case MessageBoxStyle::Ok:
        box.addButton(QCoreApplication::translate("MessageBox", "确定"), QMessageBox::AcceptRole);
        break;
    case MessageBoxStyle::OkCancel:
        box.addButton(QCoreApplication::translate("MessageBox", "确定"), QMessageBox::AcceptRole);
        box.setEscapeButton(static_cast<QAbstractButton*>(box.addButton(
            QCoreApplication::translate("MessageBox", "取消"), QMessageBox::RejectRole)));
        break;
    case MessageBoxStyle::YesNo:
        box.addButton(QCoreApplication::translate("MessageBox", "是"), QMessageBox::YesRole);
        box.setEscapeButton(static_cast<QAbstractButton*>(
            box.addButton(QCoreApplication::translate("MessageBox", "否"), QMessageBox::NoRole)));
        break;
    }
    box.exec();
    const auto role = box.buttonRole(box.clickedButton());
    switch (request.style) {
    case MessageBoxStyle::Ok:
        return IDOK;
    case MessageBoxStyle::OkCancel:
        return role == QMessageBox::AcceptRole ? IDOK : IDCANCEL;
    case MessageBoxStyle::YesNo:
        return role == QMessageBox::YesRole ? IDYES : IDNO;
    }
    return IDCANCEL;
}

} // namespace

QString ElideForMessageBox(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList shown;
    for (const QString& line : lines) {
        if (shown.size() == kMessageBoxMaxLines) {
            shown << QStringLiteral("…");
            break;
        }
        // A path keeps its beginning and its end (the file's own name), cut in the middle.
        if (line.size() > kMessageBoxMaxLineChars) {
            const qsizetype head = kMessageBoxMaxLineChars / 3;
            const qsizetype tail = kMessageBoxMaxLineChars - head - 1;
            shown << line.left(head) + QStringLiteral("…") + line.right(tail);
        } else {
            shown << line;
        }
    }
    return shown.join(QLatin1Char('\n'));
}

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                   MessageBoxStyle style) {
    const MessageBoxRequest request{owner, text, caption, style};
    if (const auto& handler = CurrentMessageBoxHandler()) {
        return handler(request);
    }
    return ShowRealMessageBox(request);
}

int AfxMessageBox(const QString& text, MessageBoxStyle style) {
    return ShowMessageBox(nullptr, text, ApplicationTitle(), style);
}

QString ApplicationTitle() {
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QCoreApplication::translate("MessageBox", "Kelo 摄像头工作室") : name;
}

int RunModalDialog(QDialog& dialog) {
    if (const auto& handler = CurrentModalDialogHandler()) {
        // Shown as the real run would show it, so that show-time initialisation has happened
        // before the handler looks at the dialog.
        dialog.setModal(true);
        dialog.show();
        const int result = handler(dialog);
        dialog.hide();
        return result;
    }
    return dialog.exec();
}

ScopedMessageBoxHandler::ScopedMessageBoxHandler(MessageBoxHandler handler)
    : previous_(std::exchange(CurrentMessageBoxHandler(), std::move(handler))) {}

ScopedMessageBoxHandler::~ScopedMessageBoxHandler() {
    CurrentMessageBoxHandler() = std::move(previous_);
}

ScopedModalDialogHandler::ScopedModalDialogHandler(ModalDialogHandler handler)
    : previous_(std::exchange(CurrentModalDialogHandler(), std::move(handler))) {}

ScopedModalDialogHandler::~ScopedModalDialogHandler() {
    CurrentModalDialogHandler() = std::move(previous_);
}

MessageBoxRecorder::MessageBoxRecorder(int answer)
    : answer_(answer), scope_([this](const MessageBoxRequest& request) {
          requests_.push_back(request);
          return answer_;
      }) {}

} // namespace kelo::ui
