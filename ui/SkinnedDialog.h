// The base of every window of the studio: its controls come from a dialog template, its
// background is a skin bitmap stretched over the whole client area, static texts stand
// transparent on it, and a press of the left button on its own surface (not on a control)
// drags the window. Push buttons, check boxes and radio buttons report their clicks as
// `command(id)`; 1 (OK) accepts and 2 (Cancel) rejects the dialog.
#pragma once

#include "ui/DialogBuilder.h"
#include "ui/DialogTemplate.h"

#include <QDialog>
#include <QPixmap>

namespace kelo::ui {

class SkinnedDialog : public QDialog {
    Q_OBJECT
public:
    // Builds template `templateId` with skin bitmap `skinBitmapId` (0: no skin). A missing
    // template gives an empty window (and a warning): it is a fault of the build.
    SkinnedDialog(int templateId, int skinBitmapId, QWidget* parent = nullptr);

    int TemplateId() const { return template_.id; }
    const DialogTemplate& Template() const { return template_; }

    QWidget* Control(int id) const { return FindControl(*this, id); }
    template <class T> T* Control(int id) const { return FindControl<T>(*this, id); }

    void SetSkin(int bitmapId);
    void SetSkin(const QPixmap& skin);
    const QPixmap& Skin() const { return skin_; }

    // Top-level windows are dragged by their surface; pages never are.
    void SetDraggable(bool draggable) { draggable_ = draggable; }

    // Runs the dialog initialisation once, as the platform does when it creates the window.
    // Pages call it after construction; DoModal and the first show call it too.
    bool Create();
    // Create, then the modal run through the modal seam. Returns IDOK when accepted, IDCANCEL
    // when rejected, else the code given to done().
    int DoModal();

signals:
    void command(int controlId);

protected:
    // The dialog initialisation of a derived window: controls exist, the window is not shown
    // yet. Runs once.
    virtual void OnInitDialog() {}

    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void WireCommands();

    DialogTemplate template_;
    QPixmap skin_;
    bool initialised_ = false;
    bool draggable_ = true;
    bool dragging_ = false;
    QPoint dragOffset_;
};

} // namespace kelo::ui
