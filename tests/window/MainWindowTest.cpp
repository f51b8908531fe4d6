// The main window on the offscreen platform with the test devices: start-up messages and device
// lists, frames in the preview, device changes, runtime errors, the picture of the whole window,
// and shut-down.
#include "app/settings/SettingsStore.h"
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "engine/EngineTestSupport.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/filters/CaptureDeviceFilter.h"
#include "platform/graph/DeviceMonitor.h"
#include "platform/system/Handles.h"
#include "platform/system/PrivateProfile.h"
#include "platform/system/SharedMemoryView.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/SkinnedTabControl.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSet>
#include <QTest>

namespace kelo {

namespace fs = std::filesystem;

// Reaches the window's state the commands own (a recording or countdown in progress).
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK); }

    // A window on these test devices, initialised (start-up runs here) and shown.
    MainDialog& Open(std::vector<std::string> video, std::vector<std::string> audio) {
        registry = test::MakeTestRegistry(test::Devices(std::move(video), std::move(audio)));
        window = std::make_unique<MainDialog>(*registry);
        window->Create();
        window->show();
        Settle(*window);
        return *window;
    }

    // The engine is built and started on the worker: waits until what was asked has happened.
    static void Settle(MainDialog& dialog) {
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !dialog.Opening() && !dialog.Worker().Busy(); }, 30000));
    }

    // A window on test devices that are plugged in and pulled out while it runs, following them.
    MainDialog& OpenFollowing(std::vector<std::string> video, std::vector<std::string> audio) {
        devices =
            std::make_shared<TestDeviceProvider>(test::Devices(std::move(video), std::move(audio)));
        registry = test::MakeTestRegistry(devices);
        window = std::make_unique<MainDialog>(*registry);
        DeviceSources sources;
        sources.systemDevices = false;
        sources.testDevicesOn = true;
        sources.testProvider = devices;
        window->FollowDevices(std::make_unique<DeviceMonitor>(sources, std::vector<std::string>{}));
        window->Create();
        window->show();
        Settle(*window);
        return *window;
    }

    static void SetState(MainDialog& dialog, CaptureState state) { dialog.captureState = state; }

    bool FeedIsBlack() const { return !FeedHasFrame(); }

    bool FeedHasFrame() const { return test::FeedHasPicture(feedView); }

    static QComboBox* List(const MainDialog& dialog, int id) {
        return dialog.Control<QComboBox>(id);
    }

    static std::string DeviceName(const FilterPtr& filter) {
        auto* device = dynamic_cast<CaptureDeviceFilter*>(filter.get());
        return device ? device->friendlyName() : std::string();
    }

    static QStringList Entries(const QComboBox* list) {
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->itemText(i);
        return names;
    }

    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    SharedMemoryView feedView;
    ui::MessageBoxRecorder boxes;
    std::shared_ptr<TestDeviceProvider> devices;
    std::unique_ptr<ClassRegistry> registry;
    std::unique_ptr<MainDialog> window;
};

namespace {

bool IsCaptionRed(QRgb pixel) {
    return qRed(pixel) == 255 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

TEST_F(MainWindowTest, WithoutAnyDeviceOneNoticeAndTheWindowStaysOpenAndBlack) {
    MainDialog& dialog = Open({}, {});
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text, QStringLiteral("请插入USB无视频设备!"));
    EXPECT_EQ(boxes.Requests()[0].caption, QStringLiteral("温馨提示"));
    EXPECT_EQ(boxes.Requests()[0].owner, &dialog);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(List(dialog, MainDialog::kVideoDeviceList)->count(), 0);
    EXPECT_EQ(List(dialog, MainDialog::kAudioDeviceList)->count(), 0);
    QTest::qWait(300);
    EXPECT_FALSE(dialog.Preview()->HasPicture());
    EXPECT_EQ(dialog.Preview()->PresentedFrames(), 0);
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

TEST_F(MainWindowTest, WithoutAudioTheApplicationSaysSoBeforeThePreviewRuns) {
    long framesAtTheBox = -1;
    ui::ScopedMessageBoxHandler handler([&](const ui::MessageBoxRequest& request) {
        EXPECT_EQ(request.text, QStringLiteral("无音频设备"));
        EXPECT_EQ(request.caption, ui::ApplicationTitle());
        EXPECT_EQ(request.owner, nullptr);
        framesAtTheBox = window->Preview()->PresentedFrames();
        return ui::IDOK;
    });
    MainDialog& dialog = Open({"Cam"}, {});
    EXPECT_EQ(framesAtTheBox, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= 1; }, 20000));
    EXPECT_EQ(Entries(List(dialog, MainDialog::kVideoDeviceList)), QStringList{"Cam"});
}

TEST_F(MainWindowTest, TheVirtualCameraIsLeftOutOfTheVideoList) {
    MainDialog& dialog = Open({"Cam A", "Kelo Virtual Camera", "Cam B"}, {"Mic"});
    EXPECT_TRUE(boxes.Requests().empty());
    const QComboBox* list = List(dialog, MainDialog::kVideoDeviceList);
    EXPECT_EQ(Entries(list), (QStringList{"Cam A", "Cam B"}));
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(Entries(List(dialog, MainDialog::kAudioDeviceList)), QStringList{"Mic"});
}

TEST_F(MainWindowTest, FramesReachThePreviewUprightWhereTheEngineSaysAndTheFeedBottomUp) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    PreviewWidget* preview = dialog.Preview();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return preview->PaintedFrames() >= 3 && FeedHasFrame(); }, 20000));
    EXPECT_EQ(preview->size(), QSize(324, 244));
    EXPECT_EQ(preview->VideoRect(), QRect(0, 0, 324, 244));
    EXPECT_TRUE(preview->Video()->isVisible());

    // The caption sits at the start of the feed's memory (the bottom of the picture): it must
    // be at the bottom of the preview, the feed's row r being the preview's row 239 - r.
    const QImage shown = preview->ShownPicture().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(320, 240));
    int redInFeed = 0;
    int mismatches = 0;
    int redAtTheTop = 0;
    for (int r = 0; r < 60; ++r) {
        for (int x = 0; x < 320; ++x) {
            const std::uint8_t* feedPixel = feedView.data() + r * kFeedRowBytes + x * 3;
            const bool feedRed = feedPixel[0] == 0 && feedPixel[1] == 0 && feedPixel[2] == 255;
            redInFeed += feedRed;
            mismatches += feedRed != IsCaptionRed(shown.pixel(x, 239 - r));
            redAtTheTop += IsCaptionRed(shown.pixel(x, r));
        }
    }
    EXPECT_GT(redInFeed, 50);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(redAtTheTop, 0);

    // What the widget itself shows: the same caption in its bottom-left corner, none at the top.
    const QImage drawn = preview->Video()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int redDrawnBottom = 0;
    int redDrawnTop = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 160; ++x) {
            redDrawnTop += IsCaptionRed(drawn.pixel(x, y));
            redDrawnBottom += IsCaptionRed(drawn.pixel(x, drawn.height() - 1 - y));
        }
    }
    EXPECT_GT(redDrawnBottom, 50);
    EXPECT_EQ(redDrawnTop, 0);
}

TEST_F(MainWindowTest, ADeviceChangeRestartsOnlyWhenIdle) {
    MainDialog& dialog = Open({"Cam A", "Cam B"}, {"Mic A", "Mic B"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= 1; }, 20000));
    QComboBox* video = List(dialog, MainDialog::kVideoDeviceList);
    QComboBox* audio = List(dialog, MainDialog::kAudioDeviceList);

    // While a recording runs: the choice is stored and nothing else happens.
    SetState(dialog, CaptureState::Recording);
    CaptureEngine* running = dialog.Engine();
    video->setCurrentIndex(1);
    emit video->activated(1);
    Settle(dialog);
    EXPECT_EQ(dialog.VideoDeviceIndex(), 2);
    EXPECT_EQ(dialog.Engine(), running);
    EXPECT_EQ(DeviceName(running->videoSourceFilter()), "Cam A");

    // Idle: the engine is built again with both choices, and the preview flows on.
    SetState(dialog, CaptureState::Idle);
    audio->setCurrentIndex(1);
    emit audio->activated(1);
    Settle(dialog);
    EXPECT_EQ(dialog.AudioDeviceIndex(), 2);
    ASSERT_NE(dialog.Engine(), nullptr);
    EXPECT_EQ(DeviceName(dialog.Engine()->videoSourceFilter()), "Cam B");
    EXPECT_EQ(DeviceName(dialog.Engine()->audioSourceFilter()), "Mic B");
    EXPECT_EQ(video->currentIndex(), 1);
    EXPECT_EQ(audio->currentIndex(), 1);
    const long painted = dialog.Preview()->PaintedFrames();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Preview()->PaintedFrames() >= painted + 3 && FeedHasFrame(); }, 20000));
    EXPECT_TRUE(boxes.Requests().empty());
}

TEST_F(MainWindowTest, ARuntimeErrorIsShownTheWindowGoesBlackAndADeviceChangeTriesAgain) {
    MainDialog& dialog = Open({"Cam A", "Cam B"}, {"Mic"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= 1; }, 20000));
    GstElement* device = dialog.Engine()->videoSourceFilter()->element();
    GErrorPtr error(
        g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Device unplugged"));
    gst_element_post_message(device,
                             gst_message_new_error(GST_OBJECT(device), error.get(), "test"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Requests().empty(); }, 20000));
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].caption, QStringLiteral("温馨提示"));
    EXPECT_EQ(boxes.Requests()[0].owner, &dialog);
    EXPECT_TRUE(boxes.Requests()[0].text.contains(QStringLiteral("Device unplugged")));
    EXPECT_FALSE(dialog.Preview()->HasPicture());
    EXPECT_TRUE(dialog.isVisible());

    QComboBox* video = List(dialog, MainDialog::kVideoDeviceList);
    video->setCurrentIndex(1);
    emit video->activated(1);
    Settle(dialog);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->HasPicture(); }, 20000));
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

TEST_F(MainWindowTest, TheWholeWindowIsSkinnedCutToItsRegionAndShowsThePreview) {
    MainDialog& dialog = Open({"Test Camera"}, {"Test Microphone"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= 2; }, 20000));
    EXPECT_EQ(dialog.size(), QSize(627, 494));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(dialog.mask(), QRegion(1, 2, 622, 425));
    EXPECT_EQ(MainDialog::WindowRegion(627, 494), QRegion(1, 2, 622, 425));
    EXPECT_FALSE(dialog.Control(MainDialog::kStopButton)->isVisible());
    EXPECT_TRUE(dialog.Control(MainDialog::kRecordButton)->isVisible());

    QImage shot = dialog.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shot.size(), QSize(627, 494));
    // What the desktop shows: the region applied.
    const QRegion region = dialog.mask();
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (!region.contains(QPoint(x, y)))
                shot.setPixel(x, y, qRgba(0, 0, 0, 0));
        }
    }
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3)
            colours.insert(shot.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 200) << "a blank window";
    // The preview area shows video, not black.
    const QRect area = dialog.Control(MainDialog::kPreviewArea)->geometry();
    int black = 0;
    int samples = 0;
    for (int y = area.top() + 10; y < area.bottom() - 10; y += 4) {
        for (int x = area.left() + 10; x < area.right() - 10; x += 4) {
            black += (shot.pixel(x, y) & 0xFFFFFF) == 0;
            ++samples;
        }
    }
    EXPECT_LT(black, samples / 4);

    // A test artefact, not part of the sources.
    const fs::path artefacts = test::BinaryDir() / "tests" / "window" / "artefacts";
    fs::create_directories(artefacts);
    EXPECT_TRUE(shot.save(QString::fromStdString((artefacts / "main-window.png").string())));
}

// What section "Effect" of data.ini holds: Effect, Index, GifName ("-" for a missing key).
std::string EffectSection() {
    std::string values;
    for (const char* key : {"Effect", "Index", "GifName"}) {
        char text[300] = {};
        GetPrivateProfileStringA("Effect", key, "-", text, sizeof text, "./data.ini");
        values += std::string(values.empty() ? "" : "|") + text;
    }
    return values;
}

TEST_F(MainWindowTest, PagesGetTheEngineOnlyWhenItRunsAndLetGoBeforeItIsGone) {
    MainDialog& dialog = Open({"Cam A", "Cam B"}, {"Mic"});
    CaptureEngine* first = dialog.Engine();
    ASSERT_NE(first, nullptr);
    for (int tab : {MainDialog::kColorTab, MainDialog::kFrameTab, MainDialog::kLightTab,
                    MainDialog::kCartoonTab})
        EXPECT_EQ(dialog.Page(tab)->Engine(), first) << tab;
    EXPECT_EQ(dialog.Page(MainDialog::kFaceCoverTab)->Engine(), nullptr);

    // A device change: the pages follow the new engine.
    QComboBox* video = List(dialog, MainDialog::kVideoDeviceList);
    video->setCurrentIndex(1);
    emit video->activated(1);
    Settle(dialog);
    EXPECT_EQ(DeviceName(dialog.Engine()->videoSourceFilter()), "Cam B");
    for (int tab : {MainDialog::kColorTab, MainDialog::kFrameTab, MainDialog::kLightTab,
                    MainDialog::kCartoonTab})
        EXPECT_EQ(dialog.Page(tab)->Engine(), dialog.Engine()) << tab;

    // Closed: no page holds an engine any more.
    dialog.close();
    for (int tab = MainDialog::kColorTab; tab <= MainDialog::kFaceCoverTab; ++tab)
        EXPECT_EQ(dialog.Page(tab)->Engine(), nullptr) << tab;
}

TEST_F(MainWindowTest, WithoutAVideoDeviceThePagesHoldNoEngineAndStillWork) {
    {
        std::ofstream ini("data.ini");
        ini << "[Effect]\nEffect=Frame\nIndex=2\n";
    }
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1);
    MainDialog& dialog = Open({}, {"Mic"});
    unsetenv("KELOCAM_DATA_DIR");
    EXPECT_NE(dialog.Engine(), nullptr);
    for (int tab = MainDialog::kColorTab; tab <= MainDialog::kFaceCoverTab; ++tab)
        EXPECT_EQ(dialog.Page(tab)->Engine(), nullptr) << tab;
    // The restored effect decodes and plays without an engine to show it on.
    const EffectPage& frame = dialog.OverlayPage(EffectPageKind::Frame);
    EXPECT_TRUE(frame.IsStarted());
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.FrameCount() > 0; }, 20000));
    EXPECT_EQ(frame.ShownPicture(), nullptr);
    QTest::qWait(200); // its timer ticks
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

TEST_F(MainWindowTest, TabChangesStartOneOverlayFamilyStopTheOthersAndStoreIt) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    ui::SkinnedTabControl* tabs = dialog.EffectTabs();
    ASSERT_EQ(tabs->Count(), 5);
    const QStringList texts{"色彩调节", "相框", "灯光", "动画", "其它"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tabs->ItemText(i), texts[i]);
        EXPECT_EQ(tabs->Page(i), dialog.Page(i));
        EXPECT_EQ(tabs->Page(i)->geometry(), tabs->PageArea());
    }
    EXPECT_EQ(tabs->CurrentSelection(), 0);
    EXPECT_TRUE(dialog.Page(0)->isVisible());
    EXPECT_FALSE(dialog.Page(1)->isVisible());
    EffectPage& frame = dialog.OverlayPage(EffectPageKind::Frame);
    EffectPage& light = dialog.OverlayPage(EffectPageKind::Light);
    EffectPage& cartoon = dialog.OverlayPage(EffectPageKind::Cartoon);
    auto select = [&](int tab) { tabs->TabBar()->setCurrentIndex(tab); };

    select(MainDialog::kFrameTab);
    EXPECT_TRUE(frame.IsStarted());
    EXPECT_FALSE(light.IsStarted());
    EXPECT_FALSE(cartoon.IsStarted());
    EXPECT_EQ(EffectSection(), "Frame||");
    EXPECT_TRUE(frame.isVisible());

    // Buttons fill in Index and GifName; the colour tab keeps the overlay and data.ini as they
    // are; frame again writes the same three values and keeps the animation it has.
    frame.SelectEffect(3);
    frame.FinishPendingLoad();
    ASSERT_NE(frame.Decoder(), nullptr);
    const GifAnimation* playing = frame.Decoder();
    ASSERT_NE(EffectSection(), "Frame||");
    select(MainDialog::kColorTab);
    EXPECT_TRUE(frame.IsStarted());
    EXPECT_NE(EffectSection(), "Frame||");
    select(MainDialog::kFrameTab);
    EXPECT_EQ(EffectSection(), "Frame||");
    EXPECT_EQ(frame.Decoder(), playing);

    select(MainDialog::kLightTab);
    EXPECT_FALSE(frame.IsStarted());
    EXPECT_TRUE(light.IsStarted());
    EXPECT_FALSE(cartoon.IsStarted());
    EXPECT_EQ(EffectSection(), "Led||");

    select(MainDialog::kCartoonTab);
    EXPECT_FALSE(light.IsStarted());
    EXPECT_TRUE(cartoon.IsStarted());
    EXPECT_EQ(EffectSection(), "Cartoon||");

    select(MainDialog::kFaceCoverTab);
    EXPECT_TRUE(cartoon.IsStarted());
    EXPECT_EQ(EffectSection(), "Cartoon||");
}

TEST_F(MainWindowTest, TheStoredOverlayPlaysAtStartWhileTheColourTabShows) {
    {
        std::ofstream ini("data.ini");
        ini << "[Effect]\nEffect=Led\nIndex=4\n";
    }
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1);
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    unsetenv("KELOCAM_DATA_DIR");
    EXPECT_EQ(dialog.EffectTabs()->CurrentSelection(), 0);
    const EffectPage& light = dialog.OverlayPage(EffectPageKind::Light);
    EXPECT_TRUE(light.IsStarted());
    // Decoded off the window thread.
    EXPECT_TRUE(QTest::qWaitFor([&] { return light.FrameCount() > 0; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return light.ShownPicture() != nullptr; }, 20000))
        << "the overlay reaches the running engine";
    EXPECT_FALSE(dialog.OverlayPage(EffectPageKind::Frame).IsStarted());
    EXPECT_FALSE(dialog.OverlayPage(EffectPageKind::Cartoon).IsStarted());

    // Unknown or differently spelt families start nothing.
    dialog.close();
    window.reset();
    {
        std::ofstream ini("data.ini");
        ini << "[Effect]\nEffect=led\nIndex=4\n";
    }
    MainDialog& again = Open({"Cam"}, {"Mic"});
    for (EffectPageKind kind :
         {EffectPageKind::Frame, EffectPageKind::Light, EffectPageKind::Cartoon})
        EXPECT_FALSE(again.OverlayPage(kind).IsStarted());
}

TEST_F(MainWindowTest, TheSkinMenuOffersTheAboutBox) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    const QList<QAction*> actions = dialog.SkinMenu()->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("关于 Kelo 摄像头工作室(&A)..."));
    int aboutTemplate = 0;
    ui::ScopedModalDialogHandler handler([&](QDialog& about) {
        aboutTemplate = static_cast<ui::SkinnedDialog&>(about).TemplateId();
        return ui::IDOK;
    });
    actions[0]->trigger();
    EXPECT_EQ(aboutTemplate, MainDialog::kAboutTemplateId);
}

TEST_F(MainWindowTest, TheCloseButtonStopsTheCountdownHidesTheWindowAndLeavesTheFeedBlack) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return FeedHasFrame(); }, 20000));
    bool hiddenBeforeTheEngineWent = false;
    QObject::connect(&dialog, &QDialog::finished,
                     [&] { hiddenBeforeTheEngineWent = !dialog.isVisible(); });
    // The close button, during a countdown: the countdown's timer stops first.
    SetState(dialog, CaptureState::Countdown);
    dialog.CountdownTimer().start();
    QTest::mouseClick(dialog.Control(MainDialog::kCloseButton), Qt::LeftButton);
    EXPECT_FALSE(dialog.CountdownTimer().isActive());
    EXPECT_TRUE(hiddenBeforeTheEngineWent);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Engine(), nullptr);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(FeedHasFrame());
    // Nothing runs any more: no frame, no restart.
    const long presented = dialog.Preview()->PresentedFrames();
    QTest::qWait(300);
    EXPECT_EQ(dialog.Preview()->PresentedFrames(), presented);
    EXPECT_FALSE(FeedHasFrame());
}

TEST_F(MainWindowTest, ADoubleClickOnTheSkinFillsTheScreenAndTheVideosKeysReachTheWindow) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    PreviewWidget* preview = dialog.Preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->PaintedFrames() >= 1; }, 20000));
    // A point of the skin with no control on it.
    const QPoint skin(300, 400);
    ASSERT_EQ(dialog.childAt(skin), nullptr);
    QTest::mouseDClick(&dialog, Qt::LeftButton, {}, skin);
    ASSERT_TRUE(preview->IsVideoFullScreen());
    EXPECT_TRUE(preview->Video()->isWindow());
    EXPECT_TRUE(preview->Video()->isVisible());
    const long painted = preview->PaintedFrames();
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview->PaintedFrames() > painted; }, 20000));

    // Escape pressed on the full-screen video goes through the renderer's message drain to the
    // window's key handling, which leaves full screen.
    QTest::keyClick(preview->Video(), Qt::Key_Escape);
    EXPECT_FALSE(preview->IsVideoFullScreen());
    EXPECT_FALSE(preview->Video()->isWindow());
    EXPECT_EQ(preview->Video()->parentWidget(), preview);
    EXPECT_EQ(preview->Video()->geometry(), QRect(0, 0, 324, 244));
    EXPECT_TRUE(preview->Video()->isVisible());

    // A new engine places its video in the window again, whatever the old one did.
    QTest::mouseDClick(&dialog, Qt::LeftButton, {}, skin);
    ASSERT_TRUE(preview->IsVideoFullScreen());
    dialog.RestartPreview();
    EXPECT_FALSE(preview->IsVideoFullScreen());
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview->Video()->isVisible(); }, 20000));
}

TEST_F(MainWindowTest, EscapeNeverClosesTheWindow) {
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.Engine(), nullptr);
}

// Devices plugged in and pulled out while the window runs.

TEST_F(MainWindowTest, TheListsFollowDevicesAndTheChosenOnesStayChosen) {
    MainDialog& dialog = OpenFollowing({"Cam B"}, {"Mic B"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= 1; }, 20000));
    CaptureEngine* running = dialog.Engine();
    QComboBox* video = List(dialog, MainDialog::kVideoDeviceList);
    QComboBox* audio = List(dialog, MainDialog::kAudioDeviceList);

    // Arriving before the chosen ones in their lists: the choices move with their devices and
    // the preview goes on, untouched.
    devices->Add(DeviceKind::Video, {"Cam A", {}}, 0);
    devices->Add(DeviceKind::Audio, {"Mic A", {}}, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return video->count() == 2 && audio->count() == 2; }, 20000));
    EXPECT_EQ(Entries(video), (QStringList{"Cam A", "Cam B"}));
    EXPECT_EQ(video->currentIndex(), 1);
    EXPECT_EQ(dialog.VideoDeviceIndex(), 2);
    EXPECT_EQ(Entries(audio), (QStringList{"Mic A", "Mic B"}));
    EXPECT_EQ(audio->currentIndex(), 1);
    EXPECT_EQ(dialog.AudioDeviceIndex(), 2);
    EXPECT_EQ(dialog.Engine(), running);

    // The one before it leaves: the index is corrected, the camera still the same.
    ASSERT_TRUE(devices->Remove(DeviceKind::Video, "Cam A"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return video->count() == 1; }, 20000));
    EXPECT_EQ(video->currentIndex(), 0);
    EXPECT_EQ(dialog.VideoDeviceIndex(), 1);
    EXPECT_EQ(DeviceName(dialog.Engine()->videoSourceFilter()), "Cam B");

    // The chosen microphone pulled out during the preview: only the list changes.
    ASSERT_TRUE(devices->Remove(DeviceKind::Audio, "Mic B"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return audio->count() == 1; }, 20000));
    EXPECT_EQ(Entries(audio), QStringList{"Mic A"});
    EXPECT_EQ(audio->currentIndex(), -1);
    EXPECT_EQ(dialog.Engine(), running);
    const long painted = dialog.Preview()->PaintedFrames();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return dialog.Preview()->PaintedFrames() >= painted + 3; }, 20000));
    EXPECT_TRUE(boxes.Requests().empty());

    // Changes during a recording wait for the next Idle, which Stop brings.
    SetState(dialog, CaptureState::Recording);
    devices->Add(DeviceKind::Video, {"Cam A", {}}, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.DeviceRefreshPending(); }, 20000));
    EXPECT_EQ(video->count(), 1);
    dialog.OnStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return video->count() == 2 && dialog.Engine(); }, 20000));
    EXPECT_EQ(video->currentIndex(), 1);
    EXPECT_EQ(DeviceName(dialog.Engine()->videoSourceFilter()), "Cam B");
}

TEST_F(MainWindowTest, ACameraArrivingWhenThereWasNoneStartsThePreviewOnItsOwn) {
    MainDialog& dialog = OpenFollowing({}, {"Mic"});
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].text, QStringLiteral("请插入USB无视频设备!"));

    devices->Add(DeviceKind::Video, {"Cam", {}});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Preview()->PaintedFrames() >= 3 && FeedHasFrame(); }, 20000));
    CaptureEngine* started = dialog.Engine();
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(DeviceName(started->videoSourceFilter()), "Cam");
    EXPECT_EQ(Entries(List(dialog, MainDialog::kVideoDeviceList)), QStringList{"Cam"});
    EXPECT_EQ(List(dialog, MainDialog::kVideoDeviceList)->currentIndex(), 0);
    // Once: a second camera arriving switches nothing.
    devices->Add(DeviceKind::Video, {"Cam 2", {}});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return List(dialog, MainDialog::kVideoDeviceList)->count() == 2; }, 20000));
    EXPECT_EQ(dialog.Engine(), started);
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

// The only camera, which arrived while the window ran, pulled out and plugged in again.
TEST_F(MainWindowTest, ACameraThatArrivedComesBackAfterItWasPulledOut) {
    MainDialog& dialog = OpenFollowing({}, {"Mic"});
    devices->Add(DeviceKind::Video, {"Cam", {}});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Preview()->PaintedFrames() >= 2 && FeedHasFrame(); }, 20000));
    ASSERT_TRUE(devices->Remove(DeviceKind::Video, "Cam"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Engine() == nullptr && !dialog.StoppingRecording(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return FeedIsBlack(); }, 20000));
    devices->Add(DeviceKind::Video, {"Cam", {}});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return dialog.Preview()->HasPicture() && FeedHasFrame(); }, 20000));
}

TEST_F(MainWindowTest, TheCameraInUsePulledOutIsSaidOnceGoesBlackAndComesBack) {
    MainDialog& dialog = OpenFollowing({"Cam A", "Cam B"}, {"Mic"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Preview()->PaintedFrames() >= 2 && FeedHasFrame(); }, 20000));
    QComboBox* video = List(dialog, MainDialog::kVideoDeviceList);

    ASSERT_TRUE(devices->Remove(DeviceKind::Video, "Cam A"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog.Engine() == nullptr && !dialog.StoppingRecording(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return FeedIsBlack(); }, 20000));
    QTest::qWait(300); // a second report would come now
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].caption, QStringLiteral("温馨提示"));
    EXPECT_TRUE(boxes.Requests()[0].text.startsWith(QStringLiteral("视频采集已停止：")))
        << boxes.Requests()[0].text.toStdString();
    EXPECT_FALSE(dialog.Preview()->HasPicture());
    // Not switched to the other camera: nothing is chosen until it comes back.
    EXPECT_EQ(Entries(video), QStringList{"Cam B"});
    EXPECT_EQ(video->currentIndex(), -1);
    EXPECT_EQ(dialog.VideoDeviceIndex(), 0);

    devices->Add(DeviceKind::Video, {"Cam A", {}}, 0);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialog.Preview()->HasPicture() && FeedHasFrame(); }, 20000));
    EXPECT_EQ(DeviceName(dialog.Engine()->videoSourceFilter()), "Cam A");
    EXPECT_EQ(video->currentIndex(), 0);
    EXPECT_EQ(boxes.Requests().size(), 1u);
}

TEST_F(MainWindowTest, ASettingThatCannotBeSavedIsSaidOnceInTheWindow) {
    // Nothing can replace a folder named data.ini, not even root.
    fs::create_directory("data.ini");
    MainDialog& dialog = Open({"Cam"}, {"Mic"});
    ASSERT_TRUE(boxes.Requests().empty());
    ui::SkinnedTabControl* tabs = dialog.EffectTabs();
    tabs->TabBar()->setCurrentIndex(MainDialog::kFrameTab); // three keys
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Requests().empty(); }, 5000));
    tabs->TabBar()->setCurrentIndex(MainDialog::kLightTab);
    dialog.OverlayPage(EffectPageKind::Light).SelectEffect(2);
    QTest::qWait(200); // a second box would come now
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].owner, &dialog);
    EXPECT_EQ(boxes.Requests()[0].caption, QStringLiteral("温馨提示"));
    EXPECT_EQ(boxes.Requests()[0].text, QStringLiteral("设置无法保存：") +
                                            QString::fromStdString(settingsPath()) +
                                            QStringLiteral("（不是普通文件）"));
}

} // namespace
} // namespace kelo
