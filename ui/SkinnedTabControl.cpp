#include "ui/SkinnedTabControl.h"

#include "ui/Skin.h"

#include <algorithm>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

namespace kelo::ui {

SkinnedTabBar::SkinnedTabBar(QWidget* parent) : QTabBar(parent) {
    setDrawBase(false);
    setExpanding(false);
    setAutoFillBackground(false);
}

QSize SkinnedTabBar::tabSizeHint(int index) const {
    QFont bold = font();
    bold.setBold(true);
    const int width = QFontMetrics(bold).horizontalAdvance(tabText(index)) + 2 * kCaptionPadding;
    return {width, QTabBar::tabSizeHint(index).height()};
}

void SkinnedTabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < count(); ++i) {
        const bool selected = i == currentIndex();
        QRectF tab = QRectF(tabRect(i)).adjusted(0.5, selected ? 0.5 : 2.5, -0.5, 0);
        QPainterPath path;
        path.moveTo(tab.bottomLeft());
        path.lineTo(tab.left(), tab.top() + 4);
        path.quadTo(tab.topLeft(), QPointF(tab.left() + 4, tab.top()));
        path.lineTo(tab.right() - 4, tab.top());
        path.quadTo(tab.topRight(), QPointF(tab.right(), tab.top() + 4));
        path.lineTo(tab.bottomRight());
        painter.setPen(QColor(111, 141, 184));
        painter.setBrush(selected ? QColor(255, 255, 255, 200) : QColor(255, 255, 255, 90));
        painter.drawPath(path);
        QFont font = this->font();
        font.setBold(selected);
        painter.setFont(font);
        painter.setPen(selected ? SelectedTextColor() : TextColor());
        painter.drawText(tab, Qt::AlignCenter, tabText(i));
    }
}

SkinnedTabControl::SkinnedTabControl(QWidget* parent) : QWidget(parent) {
    bar_ = new SkinnedTabBar(this);
    bar_->move(0, 0);
    connect(bar_, &QTabBar::currentChanged, this, &SkinnedTabControl::OnCurrentChanged);
}

void SkinnedTabControl::SetBackground(int bitmapId) {
    SetBackground(LoadSkinBitmap(bitmapId));
}

void SkinnedTabControl::SetBackground(const QPixmap& background) {
    background_ = background;
    update();
}

int SkinnedTabControl::InsertItem(int index, const QString& text, QWidget* page) {
    index = std::clamp(index, 0, Count());
    if (page) {
        page->setParent(this);
        page->setWindowFlags(Qt::Widget);
        page->hide();
    }
    pages_.insert(pages_.begin() + index, page);
    settingByCode_ = true; // the first insert selects tab 0: not the user's doing
    const int inserted = bar_->insertTab(index, text);
    settingByCode_ = false;
    bar_->resize(std::min(bar_->sizeHint().width(), width()), bar_->sizeHint().height());
    MovePages();
    settingByCode_ = true;
    OnCurrentChanged(bar_->currentIndex());
    settingByCode_ = false;
    return inserted;
}

QWidget* SkinnedTabControl::Page(int index) const {
    return index >= 0 && index < Count() ? pages_[static_cast<size_t>(index)] : nullptr;
}

QString SkinnedTabControl::ItemText(int index) const {
    return bar_->tabText(index);
}

QRect SkinnedTabControl::ItemRect(int index) const {
    return bar_->tabRect(index).translated(bar_->pos());
}

int SkinnedTabControl::CurrentSelection() const {
    return bar_->currentIndex();
}

void SkinnedTabControl::SetCurrentSelection(int index) {
    settingByCode_ = true;
    bar_->setCurrentIndex(index);
    settingByCode_ = false;
}

QRect SkinnedTabControl::PageArea() const {
    const int itemHeight = Count() > 0 ? ItemRect(0).bottom() + 1 : bar_->sizeHint().height();
    const int top = itemHeight + 4;
    return QRect(5, top, std::max(0, width() - 10), std::max(0, height() - top - 5));
}

void SkinnedTabControl::MovePages() {
    const QRect area = PageArea();
    for (QWidget* page : pages_) {
        if (page) {
            page->setGeometry(area);
        }
    }
}

void SkinnedTabControl::OnCurrentChanged(int index) {
    QWidget* page = Page(index);
    if (page != shownPage_) {
        if (shownPage_) {
            shownPage_->hide();
        }
        shownPage_ = page;
        if (page) {
            page->show();
            page->raise();
        }
    }
    update();
    if (!settingByCode_ && index >= 0) {
        emit selectionChanged(index);
    }
}

void SkinnedTabControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(rect(), background_);
    }
    // A thin frame around the page area, joined to the selected tab.
    painter.setPen(QColor(111, 141, 184));
    const int top = PageArea().top() - 4;
    painter.drawRect(QRect(0, top, width() - 1, height() - top - 1));
}

void SkinnedTabControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->resize(std::min(bar_->sizeHint().width(), width()), bar_->sizeHint().height());
    MovePages();
}

} // namespace kelo::ui
