#include "app/pages/EnginePage.h"

#include "engine/CaptureEngine.h"
#include "ui/Skin.h"

#include <QKeyEvent>

namespace kelo {

EnginePage::EnginePage(int templateId, QWidget* parent)
    : ui::SkinnedDialog(templateId, ui::skin::kPageBackground, parent) {}

void EnginePage::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    ui::SkinnedDialog::keyPressEvent(event);
}

void ReleaseEngine(std::unique_ptr<CaptureEngine>& engine,
                   std::initializer_list<EnginePage*> pages) {
    for (EnginePage* page : pages) {
        if (page && engine && page->Engine() == engine.get())
            page->SetEngine(nullptr);
    }
    engine.reset();
}

void HandOverEngine(CaptureEngine* engine, std::initializer_list<EnginePage*> pages) {
    for (EnginePage* page : pages) {
        if (page)
            page->SetEngine(engine);
    }
}

} // namespace kelo
