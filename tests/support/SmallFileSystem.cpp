#include "support/SmallFileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelo::test {

namespace {

bool WriteText(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// In the child: a private mount namespace with the tmpfs on the mount point. Exit code 125 with
// the reason on standard error when that fails.
[[noreturn]] void MountAndRun(const std::filesystem::path& mountPoint, std::size_t bytes,
                              const std::function<int()>& body) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            std::perror("unshare(CLONE_NEWNS)");
            ::_exit(125);
        }
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            std::perror("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
            ::_exit(125);
        }
        (void)WriteText("/proc/self/setgroups", "deny");
        if (!WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            std::perror("uid_map");
            ::_exit(125);
        }
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::perror("mount --make-rprivate /");
        ::_exit(125);
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("kelo-small", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        std::perror("mount tmpfs");
        ::_exit(125);
    }
    int result = 1;
    try {
        result = body();
    } catch (...) {
        result = 124;
    }
    ::_exit(result);
}

} // namespace

int RunOnSmallFileSystem(const std::filesystem::path& mountPoint, std::size_t bytes,
                         const std::function<int()>& body, std::string* error) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (pid == 0)
        MountAndRun(mountPoint, bytes, body);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) {
        *error = "the child on the small file system was killed";
        return -1;
    }
    if (WEXITSTATUS(status) == 125) {
        *error = "no private mount namespace with a tmpfs can be made on this machine (run the "
                 "tests as root, or allow user namespaces)";
        return -1;
    }
    return WEXITSTATUS(status);
}

std::vector<std::string> SmallFileSystemCommand(const std::filesystem::path& mountPoint,
                                                std::size_t bytes,
                                                const std::filesystem::path& program,
                                                const std::vector<std::string>& args,
                                                const std::string& afterwards) {
    // Every word goes to sh as a positional parameter: nothing needs quoting.
    const std::string script = "mount -t tmpfs -o size=\"$1\" kelo-small \"$2\" || exit 125; "
                               "KELO_DIR=\"$2\"; shift 2; \"$@\"; status=$?; " +
                               afterwards + "\nexit $status";
    std::vector<std::string> command{"/usr/bin/unshare", ::geteuid() == 0 ? "-m" : "-rm",
                                     "--propagation", "private", "/bin/sh", "-c", script,
                                     "sh", std::to_string(bytes), mountPoint.string(),
                                     program.string()};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

} // namespace kelo::test
