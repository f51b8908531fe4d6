// One overlay page (frame, light or cartoon): 16 icon buttons, each naming one animated effect
// file. A button decodes its file with a GifAnimation and plays it over the live video: the
// page hands the decoded pictures one after the other, each for its own delay, to the engine's
// overlay filter, in a loop without end. The main window starts the page of the overlay tab the
// user selects and stops the other two; the family and effect chosen go to data.ini.
//
// Timing: the animation timer ticks every 10 ms (the period the platform gives a window timer
// asked for 3 ms), so one tick is one hundredth of a second, the unit of a GIF delay.
//
// Picture lifetime: the pictures handed to the overlay filter belong to the page's decoder. The
// page clears the overlay on the engine that shows a picture, and that clear has returned,
// before the picture is freed or replaced (another effect loaded, the page stopped, the engine
// handed over, the page destroyed). With no engine, or an engine without the overlay filter,
// nothing reaches an engine while decoding, timing and the data.ini writes go on.
//
// Loading: a button's file is decoded on a pool thread (a large or hostile file can take a
// second); the effect playing goes on until the new one is decoded, which then replaces it on
// the window thread. A newer press, or the page stopped, makes a decode in flight count for
// nothing.
//
// Threads: window thread (buttons, timer, engine calls), except the decode of a file.
#pragma once

#include "app/pages/AnimationClock.h"
#include "app/pages/EffectPageTable.h"
#include "app/pages/EnginePage.h"

#include <cstdint>
#include <memory>
#include <QString>
#include <QTimer>
#include <span>
#include <string>

namespace kelo {

class GifAnimation;
struct EffectEntry;

class EffectPage : public EnginePage {
    Q_OBJECT
public:
    static constexpr int kButtonCount = 16;
    static constexpr int kAnimationTimerId = 1;
    // The page asks for 3 ms; the platform raises any window-timer period below 10 ms to 10.
    static constexpr int kTickMs = 10;

    explicit EffectPage(EffectPageKind kind, QWidget* parent = nullptr);
    // Frees the animation. No engine is called unless the window still lets the page hold one
    // (then its overlay is cleared first, so that the filter never reads a freed picture).
    ~EffectPage() override;

    // Clears the overlay this page shows on the engine it lets go of; the new engine gets a
    // picture at the next advance of the animation.
    void SetEngine(CaptureEngine* engine) override;

    // With no decoder: creates an empty one and starts the animation timer. Else nothing.
    void StartAnimation();
    // With a decoder: clears the overlay, then frees the decoder and its pictures. The timer
    // stops. Countdown, frame count, frame index and overlay code stay as they are.
    void StopAnimation();
    // The action of button n, 1 to 16; any other n does nothing. The choice is stored at once;
    // the effect plays once its file is decoded (off the window thread).
    void SelectEffect(int n);
    // A file being decoded for the last press.
    bool LoadPending() const { return pendingLoad_ != nullptr; }
    // Waits for the decode of the last press and plays its effect now (tests, benchmarks).
    void FinishPendingLoad();

    // One tick of the animation timer (the timer calls it; tests drive it directly).
    void OnAnimationTick();

    EffectPageKind Kind() const { return differences_.kind; }
    const EffectPageDifferences& Differences() const { return differences_; }
    bool IsStarted() const { return decoder_ != nullptr; }
    bool IsTimerActive() const { return timer_.isActive(); }
    std::uint32_t Countdown() const { return clock_.Countdown(); }
    std::uint32_t FrameCount() const { return clock_.FrameCount(); }
    std::uint32_t FrameIndex() const { return clock_.FrameIndex(); }
    int OverlayCode() const { return overlayCode_; }
    // The decoder while the page is started, else null.
    const GifAnimation* Decoder() const { return decoder_.get(); }
    // The picture the overlay filter of the current engine shows from this page, or null.
    const std::uint8_t* ShownPicture() const { return shownPicture_; }
    // The data.ini the page writes to (built when the page initialises).
    const std::string& SettingsPath() const { return settingsPath_; }

    // The file of an effect: the working directory followed by the effect's "//Effect//..."
    // suffix; when no file is there, the same effect in the installed data folder.
    static std::string EffectFilePath(const EffectEntry& effect);
    // What a person calls the effect, in the studio's language: the name in its file name
    // ("001星空.gif": "星空"), or "效果 N" when the file has none. The button's tool tip and
    // accessible name.
    static QString EffectName(const EffectEntry& effect);
    // Every name EffectName can translate (the Chinese names of the effect files).
    static std::span<const char* const> TranslatedEffectNames();
    // The button of the effect that plays (marked), 1 to 16, or 0.
    int MarkedButton() const { return marked_; }

protected:
    void OnInitDialog() override;

private:
    // The message table: the 16 buttons.
    void OnCommand(int controlId);
    void RunButton(int n);
    // Overlay calls that reach the engine only when there is one; they keep track of which
    // picture the engine's filter may read.
    void ClearOverlay();
    void ShowPicture(int overlayCode, const std::uint8_t* picture);
    void AttachButtonIcons();
    struct PendingLoad;
    // Window thread: a decode finished; played when it is still the one awaited.
    void OnEffectDecoded(const std::shared_ptr<PendingLoad>& load);
    void MarkButton(int n);

    const EffectPageDifferences& differences_;
    std::unique_ptr<GifAnimation> decoder_; // exists exactly while the page is started
    AnimationClock clock_;
    int overlayCode_ = 0;                        // code of the effect last loaded
    int marked_ = 0;                             // the button of the effect that plays
    const std::uint8_t* shownPicture_ = nullptr; // owned by decoder_; on engine_'s filter
    std::string settingsPath_;
    QTimer timer_;                             // timer 1 of the page
    std::shared_ptr<PendingLoad> pendingLoad_; // the decode of the last press, if running
};

} // namespace kelo
