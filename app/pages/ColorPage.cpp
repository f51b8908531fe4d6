#include "app/pages/ColorPage.h"

#include "app/pages/PagesLog.h"
#include "app/settings/SettingsStore.h"
#include "engine/EffectState.h"
#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"
#include "ui/SkinnedTrackbar.h"

#include <QCheckBox>

namespace kelo {
namespace {

using ui::IconButton;

struct SliderSetup {
    int id;
    int minimum;
    int maximum;
};
constexpr SliderSetup kSliders[] = {
    {ColorPage::kLightnessSlider, -255, 255}, {ColorPage::kSaturationSlider, -255, 255},
    {ColorPage::kRedSlider, 0, 255},          {ColorPage::kGreenSlider, 0, 255},
    {ColorPage::kBlueSlider, 0, 255},
};

struct Preset {
    int buttonId;
    int iconId;
    int red, green, blue, lightness, saturation;
};
// The coloured lights, and the reset button (all zero).
constexpr Preset kPresets[] = {
    {ColorPage::kBlueLightButton, 155, 0, 60, 147, 0, 0},
    {ColorPage::kYellowLightButton, 158, 105, 135, 0, 0, 0},
    {ColorPage::kPurpleLightButton, 157, 47, 47, 87, 0, 0},
    {ColorPage::kRedLightButton, 156, 75, 0, 0, 0, 0},
    {ColorPage::kResetButton, 159, 0, 0, 0, 0, 0},
};

} // namespace

ColorPage::ColorPage(QWidget* parent) : EnginePage(kTemplateId, parent) {
    connect(this, &SkinnedDialog::command, this, &ColorPage::OnCommand);
    for (const SliderSetup& setup : kSliders) {
        if (ui::SkinnedTrackbar* slider = Slider(setup.id))
            connect(slider, &ui::SkinnedTrackbar::scrolled, this, &ColorPage::OnSliderScrolled);
    }
}

ui::SkinnedTrackbar* ColorPage::Slider(int sliderId) const {
    return Control<ui::SkinnedTrackbar>(sliderId);
}

int ColorPage::SliderPosition(int sliderId) const {
    const ui::SkinnedTrackbar* slider = Slider(sliderId);
    return slider ? slider->value() : 0;
}

bool ColorPage::IsAdjustDisabled() const {
    const auto* box = Control<QCheckBox>(kDisableCheck);
    return box && box->isChecked();
}

void ColorPage::OnInitDialog() {
    for (const Preset& preset : kPresets) {
        if (auto* button = Control<IconButton>(preset.buttonId)) {
            button->SetIcon(preset.iconId);
            button->DressOnSkin();
            if (preset.buttonId == kResetButton) {
                // A picture only: its name for the pointer and for screen readers.
                button->setToolTip(tr("恢复默认色彩"));
                button->setAccessibleName(button->toolTip());
            }
        }
    }
    for (const SliderSetup& setup : kSliders) {
        if (ui::SkinnedTrackbar* slider = Slider(setup.id)) {
            slider->SetSkin(ui::skin::kTrackbarChannel, ui::skin::kTrackbarThumb,
                            ui::skin::kTrackbarThumbActive);
            slider->SetHandCursor(true);
            slider->setRange(setup.minimum, setup.maximum);
            slider->setSingleStep(0); // the arrow keys do not move it
            slider->setValue(0);
        }
    }
    settingsPath_ = settingsPath();
    RestoreSettings();
}

void ColorPage::RestoreSettings() {
    const SettingsStore store(settingsPath_);
    auto* box = Control<QCheckBox>(kDisableCheck);
    if (store.ReadInt(SettingId::ColorAdjustEnabled) != 0) {
        if (box)
            box->setChecked(false);
        // Read as the platform does (unsigned), set as a signed position: the slider keeps a
        // value out of its range at its nearest end ("-5" gives 0, "300" gives 255).
        const auto position = [&](SettingId id) {
            return static_cast<std::int32_t>(store.ReadInt(id));
        };
        if (ui::SkinnedTrackbar* red = Slider(kRedSlider))
            red->setValue(position(SettingId::RedOffset));
        if (ui::SkinnedTrackbar* green = Slider(kGreenSlider))
            green->setValue(position(SettingId::GreenOffset));
        if (ui::SkinnedTrackbar* blue = Slider(kBlueSlider))
            blue->setValue(position(SettingId::BlueOffset));
        OnDisableClicked();
        ApplyColorAdjust();
    } else if (box) {
        // Off: nothing goes to the effect state, which starts with everything at 0.
        box->setChecked(true);
    }
}

void ColorPage::ApplyColorAdjust() {
    EffectState& state = ProcessEffectState();
    state.SetLightnessShift(SliderPosition(kLightnessSlider));
    state.SetSaturationShift(SliderPosition(kSaturationSlider));
    const int red = SliderPosition(kRedSlider);
    const int green = SliderPosition(kGreenSlider);
    const int blue = SliderPosition(kBlueSlider);
    state.SetRedOffset(red);
    state.SetGreenOffset(green);
    state.SetBlueOffset(blue);
    if (settingsPath_.empty())
        settingsPath_ = settingsPath(); // driven before its initialisation
    if (!SettingsStore(settingsPath_).WriteColorOffsets(red, green, blue))
        qCDebug(lcPages, "could not store the colour offsets in %s", settingsPath_.c_str());
}

void ColorPage::SetSliders(int red, int green, int blue, int lightness, int saturation) {
    for (const auto& [id, position] :
         {std::pair{kRedSlider, red}, std::pair{kGreenSlider, green}, std::pair{kBlueSlider, blue},
          std::pair{kLightnessSlider, lightness}, std::pair{kSaturationSlider, saturation}}) {
        if (ui::SkinnedTrackbar* slider = Slider(id))
            slider->setValue(position);
    }
    ApplyColorAdjust();
}

void ColorPage::OnSliderScrolled() {
    if (IsAdjustDisabled()) {
        // Switched off: a moved slider snaps every slider back to 0.
        SetSliders(0, 0, 0, 0, 0);
        return;
    }
    ApplyColorAdjust();
}

void ColorPage::OnDisableClicked() {
    const bool on = !IsAdjustDisabled();
    // The shifts and offsets stay as they are: switching on again brings them back.
    ProcessEffectState().SetColorAdjustOn(on ? 1 : 0);
    if (settingsPath_.empty())
        settingsPath_ = settingsPath();
    if (!SettingsStore(settingsPath_).WriteColorAdjustEnabled(on))
        qCDebug(lcPages, "could not store the colour switch in %s", settingsPath_.c_str());
}

void ColorPage::OnCommand(int controlId) {
    if (controlId == kDisableCheck) {
        OnDisableClicked();
        return;
    }
    for (const Preset& preset : kPresets) {
        if (preset.buttonId != controlId)
            continue;
        if (controlId != kResetButton && IsAdjustDisabled()) {
            (void)ui::ShowMessageBox(this, tr("请启用色彩调节功能!"),
                                     tr("提示")); // only OK to answer
            return;
        }
        SetSliders(preset.red, preset.green, preset.blue, preset.lightness, preset.saturation);
        return;
    }
}

} // namespace kelo
