#include "ProfileTestSupport.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kelo {
namespace {

using test::GetInt;
using test::GetString;
using test::WriteBytes;

class ProfileRead : public ::testing::Test {
protected:
    test::IsolatedDirectory dir_;
};

TEST_F(ProfileRead, MissingFileSectionOrKeyGivesTheDefaultWithoutTrailingSpaces) {
    EXPECT_EQ(GetString("PATCH", "PIC", "C:"), "C:");
    EXPECT_EQ(GetString("PATCH", "PIC", "default  "), "default");
    EXPECT_EQ(GetString("PATCH", "PIC", "  lead"), "  lead");
    EXPECT_EQ(GetString("PATCH", "PIC", nullptr), "");
    EXPECT_EQ(GetInt("PICSIZE", "WIDTH", 320), 320u);
    EXPECT_EQ(GetInt("PICSIZE", "WIDTH", -1), 4294967295u);

    WriteBytes("data.ini", "[PATCH]\r\nPIC=/photos\r\n");
    EXPECT_EQ(GetString("PATCH", "PIC", "C:"), "/photos");
    EXPECT_EQ(GetString("PATCH", "REC", "Error"), "Error");
    EXPECT_EQ(GetString("OTHER", "PIC", "x"), "x");
    EXPECT_EQ(GetString("PATCH", "", "empty key"), "empty key");
    EXPECT_EQ(GetInt("PATCH", "WIDTH", 7), 7u);
}

TEST_F(ProfileRead, NamesMatchWithoutRegardToCaseAndBlanksAroundNamesAndValuesAreIgnored) {
    WriteBytes("data.ini", "[ Effect ]\r\n"
                           "  Index   =   5  \r\n"
                           "GifName=\t/a b/c.gif\t\r\n"
                           "[RGB]\r\nr=75\r\n");
    EXPECT_EQ(GetString("effect", "INDEX", ""), "5");
    EXPECT_EQ(GetString("EFFECT", "gifname", ""), "/a b/c.gif");
    EXPECT_EQ(GetInt("rgb", "R", 0), 75u);
    // Names differ in more than case: no match.
    EXPECT_EQ(GetString("Effects", "Index", "d"), "d");
}

TEST_F(ProfileRead, QuotesAroundAValueAreRemovedOnce) {
    WriteBytes("data.ini", "[s]\n"
                           "a=\"quoted value\"\n"
                           "b='single'\n"
                           "c=\"\"twice\"\"\n"
                           "d=\"unbalanced\n"
                           "e=\"mixed'\n"
                           "f=in\"side\"\n"
                           "g=\"\n");
    EXPECT_EQ(GetString("s", "a", ""), "quoted value");
    EXPECT_EQ(GetString("s", "b", ""), "single");
    EXPECT_EQ(GetString("s", "c", ""), "\"twice\"");
    EXPECT_EQ(GetString("s", "d", ""), "\"unbalanced");
    EXPECT_EQ(GetString("s", "e", ""), "\"mixed'");
    EXPECT_EQ(GetString("s", "f", ""), "in\"side\"");
    EXPECT_EQ(GetString("s", "g", ""), "\"");
}

TEST_F(ProfileRead, TheFirstOfDuplicateSectionsAndKeysWinsAndSectionsAreNotMerged) {
    WriteBytes("data.ini", "[a]\nx=1\nx=2\n[b]\ny=3\n[A]\nx=4\nz=5\n[]\nempty=6\n");
    EXPECT_EQ(GetString("a", "x", ""), "1");
    EXPECT_EQ(GetString("a", "z", "missing"), "missing"); // only in the second [a]
    EXPECT_EQ(GetString("b", "y", ""), "3");
    EXPECT_EQ(GetString("", "empty", ""), "6");
}

TEST_F(ProfileRead, ValuesKeepLaterEqualsSignsAndLinesWithoutOneAreNoKeys) {
    WriteBytes("data.ini", "key=before first section\n"
                           "[s]\n"
                           "url=a=b==c\n"
                           "empty=\n"
                           "just a line\n"
                           "; comment=1\n"
                           "=nameless\n"
                           "last=ok\n");
    EXPECT_EQ(GetString("s", "url", ""), "a=b==c");
    EXPECT_EQ(GetString("s", "empty", "default"), "");
    EXPECT_EQ(GetString("s", "just a line", "d"), "d");
    EXPECT_EQ(GetString("s", "last", ""), "ok");
    EXPECT_EQ(GetString("", "key", "d"), "d"); // lines before any section belong to none
    // The key list skips lines without "=" (and the nameless key, which would end the list).
    std::string keys = GetString("s", nullptr, nullptr);
    EXPECT_EQ(keys, std::string("url\0empty\0; comment\0last\0", 25));
}

TEST_F(ProfileRead, TextIsCutToTheBufferAndAlwaysZeroTerminated) {
    WriteBytes("data.ini", "[s]\nk=abcdef\n");
    char buffer[8];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 0, "data.ini"), 0u);
    EXPECT_EQ(buffer[0], 'X'); // size 0 leaves the buffer alone
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 1, "data.ini"), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 4, "data.ini"), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], 'X');
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, 7, "data.ini"), 6u);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(GetPrivateProfileStringA("s", "x", "defaultvalue", buffer, 5, "data.ini"), 4u);
    EXPECT_STREQ(buffer, "defa");
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", nullptr, 10, "data.ini"), 0u);
}

TEST_F(ProfileRead, SectionAndKeyListsEndWithTwoZerosAndAreCutToSizeMinusTwo) {
    WriteBytes("data.ini", "[one]\na=1\nB=2\nb=3\n[two]\n[ONE]\nc=4\n");
    EXPECT_EQ(GetString(nullptr, nullptr, nullptr), std::string("one\0two\0", 8));
    EXPECT_EQ(GetString("one", nullptr, nullptr), std::string("a\0B\0", 4));
    EXPECT_EQ(GetString("two", nullptr, nullptr), "");
    EXPECT_EQ(GetString("none", nullptr, "ignored"), "");

    char buffer[16];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 6, "data.ini"), 4u);
    EXPECT_EQ(std::string(buffer, 6), std::string("one\0\0\0", 6));
    EXPECT_EQ(buffer[6], 'X');
    // Exactly filled: the names and their zeros, then the closing zero.
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 9, "data.ini"), 8u);
    EXPECT_EQ(buffer[9], 'X');
    EXPECT_EQ(std::string(buffer, 9), std::string("one\0two\0\0", 9));
    // One byte short of that: the second name loses its last letter.
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 8, "data.ini"), 6u);
    EXPECT_EQ(std::string(buffer, 8), std::string("one\0tw\0\0", 8));
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 7, "data.ini"), 5u);
    EXPECT_EQ(std::string(buffer, 7), std::string("one\0t\0\0", 7));
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 1, "data.ini"), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ProfileRead, IntegersFollowThePlatformRule) {
    WriteBytes("data.ini", "[n]\n"
                           "plain=640\n"
                           "plus=+15\n"
                           "minus=-1\n"
                           "minus5=-5\n"
                           "blanks=   42\n"
                           "trailing=800px\n"
                           "words=wide\n"
                           "signonly=-\n"
                           "empty=\n"
                           "quoted=\"12\"\n"
                           "hex=0x1F\n"
                           "HEXUPPER=0XfF\n"
                           "hexnone=0xg\n"
                           "wrap=4294967296\n"
                           "wrap1=4294967297\n"
                           "big=99999999999999999999\n"
                           "decimal=3.9\n"
                           "spaced=- 5\n");
    EXPECT_EQ(GetInt("n", "plain", 9), 640u);
    EXPECT_EQ(GetInt("n", "plus", 9), 15u);
    EXPECT_EQ(GetInt("n", "minus", 9), 4294967295u);
    EXPECT_EQ(GetInt("n", "minus5", 9), 4294967291u);
    EXPECT_EQ(GetInt("n", "blanks", 9), 42u);
    EXPECT_EQ(GetInt("n", "trailing", 9), 800u);
    EXPECT_EQ(GetInt("n", "words", 9), 0u); // no digits: 0, not the default
    EXPECT_EQ(GetInt("n", "signonly", 9), 0u);
    EXPECT_EQ(GetInt("n", "empty", 9), 9u); // empty: the default
    EXPECT_EQ(GetInt("n", "missing", 9), 9u);
    EXPECT_EQ(GetInt("n", "quoted", 9), 12u);
    EXPECT_EQ(GetInt("n", "hex", 9), 31u);
    EXPECT_EQ(GetInt("n", "hexupper", 9), 255u);
    EXPECT_EQ(GetInt("n", "hexnone", 9), 0u);
    EXPECT_EQ(GetInt("n", "wrap", 9), 0u);
    EXPECT_EQ(GetInt("n", "wrap1", 9), 1u);
    EXPECT_EQ(GetInt("n", "big", 9), 1661992959u); // 99999999999999999999 mod 2^32
    EXPECT_EQ(GetInt("n", "decimal", 9), 3u);
    EXPECT_EQ(GetInt("n", "spaced", 9), 0u);
    EXPECT_EQ(GetInt("n", "", 9), 9u);
    EXPECT_EQ(GetInt("n", nullptr, 9), 9u);
}

TEST_F(ProfileRead, CrlfLfAndCrFilesReadAlikeAndSoDoesALastLineWithoutBreak) {
    for (const char* br : {"\r\n", "\n", "\r"}) {
        std::string text = std::string("[PATCH]") + br + "PIC=/p" + br + "[PICSIZE]" + br +
                           "WIDTH=1280" + br + "HEIGHT=720";
        WriteBytes("data.ini", text);
        SCOPED_TRACE(testing::PrintToString(br));
        EXPECT_EQ(GetString("PATCH", "PIC", ""), "/p");
        EXPECT_EQ(GetInt("PICSIZE", "WIDTH", 0), 1280u);
        EXPECT_EQ(GetInt("PICSIZE", "HEIGHT", 0), 720u);
    }
    // A break of a mixed file ("\n\r") is two breaks, with an empty line between.
    WriteBytes("data.ini", "[s]\n\rk=v\n\r");
    EXPECT_EQ(GetString("s", "k", ""), "v");
}

TEST_F(ProfileRead, AZeroByteEndsWhatItsLineSaysAndHarmsNothingElse) {
    WriteBytes("data.ini", std::string("[s]\nk=ab\0cd\nnext=1\n[t\0]\nx=2\n", 28));
    EXPECT_EQ(GetString("s", "k", ""), "ab");
    EXPECT_EQ(GetString("s", "next", ""), "1");
    EXPECT_EQ(GetString("t", "x", ""), "2");
}

TEST_F(ProfileRead, AFolderOrDeviceNamedLikeTheFileReadsAsMissing) {
    ASSERT_TRUE(std::filesystem::create_directory("data.ini"));
    EXPECT_EQ(GetString("PATCH", "PIC", "C:"), "C:");
    EXPECT_EQ(GetString("PATCH", "PIC", "C:", "/dev/zero"), "C:");
    EXPECT_EQ(GetInt("PICSIZE", "WIDTH", 320, "/dev/zero"), 320u);
    EXPECT_EQ(GetString("PATCH", "PIC", "C:", nullptr), "C:");
}

TEST_F(ProfileRead, AChangedFileIsReadAgainEvenAtTheSameSizeAndTimeStamp) {
    // Changed just now: a second change within the file system's time stamp step is seen.
    WriteBytes("data.ini", "[s]\nk=1\n");
    EXPECT_EQ(GetString("s", "k", ""), "1");
    WriteBytes("data.ini", "[s]\nk=2\n");
    EXPECT_EQ(GetString("s", "k", ""), "2");

    // Settled (its times over two seconds old) and so kept in memory: a change that puts the
    // same size and modification time back, as a restore from a backup does, still changes
    // the status time.
    const struct timespec old[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, "data.ini", old, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(GetString("s", "k", ""), "2");
    WriteBytes("data.ini", "[s]\nk=3\n");
    ASSERT_EQ(::utimensat(AT_FDCWD, "data.ini", old, 0), 0);
    EXPECT_EQ(GetString("s", "k", ""), "3");
    // Another file in its place, and no file at all.
    WriteBytes("other.ini", "[s]\nk=4\n");
    std::filesystem::rename("other.ini", "data.ini");
    EXPECT_EQ(GetInt("s", "k", 0), 4u);
    std::filesystem::remove("data.ini");
    EXPECT_EQ(GetString("s", "k", "gone"), "gone");
}

TEST_F(ProfileRead, AFileOverAMegabyteOrAPipeReadsAsMissingAndAWriteLeavesItAlone) {
    // Valid settings at the top of 20 MB: too large to be a settings file.
    std::string huge = "[PATCH]\r\nPIC=/photos\r\n";
    huge.resize(20u << 20, ';');
    WriteBytes("data.ini", huge);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetString("PATCH", "PIC", "C:"), "C:");
    EXPECT_EQ(GetInt("PICSIZE", "WIDTH", 320), 320u);
    EXPECT_FALSE(WritePrivateProfileStringA("PATCH", "PIC", "/new", "data.ini"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::filesystem::file_size("data.ini"), huge.size());
    EXPECT_NE(said.find("data.ini\" is larger than 1048576 bytes"), std::string::npos) << said;
    EXPECT_EQ(said.find("larger", said.find("larger") + 1), std::string::npos) << "said once";

    // A named pipe: no writer will ever come, and the read does not wait for one.
    std::filesystem::remove("data.ini");
    ASSERT_EQ(::mkfifo("data.ini", 0600), 0);
    EXPECT_EQ(GetString("PATCH", "PIC", "C:"), "C:");
    EXPECT_FALSE(WritePrivateProfileStringA("PATCH", "PIC", "/new", "data.ini"));
}

} // namespace
} // namespace kelo
