// "OpenCV ProxyTrans Filer": calls the registered FrameCallbackFn once per frame, on the
// streaming thread, with a FrameImage over the frame's own bytes (origin bottom-left, widthStep
// = the buffer's stride), before the frame passes on. The callback's changes reach the output.
#pragma once

#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilterControl.h"
#include "platform/graph/BaseFilter.h"

#include <atomic>

namespace kelo {

class ProxyTransProcessor : public EffectProcessor {
public:
    void ProcessFrame(std::uint8_t* data, int width, int height, int stride) override;
    std::atomic<FrameCallbackFn> callback{nullptr};
};

class ProxyTransFilter : public BaseFilter, public ProxyTransControl {
public:
    static std::shared_ptr<ProxyTransFilter> Create();

    explicit ProxyTransFilter(ElementPtr element);
    [[nodiscard]] HRESULT RegisterCallback(FrameCallbackFn callback, int flags) override;

private:
    ProxyTransProcessor* processor_; // owned by the element
};

const EffectElementKind& ProxyTransFilterElementKind();

} // namespace kelo
