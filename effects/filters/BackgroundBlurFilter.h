// "Background Blur": blurs the room behind the person (BackgroundBlur.h does the work). The
// element sits right after the Color Space Converter, so that everything drawn later on the
// frame (overlays, caption, face cover) stays sharp. It is in GStreamer's passthrough mode
// whenever its switch reads 0, asked once per frame: off, it costs nothing.
#pragma once

#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilterControl.h"
#include "effects/models/BackgroundBlur.h"
#include "platform/graph/BaseFilter.h"

namespace kelo {

class BackgroundBlurFilter : public BaseFilter, public BackgroundBlurControl {
public:
    // Null when the element cannot be made.
    static std::shared_ptr<BackgroundBlurFilter> Create();

    explicit BackgroundBlurFilter(ElementPtr element);
    [[nodiscard]] HRESULT SetSwitch(const std::atomic<std::int32_t>* on) override;

    // Borrowed: valid while the filter lives.
    BackgroundBlurProcessor* processor() const { return processor_; }

private:
    BackgroundBlurProcessor* processor_; // owned by the element
};

const EffectElementKind& BackgroundBlurFilterElementKind();

} // namespace kelo
