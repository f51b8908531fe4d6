#include "SnapshotTestImages.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <fstream>
#include <iterator>
#include <limits>

#include "engine/JpegHandles.h"
#include "platform/system/Handles.h"

namespace kelo::test {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kMarkerSize = 16;

struct DecodeErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jumpPoint;
    char message[JMSG_LENGTH_MAX];
};

void DecodeErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<DecodeErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jumpPoint, 1);
}

// The libjpeg part of DecodeJpeg: only trivially destructible locals between setjmp and the
// jump of DecodeErrorExit.
[[gnu::noinline]] bool ReadPixels(JpegDecompressor& decompressor, DecodeErrors& errors,
                                  const std::uint8_t* bytes, unsigned long size, DecodedJpeg& out) {
    if (setjmp(errors.jumpPoint) != 0)
        return false;
    decompressor.Create();
    jpeg_decompress_struct& info = decompressor.info();
    jpeg_mem_src(&info, bytes, size);
    jpeg_read_header(&info, TRUE);
    out.progressive = info.progressive_mode != 0;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.components = info.num_components;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width) * 3;
    out.rgb.resize(rowBytes * static_cast<std::size_t>(out.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

// The first start-of-frame marker (SOF0..SOF15 except DHT, JPG and DAC), or 0.
int FindFrameMarker(const std::vector<std::uint8_t>& bytes) {
    std::size_t i = 2; // after SOI
    while (i + 4 <= bytes.size()) {
        if (bytes[i] != 0xFF)
            return 0;
        const int code = bytes[i + 1];
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC)
            return code;
        const std::size_t length = (static_cast<std::size_t>(bytes[i + 2]) << 8) | bytes[i + 3];
        i += 2 + length;
    }
    return 0;
}

} // namespace

Rgb GrabbedFramePixel(int x, int yFromTop) {
    if (x < kMarkerSize && yFromTop < kMarkerSize)
        return {250, 0, 0};
    const int r = 10 + x * 230 / (kWidth - 1);
    const int g = 10 + yFromTop * 230 / (kHeight - 1);
    const int b = 60 + (x + yFromTop) * 120 / (kWidth + kHeight - 2);
    return {r, g, b};
}

std::vector<std::uint8_t> MakeGrabbedFrame() {
    std::vector<std::uint8_t> frame(kWidth * 3 * kHeight);
    for (int row = 0; row < kHeight; ++row) {
        const int yFromTop = kHeight - 1 - row; // the first row in memory is the bottom row
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c = GrabbedFramePixel(x, yFromTop);
            std::uint8_t* p = frame.data() + (row * kWidth + x) * 3;
            p[0] = static_cast<std::uint8_t>(c.b);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.r);
        }
    }
    return frame;
}

std::vector<std::uint8_t> MakeUniformFrame(Rgb colour) {
    std::vector<std::uint8_t> frame(kWidth * 3 * kHeight);
    for (std::size_t i = 0; i < frame.size(); i += 3) {
        frame[i] = static_cast<std::uint8_t>(colour.b);
        frame[i + 1] = static_cast<std::uint8_t>(colour.g);
        frame[i + 2] = static_cast<std::uint8_t>(colour.r);
    }
    return frame;
}

Rgb DecodedJpeg::At(int x, int yFromTop) const {
    const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(yFromTop) * width + x) * 3;
    return {p[0], p[1], p[2]};
}

DecodedJpeg DecodeJpeg(const std::filesystem::path& path) {
    DecodedJpeg out;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out.error = "cannot open " + path.string();
        return out;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        out.error = "not a JPEG file: " + path.string();
        return out;
    }
    out.frameMarker = FindFrameMarker(bytes);

    JpegDecompressor decompressor;
    DecodeErrors errors{};
    decompressor.info().err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = &DecodeErrorExit;
    if (!ReadPixels(decompressor, errors, bytes.data(), static_cast<unsigned long>(bytes.size()),
                    out)) {
        out.error = errors.message;
        return out;
    }
    out.ok = true;
    return out;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    if (mse == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kelo::test
