// The colour adjustment page (template 151): five sliders (lightness, saturation, red, green,
// blue), four coloured-light presets, a reset button and the "禁用色彩调节" check box (checked =
// adjustment off). Every change goes straight into the process-wide EffectState, so the next
// frame shows it; the switch and the red, green and blue offsets are kept in data.ini.
//
// The setters act on process-wide state and need no engine: the page works the same with or
// without one. Threads: window thread only.
#pragma once

#include "app/pages/EnginePage.h"

#include <string>

namespace kelo {

namespace ui {
class SkinnedTrackbar;
}

class ColorPage : public EnginePage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 151;
    static constexpr int kLightnessSlider = 1034;
    static constexpr int kSaturationSlider = 1035;
    static constexpr int kRedSlider = 1031;
    static constexpr int kGreenSlider = 1032;
    static constexpr int kBlueSlider = 1033;
    static constexpr int kDisableCheck = 1037;
    static constexpr int kResetButton = 1036;
    static constexpr int kBlueLightButton = 1038;
    static constexpr int kYellowLightButton = 1039;
    static constexpr int kPurpleLightButton = 1040;
    static constexpr int kRedLightButton = 1041;

    explicit ColorPage(QWidget* parent = nullptr);

    // Sends the five slider positions to the effect state (lightness, saturation, red, green,
    // blue), then stores "R", "G", "B".
    void ApplyColorAdjust();

    // The slider's position (0 for an id that is no slider of the page).
    int SliderPosition(int sliderId) const;
    bool IsAdjustDisabled() const;
    const std::string& SettingsPath() const { return settingsPath_; }

protected:
    void OnInitDialog() override;

private:
    // The message table: buttons, the check box and the sliders' scroll notifications.
    void OnCommand(int controlId);
    void OnSliderScrolled();
    void OnDisableClicked();
    // Red, green, blue, lightness, saturation, in that order, then ApplyColorAdjust.
    void SetSliders(int red, int green, int blue, int lightness, int saturation);
    void RestoreSettings();
    ui::SkinnedTrackbar* Slider(int sliderId) const;

    std::string settingsPath_;
};

} // namespace kelo
