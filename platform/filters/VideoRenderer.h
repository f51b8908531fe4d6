// The video renderer: a sink that turns the graph's bottom-up BGR frames upright and hands them to
// the preview surface that owns its video window. The video window (owner, position, size,
// visibility, full screen, message drain) is this filter's IVideoWindow; the graph forwards its
// own IVideoWindow here.
//
// Threads: the IVideoWindow operations and DeliverInput run on the owner's thread; frames arrive
// on the sink's streaming thread and go to the owner surface's PresentFrame. put_Owner waits for
// a frame being presented to the old owner, so an owner that detaches may be destroyed after.
#pragma once

#include "platform/contracts/PreviewSurface.h"
#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kelo {

class VideoRenderer : public BaseFilter, public IVideoWindow, public VideoWindowInput {
public:
    // Null when GStreamer lacks an element it needs.
    static std::shared_ptr<VideoRenderer> Create();
    ~VideoRenderer() override;

    [[nodiscard]] HRESULT put_Owner(PreviewSurface* owner) override;
    [[nodiscard]] HRESULT get_Owner(PreviewSurface** owner) const override;
    [[nodiscard]] HRESULT put_WindowStyle(long style) override;
    [[nodiscard]] HRESULT put_MessageDrain(PreviewSurface* drain) override;
    [[nodiscard]] HRESULT put_Left(long left) override;
    [[nodiscard]] HRESULT put_Top(long top) override;
    [[nodiscard]] HRESULT put_Width(long width) override;
    [[nodiscard]] HRESULT put_Height(long height) override;
    [[nodiscard]] HRESULT GetWindowPosition(long* left, long* top, long* width,
                                            long* height) const override;
    [[nodiscard]] HRESULT SetWindowForeground(bool focus) override;
    [[nodiscard]] HRESULT put_Visible(bool visible) override;
    [[nodiscard]] HRESULT get_Visible(bool* visible) const override;
    [[nodiscard]] HRESULT put_FullScreenMode(bool fullScreen) override;
    [[nodiscard]] HRESULT get_FullScreenMode(bool* fullScreen) const override;

    // VideoWindowInput: input on the video goes to the message drain, if there is one.
    void DeliverInput(const PreviewInput& input) override;

    long windowStyle() const { return style_; }

private:
    VideoRenderer(ElementPtr bin, GstElement* sink);
    static GstFlowReturn OnNewSample(GstElement* sink, gpointer self);
    void Present(GstElement* sink);
    void ApplyRect();

    // Owner-thread state.
    long style_ = 0;
    long left_ = 0;
    long top_ = 0;
    long width_ = 0;
    long height_ = 0;
    bool visible_ = true;
    bool fullScreen_ = false;
    PreviewSurface* drain_ = nullptr;

    // Read by the streaming thread.
    mutable std::mutex ownerMutex_;
    std::vector<std::uint8_t> raceDetectorCopy_; // streaming thread only; race-detector builds
    PreviewSurface* owner_ = nullptr;
};

} // namespace kelo
