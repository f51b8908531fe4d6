#include "ui/DialogTemplate.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QStringList>

// Compiled-in resources of a static library must be registered by name.
static void InitKeloResources() {
    Q_INIT_RESOURCE(kelo_res);
}

namespace kelo::ui {
namespace {

void EnsureResources() {
    static const bool once = (InitKeloResources(), true);
    (void)once;
}

// Splits a line into words; a word in double quotes may hold blanks and the escapes \" and \\.
// Quoted words keep a leading '"' marker so that "" (an empty text) stays a word.
bool Tokenise(const QString& line, QStringList& words, QString& error) {
    words.clear();
    int i = 0;
    const int n = static_cast<int>(line.size());
    while (i < n) {
        if (line[i].isSpace()) {
            ++i;
            continue;
        }
        if (line[i] == u'"') {
            QString word = QStringLiteral("\"");
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = line[i++];
                if (c == u'\\' && i < n) {
                    word += line[i++];
                } else if (c == u'"') {
                    closed = true;
                    break;
                } else {
                    word += c;
                }
            }
            if (!closed) {
                error = QStringLiteral("unterminated text");
                return false;
            }
            words << word;
            continue;
        }
        const int start = i;
        while (i < n && !line[i].isSpace()) {
            ++i;
        }
        words << line.mid(start, i - start);
    }
    return true;
}

bool IsText(const QString& word) {
    return word.startsWith(u'"');
}

std::optional<ControlKind> KindFromName(const QString& name) {
    static const std::pair<const char*, ControlKind> kinds[] = {
        {"static", ControlKind::Static}, {"blackrect", ControlKind::BlackRect},
        {"icon", ControlKind::Icon},     {"groupbox", ControlKind::GroupBox},
        {"button", ControlKind::Button}, {"checkbox", ControlKind::CheckBox},
        {"radio", ControlKind::Radio},   {"edit", ControlKind::Edit},
        {"combo", ControlKind::Combo},   {"trackbar", ControlKind::Trackbar},
        {"updown", ControlKind::UpDown}, {"tab", ControlKind::Tab},
    };
    for (const auto& [text, kind] : kinds) {
        if (name == QLatin1String(text)) {
            return kind;
        }
    }
    return std::nullopt;
}

bool ToInt(const QString& word, int& value) {
    bool ok = false;
    value = word.toInt(&ok);
    return ok;
}

bool ParseDialogLine(const QStringList& w, DialogTemplate& dialog, QString& error) {
    // dialog ID W H font "FACE" caption "TEXT" [STYLE...]
    int width = 0;
    int height = 0;
    if (w.size() < 8 || !ToInt(w[1], dialog.id) || !ToInt(w[2], width) || !ToInt(w[3], height) ||
        w[4] != QLatin1String("font") || !IsText(w[5]) || w[6] != QLatin1String("caption") ||
        !IsText(w[7]) || width <= 0 || height <= 0) {
        error = QStringLiteral("expected: dialog ID WIDTH HEIGHT font \"FACE\" caption \"TEXT\"");
        return false;
    }
    dialog.sizeDu = QSize(width, height);
    dialog.fontFace = w[5].mid(1);
    dialog.caption = w[7].mid(1);
    for (qsizetype i = 8; i < w.size(); ++i) {
        const QString& style = w[i];
        if (style == QLatin1String("child")) {
            dialog.child = true;
        } else if (style == QLatin1String("caption")) {
            dialog.hasCaption = true;
        } else if (style == QLatin1String("sizing")) {
            dialog.sizing = true;
        } else if (style == QLatin1String("minimize")) {
            dialog.minimizeBox = true;
        } else if (style != QLatin1String("popup") && style != QLatin1String("border") &&
                   style != QLatin1String("appwindow")) {
            error = QStringLiteral("unknown dialog style '%1'").arg(style);
            return false;
        }
    }
    return true;
}

bool ParseControlLine(const QStringList& w, ControlTemplate& control, QString& error) {
    // ID KIND X Y W H "TEXT" [FLAG...]
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    if (w.size() < 7 || !ToInt(w[0], control.id) || !ToInt(w[2], x) || !ToInt(w[3], y) ||
        !ToInt(w[4], width) || !ToInt(w[5], height) || !IsText(w[6])) {
        error = QStringLiteral("expected: ID KIND X Y WIDTH HEIGHT \"TEXT\" [FLAG...]");
        return false;
    }
    const auto kind = KindFromName(w[1]);
    if (!kind) {
        error = QStringLiteral("unknown control kind '%1'").arg(w[1]);
        return false;
    }
    if (width < 0 || height < 0) {
        error = QStringLiteral("negative size");
        return false;
    }
    control.kind = *kind;
    control.rectDu = QRect(x, y, width, height);
    control.text = w[6].mid(1);
    for (qsizetype i = 7; i < w.size(); ++i) {
        const QString& flag = w[i];
        if (flag == QLatin1String("hidden")) {
            control.hidden = true;
        } else if (flag == QLatin1String("group")) {
            control.groupStart = true;
        } else if (flag == QLatin1String("default")) {
            control.defaultButton = true;
        } else if (flag == QLatin1String("disabled")) {
            control.disabled = true;
        } else if (flag == QLatin1String("autobuddy")) {
            control.autoBuddy = true;
        } else {
            error = QStringLiteral("unknown flag '%1'").arg(flag);
            return false;
        }
    }
    return true;
}

} // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    const auto it =
        std::find_if(controls.begin(), controls.end(),
                     [controlId](const ControlTemplate& c) { return c.id == controlId; });
    return it == controls.end() ? nullptr : &*it;
}

std::optional<DialogTemplate> ParseDialogTemplate(const QString& text, QString* error) {
    DialogTemplate dialog;
    bool haveHeader = false;
    QStringList words;
    const QStringList lines = text.split(u'\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QString line = lines[number].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        QString fault;
        bool ok = Tokenise(line, words, fault);
        if (ok && words.first() == QLatin1String("dialog")) {
            if (haveHeader) {
                fault = QStringLiteral("a second dialog line");
                ok = false;
            } else {
                ok = ParseDialogLine(words, dialog, fault);
                haveHeader = ok;
            }
        } else if (ok && !haveHeader) {
            fault = QStringLiteral("control before the dialog line");
            ok = false;
        } else if (ok) {
            ControlTemplate control;
            ok = ParseControlLine(words, control, fault);
            if (ok) {
                dialog.controls.push_back(control);
            }
        }
        if (!ok) {
            if (error) {
                *error = QStringLiteral("line %1: %2").arg(number + 1).arg(fault);
            }
            return std::nullopt;
        }
    }
    if (!haveHeader) {
        if (error) {
            *error = QStringLiteral("no dialog line");
        }
        return std::nullopt;
    }
    return dialog;
}

std::optional<DialogTemplate> LoadDialogTemplate(int id, QString* error) {
    EnsureResources();
    QFile file(QStringLiteral(":/kelo/dialogs/%1.dlg").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = QStringLiteral("no template %1").arg(id);
        }
        return std::nullopt;
    }
    QString fault;
    auto dialog = ParseDialogTemplate(QString::fromUtf8(file.readAll()), &fault);
    if (dialog && dialog->id != id) {
        fault = QStringLiteral("the file holds template %1").arg(dialog->id);
        dialog.reset();
    }
    if (!dialog && error) {
        *error = QStringLiteral("template %1: %2").arg(id).arg(fault);
    }
    return dialog;
}

std::vector<int> AvailableDialogTemplates() {
    EnsureResources();
    std::vector<int> ids;
    const QStringList names = QDir(QStringLiteral(":/kelo/dialogs")).entryList({"*.dlg"});
    for (const QString& name : names) {
        bool ok = false;
        const int id = name.chopped(4).toInt(&ok);
        if (ok) {
            ids.push_back(id);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace kelo::ui
