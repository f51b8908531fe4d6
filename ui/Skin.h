// The skin: background bitmaps, trackbar parts and button icons, looked up by the resource
// numbers the windows use, and the dialog font (one that has the glyphs of the Chinese texts).
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>

namespace kelo::ui {

// Resource numbers of the skin.
namespace skin {
constexpr int kAppIcon = 128;
constexpr int kMainBackground = 134; // 492 x 350
constexpr int kPageBackground = 142; // 238 x 176: tabs, pages, small dialogs
constexpr int kTrackbarThumb = 152;
constexpr int kTrackbarThumbActive = 153;
constexpr int kTrackbarChannel = 154;
constexpr int kOkIcon = 143; // also the settings dialog's "save"
constexpr int kCancelIcon = 144;
} // namespace skin

// The largest device pixel ratio of the screens (QT_SCALE_FACTOR, a dense screen): 1 without
// an application.
qreal ScreenPixelRatio();

// "name@2x.png" beside "name.png" (Qt's convention for pictures drawn at twice the size).
QString HighDensitySibling(const QString& path);

// The picture at `path`, or its "@2x" sibling when a screen is denser than one pixel per unit
// and the sibling exists (then with device pixel ratio 2: it keeps the size of the plain one in
// the window's units). A null pixmap when neither loads. Skin, icons and effect thumbnails all
// come through here.
QPixmap LoadScreenPixmap(const QString& path);

// Bitmap resource `id`; a null pixmap when there is none (callers then draw without it).
QPixmap LoadSkinBitmap(int id);

// Icon resource `id`; a null pixmap when there is none.
QPixmap LoadSkinIcon(int id);

// A font family that can draw Chinese text, chosen once from the installed fonts: the
// project's WenQuanYi Micro Hei when present, else another family that covers Simplified
// Chinese, else the default family.
QString CjkFontFamily();

// The dialog font: the CJK family at 12 pixels, whose base units are the 6 x 12 pixels that
// dialog units are measured in.
QFont DialogFont();

// Makes DialogFont() the application's font, so that message boxes, tool tips and the folder
// picker draw Chinese text too. Call once after the QApplication exists.
void InstallApplicationFont();

} // namespace kelo::ui
