#include "platform/system/InputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>

namespace kelo {

namespace {

// Each refused path is said once for the process: a settings file that is a pipe is looked at
// on every read.
void ReportRefused(const std::string& path, mode_t mode) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.insert(path).second)
            return;
    }
    std::fprintf(stderr, "%s: \"%s\" is %s, not a regular file; not read\n",
                 program_invocation_short_name, path.c_str(), DescribeFileType(mode).c_str());
}

// errno for a status, as the header promises.
int ErrorOf(InputFileStatus status, const InputFile& file) {
    switch (status) {
    case InputFileStatus::Ok:
        return 0;
    case InputFileStatus::NotRegular:
        return S_ISDIR(file.info.st_mode) ? EISDIR : ESPIPE;
    case InputFileStatus::TooLarge:
        return EFBIG;
    case InputFileStatus::Missing:
    case InputFileStatus::Failed:
        break;
    }
    return file.error ? file.error : EIO;
}

template <typename Bytes>
InputFileStatus ReadAll(const std::string& path, std::size_t maxBytes, Bytes* bytes,
                        struct stat* info) {
    bytes->clear();
    int error = 0;
    const InputFileStatus status = [&] {
        InputFile file = OpenInputFile(path);
        if (info)
            *info = file.info;
        auto done = [&](InputFileStatus s) {
            error = ErrorOf(s, file);
            if (s != InputFileStatus::Ok)
                bytes->clear();
            return s;
        };
        if (file.status != InputFileStatus::Ok)
            return done(file.status);
        const auto size = static_cast<std::size_t>(file.info.st_size > 0 ? file.info.st_size : 0);
        if (size > maxBytes)
            return done(InputFileStatus::TooLarge);
        bytes->reserve(size);
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(file.fd.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                file.error = errno;
                return done(InputFileStatus::Failed);
            }
            if (n == 0)
                return done(InputFileStatus::Ok);
            // A file that grows while it is read is held to the same limit.
            if (bytes->size() + static_cast<std::size_t>(n) > maxBytes)
                return done(InputFileStatus::TooLarge);
            bytes->insert(bytes->end(), chunk, chunk + n);
        }
    }();
    // Set after the file is closed: close may change errno.
    if (status != InputFileStatus::Ok)
        errno = error;
    return status;
}

} // namespace

std::string DescribeFileType(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISREG(mode))
        return "a regular file";
    return "something else";
}

InputFile OpenInputFile(const std::string& path) {
    InputFile file;
    // O_NONBLOCK: opening a named pipe for reading returns at once instead of waiting for a
    // writer. O_NOCTTY: a terminal put there does not become ours.
    file.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.fd) {
        file.error = errno;
        if (file.error == ENOENT || file.error == ENOTDIR) {
            file.status = InputFileStatus::Missing;
        } else if (struct stat st{}; ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            // A socket cannot be opened at all (ENXIO); it is still not a file.
            file.info = st;
            file.status = InputFileStatus::NotRegular;
            ReportRefused(path, st.st_mode);
        } else {
            file.status = InputFileStatus::Failed;
        }
        return file;
    }
    if (::fstat(file.fd.get(), &file.info) != 0) {
        file.error = errno;
        file.status = InputFileStatus::Failed;
        file.fd.reset();
        return file;
    }
    if (!S_ISREG(file.info.st_mode)) {
        file.status = InputFileStatus::NotRegular;
        ReportRefused(path, file.info.st_mode);
        file.fd.reset();
        return file;
    }
    // A regular file never blocks anyway; whoever reads it later (stdio, a decoder) gets an
    // ordinary descriptor.
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags >= 0)
        (void)::fcntl(file.fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    file.status = InputFileStatus::Ok;
    return file;
}

InputFileStatus ReadInputFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                              struct stat* info) {
    return ReadAll(path, maxBytes, bytes, info);
}

InputFileStatus ReadInputFile(const std::string& path, std::size_t maxBytes,
                              std::vector<std::uint8_t>* bytes, struct stat* info) {
    return ReadAll(path, maxBytes, bytes, info);
}

std::string DescribeInputFailure(InputFileStatus status, int error, std::size_t maxBytes) {
    switch (status) {
    case InputFileStatus::Ok:
        return "read";
    case InputFileStatus::Missing:
        return std::strerror(error ? error : ENOENT);
    case InputFileStatus::NotRegular:
        return "not a regular file";
    case InputFileStatus::TooLarge:
        return "larger than " + std::to_string(maxBytes) + " bytes";
    case InputFileStatus::Failed:
        return error ? std::strerror(error) : "cannot be read";
    }
    return "cannot be read";
}

} // namespace kelo
