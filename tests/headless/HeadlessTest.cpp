// The headless mode: its arguments, and the program run end to end on the test devices (device
// lists and outcome on standard error, one photo, a clean stop on SIGTERM with the feed cleared).
#include "app/headless/HeadlessRunner.h"
#include "effects/gif/EffectCatalog.h"
#include "effects/models/PersonSegmenter.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/ChildProgram.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(HeadlessOptions, DeviceSpecsPositionsAndSwitches) {
    HeadlessOptions options;
    std::string error;
    ASSERT_TRUE(ParseHeadlessOptions({"--headless", "--test-devices=Cam A,Kelo Virtual Camera;Mic",
                                      "--video-device", "2", "--audio-device", "1", "--snapshot",
                                      "--face-cover", "--background-blur"},
                                     &options, &error));
    EXPECT_TRUE(options.testDevicesOn);
    ASSERT_EQ(options.testDevices.video.size(), 2u);
    EXPECT_EQ(options.testDevices.video[1].name, "Kelo Virtual Camera");
    ASSERT_EQ(options.testDevices.audio.size(), 1u);
    EXPECT_EQ(options.videoDevicePosition, 2);
    EXPECT_TRUE(options.snapshot);
    EXPECT_TRUE(options.faceCover);
    EXPECT_TRUE(options.backgroundBlur);

    ASSERT_TRUE(ParseHeadlessOptions({"--test-devices"}, &options, &error));
    EXPECT_EQ(options.testDevices.video[0].name, "Test Camera");
    EXPECT_EQ(options.testDevices.audio[0].name, "Test Microphone");
    ASSERT_TRUE(ParseHeadlessOptions({"--test-devices=;"}, &options, &error));
    EXPECT_TRUE(options.testDevices.video.empty());
    EXPECT_TRUE(options.testDevices.audio.empty());

    EXPECT_FALSE(ParseHeadlessOptions({"--video-device", "0"}, &options, &error));
    EXPECT_FALSE(ParseHeadlessOptions({"--audio-device"}, &options, &error));
    EXPECT_FALSE(ParseHeadlessOptions({"--test-devices=A,,B"}, &options, &error));
    EXPECT_FALSE(ParseHeadlessOptions({"--fullscreen"}, &options, &error));

    // The capture mode over data.ini: WxH and a rate, within the limits.
    ASSERT_TRUE(
        ParseHeadlessOptions({"--video-size", "1280x720", "--fps", "30"}, &options, &error));
    EXPECT_EQ(options.videoWidth, 1280);
    EXPECT_EQ(options.videoHeight, 720);
    EXPECT_EQ(options.framesPerSecond, 30);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--video-size", "1280"},
                                         {"--video-size", "1280x"},
                                         {"--video-size", "0x720"},
                                         {"--video-size", "99999x720"},
                                         {"--video-size"},
                                         {"--fps", "0"},
                                         {"--fps", "30.5"},
                                         {"--fps", "1000"}})
        EXPECT_FALSE(ParseHeadlessOptions(bad, &options, &error)) << bad[0];
}

// The program, started in the test's folder with standard error going to a file.
class Program : public test::ChildProgram {
public:
    Program(const fs::path& dir, std::vector<std::string> args)
        : ChildProgram(test::StudioProgramPath(), std::move(args), {dir / "stderr.txt"}) {}
};

TEST(Headless, PrintsTheCaptureModeTheCameraGaveForTheAskedOne) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    {
        std::ofstream ini(dir.path() / "data.ini");
        ini << "[VIDEO]\nWIDTH=640\nHEIGHT=480\nFPS=15\n";
    }
    // The size from the command line, the rate from data.ini.
    Program program(dir.path(), {"--headless", "--test-devices", "--video-size", "1280x720"});
    ASSERT_TRUE(program.WaitForLog("kelocam: preview running", 30s)) << program.Log();
    EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Log();
    EXPECT_NE(program.Log().find("kelocam: capture mode 1280x720 at 15 frames per second\n"),
              std::string::npos)
        << program.Log();
}

TEST(Headless, RunsThePreviewTakesOnePhotoAndStopsCleanlyOnSigterm) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed; // the child inherits the name
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    {
        std::ofstream ini(dir.path() / "data.ini");
        ini << "[PATCH]\nPIC=" << dir.path().string() << "\n[PICSIZE]\nWIDTH=160\nHEIGHT=120\n";
    }
    Program program(dir.path(), {"--headless", "--test-devices", "--snapshot"});
    ASSERT_TRUE(program.WaitForLog("kelocam: photo written: ", 30s)) << program.Log();
    auto feedHasFrame = [&] {
        for (std::size_t i = 0; i < kFeedBytes; ++i) {
            if (feedView.data()[i] != 0)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(feedHasFrame());
    EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Log();

    const std::string log = program.Log();
    EXPECT_NE(log.find("视频设备：\n* 1 Test Camera\n"), std::string::npos) << log;
    EXPECT_NE(log.find("录音设备：\n* 1 Test Microphone\n"), std::string::npos) << log;
    int photos = 0;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        photos += entry.path().extension() == ".jpg";
    EXPECT_EQ(photos, 1);
    EXPECT_FALSE(feedHasFrame()) << "the feed is cleared when the engine is torn down";
}

TEST(Headless, SaysSoInTheWindowsWordsWhenThereIsNoVideoOrNoAudioDevice) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    {
        Program program(dir.path(), {"--headless", "--test-devices=;Mic"});
        EXPECT_EQ(program.Wait(), 1);
        EXPECT_NE(program.Log().find("请插入USB无视频设备!\n"), std::string::npos) << program.Log();
    }
    {
        Program program(dir.path(), {"--headless", "--test-devices=Cam;", "--audio-device", "1"});
        ASSERT_TRUE(program.WaitForLog("kelocam: preview running", 30s)) << program.Log();
        EXPECT_EQ(program.Stop(SIGINT), 0);
        EXPECT_NE(program.Log().find("无音频设备\n"), std::string::npos) << program.Log();
    }
}

// The terminal speaks the desktop's language as the window does: the window's own sentences
// byte for byte on a Chinese desktop, English on any other, KELOCAM_LANG over both; --help too.
TEST(Headless, TheTerminalSpeaksTheLanguageTheEnvironmentChooses) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> environment;
        std::vector<std::string> noCamera; // lines without a camera, in order
        std::string help;                  // a line of --help
    };
    const std::vector<std::pair<std::string, std::string>> english = {
        {"KELOCAM_LANG", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "en_US.UTF-8"}};
    const std::vector<Case> cases = {
        {"LANG=en_US",
         english,
         {"Camera:\n  (none)\nMicrophone:\n", "Please plug in a USB camera!\n",
          "kelocam: stopped\n"},
         "start with the face cover on (\"Cover faces\" checked)"},
        {"KELOCAM_LANG=en over LANG=zh_CN",
         {{"KELOCAM_LANG", "en"}, {"LC_ALL", ""}, {"LANG", "zh_CN.UTF-8"}},
         {"Camera:\n  (none)\n", "Please plug in a USB camera!\n"},
         "start with the face cover on (\"Cover faces\" checked)"},
        {"LANG=zh_CN",
         {{"KELOCAM_LANG", ""}, {"LC_ALL", ""}, {"LANG", "zh_CN.UTF-8"}},
         {"视频设备：\n  (none)\n录音设备：\n", "请插入USB无视频设备!\n", "kelocam: stopped\n"},
         "start with the face cover on (\"遮盖脸部\" checked)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::IsolatedDirectory dir;
        test::ScopedFeedName feed;
        test::ChildOptions options{dir.path() / "stderr.txt", true, c.environment};
        options.environment.emplace_back("KELOCAM_DATA_DIR", test::BinaryDir().string());
        {
            test::ChildProgram program(test::StudioProgramPath(),
                                       {"--headless", "--test-devices=;Mic"}, options);
            EXPECT_EQ(program.Wait(), 1);
            const std::string log = program.Log();
            std::size_t at = 0;
            for (const std::string& line : c.noCamera) {
                at = log.find(line, at);
                EXPECT_NE(at, std::string::npos) << line << "\n--- in ---\n" << log;
            }
        }
        options.logFile = dir.path() / "help.txt";
        test::ChildProgram help(test::StudioProgramPath(), {"--help"}, options);
        EXPECT_EQ(help.Wait(), 0);
        EXPECT_NE(help.Log().find(c.help), std::string::npos) << help.Log();
        EXPECT_NE(help.Log().find("--headless"), std::string::npos) << help.Log();
    }
}

TEST(Headless, RestoresTheColourAdjustmentAndTheOverlayThatDataIniNames) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    {
        std::ofstream ini(dir.path() / "data.ini");
        ini << "[Effect]\nEffect=Led\nIndex=3\n[ColorAdjust]\nEnble=1\n[RGB]\nR=75\n";
    }
    // The effect pack is made in the build folder.
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1);
    Program program(dir.path(), {"--headless", "--test-devices", "--face-cover"});
    unsetenv("KELOCAM_DATA_DIR");
    ASSERT_TRUE(program.WaitForLog("kelocam: face cover on", 30s)) << program.Log();
    EXPECT_EQ(program.Stop(SIGINT), 0);
    const std::string log = program.Log();
    EXPECT_NE(log.find("kelocam: colour adjustment restored"), std::string::npos) << log;
    EXPECT_NE(log.find("kelocam: overlay Led 3 playing"), std::string::npos) << log;
}

TEST(Headless, TheBackgroundBlurOfDataIniIsRestoredAndFindsItsModel) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    std::ofstream(dir.path() / "data.ini") << "[Effect]\nBackgroundBlur=1\n";
    // The model is copied into the build folder by the build.
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1);
    Program program(dir.path(), {"--headless", "--test-devices"});
    unsetenv("KELOCAM_DATA_DIR");
    ASSERT_TRUE(program.WaitForLog("kelocam: background blur on", 30s)) << program.Log();
    // Frames go on flowing through the blur while the model loads and runs.
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(program.Stop(SIGINT), 0);
    EXPECT_EQ(program.Log().find("background blur off"), std::string::npos) << program.Log();
}

TEST(Headless, WithoutItsModelTheBlurSaysSoOnceAndTheStudioRunsOn) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    setenv("KELOCAM_DATA_DIR", dir.path().c_str(), 1); // no models/ there
    Program program(dir.path(), {"--headless", "--test-devices", "--background-blur"});
    unsetenv("KELOCAM_DATA_DIR");
    ASSERT_TRUE(program.WaitForLog("kelocam: background blur off: ", 30s)) << program.Log();
    EXPECT_EQ(program.Stop(SIGINT), 0);
    const std::string log = program.Log();
    EXPECT_EQ(log.find("background blur off", log.find("background blur off") + 1),
              std::string::npos)
        << log;
}

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(Headless, PipesWhereFilesBelongAreRefusedWithOneLineEachAndTheStudioRunsOn) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    // No writer ever comes to these pipes: a plain open of any of them would wait forever.
    const std::string model = kSegmentationModelAsset;
    fs::create_directories(dir.path() / fs::path(model).parent_path());
    ASSERT_EQ(mkfifo("data.ini", 0600), 0);
    ASSERT_EQ(mkfifo(model.c_str(), 0600), 0);
    {
        Program program(dir.path(), {"--headless", "--test-devices", "--background-blur"});
        ASSERT_TRUE(program.WaitForLog("kelocam: background blur off: ", 30s)) << program.Log();
        EXPECT_EQ(program.Stop(SIGTERM), 0);
        const std::string log = program.Log();
        EXPECT_EQ(Occurrences(log, "/data.ini\" is a named pipe, not a regular file; not read"), 1)
            << log;
        EXPECT_EQ(Occurrences(log, model + "\" is a named pipe"), 1) << log;
    }

    // An effect file: the overlay that data.ini names is a pipe.
    fs::remove("data.ini");
    std::ofstream("data.ini") << "[Effect]\nEffect=Led\nIndex=3\n[PATCH]\nPIC="
                              << dir.path().string() << "\n";
    const std::string gif = EffectRelativePath(*FindEffect(EffectFamily::Light, 3));
    fs::create_directories(dir.path() / fs::path(gif).parent_path());
    ASSERT_EQ(mkfifo(gif.c_str(), 0600), 0);
    Program program(dir.path(), {"--headless", "--test-devices", "--snapshot"});
    ASSERT_TRUE(program.WaitForLog("kelocam: photo written: ", 30s)) << program.Log();
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    const std::string log = program.Log();
    EXPECT_EQ(Occurrences(log, gif + "\" is a named pipe"), 1) << log;
    EXPECT_NE(log.find("overlay effect file not readable"), std::string::npos) << log;
    EXPECT_EQ(log.find("playing"), std::string::npos) << log;
}

TEST(Headless, APhotoSizeOutOfRangeIsReportedAsWrittenAndAnOverlayWithoutPictureIsNotPlaying) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    std::ofstream("data.ini") << "[PATCH]\nPIC=" << dir.path().string()
                              << "\n[PICSIZE]\nWIDTH=99999999999\nHEIGHT=-5\n"
                                 "[Effect]\nEffect=Led\nIndex=4\n";
    // A GIF that is only a header: it loads, and has no picture.
    const std::string gif = EffectRelativePath(*FindEffect(EffectFamily::Light, 4));
    fs::create_directories(dir.path() / fs::path(gif).parent_path());
    std::ofstream(gif, std::ios::binary) << "GIF89a";
    Program program(dir.path(), {"--headless", "--test-devices", "--snapshot"});
    ASSERT_TRUE(program.WaitForLog("kelocam: no photo: ", 30s)) << program.Log();
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    const std::string log = program.Log();
    EXPECT_NE(log.find("photo requested (99999999999 x -5)"), std::string::npos) << log;
    EXPECT_NE(log.find("the photo size 99999999999 x -5 of data.ini is not valid"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("playing"), std::string::npos) << log;
    EXPECT_NE(log.find("without a picture: " + (dir.path() / gif).string()), std::string::npos)
        << log;
}

} // namespace
} // namespace kelo
