// The base of the five effect pages: a skinned page (its template, the page background 142)
// that holds a non-owning pointer to the current CaptureEngine.
//
// Lifetime rule, the one the window must keep: SetEngine(nullptr) on every page before the
// engine it holds is destroyed, so that a page never holds a dangling pointer. ReleaseEngine()
// below does exactly that and is the way to destroy an engine the pages may hold. A page
// treats a non-null engine as alive and uses no engine without one.
//
// Threads: window thread only.
#pragma once

#include "ui/SkinnedDialog.h"

#include <initializer_list>
#include <memory>

namespace kelo {

class CaptureEngine;

class EnginePage : public ui::SkinnedDialog {
    Q_OBJECT
public:
    EnginePage(int templateId, QWidget* parent);

    // Hands over the engine the page works with from now on (null: none). Not owned.
    virtual void SetEngine(CaptureEngine* engine) { engine_ = engine; }
    CaptureEngine* Engine() const { return engine_; }

protected:
    // A page is part of the window, not a dialog of its own: Escape must not hide it (it goes
    // on to the window).
    void keyPressEvent(QKeyEvent* event) override;

    CaptureEngine* engine_ = nullptr; // not owned; see the lifetime rule above
};

// Every page lets go of `engine` (each finishes what it showed there), then the engine is
// destroyed and `engine` is empty. Pages that do not hold it are left as they are.
void ReleaseEngine(std::unique_ptr<CaptureEngine>& engine,
                   std::initializer_list<EnginePage*> pages);

// Hands `engine` to every page, in the order given.
void HandOverEngine(CaptureEngine* engine, std::initializer_list<EnginePage*> pages);

} // namespace kelo
