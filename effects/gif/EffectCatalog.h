// The 48 animated overlay effects in one table: which page shows them, on which button, with
// which file and how the overlay filter blends them. The effect pages and the effect-pack
// generator both read it, so a file name is written down exactly once.
#pragma once

#include "effects/filters/EffectFilterControl.h"

#include <span>
#include <string>

namespace kelo {

enum class EffectFamily { Frame, Light, Cartoon };

struct EffectEntry {
    EffectFamily family;
    int number;           // 1..16: the button's place on its page
    int buttonId;         // control id of the page's button
    int iconId;           // icon resource shown on the button
    const char* caption;  // button caption (UTF-8), empty for none
    const char* fileName; // UTF-8 file name inside Effect/<family folder>/
    int overlayCode;      // kOverlayScreen, kOverlayKey or kOverlayKeyFaded (EffectFilterControl.h)
};

// All 48 effects: cartoon, light, then frame, each family in button order.
std::span<const EffectEntry> AllEffects();
// The 16 effects of one family, in button order (number 1 first).
std::span<const EffectEntry> EffectsOf(EffectFamily family);
// The effect of a family by its number 1..16; nullptr for any other number.
const EffectEntry* FindEffect(EffectFamily family, int number);

// "frame", "light" or "cartoon".
const char* FamilyFolder(EffectFamily family);
// "Effect/<folder>/<file name>": relative to the working directory or the installed data folder.
std::string EffectRelativePath(const EffectEntry& effect);
// "//Effect//<folder>//<file name>": the form the pages append to the working directory and
// record as "GifName" (doubled slashes and all, as earlier versions stored it).
std::string EffectPathSuffix(const EffectEntry& effect);
// "Effect/<folder>/thumbs/<file name without .gif>.png": the picture of the page button, which
// it fills; scale 2 gives the "@2x" file drawn for dense screens.
std::string ThumbnailRelativePath(const EffectEntry& effect, int scale = 1);

// The thumbnail's size at scale 1: the width of an effect button (24 dialog units, 36 pixels)
// and the height that keeps the effects' 4:3 (the button is 31 pixels high).
constexpr int kThumbnailWidth = 36;
constexpr int kThumbnailHeight = 27;

} // namespace kelo
