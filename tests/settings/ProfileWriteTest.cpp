#include "ProfileTestSupport.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelo {
namespace {

namespace fs = std::filesystem;
using test::GetString;
using test::ReadBytes;
using test::WriteBytes;

class ProfileWrite : public ::testing::Test {
protected:
    static bool Write(const char* section, const char* key, const char* value,
                      const char* file = "data.ini") {
        return WritePrivateProfileStringA(section, key, value, file);
    }
    void CheckReadOnlyFolderAndFile();
    static std::size_t FilesInFolder(const fs::path& folder) {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    // Runs `body` with permissions enforced: as it is for a normal user; as root (who may write
    // anywhere, as in many CI containers) in a child process that owns the test folder and has
    // dropped to an unprivileged user. The child's failures are printed there and fail here.
    template <typename Body> void RunUnprivileged(Body body) {
        if (::geteuid() != 0) {
            body();
            return;
        }
        const uid_t nobody = 65534;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool dropped = ::chown(dir_.path().c_str(), nobody, nobody) == 0 &&
                           ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 &&
                           ::setuid(nobody) == 0;
            if (dropped)
                body();
            std::fflush(stdout);
            ::_exit(!dropped ? 2 : ::testing::Test::HasFailure() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not drop root rights";
    }

    test::IsolatedDirectory dir_;
};

TEST_F(ProfileWrite, ANewFileGetsSectionsAndKeysInOrderWithCrlfAndNoBlankLines) {
    EXPECT_TRUE(Write("PATCH", "PIC", "/home/u/Pictures"));
    EXPECT_TRUE(Write("PICSIZE", "WIDTH", "640"));
    EXPECT_TRUE(Write("PATCH", "REC", "/home/u/Videos"));
    EXPECT_TRUE(Write("PICSIZE", "HEIGHT", "480"));
    EXPECT_EQ(ReadBytes("data.ini"), "[PATCH]\r\nPIC=/home/u/Pictures\r\nREC=/home/u/Videos\r\n"
                                     "[PICSIZE]\r\nWIDTH=640\r\nHEIGHT=480\r\n");
    EXPECT_EQ(GetString("patch", "rec", ""), "/home/u/Videos");
}

TEST_F(ProfileWrite, ReplacingAValueKeepsEveryOtherByteOfTheFile) {
    const std::string before = "; written by hand\r\n"
                               "top=level\r\n"
                               "\r\n"
                               "[Unknown]\r\n"
                               "keep = me\r\n"
                               "\r\n"
                               "[effect]\r\n"
                               "  index = 3   \r\n"
                               "GifName=/old.gif\r\n"
                               "# note\r\n"
                               "\r\n"
                               "[RGB]\r\n"
                               "R=1\r\n";
    WriteBytes("data.ini", before);
    EXPECT_TRUE(Write("Effect", "Index", "12"));
    std::string expected = before;
    expected.replace(expected.find("  index = 3   "), 14, "index=12");
    EXPECT_EQ(ReadBytes("data.ini"), expected);

    // A new key goes after the section's last line that is not blank.
    EXPECT_TRUE(Write("EFFECT", "Effect", "Led"));
    expected.insert(expected.find("# note\r\n") + 8, "Effect=Led\r\n");
    EXPECT_EQ(ReadBytes("data.ini"), expected);

    // Writing the value a key already holds changes nothing.
    EXPECT_TRUE(Write("rgb", "r", "1"));
    EXPECT_EQ(ReadBytes("data.ini"), expected);
}

TEST_F(ProfileWrite, LfAndCrFilesAreRewrittenWithTheirOwnBreaks) {
    WriteBytes("data.ini", "[a]\nx=1\n");
    EXPECT_TRUE(Write("a", "y", "2"));
    EXPECT_TRUE(Write("b", "z", "3"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\nx=1\ny=2\n[b]\nz=3\n");

    WriteBytes("data.ini", "[a]\rx=1\r");
    EXPECT_TRUE(Write("a", "x", "9"));
    EXPECT_TRUE(Write("a", "y", "2"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\rx=9\ry=2\r");
}

TEST_F(ProfileWrite, AFileWithoutFinalBreakGetsOneBeforeAnythingIsAppended) {
    WriteBytes("data.ini", "[a]\r\nx=1");
    EXPECT_TRUE(Write("a", "y", "2"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\r\nx=1\r\ny=2\r\n");

    WriteBytes("data.ini", "[a]\nx=1");
    EXPECT_TRUE(Write("b", "y", "2"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\nx=1\n[b]\ny=2\n");

    WriteBytes("data.ini", "just text");
    EXPECT_TRUE(Write("s", "k", "v"));
    EXPECT_EQ(ReadBytes("data.ini"), "just text\r\n[s]\r\nk=v\r\n");

    // Replacing the last value keeps the missing break missing.
    WriteBytes("data.ini", "[a]\nx=1");
    EXPECT_TRUE(Write("a", "x", "22"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\nx=22");
}

TEST_F(ProfileWrite, OnlyTheFirstOfDuplicatesIsWritten) {
    WriteBytes("data.ini", "[a]\nx=1\nx=2\n[A]\nx=3\n");
    EXPECT_TRUE(Write("a", "X", "9"));
    EXPECT_TRUE(Write("a", "new", "n"));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\nx=9\nx=2\nnew=n\n[A]\nx=3\n");
}

TEST_F(ProfileWrite, NullValueDeletesTheKeyAndNullKeyTheWholeSection) {
    WriteBytes("data.ini", "; head\n[a]\nx=1\ny=2\n\n[b]\nz=3\n; b's comment\n[c]\nw=4\n");
    EXPECT_TRUE(Write("a", "x", nullptr));
    EXPECT_EQ(ReadBytes("data.ini"), "; head\n[a]\ny=2\n\n[b]\nz=3\n; b's comment\n[c]\nw=4\n");
    EXPECT_TRUE(Write("B", nullptr, nullptr));
    EXPECT_EQ(ReadBytes("data.ini"), "; head\n[a]\ny=2\n\n[c]\nw=4\n");
    EXPECT_TRUE(Write("c", nullptr, nullptr));
    EXPECT_EQ(ReadBytes("data.ini"), "; head\n[a]\ny=2\n\n");
    EXPECT_EQ(GetString("c", "w", "gone"), "gone");

    // Deleting what is not there changes nothing and creates no file.
    EXPECT_TRUE(Write("a", "missing", nullptr));
    EXPECT_TRUE(Write("missing", nullptr, nullptr));
    EXPECT_TRUE(Write("x", "y", nullptr, "other.ini"));
    EXPECT_FALSE(fs::exists("other.ini"));
    EXPECT_EQ(ReadBytes("data.ini"), "; head\n[a]\ny=2\n\n");
}

TEST_F(ProfileWrite, EmptyValuesAreKeysAndValuesKeepTheirText) {
    EXPECT_TRUE(Write("Effect", "Index", ""));
    EXPECT_TRUE(Write("Effect", "GifName", "/Effect/cartoon/002 a=b.gif"));
    EXPECT_EQ(ReadBytes("data.ini"),
              "[Effect]\r\nIndex=\r\nGifName=/Effect/cartoon/002 a=b.gif\r\n");
    EXPECT_EQ(GetString("Effect", "Index", "default"), "");
    EXPECT_EQ(GetString("Effect", "GifName", ""), "/Effect/cartoon/002 a=b.gif");
    // UTF-8 text is stored byte for byte.
    EXPECT_TRUE(Write("Effect", "GifName", "/Effect/light/004七色烟花.gif"));
    EXPECT_EQ(GetString("Effect", "GifName", ""), "/Effect/light/004七色烟花.gif");
}

TEST_F(ProfileWrite, RequestsThatCouldNotReadBackAreRefusedAndChangeNothing) {
    WriteBytes("data.ini", "[a]\nx=1\n");
    EXPECT_FALSE(Write("a", "x", "line\nbreak"));
    EXPECT_FALSE(Write("a", "x", "line\rbreak"));
    EXPECT_FALSE(Write("a", "k=ey", "v"));
    EXPECT_FALSE(Write("a", "", "v"));
    EXPECT_FALSE(Write("a]", "x", "v"));
    EXPECT_FALSE(Write("a\n[b", "x", "v"));
    EXPECT_FALSE(Write(nullptr, "x", "v"));
    EXPECT_FALSE(Write("a", "x", "v", nullptr));
    EXPECT_FALSE(Write("a", "x", "v", ""));
    EXPECT_EQ(ReadBytes("data.ini"), "[a]\nx=1\n");
    // All three null is a flush request: nothing to flush.
    EXPECT_TRUE(Write(nullptr, nullptr, nullptr));
}

TEST_F(ProfileWrite, AReadOnlyFolderOrFileReportsFailureAndKeepsTheOldFile) {
    RunUnprivileged([this] { CheckReadOnlyFolderAndFile(); });
}

void ProfileWrite::CheckReadOnlyFolderAndFile() {
    fs::create_directory("ro");
    WriteBytes("ro/data.ini", "[PATCH]\r\nPIC=/old\r\n");
    fs::permissions("ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(Write("PATCH", "PIC", "/new", "ro/data.ini"));
    EXPECT_FALSE(Write("PATCH", "REC", "/new", "ro/data.ini"));
    EXPECT_FALSE(Write("NEW", "k", "v", "ro/other.ini"));
    fs::permissions("ro", fs::perms::owner_all);
    EXPECT_EQ(ReadBytes("ro/data.ini"), "[PATCH]\r\nPIC=/old\r\n");
    EXPECT_EQ(FilesInFolder("ro"), 1u); // no temporary file left behind

    // A read-only file in a writable folder is not replaced either.
    fs::permissions("ro/data.ini", fs::perms::owner_read);
    EXPECT_FALSE(Write("PATCH", "PIC", "/new", "ro/data.ini"));
    EXPECT_EQ(ReadBytes("ro/data.ini"), "[PATCH]\r\nPIC=/old\r\n");

    // An unreadable file is never overwritten with what little we know of it.
    fs::permissions("ro/data.ini", fs::perms::owner_write);
    EXPECT_FALSE(Write("PATCH", "PIC", "/new", "ro/data.ini"));
    fs::permissions("ro/data.ini", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadBytes("ro/data.ini"), "[PATCH]\r\nPIC=/old\r\n");
    EXPECT_EQ(FilesInFolder("ro"), 1u);
}

TEST_F(ProfileWrite, ReplacingTheFileKeepsItsPermissionsAndSymbolicLinks) {
    WriteBytes("data.ini", "[a]\nx=1\n");
    ::chmod("data.ini", 0640);
    EXPECT_TRUE(Write("a", "x", "2"));
    struct stat info = {};
    ASSERT_EQ(::stat("data.ini", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    fs::create_directory("real");
    WriteBytes("real/settings.ini", "[a]\nx=1\n");
    fs::create_symlink("real/settings.ini", "link.ini");
    EXPECT_TRUE(Write("a", "x", "3", "link.ini"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(ReadBytes("real/settings.ini"), "[a]\nx=3\n");
    EXPECT_EQ(FilesInFolder("real"), 1u);
    EXPECT_EQ(FilesInFolder("."), 3u); // data.ini, real/, link.ini: no temporary files
}

TEST_F(ProfileWrite, ANewFileGetsTheUsualPermissionsLessTheUmask) {
    const mode_t old = ::umask(022);
    EXPECT_TRUE(Write("a", "x", "1"));
    ::umask(old);
    struct stat info = {};
    ASSERT_EQ(::stat("data.ini", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(ProfileWrite, ABurstOfWritesIsReadBackAtOnceAndReachesTheDiskAfter) {
    // A slider dragged: three keys on every move. Each value is there for the next reader at
    // once (the flush to disk is the syncer's), and no temporary file is left behind.
    for (int move = 0; move < 100; ++move) {
        const std::string value = std::to_string(move - 50);
        for (const char* key : {"Red", "Green", "Blue"}) {
            ASSERT_TRUE(Write("RGB", key, value.c_str()));
            ASSERT_EQ(GetString("RGB", key, ""), value) << key;
        }
    }
    WaitForProfileSync();
    EXPECT_EQ(ReadBytes("data.ini"), "[RGB]\r\nRed=49\r\nGreen=49\r\nBlue=49\r\n");
    EXPECT_EQ(FilesInFolder(dir_.path()), 1u);
}

} // namespace
} // namespace kelo
