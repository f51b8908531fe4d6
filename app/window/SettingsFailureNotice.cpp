#include "app/window/SettingsFailureNotice.h"

#include "app/settings/SettingsStore.h"
#include "app/window/WindowLog.h"
#include "ui/ModalSeam.h"

#include <QMetaObject>
#include <QWidget>

namespace kelo {

SettingsFailureNotice::SettingsFailureNotice(QWidget* window) : QObject(window), window_(window) {
    SetSettingsWriteFailureHandler([this](const std::string& path, int error) {
        const QString text = QString::fromStdString(SettingsWriteFailureText(path, error));
        // Queued even on the window thread: the write is inside a click or a slider move.
        QMetaObject::invokeMethod(
            this, [this, text] { Say(text); }, Qt::QueuedConnection);
    });
}

SettingsFailureNotice::~SettingsFailureNotice() {
    // Calls still queued die with this object.
    SetSettingsWriteFailureHandler(nullptr);
}

void SettingsFailureNotice::Say(const QString& text) {
    if (!logged_.contains(text)) {
        logged_.insert(text);
        qCWarning(lcWindow).noquote() << text;
    }
    if (shown_)
        return;
    shown_ = true;
    ui::ShowMessageBox(window_, text, QStringLiteral("温馨提示"));
}

} // namespace kelo
