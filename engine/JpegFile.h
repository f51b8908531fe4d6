// JpegFile: writes a bottom-up 24-bit DIB (the snapshot's pixels) as a top-down RGB JPEG file
// through libjpeg, and keeps the text of its last failure.
//
// Thread: whichever thread calls it (the snapshot grabber uses it on the streaming thread). It
// never shows anything and never throws: libjpeg's fatal errors are caught with setjmp/longjmp
// inside WriteJpeg and turned into a 0 result, `errorText()` holding the library's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelo {

struct PictureRows;

class JpegFile {
public:
    // Why the last SaveDib/WriteJpeg returned 0 (None after a success or at construction).
    enum class Failure {
        None,
        BadInput,    // no pixels, or a width or height that is not positive
        CannotOpen,  // the file could not be created ("JpegFile :\nCan't open %s\n")
        Fatal,       // libjpeg stopped with a fatal error; errorText() is its message
        CannotClose, // the file was written but closing it failed
        CannotWrite, // writing or renaming failed (a full disk, a folder that went away)
    };

    static constexpr int kDefaultQuality = 75;

    JpegFile() = default;
    virtual ~JpegFile() = default;
    JpegFile(const JpegFile&) = delete;
    JpegFile& operator=(const JpegFile&) = delete;

    // dib: bottom-up rows of blue, green, red bytes, each row padded to a multiple of 4 bytes
    // (((width * 24 + 31) / 32) * 4 bytes a row). Writes a width x height colour JPEG at
    // `quality` (baseline): the same file as WriteJpeg of what PackRows, FlipVertically and
    // SwapRedBlue make of the DIB, but libjpeg reads the DIB's rows where they are. Returns 1 on
    // success, 0 on failure (see errorText(), lastFailure()).
    int SaveDib(const std::string& path, const std::uint8_t* dib, int width, int height,
                int quality = kDefaultQuality);

    // rgb: tightly packed, top-down rows of red, green, blue bytes (width * 3 bytes each).
    // Returns 1 on success, 0 on failure. The picture is written to a hidden temporary file in
    // the same folder and renamed to `path` only once complete, so `path` never holds a
    // truncated picture: after any failure (a full disk, a libjpeg fatal error, a crash) the
    // temporary file is gone (or, after a crash, hidden) and an existing `path` is untouched.
    int WriteJpeg(const std::string& path, const std::uint8_t* rgb, int width, int height,
                  int quality = kDefaultQuality);

    // "No Error" until a call fails; afterwards the text of the last failure (a success does not
    // clear it, as with the library's own last-error texts).
    const std::string& errorText() const { return errorText_; }
    // The kind of the last call's failure; None after a success.
    Failure lastFailure() const { return lastFailure_; }
    // errno of the file operation that failed last (ENOENT, ENOSPC, EACCES ...); 0 after a
    // success or when no file operation failed.
    int systemError() const { return systemError_; }

    // The temporary name a photo is written under before it becomes `path`: a hidden file in
    // the same folder ("/a/.photo.jpg.<pid>-<n>.part").
    static std::string TemporaryPathFor(const std::string& path);

    // The steps of SaveDib, for a whole picture at once.

    // Copies each row's width * 3 bytes out of a padded DIB into a new tightly packed buffer
    // (width * 3 * height bytes). Returns null when dib is null, a size is not positive, or the
    // allocation fails.
    static std::unique_ptr<std::uint8_t[]> PackRows(const std::uint8_t* dib, int width, int height);
    // Reverses the order of `height` rows of `rowBytes` bytes in place.
    static void FlipVertically(std::uint8_t* rows, std::size_t rowBytes, int height);
    // Exchanges the first and third byte of every 3-byte pixel (BGR <-> RGB) in place.
    static void SwapRedBlue(std::uint8_t* pixels, int width, int height);
    // Row stride of a 24-bit DIB of this width: ((width * 24 + 31) / 32) * 4.
    static std::size_t DibStride(int width);

private:
    int Fail(Failure failure, std::string text, int systemError = 0);
    int Write(const std::string& path, const PictureRows& picture, int quality);

    std::string errorText_ = "No Error";
    Failure lastFailure_ = Failure::None;
    int systemError_ = 0;
};

} // namespace kelo
