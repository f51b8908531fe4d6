// A horizontal trackbar drawn from three skin bitmaps (channel, thumb, thumb while pressed),
// with the hand cursor over it and a tool tip with the position while the thumb is dragged.
// `scrolled` is the horizontal scroll notification: it is emitted for every user action (drag,
// click on the channel, keys, wheel, release) and never for a position set by code.
#pragma once

#include <QPixmap>
#include <QSlider>

namespace kelo::ui {

class SkinnedTrackbar : public QSlider {
    Q_OBJECT
public:
    explicit SkinnedTrackbar(QWidget* parent = nullptr);

    // Skin bitmaps by resource number; missing ones are drawn with plain shapes.
    void SetSkin(int channelId, int thumbId, int thumbActiveId);
    void SetSkin(const QPixmap& channel, const QPixmap& thumb, const QPixmap& thumbActive);
    // The hand cursor while the mouse is over the trackbar (on by default).
    void SetHandCursor(bool on);

    // Where the thumb is drawn for the current position.
    QRect ThumbRect() const;
    // The position a point of the channel stands for.
    int PositionAt(int x) const;
    // Text of the last position tool tip ("" before any drag).
    const QString& PositionTip() const { return positionTip_; }

signals:
    void scrolled(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QSize ThumbSize() const;
    void ShowPositionTip();
    void EmitScrolled();

    QPixmap channel_;
    QPixmap thumb_;
    QPixmap thumbActive_;
    bool dragging_ = false;
    int dragOffset_ = 0;
    bool userAction_ = false;
    QString positionTip_;
};

} // namespace kelo::ui
