// Recordings that nothing loses: each of the nine kinds written by the studio is what its name
// says, survives a SIGKILL of the studio (read as it lies, or after the next start has mended
// it, which it says once), and a recording onto a file system that fills up ends with a message
// and a playable file.
#include "support/ChildProgram.h"
#include "support/MediaProbe.h"
#include "support/SmallFileSystem.h"
#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What each kind's file holds, as ffprobe names it.
struct KindFile {
    int kind;
    const char* extension;
    const char* format; // ffprobe's format name
    const char* video;  // codec, or null
    const char* audio;  // codec, or null
};

constexpr KindFile kKinds[] = {
    {0, ".avi", "avi", "rawvideo", "pcm_s16le"},
    {1, ".avi", "avi", "rawvideo", nullptr},
    {2, ".avi", "avi", nullptr, "pcm_s16le"},
    {3, ".WMV", "asf", "wmv2", "wmav2"},
    {4, ".WMV", "asf", "wmv2", nullptr},
    {5, ".wav", "wav", nullptr, "pcm_s16le"},
    {6, ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac"},
    {7, ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", nullptr},
    {8, ".mp3", "mp3", nullptr, "mp3"},
};

void PrintTo(const KindFile& kind, std::ostream* out) {
    *out << "kind " << kind.kind;
}

std::vector<fs::path> Recordings(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

void ExpectKindFile(const KindFile& kind, const fs::path& file, bool finished) {
    EXPECT_EQ(file.extension(), kind.extension);
    const test::ProbedFile probed = test::ProbeMediaFile(file);
    ASSERT_TRUE(probed.ok) << file << ": " << probed.error;
    EXPECT_EQ(probed.formatName, kind.format) << file;
    const test::ProbedStream* video = probed.FirstOf("video");
    const test::ProbedStream* audio = probed.FirstOf("audio");
    ASSERT_EQ(video != nullptr, kind.video != nullptr) << file;
    ASSERT_EQ(audio != nullptr, kind.audio != nullptr) << file;
    if (video)
        EXPECT_EQ(video->codecName, kind.video) << file;
    if (audio)
        EXPECT_EQ(audio->codecName, kind.audio) << file;
    // GStreamer's asfmux ends a finished file with a last packet whose padding ffmpeg calls
    // invalid (and skips): a fault of the muxer, not of the file's finishing.
    if (kind.format != std::string("asf") || !finished)
        EXPECT_EQ(test::DecodeErrors(file), "") << file;
}

class RecordingSurvival : public ::testing::TestWithParam<KindFile> {
protected:
    void SetUp() override {
        fs::create_directory(rec());
        std::ofstream(dir_.path() / "data.ini") << "[PATCH]\nREC=" << rec().string() << "\n";
    }
    fs::path rec() const { return dir_.path() / "rec"; }
    std::vector<std::string> Args(std::vector<std::string> more) const {
        std::vector<std::string> args{"--headless", "--test-devices"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    test::IsolatedDirectory dir_;
    test::ScopedFeedName feed_;
};

TEST_P(RecordingSurvival, AKilledRecordingPlaysAfterTheNextStartMendedItAndSaidSoOnce) {
    const KindFile kind = GetParam();
    auto started = std::chrono::steady_clock::now();
    {
        test::ChildProgram studio(test::StudioProgramPath(),
                                  Args({"--record", std::to_string(kind.kind), "--seconds", "600"}),
                                  {dir_.path() / "recording.txt"});
        ASSERT_TRUE(studio.WaitForLog("kelocam: recording ", 60s)) << studio.Log();
        started = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(6s);
        EXPECT_EQ(studio.Stop(SIGKILL), 128 + SIGKILL);
    }
    const double killedAfter =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::vector<fs::path> left = Recordings(rec());
    ASSERT_EQ(left.size(), 2u) << "the file and its marker";
    const fs::path file = left[1].filename().string()[0] == '.' ? left[0] : left[1];

    // The next start mends it on its worker and says so once.
    {
        test::ChildProgram studio(test::StudioProgramPath(), Args({}), {dir_.path() / "next.txt"});
        ASSERT_TRUE(studio.WaitForLog("已修复未完成的录制：" + file.filename().string(), 60s))
            << studio.Log();
        ASSERT_TRUE(studio.WaitForLog("kelocam: preview running", 60s)) << studio.Log();
        EXPECT_EQ(studio.Stop(SIGTERM), 0);
        EXPECT_EQ(Count(studio.Log(), "已修复"), 1) << studio.Log();
    }
    EXPECT_EQ(Recordings(rec()), std::vector<fs::path>{file}) << "no marker is left";
    ExpectKindFile(kind, file, false);
    // Everything written before the kill is there: the studio wrote for about the time it ran
    // (a loaded machine starts the camera later than the line says, hence the margin).
    const double duration = test::ProbeMediaFile(file).durationSeconds;
    EXPECT_GE(duration, 3.0) << file;
    EXPECT_LE(duration, killedAfter + 1.0) << file;

    // A finished recording is left as it is: a third start says nothing and changes nothing.
    const std::string mended = Bytes(file);
    {
        test::ChildProgram studio(test::StudioProgramPath(), Args({}), {dir_.path() / "third.txt"});
        ASSERT_TRUE(studio.WaitForLog("kelocam: preview running", 60s)) << studio.Log();
        EXPECT_EQ(studio.Stop(SIGTERM), 0);
        EXPECT_EQ(Count(studio.Log(), "已修复"), 0) << studio.Log();
    }
    EXPECT_TRUE(Bytes(file) == mended) << "the mended file was changed again";
}

TEST_P(RecordingSurvival, AFinishedRecordingIsWhatItsNameSaysAndNeedsNoRepair) {
    const KindFile kind = GetParam();
    test::ChildProgram studio(test::StudioProgramPath(),
                              Args({"--record", std::to_string(kind.kind), "--seconds", "2"}),
                              {dir_.path() / "recording.txt"});
    ASSERT_EQ(studio.Wait(), 0) << studio.Log();
    const std::vector<fs::path> files = Recordings(rec());
    ASSERT_EQ(files.size(), 1u) << "no marker is left beside a finished recording";
    ExpectKindFile(kind, files[0], true);
    if (kind.extension == std::string(".wav")) {
        // Any WAV reader opens it: Python's wave module reads 16-bit samples for the whole time.
        const std::string script = "import wave,sys; w=wave.open(sys.argv[1]); "
                                   "sys.exit(0 if w.getsampwidth()==2 and "
                                   "w.getnframes()>=w.getframerate() else 1)";
        const std::string command =
            "python3 -c \"" + script + "\" '" + files[0].string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

class RecordingTrouble : public RecordingSurvival {};

TEST_F(RecordingTrouble, AFullDiskEndsTheRecordingWithItsReasonAndAPlayableFile) {
    // A 4 MB file system (gone with the child's mount namespace): raw video fills it in about a
    // second. What is left on it is checked inside, before it goes.
    const std::string check = "for f in \"$KELO_DIR\"/*; do echo \"duration=$(ffprobe -v error "
                              "-show_entries format=duration -of csv=p=0 \"$f\")\"; "
                              "ffmpeg -nostdin -v error -i \"$f\" -f null - 2>&1 | sed "
                              "'s/^/decode: /'; done; ls -A \"$KELO_DIR\" | sed 's/^/left: /'";
    std::vector<std::string> command = test::SmallFileSystemCommand(
        rec(), 4 << 20, test::StudioProgramPath(), Args({"--record", "0", "--seconds", "600"}),
        check);
    const std::string program = command.front();
    command.erase(command.begin());
    test::ChildProgram studio(program, command, {dir_.path() / "studio.txt", true});
    EXPECT_EQ(studio.Wait(), 1) << studio.Log();
    const std::string log = studio.Log();
    EXPECT_NE(log.find("kelocam: capture stopped: 磁盘空间不足（" + rec().string() + "）"),
              std::string::npos)
        << log;
    // One file, no marker, playable up to the last frame that fit.
    EXPECT_EQ(Count(log, "left: "), 1) << log;
    EXPECT_EQ(Count(log, "decode: "), 0) << log;
    const std::size_t at = log.find("duration=");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_GT(std::atof(log.c_str() + at + 9), 0.3) << log;
}

TEST_F(RecordingTrouble, AFolderRemovedDuringARecordingEndsItWithItsReason) {
    test::ChildProgram studio(test::StudioProgramPath(),
                              Args({"--record", "7", "--seconds", "600"}),
                              {dir_.path() / "studio.txt"});
    ASSERT_TRUE(studio.WaitForLog("kelocam: recording ", 60s)) << studio.Log();
    fs::remove_all(rec());
    ASSERT_TRUE(studio.WaitForLog("kelocam: stopped", 60s)) << studio.Log();
    EXPECT_EQ(studio.Wait(), 1);
    EXPECT_NE(studio.Log().find("kelocam: capture stopped: 文件夹不存在（" + rec().string() + "）"),
              std::string::npos)
        << studio.Log();
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RecordingSurvival, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<KindFile>& info) {
                             return "Kind" + std::to_string(info.param.kind);
                         });

} // namespace
} // namespace kelo
