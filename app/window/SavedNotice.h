// The window's side of the saved-file strip and the photo flash (ui/PhotoStrip.h): where they
// sit in the main window and what they say for a photo and for a recording. The window calls one
// function for each outcome. Window thread.
#pragma once

#include <functional>
#include <QElapsedTimer>
#include <QRect>
#include <string>

class QWidget;

namespace kelo {

class CaptureEngine;
class PreviewWidget;
namespace ui {
class PhotoStrip;
}

// The strip's place in the main window, in dialog units: under the command buttons, as wide as
// the preview.
inline constexpr QRect kSavedStripRectDu{10, 256, 216, 26};

// The window's strip (made on first use).
ui::PhotoStrip& SavedStrip(QWidget& window);

// A photo was written to `path`: the flash over the preview, then the strip with its picture.
void AnnouncePhotoSaved(QWidget& window, PreviewWidget* preview, const std::string& path);

// Taken when a recording stops, run when its file is complete: the strip with the recording's
// name, its length and the last picture of the preview; nothing when it never ran or left no
// file.
std::function<void()> RecordingSavedNotice(QWidget& window, PreviewWidget* preview,
                                           const CaptureEngine* engine,
                                           const QElapsedTimer& recordingTime);

// "M:SS" (or "H:MM:SS" past an hour).
QString DurationText(qint64 milliseconds);

} // namespace kelo
