// The preview surface an engine built on the engine worker is given: it stands for the window's
// PreviewWidget on any thread. What the renderer asks of the surface from the worker (attach,
// place, show) reaches the widget by a queued call, in order, on the window thread; asked on the
// window thread it happens at once; frames go straight to the widget's guarded slot. The size is
// the widget's, noted on the window thread before an engine is built.
//
// Ownership: made by the main window with its preview and kept for the window's life, so that
// it outlives every engine that was given it (the engine worker ends before the window does).
#pragma once

#include "platform/contracts/PreviewSurface.h"

#include <atomic>
#include <functional>
#include <QPointer>

namespace kelo {

class PreviewWidget;

class PreviewSurfaceRelay : public PreviewSurface {
public:
    explicit PreviewSurfaceRelay(PreviewWidget* preview);

    // Window thread: notes the widget's size for the engines built next.
    void NoteSize();

    // Any thread.
    int ClientWidth() const override { return width_.load(); }
    int ClientHeight() const override { return height_.load(); }
    void AttachVideoWindow(VideoWindowInput* window) override;
    void SetVideoRect(int left, int top, int width, int height) override;
    void SetVideoVisible(bool visible) override;
    void SetVideoFullScreen(bool fullScreen) override;
    void RaiseVideo() override;
    void OnDrainedInput(const PreviewInput& input) override;
    // Streaming thread.
    void PresentFrame(const PreviewFrame& frame) override;

private:
    // On the window thread now, elsewhere by a queued call (dropped once the widget is gone).
    void OnWindowThread(std::function<void(PreviewWidget&)> call);

    QPointer<PreviewWidget> preview_; // read on the window thread only
    PreviewWidget* frames_;           // the same widget, for the streaming threads
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
};

} // namespace kelo
