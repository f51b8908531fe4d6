// The control interfaces of the effect filters, found on a filter with
// QueryInterface<...>(filter). Called on the window thread; results are S_OK or an error code
// (the engine ignores them).
#pragma once

#include "platform/contracts/FrameImage.h"
#include "platform/system/HResult.h"

#include <atomic>
#include <cstdint>

namespace kelo {

// "Overlay Filer".
class OverlayFilterControl {
public:
    virtual ~OverlayFilterControl() = default;
    // Mode 2 passes frames through unchanged (the mode the studio sets right after creation).
    [[nodiscard]] virtual HRESULT SetMode(int mode) = 0;
};

// "OpenCV ProxyTrans Filer".
class ProxyTransControl {
public:
    virtual ~ProxyTransControl() = default;
    // The callback is called once per frame on the streaming thread, before the frame passes
    // on, with a header over the frame's own bytes (8 bits, 3 channels, blue-green-red, origin
    // bottom-left). Its changes reach the output. Null unregisters. flags: reserved, 0.
    [[nodiscard]] virtual HRESULT RegisterCallback(FrameCallbackFn callback, int flags) = 0;
};

// Overlay picture commands of BmpOverlayControl::ShowOverlayPicture.
inline constexpr int kOverlayScreen = 110;   // screen blend: black transparent, light glows
inline constexpr int kOverlayKey = 111;      // magenta (B 255, G 0, R 255) transparent
inline constexpr int kOverlayKeyFaded = 112; // the same key, picture at 60 % opacity
// ClearOverlay command that removes the picture.
inline constexpr int kOverlayClear = 1011;

// "BmpOverlayFiler".
class BmpOverlayControl {
public:
    virtual ~BmpOverlayControl() = default;
    // (1011, 0, 0, 0, 0) removes the picture. When it returns, the filter no longer reads the
    // picture it was given, so the caller may free it. Other commands: E_INVALIDARG, no change.
    [[nodiscard]] virtual HRESULT ClearOverlay(int command, int arg1, int arg2, int arg3, int arg4) = 0;
    // Lays the picture over every following frame until ClearOverlay or the next call. The
    // picture is 320 x 240, BGR, bottom row first, 960 bytes a row (230400 bytes); it stays the
    // caller's and must stay valid until the next ClearOverlay returned. It is scaled to the
    // frame when the frame has another size. A null picture removes the overlay. An unknown
    // command gives E_INVALIDARG and changes nothing.
    [[nodiscard]] virtual HRESULT ShowOverlayPicture(int command, const std::uint8_t* picture) = 0;
};

// "Background Blur".
class BackgroundBlurControl {
public:
    virtual ~BackgroundBlurControl() = default;
    // The switch the element reads once per frame on the streaming thread (nonzero: blur). It
    // must outlive the element; null (the state after creation) keeps the element in
    // passthrough.
    [[nodiscard]] virtual HRESULT SetSwitch(const std::atomic<std::int32_t>* on) = 0;
};

} // namespace kelo
