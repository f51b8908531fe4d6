// Dialog templates: every control of a dialog with its id, kind, text, rectangle in dialog
// units and style, read from the text files in res/dialogs (compiled in as Qt resources).
#pragma once

#include <optional>
#include <QRect>
#include <QString>
#include <vector>

namespace kelo::ui {

// Id of controls that code never looks up (labels, frames).
constexpr int kStaticControlId = -1;

enum class ControlKind {
    Static,    // text label
    BlackRect, // black rectangle
    Icon,      // picture: the text is the icon number
    GroupBox,
    Button,
    CheckBox,
    Radio,
    Edit,
    Combo, // drop-down list; the template height includes the list
    Trackbar,
    UpDown,
    Tab,
};

struct ControlTemplate {
    int id = kStaticControlId;
    ControlKind kind = ControlKind::Static;
    QString text;
    QRect rectDu; // dialog units
    bool hidden = false;
    bool groupStart = false;
    bool defaultButton = false;
    bool disabled = false;
    bool autoBuddy = false; // up-down control bound to the control before it
};

struct DialogTemplate {
    int id = 0;
    QSize sizeDu; // client area, dialog units
    QString fontFace;
    QString caption;
    // Styles of the window.
    bool child = false; // a page inside another window
    bool hasCaption = false;
    bool sizing = false;
    bool minimizeBox = false;
    std::vector<ControlTemplate> controls;

    // The control with this id (the first one, as the platform finds it), or null.
    const ControlTemplate* Find(int controlId) const;
};

// Parses the text of a template file; on failure returns nothing and describes the first
// fault (with its line number) in `error`.
std::optional<DialogTemplate> ParseDialogTemplate(const QString& text, QString* error = nullptr);

// Loads template `id` from the compiled-in resources (":/kelo/dialogs/<id>.dlg"). A missing or
// malformed template is a fault of the build: it returns nothing and says why in `error`.
std::optional<DialogTemplate> LoadDialogTemplate(int id, QString* error = nullptr);

// The ids of every compiled-in template, ascending.
std::vector<int> AvailableDialogTemplates();

} // namespace kelo::ui
