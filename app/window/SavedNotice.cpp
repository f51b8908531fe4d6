#include "app/window/SavedNotice.h"

#include "app/window/PreviewWidget.h"
#include "engine/CaptureEngine.h"
#include "ui/DialogBuilder.h"
#include "ui/PhotoStrip.h"
#include "ui/Skin.h"

#include <filesystem>
#include <QPointer>
#include <system_error>

namespace kelo {
namespace {

constexpr int kRecordIcon = 136;

ui::PhotoFlash& FlashOver(QWidget& surface) {
    if (auto* flash = surface.findChild<ui::PhotoFlash*>(QString(), Qt::FindDirectChildrenOnly))
        return *flash;
    return *new ui::PhotoFlash(&surface);
}

} // namespace

ui::PhotoStrip& SavedStrip(QWidget& window) {
    if (auto* strip = window.findChild<ui::PhotoStrip*>(QString(), Qt::FindDirectChildrenOnly))
        return *strip;
    auto* strip = new ui::PhotoStrip(&window);
    strip->setGeometry(ui::DialogUnitsToPixels(kSavedStripRectDu));
    return *strip;
}

void AnnouncePhotoSaved(QWidget& window, PreviewWidget* preview, const std::string& path) {
    if (preview) {
        // Over the video window when there is one (also in full screen), else the preview area.
        QWidget* video = preview->Video();
        QWidget* surface = video && video->isVisible() ? video : preview;
        FlashOver(*surface).Flash();
    }
    ui::PhotoStrip& strip = SavedStrip(window);
    const QString file = QString::fromStdString(path);
    strip.ShowSaved(file, ui::PhotoStrip::PhotoThumbnail(file, strip.ThumbnailSize() *
                                                                   strip.devicePixelRatioF()));
}

std::function<void()> RecordingSavedNotice(QWidget& window, PreviewWidget* preview,
                                           const CaptureEngine* engine,
                                           const QElapsedTimer& recordingTime) {
    if (!engine || !recordingTime.isValid() || engine->recordFileName().empty())
        return [] {};
    const std::string path = engine->recordFileName();
    const qint64 elapsedMs = recordingTime.elapsed();
    QPixmap picture;
    if (preview && preview->HasPicture())
        picture = QPixmap::fromImage(preview->ShownPicture());
    else
        picture = ui::LoadSkinIcon(kRecordIcon);
    QPointer<QWidget> guard(&window);
    return [guard, path, elapsedMs, picture] {
        std::error_code error;
        if (!guard || std::filesystem::file_size(path, error) == 0 || error)
            return; // nothing was written: the error said so already
        SavedStrip(*guard).ShowSaved(QString::fromStdString(path), picture,
                                     DurationText(elapsedMs));
    };
}

QString DurationText(qint64 milliseconds) {
    const qint64 seconds = std::max<qint64>(0, milliseconds / 1000);
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace kelo
