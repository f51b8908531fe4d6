// The studio's start-up surroundings: the working folder of a desktop-menu start, the options
// handled before any mode, and the lookup of read-only assets with its warnings.
#include "app/settings/ProgramEnvironment.h"

#include "platform/system/AssetPaths.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kelo {
namespace {

namespace fs = std::filesystem;

// Runs ApplyProgramOptions on a command line; `rest` gets what is left after the program name.
std::optional<int> Apply(std::vector<std::string> line, std::vector<std::string>* rest) {
    std::vector<char*> argv;
    for (std::string& arg : line)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(line.size());
    std::optional<int> status = ApplyProgramOptions(&argc, argv.data());
    rest->assign(argv.begin() + 1, argv.begin() + argc);
    EXPECT_EQ(argv[argc], nullptr);
    return status;
}

class ProgramEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", (dir_.path() / "home").c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("KELOCAM_DATA_DIR");
    }
    fs::path Cwd() const { return fs::current_path(); }

    test::IsolatedDirectory dir_;
};

TEST_F(ProgramEnvironmentTest, DesktopStartWorksInItsOwnPrivateConfigFolder) {
    const fs::path config = dir_.path() / "config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::vector<std::string> rest;
    EXPECT_FALSE(Apply({"kelocam", "--from-desktop", "--headless"}, &rest).has_value());
    // The option is the launcher's, not the mode's.
    EXPECT_EQ(rest, std::vector<std::string>{"--headless"});
    EXPECT_EQ(Cwd(), config / "kelocam");
    struct stat info = {};
    ASSERT_EQ(::stat((config / "kelocam").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // Started again, the folder (and what the studio left in it) is kept.
    std::ofstream(config / "kelocam" / "data.ini") << "[PATCH]\nPIC=/tmp\n";
    test::ScopedWorkingDirectory elsewhere(dir_.path());
    std::string folder, error;
    ASSERT_TRUE(EnterDesktopWorkingFolder(&folder, &error)) << error;
    EXPECT_TRUE(fs::exists(Cwd() / "data.ini"));
}

TEST_F(ProgramEnvironmentTest, RelativeConfigHomeIsIgnoredForTheHomeDefault) {
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    std::string folder, error;
    ASSERT_TRUE(EnterDesktopWorkingFolder(&folder, &error)) << error;
    EXPECT_EQ(fs::path(folder), dir_.path() / "home" / ".config" / "kelocam");
    EXPECT_EQ(Cwd(), fs::path(folder));
}

TEST_F(ProgramEnvironmentTest, UnusableConfigFolderLeavesTheStudioWhereItStarted) {
    std::ofstream(dir_.path() / "plain-file") << "x";
    setenv("XDG_CONFIG_HOME", (dir_.path() / "plain-file").c_str(), 1);
    std::string folder, error;
    EXPECT_FALSE(EnterDesktopWorkingFolder(&folder, &error));
    EXPECT_NE(error.find("plain-file"), std::string::npos) << error;
    EXPECT_EQ(Cwd(), dir_.path());
    // From the menu the studio still starts, in the folder it was started in.
    std::vector<std::string> rest;
    EXPECT_FALSE(Apply({"kelocam", "--from-desktop"}, &rest).has_value());
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(Cwd(), dir_.path());
}

TEST_F(ProgramEnvironmentTest, VersionEndsTheProgramWithSuccess) {
    std::vector<std::string> rest;
    testing::internal::CaptureStdout();
    const std::optional<int> status = Apply({"kelocam", "--headless", "--version"}, &rest);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(out.rfind("kelocam ", 0), 0u) << out;
}

TEST_F(ProgramEnvironmentTest, AssetsComeFromTheWorkingFolderBeforeTheDataFolder) {
    const fs::path data = dir_.path() / "data";
    fs::create_directories(data / "Effect" / "light");
    std::ofstream(data / "Effect" / "light" / "a.gif") << "GIF";
    std::ofstream(data / "snapshot.wav") << "RIFF";
    std::ofstream(dir_.path() / "snapshot.wav") << "RIFF";
    setenv("KELOCAM_DATA_DIR", data.c_str(), 1);
    EXPECT_EQ(fs::path(FindAsset("snapshot.wav")), dir_.path() / "snapshot.wav");
    EXPECT_EQ(fs::path(FindAsset("Effect/light/a.gif")), data / "Effect" / "light" / "a.gif");
}

TEST_F(ProgramEnvironmentTest, MissingAssetIsNamedOnceWithWhereItWasLookedFor) {
    const fs::path data = dir_.path() / "data";
    setenv("KELOCAM_DATA_DIR", data.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(FindAsset("Effect"), "");
    EXPECT_EQ(FindAsset("Effect"), "");
    // A file of the missing pack adds nothing; another missing asset gets its own line.
    EXPECT_EQ(FindAsset("Effect/light/004.gif"), "");
    EXPECT_EQ(FindAsset("snapshot.wav"), "");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    const std::string first = err.substr(0, err.find('\n'));
    EXPECT_NE(first.find("\"Effect\""), std::string::npos) << first;
    EXPECT_NE(first.find(dir_.path().string()), std::string::npos) << first;
    EXPECT_NE(first.find(data.string()), std::string::npos) << first;
    EXPECT_NE(err.find("\"snapshot.wav\""), std::string::npos) << err;
}

} // namespace
} // namespace kelo
