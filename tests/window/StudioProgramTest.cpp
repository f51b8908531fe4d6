// The studio program with its window (offscreen platform, test devices): its command line, and a
// run that restores an overlay, feeds the virtual camera and, stopped, leaves the feed black and
// exits 0.
#include "app/StudioApplication.h"
#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"
#include "support/ChildProgram.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(StudioOptions, TestDevicesHelpAndWrongOptions) {
    StudioOptions options;
    std::string error;
    ASSERT_TRUE(ParseStudioOptions({}, &options, &error));
    EXPECT_FALSE(options.testDevicesOn);
    EXPECT_FALSE(options.headless);

    ASSERT_TRUE(ParseStudioOptions({"--test-devices=A,Kelo Virtual Camera;M"}, &options, &error));
    EXPECT_TRUE(options.testDevicesOn);
    ASSERT_EQ(options.testDevices.video.size(), 2u);
    EXPECT_EQ(options.testDevices.audio.at(0).name, "M");
    ASSERT_TRUE(ParseStudioOptions({"--test-devices"}, &options, &error));
    EXPECT_EQ(options.testDevices.video.at(0).name, "Test Camera");

    // The headless mode keeps its own options.
    ASSERT_TRUE(ParseStudioOptions({"--snapshot", "--headless"}, &options, &error));
    EXPECT_TRUE(options.headless);

    EXPECT_FALSE(ParseStudioOptions({"--fullscreen"}, &options, &error));
    EXPECT_NE(error.find("--fullscreen"), std::string::npos);
    EXPECT_FALSE(ParseStudioOptions({"--snapshot"}, &options, &error));
    EXPECT_NE(error.find("--headless"), std::string::npos);
    EXPECT_FALSE(ParseStudioOptions({"--test-devices=A,,B"}, &options, &error));

    const std::string usage = StudioUsage();
    for (const char* option :
         {"--test-devices", "--headless", "--help", "--video-device", "--audio-device",
          "--snapshot", "--face-cover", "--record", "--seconds"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// The program, started in `dir` on the offscreen platform, standard output and error in a file.
class Program : public test::ChildProgram {
public:
    Program(const fs::path& dir, std::vector<std::string> args)
        : ChildProgram(test::StudioProgramPath(), std::move(args),
                       {dir / "out.txt", true, {{"QT_QPA_PLATFORM", "offscreen"}}}) {}
    std::string Output() const { return Log(); }
};

TEST(StudioProgram, HelpListsTheOptionsAndAWrongOptionExitsWithTwo) {
    test::IsolatedDirectory dir;
    {
        Program program(dir.path(), {"--help"});
        EXPECT_EQ(program.Wait(), 0);
        EXPECT_NE(program.Output().find("--test-devices"), std::string::npos);
        EXPECT_NE(program.Output().find("--headless"), std::string::npos);
    }
    {
        Program program(dir.path(), {"--no-such-option"});
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_NE(program.Output().find("unknown option: --no-such-option"), std::string::npos)
            << program.Output();
    }
}

TEST(StudioProgram, TheWindowFeedsTheCameraAndAStopLeavesTheFeedBlack) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed; // the child inherits the name
    SharedMemoryView feedView;
    ASSERT_EQ(feedView.OpenOrCreate(feed.name(), kFeedBytes), S_OK);
    const auto feedHasFrame = [&] { return test::FeedHasPicture(feedView); };
    {
        // A light overlay plays from the start: its timer calls the engine until the end.
        std::ofstream ini(dir.path() / "data.ini");
        ini << "[Effect]\nEffect=Led\nIndex=4\n";
    }
    setenv("KELOCAM_DATA_DIR", test::BinaryDir().c_str(), 1);
    Program program(dir.path(), {"--test-devices"});
    unsetenv("KELOCAM_DATA_DIR");
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!feedHasFrame() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(feedHasFrame()) << program.Output();
    std::this_thread::sleep_for(500ms); // some overlay ticks
    EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Output();
    EXPECT_FALSE(feedHasFrame()) << "the feed is cleared when the engine is torn down";
}

TEST(StudioProgram, AStopSignalClosesAnOpenMessageBoxAndTheProgramEnds) {
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
    // No microphone: the start-up says so in a box, whose event loop runs when the signal comes.
    setenv("QT_LOGGING_RULES", "kelo.window.info=true", 1);
    Program program(dir.path(), {"--test-devices=Cam;"});
    unsetenv("QT_LOGGING_RULES");
    ASSERT_TRUE(program.WaitForLog("no audio device at position 1 (said)", 60s))
        << program.Output();
    std::this_thread::sleep_for(300ms); // the box is up
    EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Output();
}

} // namespace
} // namespace kelo
