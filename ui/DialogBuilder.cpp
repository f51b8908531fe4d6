#include "ui/DialogBuilder.h"

#include "ui/IconButton.h"
#include "ui/Skin.h"
#include "ui/SkinnedTabControl.h"
#include "ui/SkinnedTrackbar.h"
#include "ui/UpDownControl.h"

#include <cmath>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace kelo::ui {
namespace {

constexpr const char* kIdProperty = "kelo.controlId";
constexpr const char* kRectProperty = "kelo.rectDu";

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

QString RadioGroupName(int firstId) {
    return QStringLiteral("kelo.radioGroup.%1").arg(firstId);
}

QButtonGroup* FindRadioGroup(const QWidget& window, int firstId) {
    return window.findChild<QButtonGroup*>(RadioGroupName(firstId), Qt::FindDirectChildrenOnly);
}

QWidget* CreateControl(const ControlTemplate& control, QWidget& window) {
    const QString text =
        control.kind == ControlKind::Icon ? control.text : TemplateText(control.text);
    switch (control.kind) {
    case ControlKind::Static: {
        auto* label = new QLabel(text, &window);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::BlackRect: {
        auto* frame = new QFrame(&window);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, Qt::black);
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
        return frame;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(&window);
        label->setPixmap(LoadSkinIcon(control.text.toInt()));
        return label;
    }
    case ControlKind::GroupBox:
        return new QGroupBox(text, &window);
    case ControlKind::Button: {
        auto* button = new IconButton(&window);
        button->setText(text);
        button->setDefault(control.defaultButton);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(text, &window);
    case ControlKind::Radio: {
        auto* radio = new QRadioButton(text, &window);
        // Exclusivity comes from the template's groups, not from being siblings.
        radio->setAutoExclusive(false);
        return radio;
    }
    case ControlKind::Edit:
        return new QLineEdit(control.text, &window);
    case ControlKind::Combo: {
        auto* combo = new QComboBox(&window);
        combo->setEditable(false);
        return combo;
    }
    case ControlKind::Trackbar:
        return new SkinnedTrackbar(&window);
    case ControlKind::UpDown:
        return new UpDownControl(&window);
    case ControlKind::Tab:
        return new SkinnedTabControl(&window);
    }
    return nullptr;
}

} // namespace

QString TemplateText(const QString& text) {
    if (text.trimmed().isEmpty())
        return text;
    return QCoreApplication::translate("DialogTemplate", text.toUtf8().constData());
}

QRect DialogUnitsToPixels(const QRect& rectDu, DialogBaseUnits units) {
    const int left = MulDiv(rectDu.x(), units.x, 4);
    const int top = MulDiv(rectDu.y(), units.y, 8);
    const int right = MulDiv(rectDu.x() + rectDu.width(), units.x, 4);
    const int bottom = MulDiv(rectDu.y() + rectDu.height(), units.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnitsToPixels(const QSize& sizeDu, DialogBaseUnits units) {
    return QSize(MulDiv(sizeDu.width(), units.x, 4), MulDiv(sizeDu.height(), units.y, 8));
}

void BuildControls(const DialogTemplate& dialogTemplate, QWidget& window, DialogBaseUnits units) {
    QButtonGroup* radioGroup = nullptr;
    int radioIndex = 0;
    QWidget* previous = nullptr;
    QString lastLabel; // the text of the static label before, which names the controls after it
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = CreateControl(control, window);
        if (!widget) {
            continue;
        }
        if (control.kind == ControlKind::Static) {
            lastLabel = qobject_cast<QLabel*>(widget)->text();
            while (lastLabel.endsWith(u':') || lastLabel.endsWith(u'\uff1a'))
                lastLabel.chop(1);
        } else if (control.kind == ControlKind::Edit || control.kind == ControlKind::Combo ||
                   control.kind == ControlKind::Trackbar || control.kind == ControlKind::UpDown) {
            // What a screen reader says for a control without a text of its own: its label,
            // as the platform names it.
            widget->setAccessibleName(lastLabel);
        }
        widget->setProperty(kIdProperty, control.id);
        widget->setProperty(kRectProperty, control.rectDu);
        if (control.id != kStaticControlId) {
            widget->setObjectName(QString::number(control.id));
        }
        QRect pixels = DialogUnitsToPixels(control.rectDu, units);
        if (control.kind == ControlKind::Combo) {
            // The template height includes the dropped-down list; the closed box is one line
            // of the font high, as the platform sizes it.
            pixels.setHeight(std::min(pixels.height(), widget->sizeHint().height()));
        } else if (control.kind == ControlKind::Radio || control.kind == ControlKind::CheckBox) {
            // The style's indicator is wider than the platform's 13 pixels: widen the box to
            // its text rather than cut the text off.
            pixels.setWidth(std::max(pixels.width(), widget->sizeHint().width()));
        } else if (control.kind == ControlKind::Icon) {
            pixels.setSize(widget->sizeHint().expandedTo(QSize(1, 1)));
        }
        widget->setGeometry(pixels);

        if (control.groupStart) {
            radioGroup = nullptr;
        }
        if (control.kind == ControlKind::Radio) {
            if (!radioGroup) {
                radioGroup = new QButtonGroup(&window);
                radioGroup->setObjectName(RadioGroupName(control.id));
                radioGroup->setExclusive(true);
                radioIndex = 0;
            }
            radioGroup->addButton(static_cast<QRadioButton*>(widget), radioIndex++);
        } else {
            radioGroup = nullptr;
        }
        if (control.kind == ControlKind::UpDown && control.autoBuddy) {
            static_cast<UpDownControl*>(widget)->SetBuddy(qobject_cast<QLineEdit*>(previous));
        }
        if (control.disabled) {
            widget->setEnabled(false);
        }
        if (control.hidden) {
            widget->hide(); // explicitly hidden: stays hidden when the window shows
        }
        previous = widget;
    }
}

QWidget* FindControl(const QWidget& window, int id) {
    if (id == kStaticControlId) {
        return nullptr;
    }
    return window.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

int ControlId(const QWidget& control) {
    const QVariant id = control.property(kIdProperty);
    return id.isValid() ? id.toInt() : kStaticControlId;
}

QRect ControlRectDu(const QWidget& control) {
    return control.property(kRectProperty).toRect();
}

int GetRadioChoice(const QWidget& window, int firstId) {
    const QButtonGroup* group = FindRadioGroup(window, firstId);
    return group ? group->checkedId() : -1;
}

void SetRadioChoice(QWidget& window, int firstId, int index) {
    QButtonGroup* group = FindRadioGroup(window, firstId);
    if (!group) {
        return;
    }
    if (QAbstractButton* button = group->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last button; lift that while clearing.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(false);
    }
    group->setExclusive(true);
}

} // namespace kelo::ui
