// Builds the controls of a dialog template as child widgets of a window and finds them again
// by their numeric ids, as the windows' code addresses them.
#pragma once

#include "ui/DialogTemplate.h"

#include <QRect>
#include <QWidget>

namespace kelo::ui {

// Base units of the dialog font: 6 x 12 pixels, so one dialog unit is 1.5 pixels both ways.
struct DialogBaseUnits {
    int x = 6;
    int y = 12;
};

// Dialog units to pixels: x * baseX / 4 and y * baseY / 8, rounded to the nearest pixel (halves
// away from zero), the way the platform maps a dialog rectangle.
QRect DialogUnitsToPixels(const QRect& rectDu, DialogBaseUnits units = {});
QSize DialogUnitsToPixels(const QSize& sizeDu, DialogBaseUnits units = {});

// Creates every control of `dialogTemplate` as a child of `window`, in template order (which is
// also the keyboard order), at its pixel rectangle. Push buttons are IconButtons, trackbars
// SkinnedTrackbars, the tab control a SkinnedTabControl, up-down controls UpDownControls;
// radio buttons form one exclusive group from each `group` flag to the next. Hidden controls
// stay hidden when the window is shown.
void BuildControls(const DialogTemplate& dialogTemplate, QWidget& window,
                   DialogBaseUnits units = {});

// A text of a dialog template (caption or control text) in the language the application
// speaks: the template's Chinese text unless a translator installed in the application has
// it (context "DialogTemplate").
QString TemplateText(const QString& text);

// The control `id` among the direct children of `window`, or null.
QWidget* FindControl(const QWidget& window, int id);

template <class T> T* FindControl(const QWidget& window, int id) {
    return qobject_cast<T*>(FindControl(window, id));
}

// The id a control was built with (kStaticControlId for none).
int ControlId(const QWidget& control);

// The control's rectangle in the template, in dialog units.
QRect ControlRectDu(const QWidget& control);

// Radio groups, by the id of their first button (the one with the `group` flag), as the
// platform's radio exchange sees them: the index of the checked button in template order, or
// -1 when none is checked. Setting -1 unchecks all. Out-of-range indices uncheck all.
int GetRadioChoice(const QWidget& window, int firstId);
void SetRadioChoice(QWidget& window, int firstId, int index);

} // namespace kelo::ui
