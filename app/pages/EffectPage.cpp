#include "app/pages/EffectPage.h"

#include "app/pages/PagesLog.h"
#include "app/settings/SettingsStore.h"
#include "effects/gif/EffectCatalog.h"
#include "effects/gif/GifAnimation.h"
#include "engine/CaptureEngine.h"
#include "platform/system/AssetPaths.h"
#include "platform/system/InputFile.h"
#include "ui/IconButton.h"
#include "ui/Skin.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <QApplication>
#include <QPointer>
#include <QThreadPool>
#include <system_error>
#include <vector>

Q_LOGGING_CATEGORY(lcPages, "kelo.pages", QtInfoMsg)

namespace kelo {
namespace {

namespace fs = std::filesystem;
using ui::IconButton;

// A button's picture is a few kilobytes; anything this large is not one.
constexpr std::size_t kMaxThumbnailBytes = 4u << 20;

bool IsFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The picture of a button: its icon resource when the skin has one, else the thumbnail the
// effect pack draws for the effect (working directory first, then the installed data folder),
// its "@2x" drawing on a dense screen.
QPixmap EffectIcon(const EffectEntry& effect) {
    QPixmap icon = ui::LoadSkinIcon(effect.iconId);
    if (!icon.isNull())
        return icon;
    const std::string thumbnail = FindAsset(ThumbnailRelativePath(effect));
    // Read as any other input file (a pipe put there must not hold the window), then decoded;
    // on a high-density screen its "@2x" picture when there is one.
    std::vector<std::uint8_t> bytes;
    if (!thumbnail.empty()) {
        const QString path = QString::fromStdString(thumbnail);
        if (ui::ScreenPixelRatio() > 1.0 &&
            ReadInputFile(ui::HighDensitySibling(path).toStdString(), kMaxThumbnailBytes,
                          &bytes) == InputFileStatus::Ok &&
            icon.loadFromData(bytes.data(), static_cast<uint>(bytes.size()))) {
            icon.setDevicePixelRatio(2.0);
        } else if (ReadInputFile(thumbnail, kMaxThumbnailBytes, &bytes) == InputFileStatus::Ok) {
            icon.loadFromData(bytes.data(), static_cast<uint>(bytes.size()));
        }
    }
    return icon;
}

// The names of the effect files, for the translation (EffectPage::EffectName looks them up).
constexpr const char* kEffectNames[] = {
    // cartoons
    QT_TRANSLATE_NOOP("kelo::EffectPage", "星空"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "流星妖精"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "爱的记忆"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "喷花"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "猫"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "拜托啦"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "骑车"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "爱你的心"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "飘雪"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "三朵花"),
    // lights
    QT_TRANSLATE_NOOP("kelo::EffectPage", "流星雨"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "闪条"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "星光点点"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "七色烟花"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "飘花"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "动感炫光"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "灯光波光"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "红色灯光"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "晴天霹雳"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "闪动变色"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "蓝球"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "旋转红光"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "闪光灯"),
    // frames
    QT_TRANSLATE_NOOP("kelo::EffectPage", "向阳花"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "手机屏幕"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "笔记本"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "花园"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "芳草萋萋"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "枷锁"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "我爱你"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "转转星"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "爱情公园"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "彩虹仙子"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "蝶恋花"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "花丛"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "蝶舞"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "酷兔"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "花的田野"),
    QT_TRANSLATE_NOOP("kelo::EffectPage", "蓝花闪动"),
};

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
        // The thumbnail is the button; its name is told by the tool tip and to screen readers.
        button->SetIconFills(true);
        button->setText(QString());
        button->setCheckable(true);
        const QString name = EffectName(effect);
        button->setToolTip(name);
        button->setAccessibleName(name);
    }
}

QString EffectPage::EffectName(const EffectEntry& effect) {
    QString name = QString::fromUtf8(effect.fileName);
    if (name.endsWith(QLatin1String(".gif")))
        name.chop(4);
    qsizetype digits = 0;
    while (digits < name.size() && name[digits].isDigit())
        ++digits;
    name = name.mid(digits);
    if (name.isEmpty())
        return tr("效果 %1").arg(effect.number);
    return tr(name.toUtf8().constData());
}

std::span<const char* const> EffectPage::TranslatedEffectNames() {
    return kEffectNames;
}

void EffectPage::MarkButton(int n) {
    marked_ = n;
    // A click has toggled its own button already: every button is set again.
    for (int i = 1; i <= kButtonCount; ++i) {
        if (auto* button = Control<IconButton>(differences_.firstButtonId + i - 1))
            button->setChecked(i == n);
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
    int number = 0;      // the button pressed, 1 to 16
    bool loaded = false; // written before `finished`, under `mutex`
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
    MarkButton(0);
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
        load->number = n;
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

    // A click toggled its own button: the mark stays on the effect that plays until the new
    // one is decoded and plays.
    MarkButton(marked_);

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
    MarkButton(load->number);
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
