// The window's word on settings that could not be saved (a read-only data.ini or folder, a full
// disk): the first failure is shown in a box of the window, "设置无法保存：" with the file and the
// reason; every different failure is logged (kelo.window). Later failures do not interrupt the
// user again: a slider that cannot store its value would otherwise open a box per move.
//
// Threads: made and destroyed on the window thread; a write that fails on any thread reaches it
// by a queued call, so the box never opens inside the action that wrote.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QWidget;

namespace kelo {

class SettingsFailureNotice : public QObject {
public:
    // Installs itself as the settings' failure handler until it is destroyed.
    explicit SettingsFailureNotice(QWidget* window);
    ~SettingsFailureNotice() override;
    SettingsFailureNotice(const SettingsFailureNotice&) = delete;
    SettingsFailureNotice& operator=(const SettingsFailureNotice&) = delete;

    bool shown() const { return shown_; }

private:
    void Say(const QString& text); // window thread

    QWidget* window_;
    bool shown_ = false;
    QSet<QString> logged_;
};

} // namespace kelo
