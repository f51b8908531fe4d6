#include "effects/filters/EffectFilters.h"

#include "effects/filters/BackgroundBlurFilter.h"
#include "effects/filters/BmpOverlayFilter.h"
#include "effects/filters/OverlayFilter.h"
#include "effects/filters/ProxyTransFilter.h"
#include "platform/graph/ClassIds.h"

namespace kelo {

void RegisterEffectFilters(ClassRegistry& registry) {
    registry.Register(CLSID_OverlayFilter, []() -> ComPtr { return OverlayFilter::Create(); });
    registry.Register(CLSID_ProxyTransFilter,
                      []() -> ComPtr { return ProxyTransFilter::Create(); });
    registry.Register(CLSID_BmpOverlayFilter,
                      []() -> ComPtr { return BmpOverlayFilter::Create(); });
    registry.Register(CLSID_BackgroundBlurFilter,
                      []() -> ComPtr { return BackgroundBlurFilter::Create(); });
}

} // namespace kelo
