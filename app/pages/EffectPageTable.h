// The three overlay pages are one design; this table holds all that differs between them: the
// tab and template they live in, their buttons, the effects of the catalog they play, the name
// the main window stores for them, the overlay code of a timer tick, and whether button 1
// starts the page first.
#pragma once

#include "app/settings/SettingsStore.h"
#include "effects/gif/EffectCatalog.h"

#include <array>
#include <optional>

namespace kelo {

enum class EffectPageKind { Frame, Light, Cartoon };

struct EffectPageDifferences {
    EffectPageKind kind;
    EffectFamily family;        // the effects of the catalog the buttons play
    OverlayFamily storedFamily; // [Effect] Effect as the main window writes it on a tab change
    int tab;                    // position in the main window's effect tabs
    int templateId;             // dialog template of the page
    int firstButtonId;          // buttons firstButtonId ... firstButtonId + 15, button n = 1 first
    int tickOverlayCode;        // 0: the code of the effect loaded; else this code on every tick
    bool firstButtonStarts;     // button 1 runs StartAnimation first when the page is stopped
};

// clang-format off
inline constexpr std::array<EffectPageDifferences, 3> kEffectPages = {{
    {EffectPageKind::Frame,   EffectFamily::Frame,   OverlayFamily::Frame,   1, 160, 1040, 0,   true},
    {EffectPageKind::Light,   EffectFamily::Light,   OverlayFamily::Led,     2, 161, 1056, 110, false},
    {EffectPageKind::Cartoon, EffectFamily::Cartoon, OverlayFamily::Cartoon, 3, 162, 1072, 0,   false},
}};
// clang-format on

const EffectPageDifferences& DifferencesOf(EffectPageKind kind);
// The page that plays a family stored in [Effect] Effect (start-up restore).
EffectPageKind PageKindOf(OverlayFamily family);
// The overlay page of a tab of the main window; none for the colour (0) and "其它" (4) tabs.
std::optional<EffectPageKind> PageKindOfTab(int tab);

} // namespace kelo
