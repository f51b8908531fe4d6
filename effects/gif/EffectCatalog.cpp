#include "effects/gif/EffectCatalog.h"

#include <array>
#include <string_view>

namespace kelo {

namespace {

using F = EffectFamily;

constexpr std::array<EffectEntry, 48> kEffects = {{
    {F::Cartoon, 1, 1072, 192, "星空", "001星空.gif", kOverlayScreen},
    {F::Cartoon, 2, 1073, 193, "002", "002流星妖精.gif", kOverlayScreen},
    {F::Cartoon, 3, 1074, 194, "003", "003爱的记忆.gif", kOverlayScreen},
    {F::Cartoon, 4, 1075, 187, "004", "004喷花.gif", kOverlayScreen},
    {F::Cartoon, 5, 1076, 195, "005", "005猫.gif", kOverlayKeyFaded},
    {F::Cartoon, 6, 1077, 197, "006", "006拜托啦.gif", kOverlayKeyFaded},
    {F::Cartoon, 7, 1078, 183, "007", "007骑车.gif", kOverlayKeyFaded},
    {F::Cartoon, 8, 1079, 198, "008", "008爱你的心.gif", kOverlayScreen},
    {F::Cartoon, 9, 1080, 199, "009", "009.gif", kOverlayScreen},
    {F::Cartoon, 10, 1081, 184, "010", "010.gif", kOverlayScreen},
    {F::Cartoon, 11, 1082, 185, "011", "011.gif", kOverlayKey},
    {F::Cartoon, 12, 1083, 186, "012", "012飘雪.gif", kOverlayScreen},
    {F::Cartoon, 13, 1084, 189, "013", "013.gif", kOverlayScreen},
    {F::Cartoon, 14, 1085, 190, "014", "014.gif", kOverlayScreen},
    {F::Cartoon, 15, 1086, 191, "015", "015.gif", kOverlayScreen},
    {F::Cartoon, 16, 1087, 188, "016", "016三朵花.gif", kOverlayScreen},

    {F::Light, 1, 1056, 208, "流星雨", "001流星雨.gif", kOverlayScreen},
    {F::Light, 2, 1057, 178, "闪条", "002闪条.gif", kOverlayScreen},
    {F::Light, 3, 1058, 179, "003", "003星光点点.gif", kOverlayScreen},
    {F::Light, 4, 1059, 200, "004", "004七色烟花.gif", kOverlayScreen},
    {F::Light, 5, 1060, 210, "005", "005.gif", kOverlayScreen},
    {F::Light, 6, 1061, 201, "006", "006飘花.gif", kOverlayScreen},
    {F::Light, 7, 1062, 202, "007", "007动感炫光.gif", kOverlayScreen},
    {F::Light, 8, 1063, 203, "008", "008灯光波光.gif", kOverlayScreen},
    {F::Light, 9, 1064, 204, "009", "009红色灯光.gif", kOverlayScreen},
    {F::Light, 10, 1065, 209, "010", "010.gif", kOverlayScreen},
    {F::Light, 11, 1066, 205, "011", "011晴天霹雳.gif", kOverlayScreen},
    {F::Light, 12, 1067, 206, "012", "012闪动变色.gif", kOverlayScreen},
    {F::Light, 13, 1068, 207, "013", "013.gif", kOverlayScreen},
    {F::Light, 14, 1069, 180, "014", "014蓝球.gif", kOverlayScreen},
    {F::Light, 15, 1070, 181, "015", "015旋转红光.gif", kOverlayScreen},
    {F::Light, 16, 1071, 182, "016", "016闪光灯.gif", kOverlayScreen},

    {F::Frame, 1, 1040, 161, "", "001向阳花.gif", kOverlayKey},
    {F::Frame, 2, 1041, 162, "", "002手机屏幕.gif", kOverlayKey},
    {F::Frame, 3, 1042, 163, "", "003笔记本.gif", kOverlayKey},
    {F::Frame, 4, 1043, 164, "", "004花园.gif", kOverlayKey},
    {F::Frame, 5, 1044, 177, "005", "005芳草萋萋.gif", kOverlayKey},
    {F::Frame, 6, 1045, 166, "006", "006枷锁.gif", kOverlayKeyFaded},
    {F::Frame, 7, 1046, 167, "007", "007我爱你.gif", kOverlayKey},
    {F::Frame, 8, 1047, 168, "008", "008转转星.gif", kOverlayKeyFaded},
    {F::Frame, 9, 1048, 169, "009", "009爱情公园.gif", kOverlayKeyFaded},
    {F::Frame, 10, 1049, 170, "010", "010彩虹仙子.gif", kOverlayKeyFaded},
    {F::Frame, 11, 1050, 171, "011", "011蝶恋花.gif", kOverlayKeyFaded},
    {F::Frame, 12, 1051, 176, "012", "012花丛.gif", kOverlayKeyFaded},
    {F::Frame, 13, 1052, 172, "013", "013蝶舞.gif", kOverlayKey},
    {F::Frame, 14, 1053, 173, "014", "014酷兔.gif", kOverlayKey},
    {F::Frame, 15, 1054, 174, "015", "015花的田野.gif", kOverlayKeyFaded},
    {F::Frame, 16, 1055, 175, "016", "016蓝花闪动.gif", kOverlayKey},
}};

constexpr std::size_t kPerFamily = 16;

constexpr std::size_t FamilyOffset(EffectFamily family) {
    switch (family) {
    case F::Cartoon:
        return 0;
    case F::Light:
        return kPerFamily;
    case F::Frame:
        return 2 * kPerFamily;
    }
    return 0;
}

} // namespace

std::span<const EffectEntry> AllEffects() {
    return kEffects;
}

std::span<const EffectEntry> EffectsOf(EffectFamily family) {
    return std::span<const EffectEntry>(kEffects).subspan(FamilyOffset(family), kPerFamily);
}

const EffectEntry* FindEffect(EffectFamily family, int number) {
    if (number < 1 || number > static_cast<int>(kPerFamily))
        return nullptr;
    return &kEffects[FamilyOffset(family) + static_cast<std::size_t>(number - 1)];
}

const char* FamilyFolder(EffectFamily family) {
    switch (family) {
    case F::Frame:
        return "frame";
    case F::Light:
        return "light";
    case F::Cartoon:
        return "cartoon";
    }
    return "";
}

std::string EffectRelativePath(const EffectEntry& effect) {
    return std::string("Effect/") + FamilyFolder(effect.family) + "/" + effect.fileName;
}

std::string EffectPathSuffix(const EffectEntry& effect) {
    return std::string("//Effect//") + FamilyFolder(effect.family) + "//" + effect.fileName;
}

std::string ThumbnailRelativePath(const EffectEntry& effect, int scale) {
    std::string_view name = effect.fileName;
    if (name.ends_with(".gif"))
        name.remove_suffix(4);
    return std::string("Effect/") + FamilyFolder(effect.family) + "/thumbs/" + std::string(name) +
           (scale > 1 ? "@" + std::to_string(scale) + "x" : std::string()) + ".png";
}

} // namespace kelo
