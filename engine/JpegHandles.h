// libjpeg's compressor and decompressor, each destroyed exactly once. Kept beside JpegFile, the
// one user in the studio (tests and benchmarks read photos back with the decompressor).
#pragma once

#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace kelo {

// libjpeg compressor: created with its error manager in place, destroyed exactly once.
class JpegCompressor {
public:
    JpegCompressor() = default;
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
    ~JpegCompressor() { Destroy(); }

    // The caller sets info().err before Create (libjpeg needs the error manager first).
    jpeg_compress_struct& info() { return info_; }
    void Create() {
        jpeg_create_compress(&info_);
        created_ = true;
    }
    void Destroy() {
        if (created_)
            jpeg_destroy_compress(&info_);
        created_ = false;
    }

private:
    jpeg_compress_struct info_{};
    bool created_ = false;
};

// libjpeg decompressor (tests and tools read photos back with it).
class JpegDecompressor {
public:
    JpegDecompressor() = default;
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;
    ~JpegDecompressor() { Destroy(); }

    jpeg_decompress_struct& info() { return info_; }
    void Create() {
        jpeg_create_decompress(&info_);
        created_ = true;
    }
    void Destroy() {
        if (created_)
            jpeg_destroy_decompress(&info_);
        created_ = false;
    }

private:
    jpeg_decompress_struct info_{};
    bool created_ = false;
};

} // namespace kelo
