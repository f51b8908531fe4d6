#include "engine/JpegFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <utility>

#include "engine/JpegHandles.h"

extern "C" {
#include <jerror.h>
}
#include "platform/system/Handles.h"

namespace kelo {

namespace {

// libjpeg's standard error manager extended with the jump point of the compression in progress
// and the text of a fatal error. Trivially destructible on purpose: longjmp leaves no C++ object
// behind it.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jumpPoint;
    char message[JMSG_LENGTH_MAX]; // 200 bytes, libjpeg's own message length
    int writeError;                // errno when the library stopped because a write failed
};

// Replaces libjpeg's error_exit (which would print and call exit()). Runs on the caller's thread
// inside a libjpeg call: records the library's message and jumps back to RunCompression. It must
// not show anything (it may be on a streaming thread) and must not throw through libjpeg's C
// frames.
void FatalErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    // The stdio destination stops with JERR_FILE_WRITE when fwrite or fflush failed; errno
    // still says why (a full disk, mostly).
    errors->writeError = info->err->msg_code == JERR_FILE_WRITE ? errno : 0;
    errors->message[0] = '\0';
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jumpPoint, 1);
}

} // namespace

// libjpeg-turbo reads blue, green, red pixels itself, in the same colour conversion that it
// runs for red, green, blue: SaveDib hands it the DIB's rows as they are.
#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo (libjpeg62-turbo-dev) is needed: its JCS_EXT_BGR input is used"
#endif

// The picture libjpeg is given: packed top-down RGB rows (WriteJpeg), or the padded bottom-up
// BGR rows of a DIB, handed over last row first (SaveDib).
struct PictureRows {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    bool bottomUpBgr = false;
    std::size_t stride = 0; // bytes from one row in memory to the next
};

namespace {

// Row i from the top of the picture. libjpeg's row type is not const, but it only reads rows.
JSAMPROW RowAt(const PictureRows& picture, std::size_t i) {
    const std::size_t memoryRow =
        picture.bottomUpBgr ? static_cast<std::size_t>(picture.height) - 1 - i : i;
    return const_cast<JSAMPLE*>(picture.pixels + memoryRow * picture.stride);
}

// All libjpeg calls that can fail, between one setjmp and the longjmp of FatalErrorExit. Every
// object here is trivially destructible and nothing modified after setjmp is read after the
// jump, so the jump is well defined. Returns false after a fatal error (the caller destroys the
// compressor and closes the file).
[[gnu::noinline]] bool RunCompression(JpegCompressor& compressor, JpegErrorManager& errors,
                                      std::FILE* file, const PictureRows& picture, int quality) {
    if (setjmp(errors.jumpPoint) != 0)
        return false;

    compressor.Create();
    jpeg_compress_struct& info = compressor.info();
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 3;
    info.in_color_space = picture.bottomUpBgr ? JCS_EXT_BGR : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE); // force baseline tables
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = RowAt(picture, info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

std::string Format(const char* pattern, const std::string& path) {
    int length = std::snprintf(nullptr, 0, pattern, path.c_str());
    if (length < 0)
        return pattern;
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, path.c_str());
    return text;
}

} // namespace

std::size_t JpegFile::DibStride(int width) {
    if (width <= 0)
        return 0;
    return (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
}

std::unique_ptr<std::uint8_t[]> JpegFile::PackRows(const std::uint8_t* dib, int width, int height) {
    if (!dib || width <= 0 || height <= 0)
        return nullptr;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const std::size_t stride = DibStride(width);
    std::unique_ptr<std::uint8_t[]> packed(
        new (std::nothrow) std::uint8_t[rowBytes * static_cast<std::size_t>(height)]);
    if (!packed)
        return nullptr;
    for (std::size_t i = 0; i < static_cast<std::size_t>(height); ++i)
        std::copy_n(dib + i * stride, rowBytes, packed.get() + i * rowBytes);
    return packed;
}

void JpegFile::FlipVertically(std::uint8_t* rows, std::size_t rowBytes, int height) {
    if (!rows || height <= 1)
        return;
    // Row i and row height - 1 - i change places; a middle row stays where it is.
    for (std::size_t top = 0, bottom = static_cast<std::size_t>(height) - 1; top < bottom;
         ++top, --bottom)
        std::swap_ranges(rows + top * rowBytes, rows + (top + 1) * rowBytes,
                         rows + bottom * rowBytes);
}

void JpegFile::SwapRedBlue(std::uint8_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0)
        return;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < count; ++i)
        std::swap(pixels[i * 3], pixels[i * 3 + 2]);
}

int JpegFile::Fail(Failure failure, std::string text, int systemError) {
    lastFailure_ = failure;
    errorText_ = std::move(text);
    systemError_ = systemError;
    return 0;
}

std::string JpegFile::TemporaryPathFor(const std::string& path) {
    // Unique within the process (photos may be written from more than one engine's thread)
    // and across processes (the pid).
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u.part", static_cast<long>(::getpid()),
                  counter.fetch_add(1, std::memory_order_relaxed));
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + suffix;
}

int JpegFile::SaveDib(const std::string& path, const std::uint8_t* dib, int width, int height,
                      int quality) {
    if (!dib || width <= 0 || height <= 0)
        return Fail(Failure::BadInput, "JpegFile :\nNo picture to write\n");
    // The file holds exactly what PackRows, FlipVertically and SwapRedBlue followed by
    // WriteJpeg would write; libjpeg reads the rows in place instead, which spares a large
    // photo a second full-size copy and three passes over it.
    PictureRows picture;
    picture.pixels = dib;
    picture.width = width;
    picture.height = height;
    picture.bottomUpBgr = true;
    picture.stride = DibStride(width);
    return Write(path, picture, quality);
}

int JpegFile::WriteJpeg(const std::string& path, const std::uint8_t* rgb, int width, int height,
                        int quality) {
    if (!rgb || width <= 0 || height <= 0)
        return Fail(Failure::BadInput, "JpegFile :\nNo picture to write\n");
    PictureRows picture;
    picture.pixels = rgb;
    picture.width = width;
    picture.height = height;
    picture.stride = static_cast<std::size_t>(width) * 3;
    return Write(path, picture, quality);
}

int JpegFile::Write(const std::string& path, const PictureRows& picture, int quality) {
    // The picture goes to a hidden name beside the photo and is renamed when complete: a full
    // disk, a fatal error or a crash never leaves a truncated photo under the real name.
    const std::string temporary = TemporaryPathFor(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(Failure::CannotOpen, Format("JpegFile :\nCan't open %s\n", path), errno);
    FilePtr file(::fdopen(fd, "wb"));
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return Fail(Failure::CannotOpen, Format("JpegFile :\nCan't open %s\n", path), error);
    }

    JpegCompressor compressor;
    JpegErrorManager errors{};
    compressor.info().err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = &FatalErrorExit;

    if (!RunCompression(compressor, errors, file.get(), picture, quality)) {
        compressor.Destroy();
        file.reset();
        ::unlink(temporary.c_str());
        if (errors.writeError != 0)
            return Fail(Failure::CannotWrite, errors.message, errors.writeError);
        return Fail(Failure::Fatal, errors.message);
    }
    compressor.Destroy();
    // libjpeg flushed its buffer and checked the stream; closing can still fail (for example
    // on a network folder), and then the photo is not there.
    if (std::fclose(file.release()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Fail(Failure::CannotClose, Format("JpegFile :\nCan't write %s\n", path), error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Fail(Failure::CannotWrite, Format("JpegFile :\nCan't write %s\n", path), error);
    }
    lastFailure_ = Failure::None;
    systemError_ = 0;
    return 1;
}

} // namespace kelo
