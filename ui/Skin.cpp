#include "ui/Skin.h"

#include "ui/DialogTemplate.h"

#include <algorithm>
#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

namespace kelo::ui {
namespace {

QPixmap LoadResourcePng(const QString& path) {
    // Templates and skin live in the same compiled-in resource; loading a template list
    // registers it.
    static const bool registered = (AvailableDialogTemplates(), true);
    (void)registered;
    return LoadScreenPixmap(path);
}

} // namespace

QString HighDensitySibling(const QString& path) {
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype slash = path.lastIndexOf(u'/');
    if (dot <= slash + 1)
        return path + QStringLiteral("@2x");
    return path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

qreal ScreenPixelRatio() {
    qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    for (const QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

QPixmap LoadScreenPixmap(const QString& path) {
    QPixmap pixmap;
    // QImageReader gives a "@2x" file the device pixel ratio 2, so the picture keeps its size
    // in the window's units and is drawn with every pixel of the screen.
    if (ScreenPixelRatio() > 1.0 && pixmap.load(HighDensitySibling(path)))
        return pixmap;
    pixmap.load(path);
    return pixmap;
}

QPixmap LoadSkinBitmap(int id) {
    return LoadResourcePng(QStringLiteral(":/kelo/skin/bitmap-%1.png").arg(id));
}

QPixmap LoadSkinIcon(int id) {
    return LoadResourcePng(QStringLiteral(":/kelo/skin/icon-%1.png").arg(id));
}

QString CjkFontFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        static const char* const preferred[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC",
                                                "Noto Sans SC",        "Source Han Sans SC",
                                                "Droid Sans Fallback", "AR PL UMing CN"};
        for (const char* name : preferred) {
            if (installed.contains(QLatin1String(name), Qt::CaseInsensitive)) {
                return QString::fromLatin1(name);
            }
        }
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        return chinese.isEmpty() ? QFont().family() : chinese.first();
    }();
    return family;
}

QFont DialogFont() {
    QFont font(CjkFontFamily());
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void InstallApplicationFont() {
    QApplication::setFont(DialogFont());
}

} // namespace kelo::ui
