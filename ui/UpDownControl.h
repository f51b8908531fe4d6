// An up-down control (two small arrow buttons). With a buddy it reads the buddy's integer,
// steps it and writes it back; without a range set it keeps the platform's default range
// (lower 100, upper 0), so "up" counts towards 0.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace kelo::ui {

class UpDownControl : public QWidget {
    Q_OBJECT
public:
    explicit UpDownControl(QWidget* parent = nullptr);

    void SetBuddy(QLineEdit* buddy);
    QLineEdit* Buddy() const { return buddy_; }
    void SetRange(int lower, int upper);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    int Position() const { return position_; }
    void SetPosition(int position);

    // One step towards the upper end (up) or the lower end (down), as a click would.
    void StepUp();
    void StepDown();

signals:
    void positionChanged(int position);

private:
    void Step(int direction);

    QPointer<QLineEdit> buddy_;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int lower_ = 100;
    int upper_ = 0;
    int position_ = 0;
};

} // namespace kelo::ui
