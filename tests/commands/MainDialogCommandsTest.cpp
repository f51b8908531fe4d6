// The main window's capture commands on the test devices: photos (button, F4, countdown),
// recordings stopped with Stop or by closing the window (checked with ffprobe), the keys the
// window keeps to itself, and the failures a user must see. Message boxes and modal dialogs are
// answered through the modal seam.
#include "app/dialogs/DelayDialog.h"
#include "app/dialogs/RecordFormatDialog.h"
#include "app/pages/EnginePage.h"
#include "app/settings/SettingsDialog.h"
#include "app/window/MainDialog.h"
#include "app/window/PreviewWidget.h"
#include "app/window/SavedNotice.h"
#include "engine/EngineTestSupport.h"
#include "platform/graph/DeviceMonitor.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "ui/ModalSeam.h"
#include "ui/PhotoStrip.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using ui::IDCANCEL;
using ui::IDOK;

// Processes events until `done` holds (generous deadline for loaded machines).
template <class Pred> bool WaitUntil(Pred done, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(5);
    }
    return true;
}

std::vector<fs::path> FilesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == extension)
            files.push_back(entry.path());
    }
    return files;
}

class CommandsTest : public testing::Test {
protected:
    CommandsTest()
        : devices_(std::make_shared<TestDeviceProvider>(
              test::Devices({"Test Camera"}, {"Test Microphone"}))),
          registry_(test::MakeTestRegistry(devices_)) {
        fs::create_directories(photos());
        // The shutter sound is found in the working directory first.
        fs::copy_file(test::BinaryDir() / "snapshot.wav", dir_.path() / "snapshot.wav");
        fs::create_directories(videos());
        WriteIni("[PATCH]\nPIC=" + photos().string() + "\nREC=" + videos().string() +
                 "\n[PICSIZE]\nWIDTH=320\nHEIGHT=240\n");
    }

    void WriteIni(const std::string& text) { std::ofstream(dir_.path() / "data.ini") << text; }
    fs::path photos() const { return dir_.path() / "photos"; }
    fs::path videos() const { return dir_.path() / "videos"; }

    // Opens the window and waits for the first preview frame; `following`: the window follows
    // the test devices as they are plugged in and pulled out.
    std::unique_ptr<MainDialog> Open(bool following = false) {
        auto window = std::make_unique<MainDialog>(*registry_);
        if (following) {
            DeviceSources sources;
            sources.systemDevices = false;
            sources.testDevicesOn = true;
            sources.testProvider = devices_;
            window->FollowDevices(
                std::make_unique<DeviceMonitor>(sources, std::vector<std::string>{}));
        }
        window->Create();
        window->show();
        EXPECT_TRUE(WaitUntil([&] { return window->Preview()->PaintedFrames() > 0; }));
        return window;
    }

    void Key(MainDialog& window, QEvent::Type type, int key, bool autoRepeat = false,
             const QString& text = {}) {
        QKeyEvent event(type, key, Qt::NoModifier, text, autoRepeat);
        QApplication::sendEvent(window.focusWidget() ? window.focusWidget() : &window, &event);
    }

    // Answers the record format dialog with a format page and radio.
    ui::ScopedModalDialogHandler ChooseFormat(bool audioPage, int radioId, bool withAudio) {
        return ui::ScopedModalDialogHandler([=](QDialog& shown) {
            auto* dialog = qobject_cast<RecordFormatDialog*>(&shown);
            EXPECT_NE(dialog, nullptr);
            if (!dialog)
                return IDCANCEL;
            if (audioPage)
                dialog->Control<QAbstractButton>(RecordFormatDialog::kShowAudioChoices)->click();
            dialog->Control<QAbstractButton>(radioId)->click();
            dialog->Control<QAbstractButton>(RecordFormatDialog::kWithAudioCheck)
                ->setChecked(withAudio);
            dialog->Control<QAbstractButton>(IDOK)->click();
            return shown.result();
        });
    }

    // Record with the format chosen; returns once the recording's engine runs (it is built on
    // the engine worker).
    void StartRecording(MainDialog& window, bool audioPage, int radioId, bool withAudio) {
        {
            auto answer = ChooseFormat(audioPage, radioId, withAudio);
            window.OnRecord();
        }
        EXPECT_TRUE(WaitUntil([&] {
            return window.State() != CaptureState::Recording || !window.isVisible() ||
                   (window.EngineRunning() && !window.Opening());
        }));
    }

    // Records for about `seconds`, stops, waits for the preview to come back; returns the file
    // and the time between the start and the stop.
    fs::path RecordAndStop(MainDialog& window, bool audioPage, int radioId, bool withAudio,
                           const std::string& extension, double seconds, double* recordedSeconds) {
        StartRecording(window, audioPage, radioId, withAudio);
        EXPECT_EQ(window.State(), CaptureState::Recording);
        // All five pages work on the recording engine.
        for (int tab = MainDialog::kColorTab; tab <= MainDialog::kFaceCoverTab; ++tab)
            EXPECT_EQ(window.Page(tab)->Engine(), window.Engine()) << tab;
        QElapsedTimer clock;
        clock.start();
        WaitUntil([&] { return clock.elapsed() >= seconds * 1000; }, int(seconds * 1000) + 5000);
        *recordedSeconds = clock.elapsed() / 1000.0;
        window.OnStop();
        EXPECT_EQ(window.State(), CaptureState::Idle);
        const long painted = window.Preview()->PaintedFrames();
        EXPECT_TRUE(WaitUntil(
            [&] { return window.Engine() && window.Preview()->PaintedFrames() > painted + 2; }));
        // The preview's pages work on the new engine.
        for (int tab = MainDialog::kColorTab; tab <= MainDialog::kCartoonTab; ++tab)
            EXPECT_EQ(window.Page(tab)->Engine(), window.Engine()) << tab;
        const auto files = FilesIn(videos(), extension);
        EXPECT_EQ(files.size(), 1u);
        // The strip under the buttons names the recording once its file is complete.
        if (!files.empty()) {
            EXPECT_EQ(SavedStrip(window).SavedPath().toStdString(), files.front().string());
            EXPECT_TRUE(SavedStrip(window).isVisible());
        }
        return files.empty() ? fs::path() : files.front();
    }

    // The one recording of `extension` in the videos folder, probed: it must open with
    // `videoStreams` video streams and (unless -1) `audioStreams` audio streams. Fails the test
    // and returns a probe that is not ok when there is not exactly one such file.
    test::ProbedFile OnlyRecording(const std::string& extension, int videoStreams,
                                   int audioStreams = -1) {
        const auto files = FilesIn(videos(), extension);
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1)
            return {};
        test::ProbedFile probed = test::ProbeMediaFile(files[0]);
        EXPECT_TRUE(probed.ok) << files[0] << ": " << probed.error;
        EXPECT_EQ(probed.CountOf("video"), videoStreams);
        if (audioStreams >= 0) {
            EXPECT_EQ(probed.CountOf("audio"), audioStreams);
        }
        if (probed.ok)
            recording_ = files[0];
        return probed;
    }

    // Lets a recording run for about `ms` milliseconds, the window answering meanwhile.
    static void RecordFor(int ms) {
        QElapsedTimer clock;
        clock.start();
        WaitUntil([&] { return clock.elapsed() >= ms; });
    }

    test::IsolatedDirectory dir_;
    fs::path recording_; // the file OnlyRecording found
    test::ScopedFeedName feed_;
    std::shared_ptr<TestDeviceProvider> devices_;
    std::unique_ptr<ClassRegistry> registry_;
    ui::MessageBoxRecorder boxes_;
};

TEST_F(CommandsTest, ADelayOfThreeCountsDownAndTakesThePhotoAtTheFourthTick) {
    auto window = Open();
    {
        ui::ScopedModalDialogHandler answer([](QDialog& shown) {
            shown.findChild<QLineEdit*>()->setText(QStringLiteral("3"));
            shown.accept();
            return shown.result();
        });
        window->OnDelay();
    }
    EXPECT_EQ(window->State(), CaptureState::Countdown);
    EXPECT_TRUE(window->CountdownTimer().isActive());
    EXPECT_EQ(window->CountdownTimer().interval(), 1000);
    QStringList labels{window->StatusLabel()->text()};
    // Ticks are driven here; the timer's own ticks must not interfere.
    window->CountdownTimer().stop();
    for (int tick = 1; tick <= 3; ++tick) {
        window->OnTimer(MainDialog::kCountdownTimerId);
        labels << window->StatusLabel()->text();
        if (tick == 2) {
            // A photo now, and the countdown goes on; Record is ignored meanwhile.
            window->OnSnapshot();
            ui::ScopedModalDialogHandler none([](QDialog&) {
                ADD_FAILURE() << "Record opened a dialog during the countdown";
                return IDCANCEL;
            });
            window->OnRecord();
            EXPECT_EQ(window->State(), CaptureState::Countdown);
        }
    }
    EXPECT_EQ(labels, QStringList({"3", "2", "1", "0"}));
    ASSERT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 1; }));
    window->CountdownTimer().start();
    window->OnTimer(MainDialog::kCountdownTimerId);
    EXPECT_EQ(window->StatusLabel()->text(), QStringLiteral(" "));
    EXPECT_EQ(window->State(), CaptureState::Idle);
    EXPECT_FALSE(window->CountdownTimer().isActive());
    // Two photos in one second share a name: wait for the request to be served.
    EXPECT_TRUE(
        WaitUntil([&] { return !window->Engine()->snapshotGrabberObject()->snapshotPending(); }));
    EXPECT_TRUE(boxes_.Requests().empty());
}

// Save in the settings dialog with another capture mode: the idle window's preview comes back
// in that mode at once; saved unchanged, the same engine goes on.
TEST_F(CommandsTest, SavingAnotherCaptureModeRestartsThePreviewInIt) {
    auto window = Open();
    ASSERT_NE(window->Engine(), nullptr);
    EXPECT_EQ(window->Engine()->negotiatedMode(), (VideoMode{320, 240, 15}));
    {
        ui::ScopedModalDialogHandler answer([](QDialog& shown) {
            auto* dialog = qobject_cast<SettingsDialog*>(&shown);
            EXPECT_NE(dialog, nullptr);
            if (!dialog)
                return IDCANCEL;
            dialog->Control<QAbstractButton>(SettingsDialog::kFirstVideoSizeButton + 2)->click();
            dialog->Control<QAbstractButton>(SettingsDialog::kFirstRateButton + 1)->click();
            dialog->Control<QAbstractButton>(IDOK)->click();
            return shown.result();
        });
        window->OnSettings();
    }
    EXPECT_TRUE(WaitUntil([&] {
        return window->Engine() && window->EngineRunning() &&
               window->Engine()->negotiatedMode() == VideoMode{1280, 720, 30};
    }));
    const long painted = window->Preview()->PaintedFrames();
    EXPECT_TRUE(WaitUntil([&] { return window->Preview()->PaintedFrames() > painted + 2; }));

    const CaptureEngine* running = window->Engine();
    {
        ui::ScopedModalDialogHandler answer([](QDialog& shown) {
            qobject_cast<SettingsDialog*>(&shown)->Control<QAbstractButton>(IDOK)->click();
            return shown.result();
        });
        window->OnSettings();
    }
    QApplication::processEvents();
    EXPECT_EQ(window->Engine(), running);
}

TEST_F(CommandsTest, ClosingDuringACountdownStopsTimerOne) {
    auto window = Open();
    {
        ui::ScopedModalDialogHandler answer([](QDialog& shown) {
            shown.accept();
            return shown.result();
        });
        window->OnDelay();
    }
    ASSERT_TRUE(window->CountdownTimer().isActive());
    window->Control<QAbstractButton>(MainDialog::kCloseButton)->click();
    EXPECT_FALSE(window->CountdownTimer().isActive());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(CommandsTest, F4TakesOnePhotoPerPressAndTheWindowKeepsEscapeSpaceAndEnter) {
    auto window = Open();
    const int shutters = window->ShutterSound().requestedCount();
    Key(*window, QEvent::KeyPress, Qt::Key_F4);
    Key(*window, QEvent::KeyPress, Qt::Key_F4, /*autoRepeat=*/true);
    Key(*window, QEvent::KeyRelease, Qt::Key_F4, true);
    Key(*window, QEvent::KeyRelease, Qt::Key_F4);
    ASSERT_TRUE(WaitUntil([&] {
        return !window->Engine()->snapshotGrabberObject()->snapshotPending() &&
               FilesIn(photos(), ".jpg").size() == 1;
    }));
    EXPECT_EQ(window->ShutterSound().requestedCount() - shutters, 1);
    // The photo is named in the strip under the buttons.
    EXPECT_TRUE(WaitUntil([&] {
        return SavedStrip(*window).SavedPath().toStdString() ==
               FilesIn(photos(), ".jpg").front().string();
    }));

    // Outside full screen too: consumed while no button has the focus, the window stays open,
    // no button is pressed.
    if (QWidget* focus = window->focusWidget())
        focus->clearFocus();
    for (int key : {Qt::Key_Escape, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        EXPECT_TRUE(window->PreTranslateMessage(press)) << key;
        Key(*window, QEvent::KeyPress, key);
        Key(*window, QEvent::KeyRelease, key);
    }
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->State(), CaptureState::Idle);
    EXPECT_TRUE(boxes_.Requests().empty());

    // 'f' shows the credits once per press.
    Key(*window, QEvent::KeyPress, Qt::Key_F, false, QStringLiteral("f"));
    Key(*window, QEvent::KeyRelease, Qt::Key_F, false, QStringLiteral("f"));
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_EQ(boxes_.Requests()[0].caption, QStringLiteral("作者介绍"));
}

TEST_F(CommandsTest, SpaceAndEnterPressTheButtonThatHasTheKeyboardFocus) {
    auto window = Open();
    // The keyboard does not start on a command: a stray Space gives none.
    EXPECT_EQ(qobject_cast<QAbstractButton*>(window->focusWidget()), nullptr);
    auto* snapshot = window->Control<QAbstractButton>(MainDialog::kSnapshotButton);
    ASSERT_NE(snapshot, nullptr);
    EXPECT_NE(snapshot->focusPolicy() & Qt::TabFocus, 0) << "Tab reaches the photo button";
    snapshot->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(window->focusWidget(), snapshot);
    const int shutters = window->ShutterSound().requestedCount();
    Key(*window, QEvent::KeyPress, Qt::Key_Space);
    Key(*window, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(window->ShutterSound().requestedCount() - shutters, 1);
    Key(*window, QEvent::KeyPress, Qt::Key_Return);
    Key(*window, QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(window->ShutterSound().requestedCount() - shutters, 2);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(boxes_.Requests().empty());
}

TEST_F(CommandsTest, APhotoIntoAMissingFolderIsReportedAndTheWindowStaysUsable) {
    const fs::path missing = dir_.path() / "no such folder";
    WriteIni("[PATCH]\nPIC=" + missing.string() + "\n");
    auto window = Open();
    window->OnSnapshot();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.Requests().empty(); }));
    const ui::MessageBoxRequest& box = boxes_.Requests()[0];
    EXPECT_EQ(box.caption, QStringLiteral("温馨提示"));
    EXPECT_EQ(box.owner, window.get());
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("照片保存失败：") +
                                    QString::fromStdString(missing.string() + "/")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(QStringLiteral("\n文件夹不存在"))) << box.text.toStdString();
    EXPECT_FALSE(fs::exists(missing));
    // Usable: the next photo, into a folder that exists, is written without a word.
    WriteIni("[PATCH]\nPIC=" + photos().string() + "\n");
    window->OnSnapshot();
    EXPECT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 1; }));
    QApplication::processEvents();
    EXPECT_EQ(boxes_.Requests().size(), 1u);
}

TEST_F(CommandsTest, AVideoRecordingWithSoundThenStopWritesAPlayableFileAndThePreviewReturns) {
    auto window = Open();
    double seconds = 0;
    const fs::path file =
        RecordAndStop(*window, /*audioPage=*/false, 1004 /*WMV*/, true, ".WMV", 2.0, &seconds);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(window->Control(MainDialog::kRecordButton)->isVisibleTo(window.get()));
    EXPECT_FALSE(window->Control(MainDialog::kStopButton)->isVisibleTo(window.get()));
    EXPECT_TRUE(window->Control(MainDialog::kSnapshotButton)->isEnabled());
    const test::ProbedFile probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.CountOf("video"), 1);
    EXPECT_EQ(probed.CountOf("audio"), 1);
    EXPECT_NEAR(test::StreamEndSeconds(file, "video"), seconds, 0.5);
    EXPECT_TRUE(boxes_.Requests().empty());
}

TEST_F(CommandsTest, AnAudioRecordingShowsTheElapsedTimeAndStopsIntoAPlayableFile) {
    auto window = Open();
    StartRecording(*window, true, 1006 /*MP3*/, true);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    EXPECT_EQ(window->StatusLabel()->text(), QStringLiteral("录制中... 0:00"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitUntil(
        [&] { return window->StatusLabel()->text() == QStringLiteral("录制中... 0:01"); }));
    WaitUntil([&] { return clock.elapsed() >= 1500; });
    const double seconds = clock.elapsed() / 1000.0;
    window->OnStop();
    EXPECT_EQ(window->StatusLabel()->text(), QStringLiteral(" "));
    ASSERT_TRUE(WaitUntil([&] { return window->Engine() != nullptr; }));
    const test::ProbedFile probed = OnlyRecording(".mp3", 0, 1);
    ASSERT_TRUE(probed.ok && probed.FirstOf("audio"));
    EXPECT_EQ(probed.FirstOf("audio")->codecName, "mp3");
    EXPECT_NEAR(test::StreamEndSeconds(recording_, "audio"), seconds, 0.5);
}

TEST_F(CommandsTest, ClosingTheWindowDuringARecordingLeavesAPlayableFile) {
    auto window = Open();
    StartRecording(*window, false, 1003 /*AVI*/, false);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    RecordFor(1000);
    window->close();
    window.reset();
    ASSERT_TRUE(OnlyRecording(".avi", 1).ok);
    EXPECT_GT(test::StreamEndSeconds(recording_, "video"), 0.5);
}

TEST_F(CommandsTest, ARecordingThatCannotStartIsReportedAndThePreviewReturns) {
    const fs::path missing = dir_.path() / "no videos here";
    WriteIni("[PATCH]\nREC=" + missing.string() + "\n");
    auto window = Open();
    {
        auto answer = ChooseFormat(false, 1004 /*WMV*/, true);
        window->OnRecord();
    }
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_EQ(boxes_.Requests()[0].text, QStringLiteral("录制失败：文件夹不存在：") +
                                             QString::fromStdString(missing.string()));
    EXPECT_EQ(window->State(), CaptureState::Idle);
    EXPECT_TRUE(window->Control(MainDialog::kRecordButton)->isVisibleTo(window.get()));
    const long painted = window->Preview()->PaintedFrames();
    EXPECT_TRUE(WaitUntil([&] { return window->Preview()->PaintedFrames() > painted + 2; }));
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(CommandsTest, ARecordingEndedByADeviceErrorKeepsItsFileAndThePreviewReturns) {
    auto window = Open();
    StartRecording(*window, false, 1003 /*AVI*/, false);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    RecordFor(1000);
    // The camera goes away.
    GstElement* device = window->Engine()->videoSourceFilter()->element();
    GErrorPtr error(
        g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Device unplugged"));
    gst_element_post_message(device,
                             gst_message_new_error(GST_OBJECT(device), error.get(), "test"));

    ASSERT_TRUE(WaitUntil([&] { return !boxes_.Requests().empty(); }));
    EXPECT_EQ(boxes_.Requests()[0].text,
              QStringLiteral("录制失败：video capture: Device unplugged"));
    EXPECT_EQ(window->State(), CaptureState::Idle);
    EXPECT_TRUE(window->Control(MainDialog::kRecordButton)->isVisibleTo(window.get()));
    EXPECT_TRUE(WaitUntil([&] { return window->Engine() && window->Preview()->HasPicture(); }));
    ASSERT_TRUE(OnlyRecording(".avi", 1).ok);
    EXPECT_GT(test::StreamEndSeconds(recording_, "video"), 0.5);
}

TEST_F(CommandsTest, KeysWorkWhileTheVideoFillsTheScreen) {
    auto window = Open();
    window->OnFullScreen();
    ASSERT_TRUE(window->Preview()->IsVideoFullScreen());
    QWidget* video = window->Preview()->Video();
    const int shutters = window->ShutterSound().requestedCount();
    QTest::keyClick(video, Qt::Key_F4);
    EXPECT_EQ(window->ShutterSound().requestedCount() - shutters, 1);
    EXPECT_TRUE(window->Preview()->IsVideoFullScreen());
    QTest::keyClick(video, Qt::Key_Escape);
    EXPECT_FALSE(window->Preview()->IsVideoFullScreen());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 1; }));
}

TEST_F(CommandsTest, ACameraArrivingDuringACountdownJoinsTheListAfterThePhoto) {
    auto window = Open(/*following=*/true);
    {
        ui::ScopedModalDialogHandler answer([](QDialog& shown) {
            shown.findChild<QLineEdit*>()->setText(QStringLiteral("3"));
            shown.accept();
            return shown.result();
        });
        window->OnDelay();
    }
    ASSERT_EQ(window->State(), CaptureState::Countdown);
    CaptureEngine* counting = window->Engine();
    devices_->Add(DeviceKind::Video, {"Second Camera", {}}, 0);
    ASSERT_TRUE(WaitUntil([&] { return window->DeviceRefreshPending(); }));
    auto* list = window->Control<QComboBox>(MainDialog::kVideoDeviceList);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(window->Engine(), counting);

    ASSERT_TRUE(WaitUntil([&] { return window->State() == CaptureState::Idle; }));
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentText(), QStringLiteral("Test Camera"));
    EXPECT_EQ(window->Engine(), counting) << "the photo's camera stays";
    EXPECT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 1; }));
    EXPECT_TRUE(boxes_.Requests().empty());
}

// A device pulled out while recording: the file written so far is completed and playable, the
// user is told once, and the window is back in Idle.
TEST_F(CommandsTest, ACameraPulledOutDuringARecordingEndsItWithAPlayableFile) {
    auto window = Open(/*following=*/true);
    StartRecording(*window, false, 1003 /*AVI*/, true);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    QTest::qWait(1500);
    ASSERT_TRUE(devices_->Remove(DeviceKind::Video, "Test Camera"));
    ASSERT_TRUE(WaitUntil(
        [&] { return window->State() == CaptureState::Idle && !window->StoppingRecording(); }));
    QTest::qWait(500); // a second report, or a preview on no camera, would come now
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_TRUE(boxes_.Requests()[0].text.startsWith(QStringLiteral("录制失败：")))
        << boxes_.Requests()[0].text.toStdString();
    EXPECT_FALSE(window->Preview()->HasPicture());
    const test::ProbedFile probed = OnlyRecording(".avi", 1);
    ASSERT_TRUE(probed.ok);
    EXPECT_GT(probed.durationSeconds, 0.5);

    // Back: the preview starts on it by itself.
    devices_->Add(DeviceKind::Video, {"Test Camera", {}});
    EXPECT_TRUE(WaitUntil([&] { return window->Preview()->HasPicture(); }));
    EXPECT_EQ(boxes_.Requests().size(), 1u);
}

TEST_F(CommandsTest, AMicrophonePulledOutDuringARecordingWithSoundCompletesTheFile) {
    auto window = Open(/*following=*/true);
    StartRecording(*window, false, 1003 /*AVI*/, true);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    QTest::qWait(1500);
    ASSERT_TRUE(devices_->Remove(DeviceKind::Audio, "Test Microphone"));
    ASSERT_TRUE(WaitUntil(
        [&] { return window->State() == CaptureState::Idle && !window->StoppingRecording(); }));
    // The preview returns on the camera, without a word about the missing microphone.
    const long painted = window->Preview()->PaintedFrames();
    ASSERT_TRUE(WaitUntil([&] { return window->Preview()->PaintedFrames() > painted + 2; }));
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_TRUE(boxes_.Requests()[0].text.startsWith(QStringLiteral("录制失败：")));
    EXPECT_TRUE(OnlyRecording(".avi", 1, 1).ok);
}

// --- The window never waits, and nothing pressed in between is lost or shown as done ---

TEST_F(CommandsTest, AHeldF4TakesOnePhotoAndTheVideosKeysKeepTheirModifiers) {
    auto window = Open();
    window->OnFullScreen();
    QWidget* video = window->Preview()->Video();
    const int shutters = window->ShutterSound().requestedCount();
    // F4 held on the full-screen video: one press, then the keyboard's repeats.
    QTest::keyPress(video, Qt::Key_F4);
    for (int i = 0; i < 5; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(video, &repeat);
    }
    QTest::keyRelease(video, Qt::Key_F4);
    ASSERT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 1; }));
    EXPECT_EQ(window->ShutterSound().requestedCount() - shutters, 1);
    // A second press at once (the same second, most likely): a second file beside the first.
    QTest::keyClick(video, Qt::Key_F4);
    EXPECT_TRUE(WaitUntil([&] { return FilesIn(photos(), ".jpg").size() == 2; }));
    // Shift+F is not 'f'; keypad 6 is the credits key.
    QTest::keyClick(video, Qt::Key_F, Qt::ShiftModifier);
    QApplication::processEvents();
    EXPECT_TRUE(boxes_.Requests().empty());
    QTest::keyClick(video, Qt::Key_6, Qt::KeypadModifier);
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_EQ(boxes_.Requests()[0].caption, QStringLiteral("作者介绍"));
}

TEST_F(CommandsTest, APhotoWithoutARunningCameraIsRefusedInWordsWithoutAShutter) {
    auto window = Open(/*following=*/true);
    const int shutters = window->ShutterSound().requestedCount();
    // While the camera opens.
    window->RestartPreview();
    ASSERT_TRUE(window->Opening());
    EXPECT_EQ(window->Preview()->StatusText(), QStringLiteral("正在打开摄像头..."));
    EXPECT_FALSE(window->Control(MainDialog::kSnapshotButton)->isEnabled());
    EXPECT_FALSE(window->Control(MainDialog::kVideoDeviceList)->isEnabled());
    window->OnSnapshot();
    ASSERT_EQ(boxes_.Requests().size(), 1u);
    EXPECT_EQ(boxes_.Requests()[0].text, QStringLiteral("摄像头没有在运行，无法拍照"));
    ASSERT_TRUE(WaitUntil([&] { return window->EngineRunning(); }));
    EXPECT_TRUE(window->Control(MainDialog::kSnapshotButton)->isEnabled());
    EXPECT_TRUE(window->Control(MainDialog::kVideoDeviceList)->isEnabled());
    // After its camera was pulled out.
    ASSERT_TRUE(devices_->Remove(DeviceKind::Video, "Test Camera"));
    ASSERT_TRUE(WaitUntil([&] { return !window->Engine() && boxes_.Requests().size() == 2; }));
    window->OnSnapshot();
    ASSERT_EQ(boxes_.Requests().size(), 3u);
    EXPECT_EQ(boxes_.Requests()[2].text, QStringLiteral("摄像头没有在运行，无法拍照"));
    EXPECT_EQ(window->ShutterSound().requestedCount(), shutters);
    QTest::qWait(300);
    EXPECT_TRUE(FilesIn(photos(), ".jpg").empty());
}

TEST_F(CommandsTest, RecordPressedWhileTheLastStopDrainsRecordsAndTheListsComeBack) {
    auto window = Open();
    auto* list = window->Control<QComboBox>(MainDialog::kVideoDeviceList);
    StartRecording(*window, false, 1003 /*AVI*/, false);
    QTest::qWait(1200); // the two files are named by different seconds
    window->OnStop();
    // At once, while the first file is still being completed on the worker.
    StartRecording(*window, false, 1003 /*AVI*/, false);
    ASSERT_EQ(window->State(), CaptureState::Recording);
    EXPECT_TRUE(WaitUntil([&] { return list->isEnabled() && !window->StoppingRecording(); }));
    EXPECT_EQ(window->Page(MainDialog::kFaceCoverTab)->Engine(), window->Engine());
    QTest::qWait(1200);
    window->OnStop();
    ASSERT_TRUE(WaitUntil([&] {
        return window->EngineRunning() && !window->Worker().Busy() &&
               window->Preview()->HasPicture();
    }));
    EXPECT_TRUE(list->isEnabled());
    EXPECT_EQ(window->State(), CaptureState::Idle);
    const auto files = FilesIn(videos(), ".avi");
    ASSERT_EQ(files.size(), 2u);
    for (const fs::path& file : files) {
        const test::ProbedFile probed = test::ProbeMediaFile(file);
        EXPECT_TRUE(probed.ok) << file << ": " << probed.error;
    }
    EXPECT_TRUE(boxes_.Requests().empty());
}

TEST_F(CommandsTest, AWindowClosedInsideTheRecordDialogsNeitherRecordsNorCrashes) {
    {
        // Closed (a stop signal) while the format dialog is open, which then says OK.
        auto window = Open();
        auto answer = ui::ScopedModalDialogHandler([&](QDialog& shown) {
            window->close();
            auto* dialog = qobject_cast<RecordFormatDialog*>(&shown);
            dialog->Control<QAbstractButton>(1003)->click();
            dialog->Control<QAbstractButton>(IDOK)->click();
            return shown.result();
        });
        window->OnRecord();
        EXPECT_EQ(window->State(), CaptureState::Idle);
        EXPECT_FALSE(window->Opening());
        EXPECT_EQ(window->Engine(), nullptr);
    }
    // Without a microphone: closed inside the "无音频设备" box of the recording.
    ASSERT_TRUE(devices_->Remove(DeviceKind::Audio, "Test Microphone"));
    auto window = Open();
    ASSERT_EQ(boxes_.Requests().size(), 1u); // the start's own notice
    ui::ScopedMessageBoxHandler closing([&](const ui::MessageBoxRequest& request) {
        EXPECT_EQ(request.text, QStringLiteral("无音频设备"));
        window->close();
        return IDOK;
    });
    StartRecording(*window, false, 1003 /*AVI*/, false);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Engine(), nullptr);
    EXPECT_FALSE(window->Worker().Busy());
    // The box comes before anything is recorded: no recording starts on a closed window.
    QTest::qWait(300);
    EXPECT_TRUE(FilesIn(videos(), ".avi").empty());
}

TEST_F(CommandsTest, ACameraThatNeverSendsAFrameIsReportedAndTheNextChoiceTriesAgain) {
    devices_->Add(DeviceKind::Video, {"Silent Camera", {}, TestPicture::Silent}, 0);
    auto window = std::make_unique<MainDialog>(*registry_);
    QElapsedTimer clock;
    clock.start();
    window->Create();
    window->show();
    // The window answers at once, and keeps answering while the camera says nothing.
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.Requests().empty(); }, 60000));
    EXPECT_EQ(boxes_.Requests()[0].text,
              QStringLiteral("视频采集已停止：摄像头 5 秒内没有送来画面（Silent Camera）"));
    EXPECT_EQ(window->Engine(), nullptr);
    EXPECT_FALSE(window->Preview()->HasPicture());
    // The other camera, chosen in the list: it runs.
    auto* list = window->Control<QComboBox>(MainDialog::kVideoDeviceList);
    ASSERT_EQ(list->count(), 2);
    list->setCurrentIndex(1);
    emit list->activated(1);
    EXPECT_TRUE(WaitUntil([&] { return window->Preview()->PaintedFrames() > 0; }));
    QTest::qWait(300);
    EXPECT_EQ(boxes_.Requests().size(), 1u);
}

} // namespace
} // namespace kelo
