// `kelocam --headless --record KIND --seconds S`: the program run end to end on the test devices.
#include "app/headless/HeadlessRunner.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;

TEST(HeadlessRecordOptions, KindAndSecondsGoTogether) {
    HeadlessOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseHeadlessOptions({"--headless", "--record", "8", "--seconds", "2.5"}, &options, &error))
        << error;
    EXPECT_EQ(options.recordKind, 8);
    EXPECT_DOUBLE_EQ(options.recordSeconds, 2.5);
    ASSERT_TRUE(ParseHeadlessOptions({"--test-devices"}, &options, &error));
    EXPECT_EQ(options.recordKind, -1) << "no recording unless asked";

    for (const auto& bad :
         std::vector<std::vector<std::string>>{{"--record", "9", "--seconds", "1"},
                                               {"--record", "-1", "--seconds", "1"},
                                               {"--record", "4294967296", "--seconds", "1"},
                                               {"--record", "1x", "--seconds", "1"},
                                               {"--record", "1", "--seconds", "0"},
                                               {"--record", "1", "--seconds", "nan"},
                                               {"--record", "1"},
                                               {"--seconds", "3"},
                                               {"--record"}}) {
        EXPECT_FALSE(ParseHeadlessOptions(bad, &options, &error)) << bad[0] << " " << bad.size();
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs kelocam in `dir` (its data.ini) with the arguments, to the end.
Outcome RunProgram(const fs::path& dir, const std::string& args) {
    const fs::path program = test::BinaryDir() / "app" / "kelocam";
    const std::string command =
        "cd '" + dir.string() + "' && '" + program.string() + "' " + args + " >out.txt 2>err.txt";
    Outcome outcome;
    const int raw = std::system(command.c_str());
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = ReadFile(dir / "out.txt");
    outcome.err = ReadFile(dir / "err.txt");
    return outcome;
}

class HeadlessRecord : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir.path() / "rec");
        std::ofstream ini(dir.path() / "data.ini");
        ini << "[PATCH]\nREC=" << (dir.path() / "rec").string() << "\n";
    }
    test::IsolatedDirectory dir;
    test::ScopedFeedName feed;
};

TEST_F(HeadlessRecord, PrintsThePathOfACompleteFile) {
    const Outcome run =
        RunProgram(dir.path(), "--headless --test-devices --record 8 --seconds 1.5");
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_FALSE(run.out.empty());
    const fs::path file = run.out.substr(0, run.out.find('\n'));
    EXPECT_EQ(file.parent_path(), dir.path() / "rec");
    EXPECT_EQ(file.extension(), ".mp3");
    const test::ProbedFile probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << probed.error;
    EXPECT_EQ(probed.formatName, "mp3");
    ASSERT_EQ(probed.streams.size(), 1u);
    EXPECT_EQ(probed.streams[0].codecName, "mp3");
    // The studio stops itself after 1.5 s of its own clock: never less is recorded, and a
    // loaded machine may make it somewhat more.
    EXPECT_GE(probed.durationSeconds, 1.2);
    EXPECT_LE(probed.durationSeconds, 3.5);
}

TEST_F(HeadlessRecord, ExitsOneWithTheReasonWhenTheRecordingCannotBeMade) {
    // No audio device: the kinds with audio cannot be built, and nothing is run.
    Outcome run = RunProgram(dir.path(), "--headless '--test-devices=Cam;' --record 3 --seconds 1");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("无音频设备"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(dir.path() / "rec"));

    // A folder that cannot be written.
    std::ofstream(dir.path() / "data.ini")
        << "[PATCH]\nREC=" << (dir.path() / "missing").string() << "\n";
    run = RunProgram(dir.path(), "--headless --test-devices --record 1 --seconds 1");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("missing"), std::string::npos) << run.err;
}

// A 1280 x 720 recording at 30 frames per second: one video-only kind (AVI, MPEG-4) and one
// with sound (WMV) keep the camera's size and rate.
TEST_F(HeadlessRecord, AnHdRecordingHasTheCapturedSizeAndRate) {
    for (const char* kind : {"1", "3"}) {
        SCOPED_TRACE(kind);
        const Outcome run =
            RunProgram(dir.path(), std::string("--headless --test-devices --video-size 1280x720 "
                                               "--fps 30 --record ") +
                                       kind + " --seconds 2");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("capture mode 1280x720 at 30 frames per second"), std::string::npos)
            << run.err;
        const fs::path file = run.out.substr(0, run.out.find('\n'));
        const test::ProbedFile probed = test::ProbeMediaFile(file);
        ASSERT_TRUE(probed.ok) << probed.error;
        const test::ProbedStream* video = probed.FirstOf("video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->width, 1280);
        EXPECT_EQ(video->height, 720);
        EXPECT_NEAR(video->frameRate, 30, 0.5);
        // Frames, not a stub: how many of the 60 a loaded machine's encoder keeps up with is a
        // matter for the benchmarks, not this test.
        EXPECT_GT(probed.durationSeconds, 0.5);
        EXPECT_LE(probed.durationSeconds, 4.5);
        fs::remove(file);
    }
}

} // namespace
} // namespace kelo
