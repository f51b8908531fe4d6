// The capture commands of the main window: snapshot, delayed snapshot (timer 1), record, stop,
// full screen, settings, and the keys the window intercepts. Window thread.
#include "app/MainDialog.h"

#include <QKeyEvent>

namespace kelo {

void MainDialog::OnSnapshot() {}

void MainDialog::OnDelay() {}

void MainDialog::OnTimer(int timerId) {
    (void)timerId;
}

void MainDialog::OnRecord() {}

void MainDialog::OnStop() {}

void MainDialog::OnFullScreen() {
    if (engine)
        (void)engine->EnterFullScreen(); // always S_OK
}

void MainDialog::OnSettings() {}

bool MainDialog::PreTranslateMessage(const QKeyEvent& event) {
    // Escape, Space and Enter leave full screen and never close the window or press a button.
    switch (event.key()) {
    case Qt::Key_Escape:
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (engine)
            (void)engine->LeaveFullScreen(); // always S_OK
        return true;
    default:
        return false;
    }
}

} // namespace kelo
