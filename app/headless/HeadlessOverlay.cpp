#include "app/headless/HeadlessOverlay.h"

#include "effects/gif/EffectCatalog.h"
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
    // A file that decodes to no picture shows nothing: it is not playing either.
    if (path.empty() || decoder_.Load(path) != 1 || decoder_.GetFrameCount() == 0)
        return false;
    clock_.Restart(decoder_.GetFrameCount(), decoder_.GetFrameDelay(0));
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
    if (!clock_.Tick([this](int index) { return decoder_.GetFrameDelay(index); }))
        return;
    (void)engine_.ShowOverlayPicture(overlayCode_,
                                     decoder_.GetFrameBits(static_cast<int>(clock_.FrameIndex())));
}

} // namespace kelo
