#include "gif/GiflibFiles.h"

#include <cstring>
#include <fstream>
#include <gif_lib.h>
#include <iterator>
#include <stdexcept>

namespace kelo::test {

namespace {

struct MapFree {
    void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};
using MapPtr = std::unique_ptr<ColorMapObject, MapFree>;

MapPtr MakeMap(const std::vector<Rgb>& table) {
    if (table.empty())
        return nullptr;
    int size = 2;
    while (size < static_cast<int>(table.size()))
        size *= 2;
    std::vector<GifColorType> colours(size, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < table.size(); ++i)
        colours[i] = {table[i].red, table[i].green, table[i].blue};
    return MapPtr(GifMakeMapObject(size, colours.data()));
}

int WriteToVector(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos = 0;
};

int ReadFromVector(GifFileType* gif, GifByteType* data, int length) {
    auto* in = static_cast<Reader*>(gif->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(length), in->bytes->size() - in->pos);
    std::memcpy(data, in->bytes->data() + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

std::vector<Rgb> Colours(const ColorMapObject* map) {
    std::vector<Rgb> out;
    if (map)
        for (int i = 0; i < map->ColorCount; ++i)
            out.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
    return out;
}

} // namespace

std::vector<std::uint8_t> EncodeWithGiflib(int screenWidth, int screenHeight,
                                           const std::vector<Rgb>& globalTable,
                                           const std::vector<GiflibImage>& images) {
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    if (!gif)
        throw std::runtime_error(GifErrorString(error));
    auto check = [&](int result) {
        if (result != GIF_OK) {
            const std::string message = GifErrorString(gif->Error);
            EGifCloseFile(gif, nullptr);
            throw std::runtime_error(message);
        }
    };
    EGifSetGifVersion(gif, true);
    MapPtr global = MakeMap(globalTable);
    check(EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, global.get()));
    for (const GiflibImage& image : images) {
        if (image.delay >= 0) {
            GraphicsControlBlock control{};
            control.DelayTime = image.delay;
            control.TransparentColor = NO_TRANSPARENT_COLOR;
            GifByteType bytes[4];
            EGifGCBToExtension(&control, bytes);
            check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, bytes));
        }
        MapPtr local = MakeMap(image.localTable);
        check(
            EGifPutImageDesc(gif, 0, 0, image.width, image.height, image.interlaced, local.get()));
        std::vector<int> rows;
        if (image.interlaced) {
            for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
                for (int y = start; y < image.height; y += step)
                    rows.push_back(y);
        } else {
            for (int y = 0; y < image.height; ++y)
                rows.push_back(y);
        }
        for (int y : rows)
            check(EGifPutLine(gif,
                              const_cast<GifPixelType*>(image.indices.data() +
                                                        static_cast<std::size_t>(y) * image.width),
                              image.width));
    }
    if (EGifCloseFile(gif, &error) != GIF_OK)
        throw std::runtime_error(GifErrorString(error));
    return out;
}

SlurpedGif SlurpWithGiflib(const std::vector<std::uint8_t>& bytes) {
    SlurpedGif result;
    Reader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromVector, &error);
    if (!gif)
        return result;
    result.ok = DGifSlurp(gif) == GIF_OK;
    if (result.ok) {
        result.globalTable = gif->SColorMap != nullptr;
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& saved = gif->SavedImages[i];
            SlurpedImage image;
            image.width = saved.ImageDesc.Width;
            image.height = saved.ImageDesc.Height;
            image.interlaced = saved.ImageDesc.Interlace;
            image.localTable = saved.ImageDesc.ColorMap != nullptr;
            GraphicsControlBlock control{};
            if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) {
                for (int e = 0; e < saved.ExtensionBlockCount; ++e)
                    image.controlBlock |=
                        saved.ExtensionBlocks[e].Function == GRAPHICS_EXT_FUNC_CODE;
                image.delay = image.controlBlock ? control.DelayTime : 0;
            }
            const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
            if (saved.RasterBits)
                image.raster.assign(saved.RasterBits, saved.RasterBits + pixels);
            image.colours =
                Colours(saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap);
            result.images.push_back(std::move(image));
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

SlurpedGif SlurpFileWithGiflib(const std::string& path) {
    return SlurpWithGiflib(ReadFileBytes(path));
}

} // namespace kelo::test
