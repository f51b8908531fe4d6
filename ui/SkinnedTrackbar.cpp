#include "ui/SkinnedTrackbar.h"

#include "ui/Skin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <QWheelEvent>

namespace kelo::ui {

SkinnedTrackbar::SkinnedTrackbar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    SetHandCursor(true);
    // Any action that came from the user; the value is already set when keyPressEvent or
    // wheelEvent return, which is where the notification goes out.
    connect(this, &QAbstractSlider::actionTriggered, this, [this] { userAction_ = true; });
}

void SkinnedTrackbar::SetSkin(int channelId, int thumbId, int thumbActiveId) {
    SetSkin(LoadSkinBitmap(channelId), LoadSkinBitmap(thumbId), LoadSkinBitmap(thumbActiveId));
}

void SkinnedTrackbar::SetSkin(const QPixmap& channel, const QPixmap& thumb,
                              const QPixmap& thumbActive) {
    channel_ = channel;
    thumb_ = thumb;
    thumbActive_ = thumbActive;
    update();
}

void SkinnedTrackbar::SetHandCursor(bool on) {
    if (on) {
        setCursor(Qt::PointingHandCursor);
    } else {
        unsetCursor();
    }
}

QSize SkinnedTrackbar::ThumbSize() const {
    QSize size = thumb_.isNull() ? QSize(11, 18) : thumb_.deviceIndependentSize().toSize();
    if (size.height() > height()) {
        size = size.scaled(size.width(), height(), Qt::KeepAspectRatio);
    }
    return size;
}

QRect SkinnedTrackbar::ThumbRect() const {
    const QSize thumb = ThumbSize();
    const int span = std::max(0, width() - thumb.width());
    const int x = QStyle::sliderPositionFromValue(minimum(), maximum(), sliderPosition(), span,
                                                  invertedAppearance());
    return QRect(QPoint(x, (height() - thumb.height()) / 2), thumb);
}

int SkinnedTrackbar::PositionAt(int x) const {
    const int span = std::max(0, width() - ThumbSize().width());
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x, span, invertedAppearance());
}

void SkinnedTrackbar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QSize thumb = ThumbSize();
    // Channel: stretched along the width between the thumb's half widths, centred vertically.
    const int channelHeight =
        channel_.isNull() ? 4
                          : std::min(qRound(channel_.deviceIndependentSize().height()), height());
    const QRect channel(thumb.width() / 2, (height() - channelHeight) / 2,
                        std::max(0, width() - thumb.width()), channelHeight);
    if (channel_.isNull()) {
        painter.fillRect(channel, QColor(111, 141, 184));
    } else {
        painter.drawPixmap(channel, channel_);
    }
    const QPixmap& face = (isSliderDown() && !thumbActive_.isNull()) ? thumbActive_ : thumb_;
    if (face.isNull()) {
        painter.fillRect(ThumbRect(), isSliderDown() ? QColor(43, 138, 62) : QColor(62, 100, 160));
    } else {
        painter.drawPixmap(ThumbRect(), face);
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(15, 15, 60, 90), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void SkinnedTrackbar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || maximum() == minimum()) {
        event->ignore();
        return;
    }
    event->accept();
    setFocus(Qt::MouseFocusReason);
    const int x = qRound(event->position().x());
    const QRect thumb = ThumbRect();
    if (thumb.contains(event->position().toPoint())) {
        dragging_ = true;
        dragOffset_ = x - thumb.left();
        setSliderDown(true);
        ShowPositionTip();
        update();
        return;
    }
    // A click on the channel pages towards the click, as the platform's trackbar does.
    userAction_ = false;
    triggerAction(x < thumb.left()
                      ? (invertedAppearance() ? SliderPageStepAdd : SliderPageStepSub)
                      : (invertedAppearance() ? SliderPageStepSub : SliderPageStepAdd));
    EmitScrolled();
}

void SkinnedTrackbar::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        event->ignore();
        return;
    }
    event->accept();
    userAction_ = false;
    setSliderPosition(PositionAt(qRound(event->position().x()) - dragOffset_));
    ShowPositionTip();
    EmitScrolled();
}

void SkinnedTrackbar::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_) {
        event->ignore();
        return;
    }
    event->accept();
    dragging_ = false;
    setSliderDown(false);
    QToolTip::hideText();
    update();
    // The end of the drag is a scroll notification of its own.
    userAction_ = true;
    EmitScrolled();
}

void SkinnedTrackbar::keyPressEvent(QKeyEvent* event) {
    userAction_ = false;
    QSlider::keyPressEvent(event);
    EmitScrolled();
}

void SkinnedTrackbar::wheelEvent(QWheelEvent* event) {
    userAction_ = false;
    QSlider::wheelEvent(event);
    EmitScrolled();
}

void SkinnedTrackbar::EmitScrolled() {
    if (userAction_) {
        userAction_ = false;
        emit scrolled(value());
    }
}

void SkinnedTrackbar::ShowPositionTip() {
    positionTip_ = QString::number(sliderPosition());
    const QRect thumb = ThumbRect();
    QToolTip::showText(mapToGlobal(QPoint(thumb.center().x(), thumb.top() - 24)), positionTip_,
                       this);
}

} // namespace kelo::ui
