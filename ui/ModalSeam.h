// The one road every message box and modal dialog of the studio takes. In the program it shows
// the box or runs the dialog's own event loop; tests install a handler that records what would
// have been shown and answers it, so that no test ever blocks on a window nobody can click.
// All of this runs on the window thread.
#pragma once

#include <functional>
#include <QString>
#include <vector>

class QDialog;
class QWidget;

namespace kelo::ui {

// Results as the platform numbers them (a dialog ended by OK returns IDOK, and so on).
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum class MessageBoxStyle { Ok, OkCancel, YesNo };

struct MessageBoxRequest {
    QWidget* owner = nullptr; // may be null: the application's box
    QString text;
    QString caption;
    MessageBoxStyle style = MessageBoxStyle::Ok;
};

// Answers a message box with IDOK, IDCANCEL, IDYES or IDNO.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;
// Drives a modal dialog (already shown, not yet run) and returns the result it ended with.
using ModalDialogHandler = std::function<int(QDialog&)>;

// Shows a message box owned by `owner` and returns the button pressed.
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                   MessageBoxStyle style = MessageBoxStyle::Ok);

// The text a message box shows: lines longer than kMessageBoxMaxLineChars cut in the middle,
// and no more than kMessageBoxMaxLines lines, so that a box about a very long path still fits
// on the screen with its buttons. The box then shows the whole text in its details.
constexpr int kMessageBoxMaxLineChars = 120;
constexpr int kMessageBoxMaxLines = 20;
QString ElideForMessageBox(const QString& text);

// The application's message box: no owner, the application's title as caption.
int AfxMessageBox(const QString& text, MessageBoxStyle style = MessageBoxStyle::Ok);

// The application's title: the caption of AfxMessageBox.
QString ApplicationTitle();

// Runs `dialog` modally and returns its result (QDialog::Accepted = 1 = IDOK, or the code
// given to done()).
int RunModalDialog(QDialog& dialog);

// Installs a handler for the scope's lifetime and puts the previous one back afterwards.
class ScopedMessageBoxHandler {
public:
    explicit ScopedMessageBoxHandler(MessageBoxHandler handler);
    ScopedMessageBoxHandler(const ScopedMessageBoxHandler&) = delete;
    ScopedMessageBoxHandler& operator=(const ScopedMessageBoxHandler&) = delete;
    ~ScopedMessageBoxHandler();

private:
    MessageBoxHandler previous_;
};

class ScopedModalDialogHandler {
public:
    explicit ScopedModalDialogHandler(ModalDialogHandler handler);
    ScopedModalDialogHandler(const ScopedModalDialogHandler&) = delete;
    ScopedModalDialogHandler& operator=(const ScopedModalDialogHandler&) = delete;
    ~ScopedModalDialogHandler();

private:
    ModalDialogHandler previous_;
};

// Records every message box shown while it lives and answers each with a fixed button.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = IDOK);
    const std::vector<MessageBoxRequest>& Requests() const { return requests_; }
    void SetAnswer(int answer) { answer_ = answer; }

private:
    std::vector<MessageBoxRequest> requests_;
    int answer_;
    ScopedMessageBoxHandler scope_;
};

} // namespace kelo::ui
