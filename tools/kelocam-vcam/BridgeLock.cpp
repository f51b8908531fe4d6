#include "tools/kelocam-vcam/BridgeLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelo::vcam {

BridgeLock::~BridgeLock() {
    Release();
}

std::string BridgeLock::LockPathFor(const std::string& feedObjectName) {
    std::string dir = "/tmp";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat st {};
        if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
            dir = runtime;
    }
    std::string stem;
    for (char c : feedObjectName) {
        if (c == '/')
            continue;
        stem += c;
    }
    return dir + "/kelocam-vcam-" + stem + ".lock";
}

BridgeLock::Result BridgeLock::Acquire(const std::string& feedObjectName) {
    Release();
    path_ = LockPathFor(feedObjectName);
    // The file is never removed: unlinking a lock file lets two processes lock two different
    // files of the same name.
    // The folder may be /tmp, shared with other users: never follow a link planted there, and
    // never write into a file that is not our own (the pid below would overwrite it).
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = "cannot open the lock file " + path_ + ": " + std::strerror(errno);
        return Result::Failed;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        st.st_nlink != 1) {
        ::close(fd_);
        fd_ = -1;
        error_ = "the lock file " + path_ + " is not a plain file of this user; remove it";
        return Result::Failed;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK)
            return Result::HeldByOther;
        error_ = "cannot lock " + path_ + ": " + std::strerror(err);
        return Result::Failed;
    }
    // The holder's process id, for whoever wonders which bridge runs.
    if (ftruncate(fd_, 0) == 0) {
        const std::string pid = std::to_string(getpid()) + "\n";
        [[maybe_unused]] ssize_t written = ::write(fd_, pid.data(), pid.size());
    }
    return Result::Acquired;
}

void BridgeLock::Release() {
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor drops the flock
    fd_ = -1;
}

} // namespace kelo::vcam
