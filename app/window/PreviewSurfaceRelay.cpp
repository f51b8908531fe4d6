#include "app/window/PreviewSurfaceRelay.h"

#include "app/window/PreviewWidget.h"

#include <QThread>

namespace kelo {

PreviewSurfaceRelay::PreviewSurfaceRelay(PreviewWidget* preview)
    : preview_(preview), frames_(preview) {
    NoteSize();
}

void PreviewSurfaceRelay::NoteSize() {
    if (!frames_)
        return;
    width_ = frames_->ClientWidth();
    height_ = frames_->ClientHeight();
}

void PreviewSurfaceRelay::OnWindowThread(std::function<void(PreviewWidget&)> call) {
    if (!frames_)
        return;
    if (QThread::currentThread() == frames_->thread()) {
        if (preview_)
            call(*preview_);
        return;
    }
    // Queued to the widget itself: it runs after everything queued before it, and not at all
    // once the widget is gone.
    QMetaObject::invokeMethod(
        frames_, [widget = frames_, call = std::move(call)] { call(*widget); },
        Qt::QueuedConnection);
}

void PreviewSurfaceRelay::AttachVideoWindow(VideoWindowInput* window) {
    OnWindowThread([window](PreviewWidget& preview) { preview.AttachVideoWindow(window); });
}

void PreviewSurfaceRelay::SetVideoRect(int left, int top, int width, int height) {
    OnWindowThread([=](PreviewWidget& preview) { preview.SetVideoRect(left, top, width, height); });
}

void PreviewSurfaceRelay::SetVideoVisible(bool visible) {
    OnWindowThread([visible](PreviewWidget& preview) { preview.SetVideoVisible(visible); });
}

void PreviewSurfaceRelay::SetVideoFullScreen(bool fullScreen) {
    OnWindowThread(
        [fullScreen](PreviewWidget& preview) { preview.SetVideoFullScreen(fullScreen); });
}

void PreviewSurfaceRelay::RaiseVideo() {
    OnWindowThread([](PreviewWidget& preview) { preview.RaiseVideo(); });
}

void PreviewSurfaceRelay::OnDrainedInput(const PreviewInput& input) {
    OnWindowThread([input](PreviewWidget& preview) { preview.OnDrainedInput(input); });
}

void PreviewSurfaceRelay::PresentFrame(const PreviewFrame& frame) {
    if (frames_)
        frames_->PresentFrame(frame);
}

} // namespace kelo
