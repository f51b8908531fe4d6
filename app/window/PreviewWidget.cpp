#include "app/window/PreviewWidget.h"

#include "app/window/WindowLog.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace kelo {

namespace {

int ButtonsOf(const QMouseEvent& event) {
    return static_cast<int>(event.buttons().toInt());
}

} // namespace

// ---------------------------------------------------------------------------------------------

VideoView::VideoView(PreviewWidget& surface) : QWidget(&surface), surface_(surface) {
    // Every pixel is drawn by paintEvent: no background erase, no flicker between frames.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Kelo"));
}

void VideoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    surface_.PaintVideo(painter, rect());
}

void VideoView::Deliver(PreviewInputKind kind, int key, const QPoint& position, int buttons) {
    VideoWindowInput* window = surface_.AttachedWindow();
    if (!window)
        return;
    PreviewInput input;
    input.kind = kind;
    input.key = key;
    input.x = position.x();
    input.y = position.y();
    input.buttons = buttons;
    window->DeliverInput(input);
}

void VideoView::keyPressEvent(QKeyEvent* event) {
    DeliverKey(PreviewInputKind::KeyPress, *event);
    event->accept();
}

void VideoView::keyReleaseEvent(QKeyEvent* event) {
    DeliverKey(PreviewInputKind::KeyRelease, *event);
    event->accept();
}

void VideoView::DeliverKey(PreviewInputKind kind, const QKeyEvent& event) {
    VideoWindowInput* window = surface_.AttachedWindow();
    if (!window)
        return;
    // The whole key: a held key's repeats and Shift or the keypad decide what the window does.
    PreviewInput input;
    input.kind = kind;
    input.key = event.key();
    input.modifiers = static_cast<int>(event.modifiers().toInt());
    input.autoRepeat = event.isAutoRepeat();
    window->DeliverInput(input);
}

void VideoView::mousePressEvent(QMouseEvent* event) {
    Deliver(PreviewInputKind::MousePress, 0, event->position().toPoint(), ButtonsOf(*event));
    event->accept();
}

void VideoView::mouseReleaseEvent(QMouseEvent* event) {
    Deliver(PreviewInputKind::MouseRelease, 0, event->position().toPoint(), ButtonsOf(*event));
    event->accept();
}

void VideoView::mouseDoubleClickEvent(QMouseEvent* event) {
    Deliver(PreviewInputKind::MouseDoubleClick, 0, event->position().toPoint(), ButtonsOf(*event));
    event->accept();
}

// ---------------------------------------------------------------------------------------------

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    video_ = new VideoView(*this);
    video_->hide();
}

PreviewWidget::~PreviewWidget() {
    // A full-screen video window is a top-level of its own, not one of our children.
    if (fullScreen_)
        delete video_;
}

void PreviewWidget::SetInputHandler(std::function<void(const PreviewInput&)> handler) {
    inputHandler_ = std::move(handler);
}

void PreviewWidget::ClearPicture() {
    {
        std::lock_guard lock(slotMutex_);
        slotFresh_ = false;
    }
    shown_ = QImage();
    video_->update();
}

void PreviewWidget::AttachVideoWindow(VideoWindowInput* window) {
    attached_ = window;
    if (!window) {
        // The engine that drew here is going: back from full screen, and black until the next
        // engine's first frame.
        SetVideoFullScreen(false);
        videoVisible_ = false;
        ClearPicture();
        ApplyVideoPlacement();
    }
}

void PreviewWidget::SetVideoRect(int left, int top, int width, int height) {
    videoRect_ = QRect(left, top, std::max(0, width), std::max(0, height));
    ApplyVideoPlacement();
}

void PreviewWidget::SetVideoVisible(bool visible) {
    videoVisible_ = visible;
    ApplyVideoPlacement();
}

void PreviewWidget::SetVideoFullScreen(bool fullScreen) {
    if (fullScreen == fullScreen_)
        return;
    fullScreen_ = fullScreen;
    if (fullScreen) {
        // A frameless top-level window over the whole screen; it takes the keys while it is
        // there and passes them on as the video window's input.
        QScreen* screen = window()->screen();
        video_->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
        video_->setFocusPolicy(Qt::StrongFocus);
        // The whole screen also where no window manager takes up the full-screen request.
        if (screen)
            video_->setGeometry(screen->geometry());
        video_->showFullScreen();
        video_->activateWindow();
        video_->setFocus();
    } else {
        video_->hide();
        video_->setParent(this, Qt::Widget);
        video_->setFocusPolicy(Qt::NoFocus);
        ApplyVideoPlacement();
        if (QWidget* main = window())
            main->activateWindow();
    }
    qCInfo(lcWindow) << "video full screen" << fullScreen;
}

void PreviewWidget::RaiseVideo() {
    video_->raise();
}

void PreviewWidget::OnDrainedInput(const PreviewInput& input) {
    if (inputHandler_)
        inputHandler_(input);
}

void PreviewWidget::ApplyVideoPlacement() {
    if (fullScreen_)
        return;
    video_->setGeometry(videoRect_);
    video_->setVisible(videoVisible_ && attached_ && !videoRect_.isEmpty());
}

void PreviewWidget::PresentFrame(const PreviewFrame& frame) {
    if (!frame.data || frame.width <= 0 || frame.height <= 0 ||
        std::abs(frame.stride) < frame.width * 3)
        return;
    {
        std::lock_guard lock(slotMutex_);
        // Allocates only when the size changes (or when the window thread still shares the
        // buffer, which a test's copy of the shown picture can cause).
        if (slot_.width() != frame.width || slot_.height() != frame.height)
            slot_ = QImage(frame.width, frame.height, QImage::Format_BGR888);
        if (slot_.isNull())
            return; // out of memory: this frame is not shown
        const auto rowBytes = static_cast<std::size_t>(frame.width) * 3;
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(slot_.scanLine(y),
                        frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride, rowBytes);
        slotFresh_ = true;
    }
    presentedFrames_.fetch_add(1, std::memory_order_relaxed);
    // One queued repaint at a time: frames that come before it runs only replace the slot.
    if (!repaintPosted_.exchange(true, std::memory_order_acq_rel))
        QMetaObject::invokeMethod(
            this, [this] { TakeNewestFrame(); }, Qt::QueuedConnection);
}

void PreviewWidget::TakeNewestFrame() {
    repaintPosted_.store(false, std::memory_order_release);
    {
        std::lock_guard lock(slotMutex_);
        if (!slotFresh_)
            return;
        // The shown buffer becomes the next slot: no allocation per frame.
        std::swap(slot_, shown_);
        slotFresh_ = false;
    }
    shownPainted_ = false;
    video_->update();
}

QRect LetterboxRect(const QSize& picture, const QRect& area) {
    if (picture.isEmpty() || area.isEmpty())
        return area;
    const double pictureAspect = double(picture.width()) / picture.height();
    const double areaAspect = double(area.width()) / area.height();
    // Within 2 %: the same shape (the renderer's few pixels of border are not bars).
    if (std::abs(pictureAspect / areaAspect - 1.0) < 0.02)
        return area;
    QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
    return QRect(area.x() + (area.width() - fitted.width()) / 2,
                 area.y() + (area.height() - fitted.height()) / 2, fitted.width(), fitted.height());
}

void PreviewWidget::SetStatusText(const QString& text) {
    if (text == statusText_)
        return;
    statusText_ = text;
    update();
    video_->update();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    // The background is black already (auto-fill); the text shows while no video is placed.
    QPainter painter(this);
    PaintStatusText(painter, rect());
}

void PreviewWidget::PaintStatusText(QPainter& painter, const QRect& target) const {
    if (statusText_.isEmpty())
        return;
    painter.setPen(Qt::white);
    painter.drawText(target, Qt::AlignCenter | Qt::TextWordWrap, statusText_);
}

void PreviewWidget::PaintVideo(QPainter& painter, const QRect& target) {
    if (shown_.isNull()) {
        painter.fillRect(target, Qt::black);
        PaintStatusText(painter, target);
        return;
    }
    // The picture's aspect is kept: a picture of another shape than the area (16:9 in the 4:3
    // preview) is letterboxed on black. One of nearly the area's shape fills it, as the
    // renderer places it (320 x 240 into 324 x 244).
    const QRect placed = LetterboxRect(shown_.size(), target);
    if (placed != target)
        painter.fillRect(target, Qt::black);
    // Larger pictures (an HD capture) are scaled down smoothly, and on a dense screen every
    // picture is scaled up smoothly.
    const bool smooth = shown_.width() > placed.width() || shown_.height() > placed.height() ||
                        painter.device()->devicePixelRatioF() > 1.0;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(placed, shown_);
    if (!shownPainted_) {
        shownPainted_ = true;
        ++paintedFrames_;
        if (!firstPaintReported_) {
            firstPaintReported_ = true;
            qCInfo(lcWindow).noquote()
                << "first frame painted at" << MonotonicMilliseconds() << "ms (monotonic clock)";
            emit firstFramePainted();
        }
    }
}

} // namespace kelo
