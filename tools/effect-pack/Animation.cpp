#include "Animation.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gif_lib.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace kelo::pack {

namespace {

struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using MapPtr = std::unique_ptr<ColorMapObject, MapFree>;

MapPtr MakeMap(const Palette& palette) {
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {palette[i].r, palette[i].g, palette[i].b};
    return MapPtr(GifMakeMapObject(256, colours));
}

// Closes the encoder (which writes the trailer) exactly once.
class Encoder {
public:
    explicit Encoder(const std::string& path) {
        // giflib's own EGifOpenFileName creates files readable by their owner alone; the pack is
        // installed for every user, so the file is made as any other (0666 less the umask).
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            throw std::runtime_error(std::string("cannot create: ") + std::strerror(errno));
        int error = 0;
        gif_ = EGifOpenFileHandle(fd, &error);
        if (!gif_) {
            ::close(fd);
            throw std::runtime_error(std::string("cannot create: ") + GifErrorString(error));
        }
        EGifSetGifVersion(gif_, true);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder() {
        if (gif_)
            EGifCloseFile(gif_, nullptr);
    }
    void Check(int result, const char* what) const {
        if (result != GIF_OK)
            throw std::runtime_error(std::string(what) + ": " + GifErrorString(gif_->Error));
    }
    void Close() {
        int error = 0;
        GifFileType* gif = std::exchange(gif_, nullptr);
        if (EGifCloseFile(gif, &error) != GIF_OK)
            throw std::runtime_error(std::string("cannot finish: ") + GifErrorString(error));
    }
    GifFileType* get() const { return gif_; }

private:
    GifFileType* gif_ = nullptr;
};

} // namespace

const Palette& Animation::PaletteOf(std::size_t frame) const {
    for (std::size_t i = frame + 1; i-- > 0;)
        if (frames[i].localTable)
            return *frames[i].localTable;
    return *globalTable;
}

std::string WriteGif(const std::string& path, const Animation& animation) {
    try {
        Encoder gif(path);
        MapPtr global = animation.globalTable ? MakeMap(*animation.globalTable) : nullptr;
        gif.Check(
            EGifPutScreenDesc(gif.get(), animation.width, animation.height, 8, 0, global.get()),
            "screen");

        // Loop for ever.
        gif.Check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE), "loop");
        gif.Check(EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0"), "loop");
        const unsigned char loop[3] = {1, 0, 0};
        gif.Check(EGifPutExtensionBlock(gif.get(), 3, loop), "loop");
        gif.Check(EGifPutExtensionTrailer(gif.get()), "loop");
        if (!animation.comment.empty())
            gif.Check(EGifPutComment(gif.get(), animation.comment.c_str()), "comment");

        // Rows in the order the file sends them: the four interlace passes when interlaced.
        std::vector<int> rows;
        if (animation.interlaced) {
            for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
                for (int y = start; y < animation.height; y += step)
                    rows.push_back(y);
        } else {
            for (int y = 0; y < animation.height; ++y)
                rows.push_back(y);
        }

        for (const AnimationFrame& frame : animation.frames) {
            if (frame.indices.size() !=
                static_cast<std::size_t>(animation.width) * animation.height)
                throw std::runtime_error("frame size differs from the screen");
            if (frame.controlBlock) {
                GraphicsControlBlock control{};
                control.DisposalMode = DISPOSE_DO_NOT;
                control.UserInputFlag = false;
                control.DelayTime = frame.delay;
                control.TransparentColor = NO_TRANSPARENT_COLOR;
                GifByteType bytes[4];
                EGifGCBToExtension(&control, bytes);
                gif.Check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, 4, bytes), "control");
            }
            MapPtr local = frame.localTable ? MakeMap(*frame.localTable) : nullptr;
            gif.Check(EGifPutImageDesc(gif.get(), 0, 0, animation.width, animation.height,
                                       animation.interlaced, local.get()),
                      "image");
            for (int y : rows) {
                auto* line = const_cast<GifPixelType*>(
                    frame.indices.data() + static_cast<std::size_t>(y) * animation.width);
                gif.Check(EGifPutLine(gif.get(), line, animation.width), "pixels");
            }
        }
        gif.Close();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

} // namespace kelo::pack
