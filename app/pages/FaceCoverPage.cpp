#include "app/pages/FaceCoverPage.h"

#include "engine/EffectState.h"

namespace kelo {

FaceCoverPage::FaceCoverPage(QWidget* parent) : EnginePage(kTemplateId, parent) {
    connect(this, &SkinnedDialog::command, this, &FaceCoverPage::OnCommand);
}

void FaceCoverPage::OnCommand(int controlId) {
    switch (controlId) {
    case kFaceCoverCheck:
        // The box toggles its own mark and the flag is toggled here; both start off, so they
        // stay in step. The switch is process-wide: no engine needed.
        ProcessEffectState().ToggleFaceDetection();
        break;
    default:
        break; // the hidden buttons do nothing
    }
}

} // namespace kelo
