#include "engine/SnapshotGrabber.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <opencv2/imgproc.hpp>
#include <sys/stat.h>
#include <utility>

namespace kelo {

namespace {

std::unique_ptr<std::uint8_t[]> AllocateNothrow(std::size_t bytes) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[bytes]);
}

std::time_t MachineClock() {
    return std::time(nullptr);
}

// The source index a destination index maps to: truncate(i / factor + 0.5). The factor is a
// 32-bit float and the division is done in float, the rounding offset in double, which yields
// exactly the white edges listed for the photo sizes of the settings dialog.
int NearestSourceIndex(int i, float factor) {
    return static_cast<int>(static_cast<float>(i) / factor + 0.5);
}

SnapshotStatus StatusOf(JpegFile::Failure failure) {
    switch (failure) {
    case JpegFile::Failure::None:
        return SnapshotStatus::Written;
    case JpegFile::Failure::CannotOpen:
        return SnapshotStatus::CannotOpen;
    case JpegFile::Failure::Fatal:
        return SnapshotStatus::JpegFatalError;
    case JpegFile::Failure::BadInput:
    case JpegFile::Failure::CannotClose:
    case JpegFile::Failure::CannotWrite:
        break;
    }
    return SnapshotStatus::WriteFailed;
}

std::string OutOfMemoryText(int width, int height) {
    char text[96];
    std::snprintf(text, sizeof text, "Not enough memory for a %d x %d photo", width, height);
    return text;
}

} // namespace

SnapshotGrabber::SnapshotGrabber() : SnapshotGrabber(MachineClock, AllocateNothrow) {}

SnapshotGrabber::SnapshotGrabber(ClockFn clock, AllocateFn allocate)
    : clock_(clock ? std::move(clock) : ClockFn(MachineClock)),
      allocate_(allocate ? std::move(allocate) : AllocateFn(AllocateNothrow)) {}

SnapshotGrabber::~SnapshotGrabber() = default;

void SnapshotGrabber::Request(const std::string& folder, int width, int height) {
    std::lock_guard<std::mutex> lock(requestMutex_);
    photoPath_ = folder;
    photoWidth_ = width;
    photoHeight_ = height;
    // Last: the streaming thread may take the photo as soon as it sees the flag.
    snapshotPending_.store(1, std::memory_order_release);
}

void SnapshotGrabber::SetOutcomeCallback(SnapshotOutcomeFn outcome) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    outcome_ = std::move(outcome);
}

HRESULT SnapshotGrabber::SampleCB(double, GstBuffer*) {
    return S_OK;
}

HRESULT SnapshotGrabber::BufferCB(double sampleTime, unsigned char* buffer, long bufferLength) {
    // The path of almost every frame: one load of the flag.
    if (snapshotPending_.load(std::memory_order_relaxed) == 0)
        return S_OK;
    return GrabFrame(sampleTime, buffer, bufferLength);
}

HRESULT SnapshotGrabber::FrameCB(double sampleTime, unsigned char* buffer, long bufferLength,
                                 int width, int height) {
    if (snapshotPending_.load(std::memory_order_relaxed) == 0)
        return S_OK;
    const bool known = width > 0 && height > 0;
    frameWidth_ = known ? width : 0;
    frameHeight_ = known ? height : 0;
    const HRESULT hr = GrabFrame(sampleTime, buffer, bufferLength);
    frameWidth_ = frameHeight_ = 0;
    return hr;
}

[[gnu::noinline]] HRESULT SnapshotGrabber::GrabFrame(double sampleTime, const unsigned char* buffer,
                                                     long bufferLength) {
    if (!buffer)
        return E_POINTER;
    if (bufferLength < 0)
        return E_INVALIDARG;
    const auto length = static_cast<std::size_t>(bufferLength);
    try {
        // The copy is kept between photos and only ever grows.
        if (frameCopySize_ < length) {
            frameCopy_.reset();
            frameCopySize_ = 0;
        }
        lastSampleTime_ = sampleTime;
        if (!frameCopy_) {
            frameCopy_ = allocate_(length);
            frameCopySize_ = length;
        }
        if (!frameCopy_) {
            frameCopySize_ = 0;
            return E_OUTOFMEMORY; // still pending: the next frame tries again
        }
        std::memcpy(frameCopy_.get(), buffer, length);
        // This frame's length, not the copy's capacity: bytes beyond it belong to an older,
        // larger frame.
        SaveSnapshot(lastSampleTime_, frameCopy_.get(), length);
        return S_OK;
    } catch (...) {
        // Nothing may leave a callback of the streaming thread as an exception.
        return E_OUTOFMEMORY;
    }
}

void SnapshotGrabber::SaveSnapshot(double sampleTime, const std::uint8_t* data, std::size_t size) {
    if (!data)
        return;
    std::string folder;
    int width = 0;
    int height = 0;
    {
        // Taking the request and clearing the flag is one step: a Request from now on is the
        // next photo's, and this photo keeps the folder and size it was asked with.
        std::lock_guard<std::mutex> lock(requestMutex_);
        if (snapshotPending_.exchange(0, std::memory_order_acq_rel) == 0)
            return;
        folder = std::move(photoPath_); // no allocation: nothing can fail with the request taken
        photoPath_.clear();
        width = photoWidth_;
        height = photoHeight_;
    }

    SnapshotOutcome outcome;
    outcome.sampleTime = sampleTime;
    try {
        // 0 x 0: the frame as it was captured.
        const bool otherFrame = frameWidth_ > 0 && frameHeight_ > 0 &&
                                (frameWidth_ != kSourceWidth || frameHeight_ != kSourceHeight);
        if (width == 0 && height == 0) {
            width = otherFrame ? frameWidth_ : kSourceWidth;
            height = otherFrame ? frameHeight_ : kSourceHeight;
        }
        // The size comes from data.ini, which may say anything: a picture many times the frame
        // would hold up the streaming thread for seconds and take gigabytes.
        if (width < 1 || height < 1 || width > kMaxPhotoSide || height > kMaxPhotoSide) {
            outcome.status = SnapshotStatus::InvalidSize;
            char text[96];
            std::snprintf(text, sizeof text, "The photo size %d x %d is not valid", width, height);
            outcome.errorText = text;
            Report(std::move(outcome));
            return;
        }

        if (otherFrame) {
            if (!CutAndScale(data, size, width, height, &outcome)) {
                Report(std::move(outcome));
                return;
            }
            WritePhoto(folder, width, height, &outcome);
            Report(std::move(outcome));
            return;
        }

        // A frame shorter than 320 x 240 x 3 bytes is never read past its end: the picture it
        // does not cover is white.
        const std::uint8_t* source = data;
        std::unique_ptr<std::uint8_t[]> whiteFilled;
        if (size < kSourceBytes) {
            whiteFilled = allocate_(kSourceBytes);
            if (!whiteFilled) {
                outcome.status = SnapshotStatus::OutOfMemory;
                outcome.errorText = OutOfMemoryText(width, height);
                Report(std::move(outcome));
                return;
            }
            std::memcpy(whiteFilled.get(), data, size);
            std::memset(whiteFilled.get() + size, 255, kSourceBytes - size);
            source = whiteFilled.get();
        }

        const std::size_t scaledBytes =
            DibStride(width, kSourceBits) * static_cast<std::size_t>(height);
        if (scaledSize_ < scaledBytes) {
            scaled_.reset();
            scaledSize_ = 0;
            scaled_ = allocate_(scaledBytes);
            if (!scaled_) {
                outcome.status = SnapshotStatus::OutOfMemory;
                outcome.errorText = OutOfMemoryText(width, height);
                Report(std::move(outcome));
                return;
            }
            scaledSize_ = scaledBytes;
        }
        ScaleNearest(source, kSourceWidth, kSourceHeight, kSourceBits, scaled_.get(), width,
                     height);
        whiteFilled.reset();

        WritePhoto(folder, width, height, &outcome);
    } catch (const std::bad_alloc&) {
        // Short texts: they fit in the string itself, so reporting needs no memory.
        outcome.status = SnapshotStatus::OutOfMemory;
        outcome.errorText = "Out of memory";
    } catch (...) {
        outcome.status = SnapshotStatus::WriteFailed;
        outcome.errorText = "Internal error";
    }
    Report(std::move(outcome));
}

void SnapshotGrabber::WritePhoto(const std::string& folder, int width, int height,
                                 SnapshotOutcome* outcome) {
    outcome->path = FreePhotoPath(folder, clock_());
    if (jpegWriter_.SaveDib(outcome->path, scaled_.get(), width, height, kPhotoQuality)) {
        outcome->status = SnapshotStatus::Written;
    } else {
        outcome->status = StatusOf(jpegWriter_.lastFailure());
        outcome->errorText = jpegWriter_.errorText();
        outcome->systemError = jpegWriter_.systemError();
    }
    // The sizes people use are kept for the next photo; a rare huge one gives its memory
    // back rather than hold it for the rest of the run.
    if (scaledSize_ > kKeptScaledBytes) {
        scaled_.reset();
        scaledSize_ = 0;
    }
}

bool SnapshotGrabber::CutAndScale(const std::uint8_t* data, std::size_t size, int photoWidth,
                                  int photoHeight, SnapshotOutcome* outcome) {
    const std::size_t frameStride = DibStride(frameWidth_, kSourceBits);
    if (size < frameStride * static_cast<std::size_t>(frameHeight_)) {
        outcome->status = SnapshotStatus::WriteFailed;
        outcome->errorText = "The frame is shorter than its size";
        return false;
    }
    const std::size_t photoStride = DibStride(photoWidth, kSourceBits);
    const std::size_t photoBytes = photoStride * static_cast<std::size_t>(photoHeight);
    if (scaledSize_ < photoBytes) {
        scaled_.reset();
        scaledSize_ = 0;
        scaled_ = allocate_(photoBytes);
        if (!scaled_) {
            outcome->status = SnapshotStatus::OutOfMemory;
            outcome->errorText = OutOfMemoryText(photoWidth, photoHeight);
            return false;
        }
        scaledSize_ = photoBytes;
    }
    // The photo's aspect cut from the middle of the frame: never stretched. Rows stay bottom-up
    // (the cut is symmetric), which is what the JPEG writer takes.
    cv::Rect cut(0, 0, frameWidth_, frameHeight_);
    const long long frameAcross = static_cast<long long>(frameWidth_) * photoHeight;
    const long long photoAcross = static_cast<long long>(frameHeight_) * photoWidth;
    if (frameAcross > photoAcross) {
        cut.width = std::max(1, static_cast<int>(photoAcross / photoHeight));
        cut.x = (frameWidth_ - cut.width) / 2;
    } else if (frameAcross < photoAcross) {
        cut.height = std::max(1, static_cast<int>(frameAcross / photoWidth));
        cut.y = (frameHeight_ - cut.height) / 2;
    }
    try {
        const cv::Mat frame(frameHeight_, frameWidth_, CV_8UC3, const_cast<std::uint8_t*>(data),
                            frameStride);
        cv::Mat photo(photoHeight, photoWidth, CV_8UC3, scaled_.get(), photoStride);
        const bool smaller = static_cast<long long>(photoWidth) * photoHeight <
                             static_cast<long long>(cut.width) * cut.height;
        if (cut.width == photoWidth && cut.height == photoHeight)
            frame(cut).copyTo(photo);
        else
            cv::resize(frame(cut), photo, photo.size(), 0, 0,
                       smaller ? cv::INTER_AREA : cv::INTER_LINEAR);
    } catch (const cv::Exception&) {
        outcome->status = SnapshotStatus::WriteFailed;
        outcome->errorText = "The photo could not be scaled";
        return false;
    }
    return true;
}

void SnapshotGrabber::Report(SnapshotOutcome outcome) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    if (!outcome_)
        return;
    try {
        outcome_(outcome);
    } catch (...) {
        // The receiver's failure must not unwind into the streaming thread.
    }
}

std::size_t SnapshotGrabber::DibStride(int width, int bits) {
    if (width <= 0 || bits <= 0)
        return 0;
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) / 8 + 3) / 4 * 4;
}

void SnapshotGrabber::ScaleNearest(const std::uint8_t* src, int srcWidth, int srcHeight, int bits,
                                   std::uint8_t* dst, int dstWidth, int dstHeight) {
    const int pixelBytes = bits / 8;
    if (!src || !dst || pixelBytes <= 0 || srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 ||
        dstHeight <= 0)
        return;
    const float fx = static_cast<float>(dstWidth) / static_cast<float>(srcWidth);
    const float fy = static_cast<float>(dstHeight) / static_cast<float>(srcHeight);
    const std::size_t p = static_cast<std::size_t>(pixelBytes);
    const std::size_t srcStride = DibStride(srcWidth, bits);
    const std::size_t dstStride = DibStride(dstWidth, bits);
    const std::size_t rowBytes = static_cast<std::size_t>(dstWidth) * p;

    // The source column depends on the destination column only: work it out once per column
    // (byte offset in the source row, or -1 for white). Without memory for the table, each
    // pixel works it out for itself.
    std::unique_ptr<std::ptrdiff_t[]> columns(
        new (std::nothrow) std::ptrdiff_t[static_cast<std::size_t>(dstWidth)]);
    auto sourceColumn = [&](int x) -> std::ptrdiff_t {
        const int sx = NearestSourceIndex(x, fx);
        return (sx >= 0 && sx < srcWidth) ? static_cast<std::ptrdiff_t>(sx) * pixelBytes : -1;
    };
    if (columns) {
        for (int x = 0; x < dstWidth; ++x)
            columns[static_cast<std::size_t>(x)] = sourceColumn(x);
    }

    int previousSy = -1;
    for (int y = 0; y < dstHeight; ++y) {
        std::uint8_t* out = dst + static_cast<std::size_t>(y) * dstStride;
        const int sy = NearestSourceIndex(y, fy);
        if (sy < 0 || sy >= srcHeight) {
            std::memset(out, 255, rowBytes);
            continue;
        }
        if (sy == previousSy) {
            // Enlarging: this row reads the same source row as the one below it.
            std::memcpy(out, out - dstStride, rowBytes);
            continue;
        }
        previousSy = sy;
        const std::uint8_t* in = src + static_cast<std::size_t>(sy) * srcStride;
        if (columns && p == 3) {
            for (std::size_t x = 0; x < static_cast<std::size_t>(dstWidth); ++x, out += 3) {
                const std::ptrdiff_t offset = columns[x];
                if (offset >= 0) {
                    out[0] = in[offset];
                    out[1] = in[offset + 1];
                    out[2] = in[offset + 2];
                } else {
                    out[0] = out[1] = out[2] = 255;
                }
            }
            continue;
        }
        for (int x = 0; x < dstWidth; ++x, out += p) {
            const std::ptrdiff_t offset =
                columns ? columns[static_cast<std::size_t>(x)] : sourceColumn(x);
            if (offset >= 0)
                std::memcpy(out, in + offset, p);
            else
                std::memset(out, 255, p);
        }
    }
}

std::string SnapshotGrabber::PhotoFileName(std::time_t when) {
    std::tm local{};
    if (!localtime_r(&when, &local))
        local = std::tm{};
    char name[64];
    const std::size_t length = std::strftime(name, sizeof name, "%H-%M-%S %m.%d.%Y", &local);
    return std::string(name, length) + ".jpg";
}

std::string SnapshotGrabber::FreePhotoPath(const std::string& folder, std::time_t when) {
    std::string stem = PhotoFileName(when);
    stem.resize(stem.size() - 4); // without ".jpg"
    auto taken = [](const std::string& path) {
        struct stat info {};
        // A dangling link counts as taken too: writing through it would create its target.
        return ::lstat(path.c_str(), &info) == 0;
    };
    std::string path = folder + stem + ".jpg";
    // Bounded: a folder holding thousands of photos of one second is not worth a longer search;
    // the last candidate is then used as it is.
    for (int suffix = 2; taken(path) && suffix <= 9999; ++suffix)
        path = folder + stem + "-" + std::to_string(suffix) + ".jpg";
    return path;
}

} // namespace kelo
