#include "effects/filters/ProxyTransFilter.h"

#include "effects/filters/EffectElement.h"

#define GST_CAT_DEFAULT kelo_effects_debug

namespace kelo {

const EffectElementKind& ProxyTransFilterElementKind() {
    static const EffectElementKind kind{
        kProxyTransFactoryName,
        "KeloProxyTransFilter",
        "OpenCV ProxyTrans Filer", // "Filer" as the filter has always been named: keep it
        "Hands every BGR frame to a callback, in place",
        false,
        []() -> EffectProcessor* { return new ProxyTransProcessor(); }};
    return kind;
}

void ProxyTransProcessor::ProcessFrame(std::uint8_t* data, int width, int height, int stride) {
    FrameCallbackFn fn = callback.load(std::memory_order_acquire);
    if (!fn)
        return;
    FrameImage frame;
    frame.width = width;
    frame.height = height;
    frame.depth = kFrameDepth8U;
    frame.nChannels = 3;
    frame.origin = kFrameOriginBottomLeft; // frames inside the graph are bottom-up
    frame.imageData = data;
    frame.widthStep = stride;
    frame.imageSize = stride * height;
    fn(&frame);
}

std::shared_ptr<ProxyTransFilter> ProxyTransFilter::Create() {
    ElementPtr element = MakeEffectElement(kProxyTransFactoryName);
    if (!element)
        return nullptr;
    return std::make_shared<ProxyTransFilter>(std::move(element));
}

ProxyTransFilter::ProxyTransFilter(ElementPtr element)
    : BaseFilter(std::move(element)),
      processor_(static_cast<ProxyTransProcessor*>(EffectElementProcessor(this->element()))) {}

HRESULT ProxyTransFilter::RegisterCallback(FrameCallbackFn callback, int /*flags*/) {
    if (!processor_) {
        GST_WARNING("callback refused: the proxy element has no processor");
        return E_FAIL;
    }
    processor_->callback.store(callback, std::memory_order_release);
    return S_OK;
}

} // namespace kelo
