// What the window shows when a file has been saved: a small strip with the file's picture and
// "已保存：NAME" (a recording adds its length) for a few seconds; a click opens the file's folder
// in the desktop's file manager. And the flash: a short white blink over the live picture when a
// photo is taken, drawn over the widget only (the frames and the virtual camera's feed never see
// it).
//
// Threads: window thread only.
#pragma once

#include <functional>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

class QLabel;

namespace kelo::ui {

// Opens a folder for the user. The default asks the desktop (QDesktopServices, which runs
// xdg-open); tests put their own in to see which folder would open. Returns false when the
// desktop could not.
using OpenFolderHandler = std::function<bool(const QString& folder)>;
void SetOpenFolderHandler(OpenFolderHandler handler); // empty: the desktop again
bool OpenFolder(const QString& folder);

class PhotoStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 4000;

    explicit PhotoStrip(QWidget* parent = nullptr);

    // Shows `path` as saved, with `picture` (scaled to the strip) and `detail` after the name
    // (a recording's length; empty for a photo), for kShowMs; a newer file replaces it.
    void ShowSaved(const QString& path, const QPixmap& picture, const QString& detail = {});

    // The picture of a photo file, read at the strip's size (a JPEG is decoded scaled down, so
    // this stays quick for large photos); null when it cannot be read.
    static QPixmap PhotoThumbnail(const QString& path, const QSize& size);

    const QString& SavedPath() const { return path_; }
    QString Text() const;
    QSize ThumbnailSize() const;
    bool IsShowing() const { return isVisible(); }

signals:
    // The strip was clicked and asked for `folder` to be opened.
    void folderOpened(const QString& folder);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OpenSavedFolder();

    QLabel* picture_;
    QLabel* text_;
    QString path_;
    QTimer hideTimer_;
};

class PhotoFlash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFlashMs = 150;

    // Covers `over` (its whole rectangle, following its size) while it flashes.
    explicit PhotoFlash(QWidget* over);

    void Flash();
    bool IsFlashing() const { return fade_.state() == QAbstractAnimation::Running; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVariantAnimation fade_;
    int alpha_ = 0;
};

} // namespace kelo::ui
