// "Overlay Filer": the last of the three effect filters. Mode 2 (the only mode the studio sets)
// passes frames through unchanged; the element is a pass-through in every mode.
#pragma once

#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilterControl.h"
#include "platform/graph/BaseFilter.h"

#include <atomic>

namespace kelo {

inline constexpr int kOverlayModePassThrough = 2;

// Per-element state: the mode last set.
class OverlayProcessor : public EffectProcessor {
public:
    void ProcessFrame(std::uint8_t*, int, int, int) override {}
    std::atomic<int> mode{kOverlayModePassThrough};
};

class OverlayFilter : public BaseFilter, public OverlayFilterControl {
public:
    // Null when the element cannot be made.
    static std::shared_ptr<OverlayFilter> Create();

    explicit OverlayFilter(ElementPtr element);
    [[nodiscard]] HRESULT SetMode(int mode) override;
    int mode() const;

private:
    OverlayProcessor* processor_; // owned by the element
};

const EffectElementKind& OverlayFilterElementKind();

} // namespace kelo
