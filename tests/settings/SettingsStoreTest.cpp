#include "app/settings/SettingsStore.h"

#include "app/settings/UserFolders.h"
#include "ProfileTestSupport.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Every case runs in its own working directory, with a home folder of its own that has XDG
// pictures and videos folders.
class Settings : public ::testing::Test {
protected:
    Settings()
        : home_(dir_.path() / "home"), homeEnv_("HOME", (dir_.path() / "home").string()),
          configEnv_("XDG_CONFIG_HOME", (dir_.path() / "home/.config").string()) {
        fs::create_directories(home_ / ".config");
        fs::create_directories(home_ / "Bilder");
        fs::create_directories(home_ / "Videos");
        WriteBytes((home_ / ".config/user-dirs.dirs").string(),
                   "# written by xdg-user-dirs-update\n"
                   "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                   "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                   "XDG_VIDEOS_DIR=\"$HOME/Videos/\"\n");
    }

    test::IsolatedDirectory dir_;
    fs::path home_;
    ScopedEnv homeEnv_;
    ScopedEnv configEnv_;
};

TEST_F(Settings, FirstStartWithoutTheFileGivesEveryDefaultAndCreatesNothing) {
    SettingsStore store;
    const std::string pictures = (home_ / "Bilder").string();
    const std::string videos = (home_ / "Videos").string();
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder, SettingReader::SnapshotCommand), pictures);
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder, SettingReader::SettingsDialog), pictures);
    EXPECT_EQ(store.ReadText(SettingId::RecordFolder, SettingReader::SettingsDialog), videos);
    EXPECT_EQ(store.ReadText(SettingId::RecordFolder, SettingReader::RecordCommand), videos);
    EXPECT_EQ(store.ReadInt(SettingId::PhotoWidth, SettingReader::SnapshotCommand), 320u);
    EXPECT_EQ(store.ReadInt(SettingId::PhotoWidth, SettingReader::SettingsDialog), 640u);
    EXPECT_EQ(store.ReadInt(SettingId::PhotoHeight, SettingReader::SnapshotCommand), 240u);
    EXPECT_EQ(store.ReadText(SettingId::OverlayFamily), "");
    EXPECT_EQ(store.ReadOverlayFamily(), std::nullopt);
    EXPECT_EQ(store.ReadInt(SettingId::OverlayIndex), 0u);
    EXPECT_EQ(store.ReadInt(SettingId::ColorAdjustEnabled), 0u);
    EXPECT_EQ(store.ReadInt(SettingId::RedOffset), 0u);
    EXPECT_EQ(store.ReadInt(SettingId::GreenOffset), 0u);
    EXPECT_EQ(store.ReadInt(SettingId::BlueOffset), 0u);
    EXPECT_EQ(PhotoSizeIndex(store.ReadInt(SettingId::PhotoWidth, SettingReader::SettingsDialog)),
              2);
    EXPECT_FALSE(fs::exists("data.ini"));
}

TEST_F(Settings, FolderDefaultsFallBackToTheHomeFolder) {
    // The pictures folder named by user-dirs.dirs does not exist; videos is switched off.
    WriteBytes((home_ / ".config/user-dirs.dirs").string(),
               "XDG_PICTURES_DIR=\"$HOME/Missing\"\nXDG_VIDEOS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(UserPicturesFolder(), home_.string());
    EXPECT_EQ(UserVideosFolder(), home_.string());
    fs::remove(home_ / ".config/user-dirs.dirs");
    SettingsStore store;
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder), home_.string());
    EXPECT_EQ(store.ReadText(SettingId::RecordFolder, SettingReader::RecordCommand),
              home_.string());

    // An absolute folder is taken as it stands.
    fs::create_directories(dir_.path() / "shots");
    WriteBytes((home_ / ".config/user-dirs.dirs").string(),
               "XDG_PICTURES_DIR=\"" + (dir_.path() / "shots").string() + "\"\n");
    EXPECT_EQ(UserPicturesFolder(), (dir_.path() / "shots").string());
}

TEST_F(Settings, StoredValuesWinOverDefaultsAndAreReadAgainAtEveryUse) {
    SettingsStore store;
    ASSERT_TRUE(store.WriteText(SettingId::PhotoFolder, "/srv/photos"));
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder, SettingReader::SnapshotCommand),
              "/srv/photos");
    // Another writer (the user, another process) changes the file: the next read sees it.
    WriteBytes("data.ini", "[PATCH]\r\nPIC=/elsewhere\r\n[PICSIZE]\r\nWIDTH=800\r\nHEIGHT=600\r\n");
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder), "/elsewhere");
    // A width the dialog does not offer comes back as it is.
    EXPECT_EQ(store.ReadInt(SettingId::PhotoWidth, SettingReader::SettingsDialog), 800u);
    EXPECT_EQ(store.ReadInt(SettingId::PhotoWidth, SettingReader::SnapshotCommand), 800u);
    EXPECT_EQ(PhotoSizeIndex(800), -1);
    EXPECT_EQ(store.ReadInt(SettingId::PhotoHeight), 600u);
}

TEST_F(Settings, AnEmptyOrNonNumericIndexReadsZero) {
    SettingsStore store;
    WriteBytes("data.ini", "[Effect]\r\nEffect=Led\r\nIndex=\r\nGifName=\r\n");
    EXPECT_EQ(store.ReadOverlayFamily(), OverlayFamily::Led);
    EXPECT_EQ(store.ReadInt(SettingId::OverlayIndex), 0u);
    WriteBytes("data.ini", "[Effect]\r\nEffect=Cartoon\r\nIndex=five\r\n");
    EXPECT_EQ(store.ReadInt(SettingId::OverlayIndex), 0u);
    WriteBytes("data.ini", "[Effect]\r\nEffect=Cartoon\r\nIndex=5\r\n");
    EXPECT_EQ(store.ReadInt(SettingId::OverlayIndex), 5u);
}

TEST_F(Settings, OverlayFamiliesMatchExactly) {
    EXPECT_EQ(ParseOverlayFamily("Frame"), OverlayFamily::Frame);
    EXPECT_EQ(ParseOverlayFamily("Led"), OverlayFamily::Led);
    EXPECT_EQ(ParseOverlayFamily("Cartoon"), OverlayFamily::Cartoon);
    EXPECT_EQ(ParseOverlayFamily("frame"), std::nullopt);
    EXPECT_EQ(ParseOverlayFamily("Frame "), std::nullopt);
    EXPECT_EQ(ParseOverlayFamily(""), std::nullopt);
}

TEST_F(Settings, WriteOrdersLeaveTheKeysInTheirOrder) {
    SettingsStore store;
    // Tab 3, then its second button.
    EXPECT_TRUE(store.WriteOverlayTabChange(OverlayFamily::Cartoon));
    EXPECT_EQ(ReadBytes("data.ini"), "[Effect]\r\nEffect=Cartoon\r\nIndex=\r\nGifName=\r\n");
    const std::string gif = (dir_.path() / "/Effect//cartoon//002.gif").string();
    EXPECT_TRUE(store.WriteOverlayButton(2, gif));
    EXPECT_EQ(store.ReadOverlayFamily(), OverlayFamily::Cartoon);
    EXPECT_EQ(store.ReadInt(SettingId::OverlayIndex), 2u);
    EXPECT_EQ(store.ReadText(SettingId::OverlayFile), gif);
    // Tab 1 again: "Index" and "GifName" are emptied in place.
    EXPECT_TRUE(store.WriteOverlayTabChange(OverlayFamily::Frame));
    EXPECT_EQ(ReadBytes("data.ini"), "[Effect]\r\nEffect=Frame\r\nIndex=\r\nGifName=\r\n");

    EXPECT_TRUE(store.WriteColorAdjustEnabled(true));
    EXPECT_TRUE(store.WriteColorOffsets(105, 135, 0));
    EXPECT_TRUE(store.WritePhotoSize(kPhotoSizes[3]));
    EXPECT_EQ(ReadBytes("data.ini"), "[Effect]\r\nEffect=Frame\r\nIndex=\r\nGifName=\r\n"
                                     "[ColorAdjust]\r\nEnble=1\r\n"
                                     "[RGB]\r\nR=105\r\nG=135\r\nB=0\r\n"
                                     "[PICSIZE]\r\nWIDTH=1280\r\nHEIGHT=720\r\n");
    EXPECT_TRUE(store.WriteColorAdjustEnabled(false));
    EXPECT_TRUE(store.WriteInt(SettingId::RedOffset, -3));
    EXPECT_EQ(store.ReadInt(SettingId::ColorAdjustEnabled), 0u);
    EXPECT_EQ(store.ReadInt(SettingId::RedOffset), 4294967293u);
}

TEST_F(Settings, EachWorkingDirectoryUsesAndCreatesItsOwnFile) {
    SettingsStore here;
    ASSERT_TRUE(here.WriteText(SettingId::PhotoFolder, "/here"));
    fs::create_directory("other");
    {
        test::ScopedWorkingDirectory cwd(dir_.path() / "other");
        EXPECT_EQ(settingsPath(), (dir_.path() / "other/data.ini").string());
        SettingsStore there;
        EXPECT_EQ(there.ReadText(SettingId::PhotoFolder), (home_ / "Bilder").string());
        EXPECT_TRUE(there.WriteText(SettingId::PhotoFolder, "/there"));
        // A store keeps the file it was made for, wherever the working directory goes (the
        // settings dialog relies on this while its folder picker moves around).
        EXPECT_EQ(here.ReadText(SettingId::PhotoFolder), "/here");
    }
    EXPECT_EQ(ReadBytes("other/data.ini"), "[PATCH]\r\nPIC=/there\r\n");
    EXPECT_EQ(ReadBytes("data.ini"), "[PATCH]\r\nPIC=/here\r\n");
}

TEST_F(Settings, LongPathsAreNeitherCutFromTheFileNameNorFromFolderValues) {
    // A working directory far beyond 260 bytes.
    fs::path deep = dir_.path();
    for (int i = 0; i < 12; ++i)
        deep /= std::string(40, static_cast<char>('a' + i));
    fs::create_directories(deep);
    test::ScopedWorkingDirectory cwd(deep);
    EXPECT_EQ(settingsPath(), (deep / "data.ini").string());
    SettingsStore store;
    ASSERT_TRUE(store.WriteText(SettingId::RecordFolder, deep.string()));
    EXPECT_GT(deep.string().size(), 500u);
    EXPECT_EQ(store.ReadText(SettingId::RecordFolder, SettingReader::RecordCommand), deep.string());
    EXPECT_TRUE(fs::exists(deep / "data.ini"));
}

TEST_F(Settings, AFolderThatCannotBeStoredIsReportedAndTheOldValueKept) {
    SettingsStore store;
    ASSERT_TRUE(store.WriteText(SettingId::PhotoFolder, "/good"));
    EXPECT_FALSE(store.WriteText(SettingId::PhotoFolder, "/bad\nfolder"));
    EXPECT_EQ(store.ReadText(SettingId::PhotoFolder), "/good");
}

TEST_F(Settings, AWriteThatFailsIsHandedOnWithItsFileAndReasonAndSaidOnceWithoutAHandler) {
    // Read-only for everyone, root included: data.ini is a folder, and then a file over 1 MB.
    fs::create_directory("data.ini");
    const SettingsStore store;
    std::vector<std::pair<std::string, int>> failures;
    SetSettingsWriteFailureHandler(
        [&](const std::string& path, int error) { failures.emplace_back(path, error); });
    EXPECT_FALSE(store.WriteBackgroundBlur(true));
    EXPECT_FALSE(store.WriteColorOffsets(1, 2, 3)); // three keys, three failures
    ASSERT_EQ(failures.size(), 4u);
    EXPECT_EQ(failures[0].first, store.path());
    EXPECT_EQ(SettingsWriteFailureText(failures[0].first, failures[0].second),
              "设置无法保存：" + store.path() + "（不是普通文件）");
    fs::remove("data.ini");
    WriteBytes("data.ini", std::string(2u << 20, ';'));
    EXPECT_FALSE(store.WriteBackgroundBlur(true));
    EXPECT_EQ(SettingsWriteFailureReason(failures.back().second), "文件太大，不是设置文件");

    // Without a handler: one line per file and reason on standard error.
    SetSettingsWriteFailureHandler(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(store.WriteBackgroundBlur(true));
    EXPECT_FALSE(store.WriteBackgroundBlur(false));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "kelocam: 设置无法保存：" + store.path() + "（文件太大，不是设置文件）\n");
    EXPECT_EQ(ReadBytes("data.ini").size(), 2u << 20);
}

TEST_F(Settings, AReadOnlyFileIsReportedAsWithoutWriteRights) {
    WriteBytes("data.ini", "[PATCH]\nPIC=/old\n");
    ASSERT_EQ(::chmod("data.ini", 0444), 0);
    // Root may write any file: the check runs in a child that has given up root's rights.
    const pid_t child = ::geteuid() == 0 ? ::fork() : 0;
    ASSERT_GE(child, 0);
    const bool forked = ::geteuid() == 0;
    if (child == 0) {
        // The folder is the unprivileged user's own, as a user's working folder is.
        if (forked && (::chown(dir_.path().c_str(), 65534, 65534) != 0 || ::setgid(65534) != 0 ||
                       ::setuid(65534) != 0))
            ::_exit(2);
        int error = 0;
        SetSettingsWriteFailureHandler([&](const std::string&, int e) { error = e; });
        const bool written = SettingsStore().WriteText(SettingId::PhotoFolder, "/new");
        SetSettingsWriteFailureHandler(nullptr);
        EXPECT_FALSE(written);
        EXPECT_EQ(SettingsWriteFailureReason(error), "没有写入权限");
        if (forked)
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    } else {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not give up root's rights";
    }
    EXPECT_EQ(ReadBytes("data.ini"), "[PATCH]\nPIC=/old\n");
}

TEST(SettingsTable, EveryKeyIsListedOnceWithItsExactSpelling) {
    std::set<std::pair<std::string, std::string>> keys;
    for (const SettingEntry& e : kSettingsTable) {
        EXPECT_EQ(&FindSetting(e.id), &e);
        EXPECT_TRUE(keys.emplace(std::string(e.section), std::string(e.key)).second);
    }
    EXPECT_EQ(keys, (std::set<std::pair<std::string, std::string>>{
                        {"PATCH", "PIC"},
                        {"PATCH", "REC"},
                        {"PICSIZE", "WIDTH"},
                        {"PICSIZE", "HEIGHT"},
                        {"Effect", "Effect"},
                        {"Effect", "Index"},
                        {"Effect", "GifName"},
                        {"ColorAdjust", "Enble"},
                        {"RGB", "R"},
                        {"RGB", "G"},
                        {"RGB", "B"},
                        {"Effect", "BackgroundBlur"},
                        {"VIDEO", "WIDTH"},
                        {"VIDEO", "HEIGHT"},
                        {"VIDEO", "FPS"},
                    }));
}

} // namespace
} // namespace kelo
