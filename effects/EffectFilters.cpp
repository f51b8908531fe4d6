#include "effects/EffectFilters.h"

#include "effects/BackgroundBlurFilter.h"
#include "effects/BmpOverlayFilter.h"
#include "effects/OverlayFilter.h"
#include "effects/ProxyTransFilter.h"
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
