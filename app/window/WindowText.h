// A text of the main window, written down once in Chinese and translated each time it is shown:
// constants like these are made before the application installs its translator, so they keep
// the source text (marked for lupdate with QT_TRANSLATE_NOOP in the window's context) and turn
// into the shown text where they are used.
//
//     const WindowText kNoticeCaption{QT_TRANSLATE_NOOP("kelo::MainDialog", "温馨提示")};
//     ui::ShowMessageBox(this, text, kNoticeCaption);
#pragma once

#include <QCoreApplication>
#include <QString>

namespace kelo {

struct WindowText {
    const char* source;

    QString Text() const { return QCoreApplication::translate("kelo::MainDialog", source); }
    operator QString() const { return Text(); }
};

} // namespace kelo
