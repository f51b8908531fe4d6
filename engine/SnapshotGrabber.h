// SnapshotGrabber: the Sample Grabber's callback object. When a photo was requested, the next
// frame that passes is copied, scaled to the photo size and written as a JPEG file named after
// the local time; every other frame costs one flag test.
//
// Threads: Request runs on the UI thread; BufferCB, SaveSnapshot, ScaleNearest and the JPEG
// writing run on the grabber's streaming thread (one frame at a time). The pending flag is the
// hand-over; the photo's folder and size travel with it under a small lock, so a Request made
// while a photo is being written never changes that photo's folder or size.
//
// Ownership: the engine owns the grabber and destroys it only after its graph has stopped.
#pragma once

#include "engine/JpegFile.h"
#include "platform/contracts/SampleGrabberCallback.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kelo {

// What became of one requested photo.
enum class SnapshotStatus {
    Written,        // the file `path` was written
    InvalidSize,    // the requested width or height is outside 1..kMaxPhotoSide
    OutOfMemory,    // the copy of a short frame or the scaled picture could not be allocated
    CannotOpen,     // the file could not be created (missing folder, no rights)
    JpegFatalError, // libjpeg stopped; the window shows "JPEG Fatal Error" with errorText
    WriteFailed,    // the file could not be completed (closing it failed), or another failure
};

struct SnapshotOutcome {
    SnapshotStatus status = SnapshotStatus::Written;
    std::string path;      // the file written, or the one that was being written
    std::string errorText; // empty when written; else the text of the failure
    double sampleTime = 0; // stream time of the photographed frame, in seconds
    int systemError = 0;   // errno of the file operation that failed (ENOSPC ...), or 0
    bool ok() const { return status == SnapshotStatus::Written; }
};

// Called once per request that a frame served, on the streaming thread. It must not touch
// widgets: the engine forwards it to the window with a queued call.
using SnapshotOutcomeFn = std::function<void(const SnapshotOutcome&)>;

class SnapshotGrabber final : public ISampleGrabberCB {
public:
    // The frame the grabber reads: 320 x 240 bottom-up BGR, 960 bytes a row.
    static constexpr int kSourceWidth = 320;
    static constexpr int kSourceHeight = 240;
    static constexpr int kSourceBits = 24;
    static constexpr std::size_t kSourceBytes = 320 * 3 * 240; // 230400
    static constexpr int kPhotoQuality = 75;
    // Photo sides beyond this are refused (InvalidSize) before anything is allocated.
    static constexpr int kMaxPhotoSide = 7680;
    // The scaled picture is kept between photos up to the size of a 1920 x 1080 photo.
    static constexpr std::size_t kKeptScaledBytes = 1920 * 3 * 1080;

    // Test seams: where the time of the file name comes from, and how the frame copy and the
    // scaled picture are allocated (null result = allocation failed). Defaults: the machine's
    // clock, and new (nothrow).
    using ClockFn = std::function<std::time_t()>;
    using AllocateFn = std::function<std::unique_ptr<std::uint8_t[]>(std::size_t bytes)>;

    SnapshotGrabber();
    SnapshotGrabber(ClockFn clock, AllocateFn allocate);
    ~SnapshotGrabber() override;
    SnapshotGrabber(const SnapshotGrabber&) = delete;
    SnapshotGrabber& operator=(const SnapshotGrabber&) = delete;

    // UI thread. The next frame becomes a photo of width x height pixels written into `folder`,
    // which ends with '/' (the file name is appended to it as it stands). A second Request before
    // that frame only replaces folder and size: still one photo.
    void Request(const std::string& folder, int width, int height);

    // Owner's thread, before or while frames flow. `outcome` is called on the streaming thread
    // for every photo taken (written or failed); an empty function reports nothing. After this
    // returns, the previous function is no longer called. The callback must not call
    // SetOutcomeCallback itself.
    void SetOutcomeCallback(SnapshotOutcomeFn outcome);

    // Not used (the grabber is registered for buffer callbacks): returns S_OK.
    [[nodiscard]] HRESULT SampleCB(double sampleTime, GstBuffer* sample) override;

    // Streaming thread, once per frame. S_OK at once when no photo is pending. Else E_POINTER
    // for a null buffer and E_INVALIDARG for a negative length (the request stays pending),
    // E_OUTOFMEMORY when the frame copy cannot be allocated (the request stays pending and the
    // next frame tries again); otherwise the frame is copied and saved, and S_OK is returned
    // whatever became of the photo (the outcome callback says that). Never throws.
    [[nodiscard]] HRESULT BufferCB(double sampleTime, unsigned char* buffer,
                                   long bufferLength) override;
    // The same for a frame of width x height pixels (bottom-up BGR, rows padded to 4 bytes).
    // A 320 x 240 frame (or an unknown size, 0 x 0) takes the path above exactly; any other
    // frame gives a photo of exactly the asked size, cut from the frame's middle where the
    // aspects differ, averaged down when smaller and bilinear when larger. A photo size of
    // 0 x 0 is the frame's own size.
    [[nodiscard]] HRESULT FrameCB(double sampleTime, unsigned char* buffer, long bufferLength,
                                  int width, int height) override;

    // Streaming thread. Turns `data` (size bytes of a 320 x 240 bottom-up BGR frame) into the
    // pending photo and clears the request first, so one request gives one photo. A frame
    // shorter than 230400 bytes is read only up to its length: the missing part of the picture
    // is white. Does nothing when no photo is pending or data is null. Never throws.
    void SaveSnapshot(double sampleTime, const std::uint8_t* data, std::size_t size);

    // Nearest-neighbour resampling between two bottom-up DIBs with the same bits per pixel.
    // Rows of both are padded to a multiple of 4 bytes; the destination's padding is not
    // written. Destination pixels whose rounded source position falls outside the source are
    // white (255 in every byte): with + 0.5 rounding, the right-hand columns and top rows of an
    // enlarged picture.
    static void ScaleNearest(const std::uint8_t* src, int srcWidth, int srcHeight, int bits,
                             std::uint8_t* dst, int dstWidth, int dstHeight);

    // The file name of a photo taken at `when`: local time "%H-%M-%S %m.%d.%Y" + ".jpg".
    static std::string PhotoFileName(std::time_t when);
    // The path a photo taken at `when` goes to in `folder` (which ends with '/'): the time's
    // name, or, when a file of that name is there already (a second photo in the same second),
    // the first free one of "<time>-2.jpg", "<time>-3.jpg" ... A photo never replaces another.
    static std::string FreePhotoPath(const std::string& folder, std::time_t when);

    // Row stride of a DIB: (width * bits / 8 + 3) / 4 * 4 bytes.
    static std::size_t DibStride(int width, int bits);

    bool snapshotPending() const { return snapshotPending_.load(std::memory_order_acquire); }

private:
    // The pending path of BufferCB, kept out of line so that the per-frame path stays one test.
    [[nodiscard]] HRESULT GrabFrame(double sampleTime, const unsigned char* buffer,
                                    long bufferLength);
    void Report(SnapshotOutcome outcome);
    // Writes scaled_ (width x height) as the photo's JPEG file and fills the outcome.
    void WritePhoto(const std::string& folder, int width, int height, SnapshotOutcome* outcome);
    // The photo of a frame other than 320 x 240 into scaled_; false (outcome filled) on failure.
    bool CutAndScale(const std::uint8_t* data, std::size_t size, int photoWidth, int photoHeight,
                     SnapshotOutcome* outcome);

    ClockFn clock_;
    AllocateFn allocate_;

    // Written by Request under requestMutex_, taken (and cleared) by SaveSnapshot under it.
    std::mutex requestMutex_;
    int photoWidth_ = kSourceWidth;
    int photoHeight_ = kSourceHeight;
    std::string photoPath_;
    // Set last by Request, read first by BufferCB (alone, without the lock), cleared by
    // SaveSnapshot.
    std::atomic<int> snapshotPending_{0};

    // Streaming thread only.
    JpegFile jpegWriter_;
    double lastSampleTime_ = 0;
    int frameWidth_ = 0; // of the frame being photographed; 0: 320 x 240
    int frameHeight_ = 0;
    std::size_t frameCopySize_ = 0;             // capacity of frameCopy_; only ever grows
    std::unique_ptr<std::uint8_t[]> frameCopy_; // kept between photos
    // The scaled picture, kept between photos as well (grows only, up to kKeptScaledBytes): a
    // fresh multi-megabyte block for every large photo costs more in page faults than the
    // scaling itself.
    std::size_t scaledSize_ = 0;
    std::unique_ptr<std::uint8_t[]> scaled_;

    std::mutex outcomeMutex_;
    SnapshotOutcomeFn outcome_;
};

} // namespace kelo
