// Registration of the three effect filters and the background blur with a class registry, under
// their class identifiers (platform/graph/ClassIds.h):
//   CLSID_OverlayFilter    -> OverlayFilter    (OverlayFilterControl)
//   CLSID_ProxyTransFilter -> ProxyTransFilter (ProxyTransControl)
//   CLSID_BmpOverlayFilter -> BmpOverlayFilter (BmpOverlayControl)
//   CLSID_BackgroundBlurFilter -> BackgroundBlurFilter (BackgroundBlurControl)
// Each created object is a BaseFilter (its element() goes into the graph) and answers its
// control interface through QueryInterface. Creation fails (E_FAIL) when the element cannot be
// made.
#pragma once

#include "platform/graph/ClassRegistry.h"

namespace kelo {

void RegisterEffectFilters(ClassRegistry& registry);

} // namespace kelo
