// A tab control that hosts one page window per tab (tabs on top), over a stretched skin bitmap.
// The page area is the client area less 5 pixels on the left, right and bottom, starting
// 4 pixels below the first tab item. The selected tab's page is shown and the previous one
// hidden; on resize the pages move to the new page area. `selectionChanged` is the user's
// selection change (a click or a key), not a selection set by code.
#pragma once

#include <QPixmap>
#include <QTabBar>
#include <QWidget>
#include <vector>

namespace kelo::ui {

class SkinnedTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit SkinnedTabBar(QWidget* parent = nullptr);

    // Caption colours of the selected tab and of the others.
    static QColor SelectedTextColor() { return QColor(15, 15, 60); }
    static QColor TextColor() { return QColor(70, 90, 125); }

    // Room left and right of a tab's caption, in pixels.
    static constexpr int kCaptionPadding = 7;

protected:
    void paintEvent(QPaintEvent* event) override;
    // As wide as its caption in bold (the selected tab's font) and the padding: the five effect
    // tabs fit side by side in either language.
    QSize tabSizeHint(int index) const override;
};

class SkinnedTabControl : public QWidget {
    Q_OBJECT
public:
    explicit SkinnedTabControl(QWidget* parent = nullptr);

    void SetBackground(int bitmapId);
    void SetBackground(const QPixmap& background);

    // Inserts a tab at `index` (clamped to the count) carrying `page`, which becomes a child of
    // the control and is shown only if its tab is the selected one. Returns the index.
    int InsertItem(int index, const QString& text, QWidget* page);
    int Count() const { return static_cast<int>(pages_.size()); }
    QWidget* Page(int index) const;
    QString ItemText(int index) const;
    QRect ItemRect(int index) const;

    int CurrentSelection() const;
    // Selects a tab as code does: the page changes, no selectionChanged.
    void SetCurrentSelection(int index);

    QRect PageArea() const;
    // Moves every page into the page area.
    void MovePages();

    SkinnedTabBar* TabBar() const { return bar_; }

signals:
    void selectionChanged(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnCurrentChanged(int index);

    SkinnedTabBar* bar_ = nullptr;
    QPixmap background_;
    std::vector<QWidget*> pages_; // children of this control; not owned separately
    QWidget* shownPage_ = nullptr;
    bool settingByCode_ = false;
};

} // namespace kelo::ui
