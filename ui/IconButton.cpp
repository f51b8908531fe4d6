#include "ui/IconButton.h"

#include "ui/Skin.h"

#include <algorithm>
#include <QEnterEvent>
#include <QPainter>

namespace kelo::ui {

IconButton::IconButton(QWidget* parent) : QPushButton(parent) {
    textOut_ = palette().color(QPalette::Active, QPalette::ButtonText);
    textIn_ = textOut_;
}

void IconButton::SetIcon(int iconId) {
    SetIcon(LoadSkinIcon(iconId));
}

void IconButton::SetIcon(const QPixmap& icon) {
    icon_ = icon;
    ownerDrawn_ = true;
    update();
}

void IconButton::SetIconFills(bool fills) {
    fills_ = fills;
    ownerDrawn_ = true;
    update();
}

void IconButton::SetAlign(int align) {
    align_ = align;
    ownerDrawn_ = true;
    update();
}

void IconButton::DrawTransparent(bool transparent) {
    transparent_ = transparent;
    ownerDrawn_ = true;
    // The parent's skin shows through wherever the button does not paint.
    setAutoFillBackground(false);
    update();
}

void IconButton::SetColor(ColorRole role, const QColor& color) {
    (role == ColorRole::TextOut ? textOut_ : textIn_) = color;
    ownerDrawn_ = true;
    update();
}

void IconButton::SetDefaultColors() {
    const QColor system = palette().color(QPalette::Active, QPalette::ButtonText);
    textOut_ = system;
    textIn_ = system;
    ownerDrawn_ = true;
    update();
}

void IconButton::DressOnSkin() {
    SetAlign(kAlignIconLeft);
    DrawTransparent(true);
    SetColor(ColorRole::TextOut, QColor(15, 15, 60));
    SetColor(ColorRole::TextIn, QColor(0, 255, 0));
}

void IconButton::RefreshBackground() {
    // The parent repaints the area behind a transparent button before the button draws
    // itself, so a repaint is a fresh copy.
    update();
}

QColor IconButton::CurrentTextColor() const {
    if (!isEnabled()) {
        return palette().color(QPalette::Disabled, QPalette::ButtonText);
    }
    return pointerOver_ ? textIn_ : textOut_;
}

QSize IconButton::FitIcon(const QSize& natural, const QSize& client, bool hasCaption) {
    if (natural.isEmpty()) {
        return {};
    }
    int limit = std::min(kMaxIconEdge, client.height() - 2 * kIconMargin);
    if (!hasCaption) {
        limit = std::min(limit, client.width() - 2 * kIconMargin);
    }
    limit = std::max(limit, 1);
    if (natural.width() <= limit && natural.height() <= limit) {
        return natural;
    }
    return natural.scaled(limit, limit, Qt::KeepAspectRatio);
}

QSize IconButton::IconSize() const {
    if (fills_) {
        if (icon_.isNull())
            return {};
        const QSize room = size() - QSize(2 * kFillMargin, 2 * kFillMargin);
        return icon_.deviceIndependentSize().toSize().scaled(room.expandedTo(QSize(1, 1)),
                                                             Qt::KeepAspectRatio);
    }
    return FitIcon(icon_.isNull() ? QSize() : icon_.deviceIndependentSize().toSize(), size(),
                   !text().isEmpty());
}

IconButton::Layout IconButton::ComputeLayout(const QRect& client, const QSize& iconSize,
                                             int textWidth) {
    Layout layout;
    const int iconTop = client.top() + (client.height() - iconSize.height()) / 2;
    if (textWidth <= 0) {
        // No caption: the icon is centred.
        layout.icon = QRect(client.left() + (client.width() - iconSize.width()) / 2, iconTop,
                            iconSize.width(), iconSize.height());
        return layout;
    }
    layout.icon = QRect(client.left() + kIconMargin, iconTop, iconSize.width(), iconSize.height());
    // The caption is centred in what lies right of the icon.
    const int textLeft = iconSize.isEmpty() ? client.left() : layout.icon.right() + 1;
    layout.text = QRect(textLeft, client.top(), client.right() + 1 - textLeft, client.height());
    return layout;
}

IconButton::Layout IconButton::CurrentLayout() const {
    const int textWidth = text().isEmpty() || fills_ ? 0 : fontMetrics().horizontalAdvance(text());
    return ComputeLayout(rect(), IconSize(), textWidth);
}

void IconButton::paintEvent(QPaintEvent* event) {
    if (!ownerDrawn_) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool pressed = isDown() || (isChecked() && !fills_);
    if (!transparent_) {
        painter.fillRect(rect(), palette().button());
    }
    // A light frame while the pointer is over the button, a sunken one while pressed; the
    // plain face shows only the skin.
    if (isEnabled() && (pointerOver_ || pressed)) {
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QColor(255, 255, 255, pressed ? 90 : 200));
        painter.setBrush(QColor(255, 255, 255, pressed ? 40 : 70));
        painter.drawRoundedRect(frame, 3, 3);
    }
    if (hasFocus() && !pressed) {
        painter.setPen(QPen(QColor(15, 15, 60, 90), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(2, 2, -3, -3));
    }
    Layout layout = CurrentLayout();
    if (pressed) {
        layout.icon.translate(1, 1);
        layout.text.translate(1, 1);
    }
    if (!icon_.isNull()) {
        QPixmap shown = icon_;
        if (!isEnabled()) {
            QImage gray = icon_.toImage().convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < gray.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(gray.scanLine(y));
                for (int x = 0; x < gray.width(); ++x) {
                    const int g = qGray(line[x]);
                    line[x] = qRgba(g, g, g, qAlpha(line[x]) / 2);
                }
            }
            shown = QPixmap::fromImage(gray);
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(layout.icon, shown);
    }
    if (isCheckable() && isChecked()) {
        // The chosen one of a set: a frame that stands out on the skin and on any picture.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(15, 15, 60), 3));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
        painter.setPen(QPen(textIn_, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
    }
    if (!text().isEmpty() && !fills_) {
        painter.setPen(CurrentTextColor());
        painter.setFont(font());
        painter.drawText(layout.text, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
}

void IconButton::enterEvent(QEnterEvent* event) {
    pointerOver_ = true;
    update();
    QPushButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent* event) {
    pointerOver_ = false;
    update();
    QPushButton::leaveEvent(event);
}

} // namespace kelo::ui
