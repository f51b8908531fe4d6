// chrome-gallery: shows every dialog of the studio built from its template with the skin.
//   chrome-gallery                   a launcher with one button per dialog
//   chrome-gallery --screenshot DIR  writes DIR/dialog-<id>.png for each dialog and exits
//   chrome-gallery --dialog ID       opens one dialog
// Works with any Qt platform (xcb under Xvfb, offscreen).
#include "GalleryDialogs.h"
#include "ui/Skin.h"

#include <cstdio>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

int WriteScreenshots(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "chrome-gallery: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    int failures = 0;
    for (int id : kelo::gallery::GalleryDialogIds()) {
        auto dialog = kelo::gallery::MakeGalleryDialog(id);
        dialog->show();
        QApplication::processEvents();
        const QString path = QDir(folder).filePath(QStringLiteral("dialog-%1.png").arg(id));
        if (!dialog->grab().save(path)) {
            std::fprintf(stderr, "chrome-gallery: cannot write %s\n", qPrintable(path));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(path));
        }
        dialog->hide();
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("chrome-gallery"));
    kelo::ui::InstallApplicationFont();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The studio's dialogs, built from templates."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Write a PNG of each dialog to DIR."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption single(QStringLiteral("dialog"), QStringLiteral("Open dialog ID."),
                                    QStringLiteral("ID"));
    parser.addOptions({screenshot, single});
    parser.process(app);

    if (parser.isSet(screenshot)) {
        return WriteScreenshots(parser.value(screenshot));
    }
    if (parser.isSet(single)) {
        auto dialog = kelo::gallery::MakeGalleryDialog(parser.value(single).toInt());
        return dialog->exec() == QDialog::Accepted ? 0 : 0;
    }

    QWidget launcher;
    launcher.setWindowTitle(QStringLiteral("Kelo chrome gallery"));
    auto* layout = new QVBoxLayout(&launcher);
    for (int id : kelo::gallery::GalleryDialogIds()) {
        auto* button = new QPushButton(QStringLiteral("对话框 %1").arg(id), &launcher);
        QObject::connect(button, &QPushButton::clicked, &launcher, [id] {
            auto dialog = kelo::gallery::MakeGalleryDialog(id);
            dialog->exec();
        });
        layout->addWidget(button);
    }
    launcher.show();
    return app.exec();
}
