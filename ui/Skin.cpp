#include "ui/Skin.h"

#include "ui/DialogTemplate.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace kelo::ui {
namespace {

QPixmap LoadResourcePng(const QString& path) {
    // Templates and skin live in the same compiled-in resource; loading a template list
    // registers it.
    static const bool registered = (AvailableDialogTemplates(), true);
    (void)registered;
    QPixmap pixmap;
    pixmap.load(path);
    return pixmap;
}

} // namespace

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
