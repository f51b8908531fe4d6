#include "effects/filters/OverlayFilter.h"

#include "effects/filters/EffectElement.h"

#define GST_CAT_DEFAULT kelo_effects_debug

namespace kelo {

const EffectElementKind& OverlayFilterElementKind() {
    static const EffectElementKind kind{
        kOverlayFactoryName,
        "KeloOverlayFilter",
        "Overlay Filer", // "Filer" as the filter has always been named: keep it
        "Passes BGR frames through (mode 2)",
        true,
        []() -> EffectProcessor* { return new OverlayProcessor(); }};
    return kind;
}

std::shared_ptr<OverlayFilter> OverlayFilter::Create() {
    ElementPtr element = MakeEffectElement(kOverlayFactoryName);
    if (!element)
        return nullptr;
    return std::make_shared<OverlayFilter>(std::move(element));
}

OverlayFilter::OverlayFilter(ElementPtr element)
    : BaseFilter(std::move(element)),
      processor_(static_cast<OverlayProcessor*>(EffectElementProcessor(this->element()))) {}

HRESULT OverlayFilter::SetMode(int mode) {
    if (!processor_) {
        GST_WARNING("mode %d refused: the overlay element has no processor", mode);
        return E_FAIL;
    }
    processor_->mode.store(mode, std::memory_order_relaxed);
    return S_OK;
}

int OverlayFilter::mode() const {
    return processor_ ? processor_->mode.load(std::memory_order_relaxed) : 0;
}

} // namespace kelo
