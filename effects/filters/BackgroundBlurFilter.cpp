#include "effects/filters/BackgroundBlurFilter.h"

#include "effects/filters/EffectElement.h"

#define GST_CAT_DEFAULT kelo_effects_debug

namespace kelo {

const EffectElementKind& BackgroundBlurFilterElementKind() {
    static const EffectElementKind kind{
        kBackgroundBlurFactoryName,
        "KeloBackgroundBlurFilter",
        "Background Blur",
        "Blurs the background behind the person in every BGR frame",
        false,
        []() -> EffectProcessor* { return new BackgroundBlurProcessor(); },
        true};
    return kind;
}

std::shared_ptr<BackgroundBlurFilter> BackgroundBlurFilter::Create() {
    ElementPtr element = MakeEffectElement(kBackgroundBlurFactoryName);
    if (!element)
        return nullptr;
    return std::make_shared<BackgroundBlurFilter>(std::move(element));
}

BackgroundBlurFilter::BackgroundBlurFilter(ElementPtr element)
    : BaseFilter(std::move(element)),
      processor_(static_cast<BackgroundBlurProcessor*>(EffectElementProcessor(this->element()))) {}

HRESULT BackgroundBlurFilter::SetSwitch(const std::atomic<std::int32_t>* on) {
    if (!processor_) {
        GST_WARNING("switch refused: the blur element has no processor");
        return E_FAIL;
    }
    processor_->blurSwitch.store(on, std::memory_order_release);
    return S_OK;
}

} // namespace kelo
