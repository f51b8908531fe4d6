// An owner-drawn push button that shows one icon: with alignment 0 the icon sits 3 pixels from
// the left edge, vertically centred, with the caption to its right; without a caption the icon
// is centred. With transparent drawing the face is whatever the parent paints behind the button
// (its skin); the caption has one colour while the pointer is outside and another while it is
// over the button. A button that was never configured paints as a plain push button.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPushButton>

namespace kelo::ui {

class IconButton : public QPushButton {
    Q_OBJECT
public:
    enum class ColorRole { TextOut, TextIn };

    // Where icon and caption go: 0 icon left, caption to its right (the only one the windows
    // use).
    static constexpr int kAlignIconLeft = 0;
    static constexpr int kIconMargin = 3;
    static constexpr int kMaxIconEdge = 24;

    struct Layout {
        QRect icon;
        QRect text; // empty without a caption
    };

    explicit IconButton(QWidget* parent = nullptr);

    // Icon resource `iconId` of the skin; a missing icon leaves the button without one.
    void SetIcon(int iconId);
    void SetIcon(const QPixmap& icon);
    void SetAlign(int align);
    void DrawTransparent(bool transparent);
    void SetColor(ColorRole role, const QColor& color);
    // Both caption colours = the system's button text colour.
    void SetDefaultColors();
    // How every icon button of the studio sits on a skinned background: the icon left of the
    // caption, no button face, the caption dark blue and green under the pointer.
    void DressOnSkin();
    // The picture fills the button (aspect kept, kFillMargin pixels inside its edge) and no
    // caption is drawn: the effect buttons, whose picture is the thumbnail of their effect.
    void SetIconFills(bool fills);
    bool IconFills() const { return fills_; }
    static constexpr int kFillMargin = 1;
    // A checkable button that is checked wears a frame in the pointer-over colour: the chosen
    // one of a set.

    // Takes a fresh look at the parent's background behind the button and redraws.
    void RefreshBackground();

    bool IsTransparent() const { return transparent_; }
    bool IsPointerOver() const { return pointerOver_; }
    QColor CurrentTextColor() const;
    const QPixmap& IconPixmap() const { return icon_; }
    QSize IconSize() const;
    Layout CurrentLayout() const;

    // Icon and caption rectangles for a client rectangle, an icon size and a caption width.
    static Layout ComputeLayout(const QRect& client, const QSize& iconSize, int textWidth);
    // The edge an icon is drawn at: its own size, at most kMaxIconEdge and what the client
    // height allows.
    static QSize FitIcon(const QSize& natural, const QSize& client, bool hasCaption);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPixmap icon_;
    int align_ = kAlignIconLeft;
    bool ownerDrawn_ = false;
    bool transparent_ = false;
    bool fills_ = false;
    bool pointerOver_ = false;
    QColor textOut_;
    QColor textIn_;
};

} // namespace kelo::ui
