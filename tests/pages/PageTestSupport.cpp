#include "PageTestSupport.h"

#include "effects/filters/BmpOverlayFilter.h"
#include "effects/filters/EffectElement.h"
#include "effects/filters/EffectFilters.h"
#include "gif/GifBytes.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/graph/ClassIds.h"
#include "platform/PlatformComponents.h"
#include "platform/system/PrivateProfile.h"

namespace kelo::test {
namespace {

// The real filter, with every call of the pages logged before it is carried out.
class LoggingBmpOverlayFilter : public BmpOverlayFilter {
public:
    LoggingBmpOverlayFilter(ElementPtr element, OverlayCallLog* log)
        : BmpOverlayFilter(std::move(element)), log_(log), number_(log->NextFilterNumber()) {}

    HRESULT ClearOverlay(int command, int a1, int a2, int a3, int a4) override {
        log_->Add({number_, command, nullptr});
        return BmpOverlayFilter::ClearOverlay(command, a1, a2, a3, a4);
    }
    HRESULT ShowOverlayPicture(int command, const std::uint8_t* picture) override {
        log_->Add({number_, command, picture});
        return BmpOverlayFilter::ShowOverlayPicture(command, picture);
    }

private:
    OverlayCallLog* log_;
    int number_;
};

} // namespace

void OverlayCallLog::Add(OverlayCall call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
}

std::vector<OverlayCall> OverlayCallLog::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(calls_, {});
}

int OverlayCallLog::NextFilterNumber() {
    std::lock_guard lock(mutex_);
    return ++filters_;
}

std::unique_ptr<ClassRegistry> MakePageTestRegistry(OverlayCallLog* log, bool withOverlayFilter) {
    auto registry = MakeTestRegistry(Devices({"Test Camera"}, {"Test Microphone"}));
    registry->Unregister(CLSID_BmpOverlayFilter);
    if (withOverlayFilter) {
        registry->Register(CLSID_BmpOverlayFilter, [log]() -> ComPtr {
            ElementPtr element = MakeEffectElement(kBmpOverlayFactoryName);
            if (!element)
                return nullptr;
            return std::make_shared<LoggingBmpOverlayFilter>(std::move(element), log);
        });
    }
    return registry;
}

std::unique_ptr<CaptureEngine> StartEngine(const ClassRegistry& registry, RecordingOwner& owner,
                                           RecordingSurface& surface, bool run) {
    auto engine = std::make_unique<CaptureEngine>(320, 240, 15, &owner, registry);
    if (engine->BuildGraph(&surface, nullptr, 1, 1) == CaptureEngine::kNoVideoDevice)
        return nullptr;
    (void)engine->ConnectPreview(); // fails without the overlay filter; the engine stays usable
    if (run && engine->Run() != S_OK)
        return nullptr;
    return engine;
}

void WriteGreyGif(const std::filesystem::path& file, const std::vector<int>& greys,
                  const std::vector<int>& delays) {
    std::vector<Rgb> palette;
    for (const int grey : greys) {
        const auto level = static_cast<std::uint8_t>(grey);
        palette.push_back({level, level, level});
    }
    GifBytes gif;
    // Full size: a smaller image, scaled up by the decoder, leaves edges without picture.
    gif.Header(320, 240, palette);
    for (std::size_t i = 0; i < greys.size(); ++i) {
        const std::vector<std::uint8_t> indices(320 * 240, static_cast<std::uint8_t>(i));
        gif.Gce(static_cast<std::uint16_t>(delays[i]))
            .Image(320, 240, 8, LiteralCodeStream(indices, 8));
    }
    gif.Trailer();
    std::filesystem::create_directories(file.parent_path());
    gif.WriteTo(file);
}

std::filesystem::path EffectFileInWorkingDir(EffectFamily family, int number) {
    return std::filesystem::current_path() / EffectRelativePath(*FindEffect(family, number));
}

double DarkShareOfUpperHalf(const SharedMemoryView& feed, int level) {
    const std::uint8_t* first = feed.data() + 120 * kFeedRowBytes;
    const std::uint8_t* last = feed.data() + kFeedBytes;
    const auto dark = std::count_if(first, last, [level](std::uint8_t b) { return b < level; });
    return static_cast<double>(dark) / static_cast<double>(last - first);
}

std::string IniValue(const std::filesystem::path& folder, const char* section, const char* key) {
    char buffer[4096] = {};
    GetPrivateProfileStringA(section, key, "<missing>", buffer, sizeof buffer,
                             (folder / "data.ini").c_str());
    return buffer;
}

} // namespace kelo::test
