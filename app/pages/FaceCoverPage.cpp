#include "app/pages/FaceCoverPage.h"

#include "app/pages/PagesLog.h"
#include "app/settings/SettingsStore.h"
#include "engine/EffectState.h"

#include <QCheckBox>

namespace kelo {

FaceCoverPage::FaceCoverPage(QWidget* parent) : EnginePage(kTemplateId, parent) {
    connect(this, &SkinnedDialog::command, this, &FaceCoverPage::OnCommand);
}

void FaceCoverPage::OnInitDialog() {
    // The blur as it was left: box and switch together.
    const bool on = SettingsStore().ReadInt(SettingId::BackgroundBlur) != 0;
    if (auto* box = Control<QCheckBox>(kBackgroundBlurCheck))
        box->setChecked(on);
    ProcessEffectState().SetBackgroundBlurOn(on ? 1 : 0);
}

void FaceCoverPage::OnBackgroundBlurClicked() {
    const auto* box = Control<QCheckBox>(kBackgroundBlurCheck);
    const bool on = box && box->isChecked();
    ProcessEffectState().SetBackgroundBlurOn(on ? 1 : 0);
    const SettingsStore store;
    if (!store.WriteBackgroundBlur(on))
        qCDebug(lcPages, "could not store the blur switch in %s", store.path().c_str());
}

void FaceCoverPage::OnCommand(int controlId) {
    switch (controlId) {
    case kFaceCoverCheck:
        // The box toggles its own mark and the flag is toggled here; both start off, so they
        // stay in step. The switch is process-wide: no engine needed.
        ProcessEffectState().ToggleFaceDetection();
        break;
    case kBackgroundBlurCheck:
        OnBackgroundBlurClicked();
        break;
    default:
        break; // the hidden buttons do nothing
    }
}

} // namespace kelo
