#include "platform/filters/VideoRenderer.h"

#include "platform/graph/ElementFactory.h"
#include "platform/system/UncheckedFrameAccess.h"

#include <cstring>
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

namespace kelo {

std::shared_ptr<VideoRenderer> VideoRenderer::Create() {
    // The graph's rows are bottom-up: Present hands them over with a negative stride.
    ElementPtr bin = MakeBin("appsink name=present "
                             "caps=video/x-raw,format=BGR sync=true max-buffers=2 drop=true "
                             "enable-last-sample=false");
    if (!bin)
        return nullptr;
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(bin.get()), "present"));
    if (!sink)
        return nullptr;
    return std::shared_ptr<VideoRenderer>(new VideoRenderer(std::move(bin), sink.get()));
}

VideoRenderer::VideoRenderer(ElementPtr bin, GstElement* sink) : BaseFilter(std::move(bin)) {
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appsink, gpointer self) {
        return OnNewSample(GST_ELEMENT(appsink), self);
    };
    // The sink lives inside our bin, which lives as long as this filter: no destroy notify.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
}

VideoRenderer::~VideoRenderer() {
    gst_element_set_state(element(), GST_STATE_NULL);
    (void)put_Owner(nullptr); // detaching never fails
}

GstFlowReturn VideoRenderer::OnNewSample(GstElement* sink, gpointer self) {
    static_cast<VideoRenderer*>(self)->Present(sink);
    return GST_FLOW_OK;
}

void VideoRenderer::Present(GstElement* sink) {
    SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    if (!sample)
        return;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())))
        return;
    BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (!map.ok())
        return;
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    if (width <= 0 || height <= 0 || stride < width * 3 ||
        map.size() < static_cast<gsize>(stride) * static_cast<gsize>(height))
        return;
    // Bottom-up rows: the picture's top row is the last one in memory.
    PreviewFrame frame;
    frame.data = map.data() + static_cast<std::ptrdiff_t>(height - 1) * stride;
    frame.width = width;
    frame.height = height;
    frame.stride = -stride;
    if constexpr (UncheckedFrameAccess::kRaceDetector) {
        // Under the race detector the surface reads a copy this thread made (unchecked: pool
        // memory), so that its own code stays checked without every row being reported.
        raceDetectorCopy_.resize(static_cast<std::size_t>(width) * 3 * height);
        UncheckedFrameAccess unchecked;
        for (int y = 0; y < height; ++y)
            std::memcpy(raceDetectorCopy_.data() + static_cast<std::size_t>(y) * width * 3,
                        frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride,
                        static_cast<std::size_t>(width) * 3);
        frame.data = raceDetectorCopy_.data();
        frame.stride = width * 3;
    }
    std::lock_guard lock(ownerMutex_);
    if (owner_)
        owner_->PresentFrame(frame);
}

void VideoRenderer::ApplyRect() {
    std::lock_guard lock(ownerMutex_);
    if (owner_)
        owner_->SetVideoRect(static_cast<int>(left_), static_cast<int>(top_),
                             static_cast<int>(width_), static_cast<int>(height_));
}

HRESULT VideoRenderer::put_Owner(PreviewSurface* owner) {
    PreviewSurface* old = nullptr;
    {
        std::lock_guard lock(ownerMutex_);
        old = owner_;
        owner_ = owner;
    }
    if (old && old != owner)
        old->AttachVideoWindow(nullptr);
    if (owner && old != owner) {
        owner->AttachVideoWindow(this);
        owner->SetVideoRect(static_cast<int>(left_), static_cast<int>(top_),
                            static_cast<int>(width_), static_cast<int>(height_));
        owner->SetVideoVisible(visible_);
        if (fullScreen_)
            owner->SetVideoFullScreen(true);
    }
    return S_OK;
}

HRESULT VideoRenderer::get_Owner(PreviewSurface** owner) const {
    if (!owner)
        return E_POINTER;
    std::lock_guard lock(ownerMutex_);
    *owner = owner_;
    return S_OK;
}

HRESULT VideoRenderer::put_WindowStyle(long style) {
    style_ = style;
    return S_OK;
}

HRESULT VideoRenderer::put_MessageDrain(PreviewSurface* drain) {
    drain_ = drain;
    return S_OK;
}

HRESULT VideoRenderer::put_Left(long left) {
    left_ = left;
    ApplyRect();
    return S_OK;
}

HRESULT VideoRenderer::put_Top(long top) {
    top_ = top;
    ApplyRect();
    return S_OK;
}

HRESULT VideoRenderer::put_Width(long width) {
    if (width < 0)
        return E_INVALIDARG;
    width_ = width;
    ApplyRect();
    return S_OK;
}

HRESULT VideoRenderer::put_Height(long height) {
    if (height < 0)
        return E_INVALIDARG;
    height_ = height;
    ApplyRect();
    return S_OK;
}

HRESULT VideoRenderer::GetWindowPosition(long* left, long* top, long* width, long* height) const {
    if (!left || !top || !width || !height)
        return E_POINTER;
    *left = left_;
    *top = top_;
    *width = width_;
    *height = height_;
    return S_OK;
}

HRESULT VideoRenderer::SetWindowForeground(bool) {
    std::lock_guard lock(ownerMutex_);
    if (owner_)
        owner_->RaiseVideo();
    return S_OK;
}

HRESULT VideoRenderer::put_Visible(bool visible) {
    visible_ = visible;
    std::lock_guard lock(ownerMutex_);
    if (owner_)
        owner_->SetVideoVisible(visible);
    return S_OK;
}

HRESULT VideoRenderer::get_Visible(bool* visible) const {
    if (!visible)
        return E_POINTER;
    *visible = visible_;
    return S_OK;
}

HRESULT VideoRenderer::put_FullScreenMode(bool fullScreen) {
    fullScreen_ = fullScreen;
    std::lock_guard lock(ownerMutex_);
    if (owner_)
        owner_->SetVideoFullScreen(fullScreen);
    return S_OK;
}

HRESULT VideoRenderer::get_FullScreenMode(bool* fullScreen) const {
    if (!fullScreen)
        return E_POINTER;
    *fullScreen = fullScreen_;
    return S_OK;
}

void VideoRenderer::DeliverInput(const PreviewInput& input) {
    if (drain_)
        drain_->OnDrainedInput(input);
}

} // namespace kelo
