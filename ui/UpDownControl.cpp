#include "ui/UpDownControl.h"

#include <algorithm>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelo::ui {

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, &UpDownControl::StepUp);
    connect(down_, &QToolButton::clicked, this, &UpDownControl::StepDown);
}

void UpDownControl::SetBuddy(QLineEdit* buddy) {
    buddy_ = buddy;
}

void UpDownControl::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    SetPosition(position_);
}

void UpDownControl::SetPosition(int position) {
    position_ = std::clamp(position, std::min(lower_, upper_), std::max(lower_, upper_));
    if (buddy_) {
        buddy_->setText(QString::number(position_));
    }
    emit positionChanged(position_);
}

void UpDownControl::StepUp() {
    Step(+1);
}
void UpDownControl::StepDown() {
    Step(-1);
}

void UpDownControl::Step(int direction) {
    if (buddy_) {
        // The buddy is the truth: the user may have typed into it.
        bool ok = false;
        const int typed = buddy_->text().trimmed().toInt(&ok);
        if (ok) {
            position_ = typed;
        }
    }
    const int towardsUpper = upper_ >= lower_ ? 1 : -1;
    SetPosition(position_ + direction * towardsUpper);
}

} // namespace kelo::ui
