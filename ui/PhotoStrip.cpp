#include "ui/PhotoStrip.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace kelo::ui {
namespace {

OpenFolderHandler& CurrentOpenFolderHandler() {
    static OpenFolderHandler handler;
    return handler;
}

constexpr int kPadding = 4;

} // namespace

void SetOpenFolderHandler(OpenFolderHandler handler) {
    CurrentOpenFolderHandler() = std::move(handler);
}

bool OpenFolder(const QString& folder) {
    if (const auto& handler = CurrentOpenFolderHandler())
        return handler(folder);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

PhotoStrip::PhotoStrip(QWidget* parent)
    : QWidget(parent), picture_(new QLabel(this)), text_(new QLabel(this)) {
    setObjectName(QStringLiteral("kelo.photoStrip"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(6);
    picture_->setAlignment(Qt::AlignCenter);
    text_->setTextFormat(Qt::PlainText);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text_->setMinimumWidth(1); // a long name is elided, never widens the strip
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, QColor(15, 15, 60));
    text_->setPalette(palette);
    layout->addWidget(picture_);
    layout->addWidget(text_, 1);
    hideTimer_.setSingleShot(true);
    connect(&hideTimer_, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

QSize PhotoStrip::ThumbnailSize() const {
    const int h = std::max(1, height() - 2 * kPadding);
    return {h * 4 / 3, h};
}

QPixmap PhotoStrip::PhotoThumbnail(const QString& path, const QSize& size) {
    QImageReader reader(path);
    const QSize full = reader.size();
    if (full.isValid())
        reader.setScaledSize(full.scaled(size, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

void PhotoStrip::ShowSaved(const QString& path, const QPixmap& picture, const QString& detail) {
    path_ = path;
    const QString name = QFileInfo(path).fileName();
    const QString text =
        detail.isEmpty() ? tr("已保存：%1").arg(name) : tr("已保存：%1（%2）").arg(name, detail);
    text_->setText(text);
    text_->setToolTip(tr("打开所在文件夹：%1").arg(QFileInfo(path).absolutePath()));
    setToolTip(text_->toolTip());
    setAccessibleName(text);
    const QSize thumb = ThumbnailSize();
    if (!picture.isNull()) {
        const qreal ratio = devicePixelRatioF();
        QPixmap scaled =
            picture.scaled(thumb * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        picture_->setPixmap(scaled);
    } else {
        picture_->clear();
    }
    picture_->setFixedSize(thumb);
    // A long name gives up its middle, never its extension.
    text_->setText(text_->fontMetrics().elidedText(text, Qt::ElideMiddle,
                                                   width() - thumb.width() - 2 * kPadding - 8));
    show();
    raise();
    hideTimer_.start(kShowMs);
}

QString PhotoStrip::Text() const {
    return accessibleName();
}

void PhotoStrip::OpenSavedFolder() {
    if (path_.isEmpty())
        return;
    const QString folder = QFileInfo(path_).absolutePath();
    (void)OpenFolder(folder); // the desktop says it when it cannot
    emit folderOpened(folder);
}

void PhotoStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(138, 166, 204));
    painter.setBrush(QColor(255, 255, 255, 215));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
}

void PhotoStrip::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        OpenSavedFolder();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void PhotoStrip::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        OpenSavedFolder();
        return;
    }
    QWidget::keyPressEvent(event);
}

PhotoFlash::PhotoFlash(QWidget* over) : QWidget(over) {
    setObjectName(QStringLiteral("kelo.photoFlash"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    fade_.setStartValue(230);
    fade_.setEndValue(0);
    fade_.setDuration(kFlashMs);
    fade_.setEasingCurve(QEasingCurve::OutQuad);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        alpha_ = value.toInt();
        update();
    });
    connect(&fade_, &QVariantAnimation::finished, this, &QWidget::hide);
    over->installEventFilter(this);
    setGeometry(over->rect());
    hide();
}

void PhotoFlash::Flash() {
    if (QWidget* over = parentWidget())
        setGeometry(over->rect());
    alpha_ = fade_.startValue().toInt();
    show();
    raise();
    fade_.stop();
    fade_.start();
}

void PhotoFlash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255, alpha_));
}

bool PhotoFlash::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace kelo::ui
