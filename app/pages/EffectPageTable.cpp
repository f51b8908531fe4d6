#include "app/pages/EffectPageTable.h"

namespace kelo {

const EffectPageDifferences& DifferencesOf(EffectPageKind kind) {
    for (const EffectPageDifferences& page : kEffectPages) {
        if (page.kind == kind)
            return page;
    }
    return kEffectPages.front(); // unreachable: every kind has a row
}

EffectPageKind PageKindOf(OverlayFamily family) {
    for (const EffectPageDifferences& page : kEffectPages) {
        if (page.storedFamily == family)
            return page.kind;
    }
    return EffectPageKind::Frame; // unreachable: every family has a row
}

std::optional<EffectPageKind> PageKindOfTab(int tab) {
    for (const EffectPageDifferences& page : kEffectPages) {
        if (page.tab == tab)
            return page.kind;
    }
    return std::nullopt;
}

} // namespace kelo
