// The live preview of the main window: the preview surface the engine's video renderer is placed
// into. It fills the black preview area (control 1000); the renderer's video window is a child
// widget (VideoView) at the rectangle the engine gives, or a full-screen window of its own while
// the engine asks for full screen.
//
// Threads: PresentFrame runs on GStreamer's streaming thread. It copies the frame into a guarded
// slot (the newest frame wins; a frame the window thread has not shown yet is dropped) and posts
// at most one queued repaint; it never touches a widget. Everything else runs on the window
// thread.
#pragma once

#include "platform/contracts/PreviewSurface.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <QImage>
#include <QWidget>

namespace kelo {

class PreviewWidget;

// Where a picture of `picture` size is drawn in `area`: the whole area when their shapes agree
// within 2 %, else the largest rectangle of the picture's aspect centred in it.
QRect LetterboxRect(const QSize& picture, const QRect& area);

// The renderer's video window: draws the newest frame stretched over itself and passes its key
// and mouse input to the renderer, which hands it to its message drain.
class VideoView : public QWidget {
    Q_OBJECT
public:
    explicit VideoView(PreviewWidget& surface);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Deliver(PreviewInputKind kind, int key, const QPoint& position, int buttons);
    void DeliverKey(PreviewInputKind kind, const QKeyEvent& event);

    PreviewWidget& surface_;
};

class PreviewWidget : public QWidget, public PreviewSurface {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);
    ~PreviewWidget() override;

    // Where the input the video window drains to this surface goes (the main window's key
    // handling). Window thread.
    void SetInputHandler(std::function<void(const PreviewInput&)> handler);

    // Drops the picture: the area shows black until the next frame. Window thread.
    void ClearPicture();
    // A short text shown over the black area while there is no picture (a camera opening);
    // empty: none. Window thread.
    void SetStatusText(const QString& text);
    const QString& StatusText() const { return statusText_; }

    // PreviewSurface, window thread.
    int ClientWidth() const override { return width(); }
    int ClientHeight() const override { return height(); }
    void AttachVideoWindow(VideoWindowInput* window) override;
    void SetVideoRect(int left, int top, int width, int height) override;
    void SetVideoVisible(bool visible) override;
    void SetVideoFullScreen(bool fullScreen) override;
    void RaiseVideo() override;
    void OnDrainedInput(const PreviewInput& input) override;

    // PreviewSurface, streaming thread.
    void PresentFrame(const PreviewFrame& frame) override;

    // For tests and diagnostics (window thread).
    VideoView* Video() const { return video_; }
    QRect VideoRect() const { return videoRect_; }
    bool IsVideoFullScreen() const { return fullScreen_; }
    bool HasPicture() const { return !shown_.isNull(); }
    // The picture as it was last painted (upright, unscaled); null when there is none.
    const QImage& ShownPicture() const { return shown_; }
    // Frames painted since construction (counts each frame once).
    long PaintedFrames() const { return paintedFrames_; }
    // Frames handed over by the streaming thread since construction (any thread).
    long PresentedFrames() const { return presentedFrames_.load(std::memory_order_relaxed); }

signals:
    // Emitted once, when the first frame has been painted (window thread).
    void firstFramePainted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class VideoView;
    void PaintStatusText(QPainter& painter, const QRect& target) const;
    // Window thread: takes the newest frame out of the slot, if any, and repaints the video.
    void TakeNewestFrame();
    void PaintVideo(QPainter& painter, const QRect& target);
    void ApplyVideoPlacement();
    VideoWindowInput* AttachedWindow() const { return attached_; }

    VideoView* video_ = nullptr; // child of this widget, or a top-level window in full screen
    VideoWindowInput* attached_ = nullptr;
    QRect videoRect_;
    bool videoVisible_ = false;
    bool fullScreen_ = false;
    std::function<void(const PreviewInput&)> inputHandler_;
    QString statusText_;

    // The hand-over slot between the streaming thread and the window thread.
    std::mutex slotMutex_;
    QImage slot_;            // guarded by slotMutex_
    bool slotFresh_ = false; // guarded by slotMutex_
    std::atomic<bool> repaintPosted_{false};
    std::atomic<long> presentedFrames_{0};

    // Window thread only.
    QImage shown_;
    bool shownPainted_ = false;
    long paintedFrames_ = 0;
    bool firstPaintReported_ = false;
};

} // namespace kelo
