// Files read by the program when what lies at the path may be anything: a pipe (which a plain
// open would wait on forever), a device, a folder, a socket, or a file far too large.
#include "platform/system/InputFile.h"

#include "support/TestSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelo {
namespace {

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(InputFile, AnythingButARegularFileIsRefusedAtOnceAndSaidOncePerPath) {
    test::IsolatedDirectory dir;
    ASSERT_EQ(mkfifo("pipe.gif", 0600), 0);
    ASSERT_EQ(mkdir("folder.ini", 0700), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  (dir.path() / "socket.wav").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    testing::internal::CaptureStderr();
    std::string bytes = "left over";
    for (const char* path : {"pipe.gif", "pipe.gif", "folder.ini", "socket.wav", "/dev/zero"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadInputFile(path, 1024, &bytes), InputFileStatus::NotRegular);
        EXPECT_TRUE(bytes.empty());
    }
    EXPECT_EQ(OpenInputFile("pipe.gif").status, InputFileStatus::NotRegular);
    EXPECT_EQ(ReadInputFile("missing.gif", 1024, &bytes), InputFileStatus::Missing);
    const std::string said = testing::internal::GetCapturedStderr();
    close(sock);

    EXPECT_EQ(Occurrences(said, "\"pipe.gif\" is a named pipe, not a regular file; not read"), 1)
        << said;
    EXPECT_EQ(Occurrences(said, "\"folder.ini\" is a folder"), 1) << said;
    EXPECT_EQ(Occurrences(said, "socket.wav\" is a socket"), 1) << said;
    EXPECT_EQ(Occurrences(said, "\"/dev/zero\" is a character device"), 1) << said;
    EXPECT_EQ(said.find("missing.gif"), std::string::npos) << "a missing file is the caller's word";
}

TEST(InputFile, ARegularFileIsReadWholeUpToTheLimitAndLeftOpenBlocking) {
    test::IsolatedDirectory dir;
    std::ofstream("small.bin") << std::string(1000, 'x');
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadInputFile("small.bin", 1000, &bytes), InputFileStatus::Ok);
    EXPECT_EQ(bytes.size(), 1000u);
    EXPECT_EQ(ReadInputFile("small.bin", 999, &bytes), InputFileStatus::TooLarge);
    EXPECT_TRUE(bytes.empty());

    InputFile file = OpenInputFile("small.bin");
    ASSERT_EQ(file.status, InputFileStatus::Ok);
    EXPECT_EQ(file.info.st_size, 1000);
    EXPECT_EQ(fcntl(file.fd.get(), F_GETFL) & O_NONBLOCK, 0);
}

} // namespace
} // namespace kelo
