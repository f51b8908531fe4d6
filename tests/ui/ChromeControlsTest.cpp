// The chrome controls: icon button layout and colours, the tab control's page area and page
// switching, the skinned trackbar's notifications, and the skinned dialog's drag and commands.
#include "support/TestSupport.h"
#include "ui/IconButton.h"
#include "ui/ModalSeam.h"
#include "ui/Skin.h"
#include "ui/SkinnedDialog.h"
#include "ui/SkinnedTabControl.h"
#include "ui/SkinnedTrackbar.h"

#include <gtest/gtest.h>
#include <QEnterEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace kelo::ui {
namespace {

class ChromeControlsTest : public testing::Test {
    test::IsolatedDirectory dir_;
};

QPixmap SolidIcon(int edge) {
    QPixmap icon(edge, edge);
    icon.fill(Qt::red);
    return icon;
}

TEST_F(ChromeControlsTest, IconButtonPutsTheIconThreePixelsInWithTheCaptionRight) {
    const QRect client(0, 0, 64, 37);
    const auto layout = IconButton::ComputeLayout(client, QSize(24, 24), 30);
    EXPECT_EQ(layout.icon, QRect(3, 6, 24, 24)); // vertically centred
    EXPECT_EQ(layout.text.left(), 27);           // the caption starts right of the icon
    EXPECT_EQ(layout.text.right(), client.right());
    EXPECT_EQ(layout.text.height(), client.height());

    // Without a caption the icon is centred both ways.
    const auto bare = IconButton::ComputeLayout(QRect(0, 0, 26, 15), QSize(9, 9), 0);
    EXPECT_EQ(bare.icon, QRect(8, 3, 9, 9));
    EXPECT_TRUE(bare.text.isEmpty());

    // A real button: the skin's 32-pixel icons are fitted into small buttons.
    IconButton button;
    button.resize(64, 37);
    button.setText(QStringLiteral("录制"));
    button.SetIcon(SolidIcon(32));
    EXPECT_EQ(button.IconSize(), QSize(24, 24));
    EXPECT_EQ(button.CurrentLayout().icon.left(), 3);
    IconButton close;
    close.resize(26, 15);
    close.SetIcon(SolidIcon(32));
    EXPECT_EQ(close.IconSize(), QSize(9, 9));
    EXPECT_EQ(close.CurrentLayout().icon, QRect(8, 3, 9, 9));
}

TEST_F(ChromeControlsTest, IconButtonCaptionColourFollowsThePointer) {
    QWidget parent;
    auto* button = new IconButton(&parent);
    button->setGeometry(10, 10, 64, 37);
    button->setText(QStringLiteral("拍照"));
    button->SetColor(IconButton::ColorRole::TextOut, QColor(15, 15, 60));
    button->SetColor(IconButton::ColorRole::TextIn, QColor(0, 255, 0));
    parent.show();
    EXPECT_EQ(button->CurrentTextColor(), QColor(15, 15, 60));
    QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
    QApplication::sendEvent(button, &enter);
    EXPECT_TRUE(button->IsPointerOver());
    EXPECT_EQ(button->CurrentTextColor(), QColor(0, 255, 0));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(button->CurrentTextColor(), QColor(15, 15, 60));
}

TEST_F(ChromeControlsTest, TransparentIconButtonShowsTheSkinBehindIt) {
    SkinnedDialog dialog(132, skin::kPageBackground);
    dialog.show();
    auto* folder = dialog.Control<IconButton>(1006);
    ASSERT_NE(folder, nullptr);
    folder->SetIcon(147);
    folder->DrawTransparent(true);
    const QImage withButton = dialog.grab().toImage();
    folder->hide();
    const QImage skinOnly = dialog.grab().toImage();
    // The corner of the button's face (outside its icon) is the skin, pixel for pixel.
    const QPoint corner = folder->geometry().topLeft() + QPoint(1, 1);
    EXPECT_EQ(withButton.pixel(corner), skinOnly.pixel(corner));
    // And the icon is drawn.
    const QPoint centre = folder->geometry().center();
    EXPECT_NE(withButton.pixel(centre), skinOnly.pixel(centre));
}

class TabControlTest : public ChromeControlsTest {
protected:
    void SetUp() override {
        tabs_.resize(268, 243);
        for (const char* text : {"色彩调节", "相框", "灯光", "动画", "其它"}) {
            auto* page = new QWidget;
            pages_.push_back(page);
            tabs_.InsertItem(tabs_.Count(), QString::fromUtf8(text), page);
        }
        tabs_.show();
    }

    std::vector<QWidget*> VisiblePages() const {
        std::vector<QWidget*> visible;
        for (QWidget* page : pages_) {
            if (page->isVisible()) {
                visible.push_back(page);
            }
        }
        return visible;
    }

    SkinnedTabControl tabs_;
    std::vector<QWidget*> pages_; // children of tabs_
};

TEST_F(TabControlTest, PageAreaIsTheClientLessFivePixelsFromFourBelowTheFirstItem) {
    const int itemBottom = tabs_.ItemRect(0).bottom() + 1;
    ASSERT_GT(itemBottom, 0);
    const QRect expected(5, itemBottom + 4, 268 - 10, 243 - (itemBottom + 4) - 5);
    EXPECT_EQ(tabs_.PageArea(), expected);
    for (QWidget* page : pages_) {
        EXPECT_EQ(page->parentWidget(), &tabs_);
        EXPECT_EQ(page->geometry(), expected);
    }
    // Pages follow a resize.
    tabs_.resize(300, 200);
    const QRect moved(5, itemBottom + 4, 290, 200 - (itemBottom + 4) - 5);
    EXPECT_EQ(tabs_.PageArea(), moved);
    EXPECT_EQ(pages_[3]->geometry(), moved);
}

TEST_F(TabControlTest, SelectingATabShowsItsPageAndHidesThePrevious) {
    EXPECT_EQ(tabs_.CurrentSelection(), 0);
    EXPECT_EQ(VisiblePages(), std::vector<QWidget*>{pages_[0]});
    QSignalSpy changes(&tabs_, &SkinnedTabControl::selectionChanged);

    QTest::mouseClick(tabs_.TabBar(), Qt::LeftButton, {}, tabs_.TabBar()->tabRect(2).center());
    EXPECT_EQ(tabs_.CurrentSelection(), 2);
    EXPECT_EQ(VisiblePages(), std::vector<QWidget*>{pages_[2]});
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][0].toInt(), 2);

    // Clicking the selected tab again is no change.
    QTest::mouseClick(tabs_.TabBar(), Qt::LeftButton, {}, tabs_.TabBar()->tabRect(2).center());
    EXPECT_EQ(changes.size(), 1);

    // A selection made by code switches pages without a notification.
    tabs_.SetCurrentSelection(4);
    EXPECT_EQ(VisiblePages(), std::vector<QWidget*>{pages_[4]});
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(tabs_.ItemText(4), QStringLiteral("其它"));
}

TEST_F(ChromeControlsTest, TrackbarReportsUserScrollsWithAPositionTip) {
    SkinnedTrackbar bar;
    bar.SetSkin(skin::kTrackbarChannel, skin::kTrackbarThumb, skin::kTrackbarThumbActive);
    bar.setRange(-255, 255);
    bar.setSingleStep(0);
    bar.resize(159, 18);
    bar.show();
    EXPECT_EQ(bar.cursor().shape(), Qt::PointingHandCursor);
    QSignalSpy scrolls(&bar, &SkinnedTrackbar::scrolled);

    bar.setValue(10); // code, not the user
    EXPECT_EQ(scrolls.size(), 0);

    const QRect thumb = bar.ThumbRect();
    QTest::mousePress(&bar, Qt::LeftButton, {}, thumb.center());
    EXPECT_TRUE(bar.isSliderDown());
    QTest::mouseMove(&bar, QPoint(bar.width() - 1, thumb.center().y()));
    EXPECT_EQ(bar.value(), 255);
    EXPECT_EQ(bar.PositionTip(), QStringLiteral("255"));
    ASSERT_GE(scrolls.size(), 1);
    EXPECT_EQ(scrolls.last()[0].toInt(), 255);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.width() - 1, thumb.center().y()));
    EXPECT_FALSE(bar.isSliderDown());
    const auto afterDrag = scrolls.size();

    // A click on the channel left of the thumb pages down.
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(2, 9));
    EXPECT_EQ(bar.value(), 255 - bar.pageStep());
    EXPECT_EQ(scrolls.size(), afterDrag + 1);

    // Keys are user actions too; with a line step of 0 the arrows do not move it.
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.value(), 255 - bar.pageStep());
    EXPECT_EQ(scrolls.size(), afterDrag + 2);
}

class CountingDialog : public SkinnedDialog {
public:
    using SkinnedDialog::SkinnedDialog;
    int inits = 0;

protected:
    void OnInitDialog() override { ++inits; }
};

TEST_F(ChromeControlsTest, SkinnedDialogRunsItsInitialisationOnceAndEndsOnOkOrCancel) {
    CountingDialog dialog(149, skin::kPageBackground);
    QSignalSpy commands(&dialog, &SkinnedDialog::command);
    {
        ScopedModalDialogHandler answer([&](QDialog& shown) {
            EXPECT_EQ(&shown, &dialog);
            EXPECT_EQ(dialog.inits, 1); // initialised before the run
            dialog.Control<QAbstractButton>(IDOK)->click();
            return shown.result();
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
    }
    ASSERT_EQ(commands.size(), 1);
    EXPECT_EQ(commands[0][0].toInt(), IDOK);
    {
        ScopedModalDialogHandler answer([&](QDialog& shown) {
            QTest::keyClick(&shown, Qt::Key_Escape);
            return shown.result();
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
    EXPECT_EQ(dialog.inits, 1);
}

TEST_F(ChromeControlsTest, SkinnedDialogIsDraggedByItsSurfaceNotByItsControls) {
    SkinnedDialog dialog(149, skin::kPageBackground);
    dialog.move(100, 100);
    dialog.show();
    const QPoint start = dialog.pos();
    // A press on the skin (top left corner, no control there) and a move drag the window.
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(2, 2));
    QMouseEvent move(QEvent::MouseMove, QPointF(32, 22), dialog.mapToGlobal(QPointF(32, 22)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&dialog, &move);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(32, 22));
    EXPECT_EQ(dialog.pos(), start + QPoint(30, 20));

    // A press on a static text goes through to the surface as well.
    const QPoint before = dialog.pos();
    QLabel* label = nullptr;
    for (auto* child : dialog.findChildren<QLabel*>()) {
        if (child->text() == QStringLiteral("延时")) {
            label = child;
        }
    }
    ASSERT_NE(label, nullptr);
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(1, 1));
    QMouseEvent drag(QEvent::MouseMove, QPointF(11, 1), dialog.mapToGlobal(QPointF(11, 1)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&dialog, &drag);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(11, 1));
    EXPECT_NE(dialog.pos(), before);

    // Pages (child dialogs) never move.
    QWidget host;
    auto* page = new SkinnedDialog(163, skin::kPageBackground, &host);
    host.show();
    const QPoint pagePos = page->pos();
    QTest::mousePress(page, Qt::LeftButton, {}, QPoint(150, 150));
    QMouseEvent pageMove(QEvent::MouseMove, QPointF(170, 170), page->mapToGlobal(QPointF(170, 170)),
                         Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(page, &pageMove);
    EXPECT_EQ(page->pos(), pagePos);
}

} // namespace
} // namespace kelo::ui
