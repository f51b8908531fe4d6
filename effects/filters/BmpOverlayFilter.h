// "BmpOverlayFiler": lays the current overlay picture (320 x 240, BGR, bottom row first) over
// every frame. When the frame has another size the picture is scaled to it once (nearest pixel,
// so the magenta key stays exact), on the first frame after the picture arrives or the frame
// size changes; the blends then read that frame-sized copy. Frame and picture are both
// bottom-up, so memory rows correspond directly.
//   110: screen blend, 255 - (255 - frame)(255 - picture) / 255 per channel: black leaves the
//        frame as it is, light glows (lights, stars, snow);
//   111: colour key: picture pixels of pure magenta (B 255, G 0, R 255) are transparent, all
//        others replace the frame's;
//   112: the same key with the picture at 60 % opacity over the frame.
// No picture, no change.
//
// Threads: ShowOverlayPicture and ClearOverlay run on the window thread, the blend on the
// streaming thread; one mutex covers the picture pointer and every read of the picture, so that
// once ClearOverlay has returned the picture is never read again and the caller may free it.
#pragma once

#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilterControl.h"
#include "effects/gif/OverlayPicture.h"
#include "platform/graph/BaseFilter.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace kelo {

class BmpOverlayProcessor : public EffectProcessor {
public:
    void ProcessFrame(std::uint8_t* data, int width, int height, int stride) override;

    [[nodiscard]] HRESULT Clear(int command);
    [[nodiscard]] HRESULT Show(int command, const std::uint8_t* picture);
    bool hasPicture() const;

private:
    void UpdateScaleMaps(int width, int height);
    void ScalePicture(int width, int height); // into scaled_, with mutex_ held

    mutable std::mutex mutex_;
    const std::uint8_t* picture_ = nullptr; // borrowed: the caller's until Clear returned
    int command_ = 0;
    // Nearest-pixel maps from frame columns/rows to picture byte offsets; rebuilt when the
    // frame size changes. Guarded by mutex_ like the picture.
    int mapWidth_ = 0;
    int mapHeight_ = 0;
    std::vector<int> columnOffsets_;
    std::vector<int> rowOffsets_;
    // The picture at the frame's size (rows of width * 3 bytes), for frames other than
    // 320 x 240; stale once another picture arrives. Guarded by mutex_.
    std::vector<std::uint8_t> scaled_;
    int scaledWidth_ = 0;
    int scaledHeight_ = 0;
    bool scaledStale_ = true;
};

class BmpOverlayFilter : public BaseFilter, public BmpOverlayControl {
public:
    static std::shared_ptr<BmpOverlayFilter> Create();

    explicit BmpOverlayFilter(ElementPtr element);
    [[nodiscard]] HRESULT ClearOverlay(int command, int arg1, int arg2, int arg3, int arg4) override;
    [[nodiscard]] HRESULT ShowOverlayPicture(int command, const std::uint8_t* picture) override;

private:
    BmpOverlayProcessor* processor_; // owned by the element
};

const EffectElementKind& BmpOverlayFilterElementKind();

} // namespace kelo
