#include "app/pages/EffectPage.h"

#include "app/pages/PagesLog.h"
#include "app/SettingsStore.h"
#include "effects/EffectCatalog.h"
#include "effects/GifAnimation.h"
#include "engine/CaptureEngine.h"
#include "platform/system/AssetPaths.h"
#include "ui/IconButton.h"
#include "ui/Skin.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <QApplication>
#include <QPointer>
#include <QThreadPool>
#include <system_error>

Q_LOGGING_CATEGORY(lcPages, "kelo.pages", QtInfoMsg)

namespace kelo {
namespace {

namespace fs = std::filesystem;
using ui::IconButton;

bool IsFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The picture of a button: its icon resource when the skin has one, else the thumbnail the
// effect pack draws for the effect (working directory first, then the installed data folder).
QPixmap EffectIcon(const EffectEntry& effect) {
    QPixmap icon = ui::LoadSkinIcon(effect.iconId);
    if (!icon.isNull())
        return icon;
    const std::string thumbnail = FindAsset(ThumbnailRelativePath(effect));
    if (!thumbnail.empty())
        icon.load(QString::fromStdString(thumbnail));
    return icon;
}

} // namespace

EffectPage::EffectPage(EffectPageKind kind, QWidget* parent)
    : EnginePage(DifferencesOf(kind).templateId, parent), differences_(DifferencesOf(kind)) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &EffectPage::OnAnimationTick);
    connect(this, &SkinnedDialog::command, this, &EffectPage::OnCommand);
}

EffectPage::~EffectPage() {
    timer_.stop();
    // The window lets go of the engine on every page before it destroys it, so an engine
    // still held here is alive, and its filter may be reading one of our pictures.
    if (engine_ && shownPicture_)
        ClearOverlay();
    decoder_.reset();
}

void EffectPage::OnInitDialog() {
    AttachButtonIcons();
    settingsPath_ = settingsPath();
}

void EffectPage::AttachButtonIcons() {
    for (const EffectEntry& effect : EffectsOf(differences_.family)) {
        auto* button = Control<IconButton>(effect.buttonId);
        if (!button)
            continue;
        button->SetIcon(EffectIcon(effect));
        button->DressOnSkin();
        button->setToolTip(QString::fromUtf8(effect.fileName).chopped(4));
    }
}

void EffectPage::SetEngine(CaptureEngine* engine) {
    if (engine == engine_)
        return;
    // The engine let go of may live on: its filter must stop reading our picture first.
    if (engine_ && shownPicture_)
        ClearOverlay();
    shownPicture_ = nullptr;
    engine_ = engine;
}

// One decode of an effect file for a press: made on the window thread, filled on a pool thread.
struct EffectPage::PendingLoad {
    std::string path;
    int overlayCode = 0;
    bool loaded = false;                   // written before `finished`, under `mutex`
    std::unique_ptr<GifAnimation> decoder; // guarded by mutex
    bool finished = false;                 // guarded by mutex
    std::mutex mutex;
    std::condition_variable done;
};

void EffectPage::StartAnimation() {
    if (decoder_)
        return;
    decoder_ = std::make_unique<GifAnimation>();
    timer_.start(kTickMs);
}

void EffectPage::StopAnimation() {
    pendingLoad_.reset(); // a decode in flight plays nothing on a stopped page
    if (decoder_) {
        ClearOverlay();
        decoder_.reset();
    }
    timer_.stop();
}

void EffectPage::SelectEffect(int n) {
    if (n >= 1 && n <= kButtonCount)
        RunButton(n);
}

void EffectPage::OnCommand(int controlId) {
    const int n = controlId - differences_.firstButtonId + 1;
    SelectEffect(n);
}

void EffectPage::RunButton(int n) {
    const EffectEntry* effect = FindEffect(differences_.family, n);
    if (!effect)
        return;
    if (n == 1 && differences_.firstButtonStarts && !decoder_)
        StartAnimation();

    const std::string path = EffectFilePath(*effect);
    // A stopped page has no decoder to load into: nothing plays, the choice is still stored.
    pendingLoad_.reset(); // a decode still running for an earlier press counts for nothing
    if (decoder_) {
        auto load = std::make_shared<PendingLoad>();
        load->path = path;
        load->overlayCode = effect->overlayCode;
        pendingLoad_ = load;
        // The reply goes to the page only while it exists (a queued call to a destroyed
        // object is dropped); the pool thread only decodes.
        QPointer<EffectPage> page(this);
        QThreadPool::globalInstance()->start([load, page]() mutable {
            auto decoded = std::make_unique<GifAnimation>();
            load->loaded = decoded->Load(load->path) == 1;
            {
                std::lock_guard lock(load->mutex);
                load->decoder = std::move(decoded);
                load->finished = true;
            }
            load->done.notify_all();
            QMetaObject::invokeMethod(
                qApp,
                [load, page = std::move(page)] {
                    if (page)
                        page->OnEffectDecoded(load);
                },
                Qt::QueuedConnection);
        });
    }

    if (settingsPath_.empty())
        settingsPath_ = settingsPath(); // driven before its initialisation
    if (!SettingsStore(settingsPath_).WriteOverlayButton(n, path))
        qCDebug(lcPages, "could not store the effect choice in %s", settingsPath_.c_str());
}

void EffectPage::FinishPendingLoad() {
    if (std::shared_ptr<PendingLoad> load = pendingLoad_) {
        {
            std::unique_lock lock(load->mutex);
            load->done.wait(lock, [&] { return load->finished; });
        }
        OnEffectDecoded(load);
    }
}

void EffectPage::OnEffectDecoded(const std::shared_ptr<PendingLoad>& load) {
    if (load != pendingLoad_ || !decoder_)
        return; // a newer press, or the page stopped meanwhile
    pendingLoad_.reset();
    std::unique_ptr<GifAnimation> decoded;
    {
        std::lock_guard lock(load->mutex);
        decoded = std::move(load->decoder);
    }
    if (!load->loaded || !decoded) {
        // Nothing changes: the effect that plays goes on.
        qCDebug(lcPages, "effect file %s could not be loaded", load->path.c_str());
        return;
    }
    // The filter stops reading the current picture before its decoder is replaced.
    ClearOverlay();
    decoder_ = std::move(decoded);
    clock_.Restart(decoder_->GetFrameCount(), decoder_->GetFrameDelay(0));
    ShowPicture(load->overlayCode, decoder_->GetFrameBits(0));
    if (differences_.tickOverlayCode == 0)
        overlayCode_ = load->overlayCode;
}

void EffectPage::OnAnimationTick() {
    if (!decoder_)
        return;
    if (!clock_.Tick([this](int index) { return decoder_->GetFrameDelay(index); }))
        return;
    const int index = static_cast<int>(clock_.FrameIndex());
    const int code =
        differences_.tickOverlayCode != 0 ? differences_.tickOverlayCode : overlayCode_;
    ShowPicture(code, decoder_->GetFrameBits(index));
}

void EffectPage::ClearOverlay() {
    if (engine_) {
        // E_POINTER when the engine has no overlay filter: then nothing was shown either.
        (void)engine_->ClearOverlay(kOverlayClear, 0, 0, 0, 0);
    }
    shownPicture_ = nullptr;
}

void EffectPage::ShowPicture(int overlayCode, const std::uint8_t* picture) {
    // No picture (a file with no image, a page started again without an effect): skipped, the
    // overlay stays as it is.
    if (!picture || !engine_)
        return;
    if (engine_->ShowOverlayPicture(overlayCode, picture) == S_OK)
        shownPicture_ = picture;
}

std::string EffectPage::EffectFilePath(const EffectEntry& effect) {
    std::error_code error;
    const std::string inWorkingDirectory =
        fs::current_path(error).string() + EffectPathSuffix(effect);
    if (IsFile(inWorkingDirectory))
        return inWorkingDirectory;
    const std::string installed =
        (fs::path(InstalledDataDir()) / EffectRelativePath(effect)).string();
    if (IsFile(installed))
        return installed;
    return inWorkingDirectory; // the path tried first: the load fails and says which
}

} // namespace kelo
