// The surface a video renderer's window is placed into: the window code gives a widget, tests a
// recorder, the headless mode a counter. The renderer's video window tells its owner surface
// where the picture goes and hands it every frame; input that reaches the video window is
// forwarded to the message-drain surface.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelo {

// One upright frame of blue, green, red bytes: data is the top row. Valid only during the call.
// The graph's frames lie bottom-up in memory; the renderer hands them over as they are, with the
// top row last and a negative stride, so that the surface's own copy turns them upright (a flip
// of its own would copy every frame once more).
struct PreviewFrame {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the one below it on screen; negative: bottom-up
};

enum class PreviewInputKind {
    KeyPress,
    KeyRelease,
    MousePress,
    MouseRelease,
    MouseDoubleClick,
    MouseMove
};

struct PreviewInput {
    PreviewInputKind kind = PreviewInputKind::MousePress;
    int key = 0; // key code for key input
    int x = 0;   // position relative to the video window, for mouse input
    int y = 0;
    int buttons = 0; // mouse buttons held
    // Key input: the modifiers held (the toolkit's flags) and whether it is a held key's repeat.
    int modifiers = 0;
    bool autoRepeat = false;
};

// The video window's side, given to the owner surface while the window is attached: the surface
// passes on the input that falls on the video.
class VideoWindowInput {
public:
    virtual ~VideoWindowInput() = default;
    virtual void DeliverInput(const PreviewInput& input) = 0;
};

class PreviewSurface {
public:
    virtual ~PreviewSurface() = default;

    // --- Owner thread (the thread that runs the engine's operations). ---
    // Size of the client area in pixels.
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    // The video window becomes a child of this surface (null: detached).
    virtual void AttachVideoWindow(VideoWindowInput* window) = 0;
    // Position and size of the video, relative to the client area.
    virtual void SetVideoRect(int left, int top, int width, int height) = 0;
    virtual void SetVideoVisible(bool visible) = 0;
    virtual void SetVideoFullScreen(bool fullScreen) = 0;
    virtual void RaiseVideo() = 0;
    // Input forwarded by a video window whose message drain is this surface.
    virtual void OnDrainedInput(const PreviewInput& input) = 0;

    // --- Streaming thread. Must not touch widgets: copy and hand over to the owner thread. ---
    virtual void PresentFrame(const PreviewFrame& frame) = 0;
};

// A preview area where nothing is drawn: it only counts the frames that reach it. Used where
// there is no window (the headless studio, benchmarks). The default size is the main window's
// preview area.
class CountingPreviewSurface : public PreviewSurface {
public:
    int ClientWidth() const override { return 324; }
    int ClientHeight() const override { return 244; }
    void AttachVideoWindow(VideoWindowInput*) override {}
    void SetVideoRect(int, int, int, int) override {}
    void SetVideoVisible(bool) override {}
    void SetVideoFullScreen(bool) override {}
    void RaiseVideo() override {}
    void OnDrainedInput(const PreviewInput&) override {}
    // Streaming thread.
    void PresentFrame(const PreviewFrame&) override {
        frames.fetch_add(1, std::memory_order_relaxed);
    }

    std::atomic<long> frames{0};
};

} // namespace kelo
