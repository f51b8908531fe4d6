#include "ui/SkinnedDialog.h"

#include "ui/ModalSeam.h"
#include "ui/Skin.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace kelo::ui {

SkinnedDialog::SkinnedDialog(int templateId, int skinBitmapId, QWidget* parent) : QDialog(parent) {
    QString error;
    if (auto loaded = LoadDialogTemplate(templateId, &error)) {
        template_ = std::move(*loaded);
    } else {
        qWarning("%s", qPrintable(error));
        template_.id = templateId;
    }
    setFont(DialogFont());
    setWindowTitle(TemplateText(template_.caption));
    if (template_.child) {
        setWindowFlags(Qt::Widget);
        draggable_ = false;
    } else if (template_.hasCaption) {
        Qt::WindowFlags flags =
            Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (template_.minimizeBox) {
            flags |= Qt::WindowMinimizeButtonHint;
        }
        setWindowFlags(flags);
    } else {
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    }
    BuildControls(template_, *this);
    const QSize size = DialogUnitsToPixels(template_.sizeDu);
    if (template_.sizing || template_.child) {
        // Pages are moved and sized by the window that hosts them.
        resize(size);
    } else {
        setFixedSize(size);
    }
    if (skinBitmapId != 0) {
        SetSkin(skinBitmapId);
    }
    WireCommands();
}

void SkinnedDialog::SetSkin(int bitmapId) {
    SetSkin(LoadSkinBitmap(bitmapId));
}

void SkinnedDialog::SetSkin(const QPixmap& skin) {
    skin_ = skin;
    update();
}

bool SkinnedDialog::Create() {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    return true;
}

int SkinnedDialog::DoModal() {
    Create();
    const int result = RunModalDialog(*this);
    return result == QDialog::Rejected ? IDCANCEL : result;
}

void SkinnedDialog::WireCommands() {
    const auto buttons = findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly);
    for (QAbstractButton* button : buttons) {
        const int id = ControlId(*button);
        if (id == kStaticControlId) {
            continue;
        }
        connect(button, &QAbstractButton::clicked, this, [this, id] {
            emit command(id);
            if (id == IDOK) {
                accept();
            } else if (id == IDCANCEL) {
                reject();
            }
        });
    }
}

void SkinnedDialog::paintEvent(QPaintEvent* event) {
    if (skin_.isNull()) {
        QDialog::paintEvent(event);
        return;
    }
    // Erasing the background: the skin stretched over the whole client area.
    QPainter painter(this);
    painter.drawPixmap(rect(), skin_);
}

void SkinnedDialog::showEvent(QShowEvent* event) {
    Create();
    QDialog::showEvent(event);
}

void SkinnedDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !draggable_ || !isWindow()) {
        QDialog::mousePressEvent(event);
        return;
    }
    event->accept();
    // The window system moves the window where it can; elsewhere (offscreen, some Wayland
    // set-ups) the window follows the pointer itself.
    if (windowHandle() && windowHandle()->startSystemMove()) {
        return;
    }
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void SkinnedDialog::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    event->accept();
    move(event->globalPosition().toPoint() - dragOffset_);
}

void SkinnedDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_) {
        QDialog::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    dragging_ = false;
}

} // namespace kelo::ui
