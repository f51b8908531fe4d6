// The overlay effect that data.ini restores at start, played on the headless runner's main
// context as the overlay pages play it: the family's page is started, the effect of the stored
// index selected (its picture 0 shown at once), and a 10 ms tick (the pages' 3 ms timer as the
// platform raises it) hands the next picture to the engine each time a picture's delay in
// hundredths of a second has run out, in a loop without end.
//
// Threads: everything on the runner's thread. The pictures handed to the engine stay alive until
// the overlay is cleared or the engine is gone (the runner destroys the engine first).
#pragma once

#include "app/pages/AnimationClock.h"
#include "app/settings/SettingsStore.h"
#include "effects/gif/GifAnimation.h"

#include <cstdint>
#include <glib.h>
#include <memory>
#include <string>

namespace kelo {

class CaptureEngine;

class HeadlessOverlay {
public:
    // The tick's period: the pages ask for 3 ms, the platform gives at least 10.
    static constexpr unsigned kTickMs = 10;

    HeadlessOverlay(CaptureEngine& engine, GMainContext* context);
    // Stops the tick; does not call the engine (it may be gone already).
    ~HeadlessOverlay();
    HeadlessOverlay(const HeadlessOverlay&) = delete;
    HeadlessOverlay& operator=(const HeadlessOverlay&) = delete;

    // StartAnimation, then SelectEffect (index) on the family's page. False when the index names
    // no effect or its file cannot be read (nothing plays then). `file` gets the path tried.
    bool Start(OverlayFamily family, int index, std::string* file);
    // Ends the tick before the engine goes.
    void StopTick();

private:
    static gboolean OnTick(gpointer self);
    void Tick();

    CaptureEngine& engine_;
    GMainContext* context_;   // borrowed: the runner's
    GSource* tick_ = nullptr; // attached to context_, owned reference
    GifAnimation decoder_;
    AnimationClock clock_;
    int overlayCode_ = 110;
};

} // namespace kelo
