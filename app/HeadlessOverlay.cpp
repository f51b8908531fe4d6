#include "app/HeadlessOverlay.h"

#include "effects/EffectCatalog.h"
#include "engine/CaptureEngine.h"
#include "platform/system/AssetPaths.h"

namespace kelo {

HeadlessOverlay::HeadlessOverlay(CaptureEngine& engine, GMainContext* context)
    : engine_(engine), context_(context) {}

HeadlessOverlay::~HeadlessOverlay() {
    StopTick();
}

void HeadlessOverlay::StopTick() {
    if (tick_) {
        g_source_destroy(tick_);
        GSourcePtr release(tick_);
        tick_ = nullptr;
    }
}

bool HeadlessOverlay::Start(OverlayFamily family, int index, std::string* file) {
    // StartAnimation.
    if (!tick_) {
        tick_ = g_timeout_source_new(kTickMs);
        g_source_set_callback(tick_, &HeadlessOverlay::OnTick, this, nullptr);
        g_source_attach(tick_, context_);
    }
    // SelectEffect: the action of button `index`.
    const EffectFamily effectFamily = family == OverlayFamily::Frame ? EffectFamily::Frame
                                      : family == OverlayFamily::Led ? EffectFamily::Light
                                                                     : EffectFamily::Cartoon;
    const EffectEntry* effect = FindEffect(effectFamily, index);
    if (!effect)
        return false;
    const std::string relative = EffectRelativePath(*effect);
    std::string path = FindAsset(relative);
    if (file)
        *file = path.empty() ? relative : path;
    // The pages do not look at the overlay's results: a missing overlay filter shows nothing.
    (void)engine_.ClearOverlay(kOverlayClear, 0, 0, 0, 0);
    if (path.empty() || decoder_.Load(path) != 1)
        return false;
    countdown_ = static_cast<std::uint32_t>(decoder_.GetFrameDelay(0));
    frameCount_ = static_cast<std::uint32_t>(decoder_.GetFrameCount());
    frameIndex_ = 0;
    // The light page always lays its pictures with the screen blend.
    overlayCode_ = effectFamily == EffectFamily::Light ? kOverlayScreen : effect->overlayCode;
    (void)engine_.ShowOverlayPicture(overlayCode_, decoder_.GetFrameBits(0));
    return true;
}

gboolean HeadlessOverlay::OnTick(gpointer self) {
    static_cast<HeadlessOverlay*>(self)->Tick();
    return G_SOURCE_CONTINUE;
}

void HeadlessOverlay::Tick() {
    // Unsigned arithmetic as the pages do it: a delay of 0 holds a picture for 2^32 ticks.
    if (--countdown_ != 0)
        return;
    ++frameIndex_;
    if (frameIndex_ > frameCount_ - 1u)
        frameIndex_ = 0;
    countdown_ = static_cast<std::uint32_t>(decoder_.GetFrameDelay(static_cast<int>(frameIndex_)));
    (void)engine_.ShowOverlayPicture(overlayCode_,
                                     decoder_.GetFrameBits(static_cast<int>(frameIndex_)));
}

} // namespace kelo
