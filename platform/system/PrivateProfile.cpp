#include "platform/system/PrivateProfile.h"

#include "platform/system/Handles.h"
#include "platform/system/ProfileText.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kelo {

namespace {

enum class ReadStatus { Ok, Missing, Failed };

struct FileContents {
    ReadStatus status = ReadStatus::Missing;
    std::string text;
    struct stat info = {};
};

// Owns a descriptor for the length of one call.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the result (a write error may only show up here).
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

FileContents ReadFile(const std::string& path) {
    FileContents file;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        file.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        return file;
    }
    file.status = ReadStatus::Failed;
    // Only a regular file is read: a folder, a pipe or a device named data.ini is not settings.
    if (::fstat(fd.get(), &file.info) != 0 || !S_ISREG(file.info.st_mode))
        return file;
    file.text.reserve(static_cast<std::size_t>(file.info.st_size));
    char chunk[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return file;
        if (n == 0)
            break;
        file.text.append(chunk, static_cast<std::size_t>(n));
    }
    file.status = ReadStatus::Ok;
    return file;
}

// Text of the file, or empty text when it cannot be read: readers then get their defaults.
std::string ReadTextOrEmpty(const char* fileName) {
    if (!fileName || !*fileName)
        return {};
    FileContents file = ReadFile(fileName);
    return file.status == ReadStatus::Ok ? std::move(file.text) : std::string();
}

// The file a write really changes: a symbolic link is followed, so that replacing the file
// keeps the link (and writes where it points) instead of replacing the link by a file.
std::string WriteTarget(const char* fileName) {
    struct stat info = {};
    if (::lstat(fileName, &info) == 0 && S_ISLNK(info.st_mode)) {
        if (CCharPtr resolved{::realpath(fileName, nullptr)})
            return resolved.get();
    }
    return fileName;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes written settings files durable off the writer's thread: one thread fsyncs each file
// written and its folder, a burst of writes to one file becoming one sync. Lives until the
// process ends; what is still pending then is synced before exit.
class ProfileSyncer {
public:
    static ProfileSyncer& Instance() {
        static ProfileSyncer syncer;
        return syncer;
    }

    // Any thread.
    void Schedule(const std::string& path, const std::string& folder) {
        std::lock_guard lock(mutex_);
        pending_[path] = folder;
        if (!thread_.joinable())
            thread_ = std::thread([this] { Loop(); });
        wake_.notify_all();
    }

    // Any thread but the syncer's: returns when everything scheduled before has been synced.
    void Wait() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return pending_.empty() && !syncing_; });
    }

    ~ProfileSyncer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
    }

private:
    ProfileSyncer() = default;

    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
            if (pending_.empty())
                return; // stopping, nothing left
            std::map<std::string, std::string> batch;
            batch.swap(pending_);
            syncing_ = true;
            lock.unlock();
            for (const auto& [path, folder] : batch) {
                Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
                if (file.get() >= 0)
                    ::fsync(file.get());
                Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (dir.get() >= 0)
                    ::fsync(dir.get());
            }
            lock.lock();
            syncing_ = false;
            if (pending_.empty())
                idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::map<std::string, std::string> pending_; // path -> its folder; guarded by mutex_
    bool syncing_ = false;                       // guarded by mutex_
    bool stop_ = false;                          // guarded by mutex_
    std::thread thread_;
};

// Replaces `path` by a file holding `data`: temporary file in the same folder, flushed, renamed
// over the old one. `old` (when the file existed) gives the permissions and owner to keep.
bool ReplaceFile(const std::string& path, const std::string& data, const struct stat* old) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A new file gets 0666 less the umask, as any file a program creates.
    const mode_t mode = old ? (old->st_mode & 07777) : 0666;

    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temp = (slash == std::string::npos ? std::string() : folder) + "." + base + ".tmp-" +
               std::to_string(::getpid()) + "-" + std::to_string(counter++);
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (raw < 0 && errno != EEXIST)
            return false;
    }
    if (raw < 0)
        return false;
    Descriptor fd(raw);
    if (old) {
        // Best effort: an owner change needs rights we usually do not have, and the mode is
        // already right unless the umask took bits away.
        [[maybe_unused]] const int owner = ::fchown(fd.get(), old->st_uid, old->st_gid);
        [[maybe_unused]] const int permissions = ::fchmod(fd.get(), mode);
    }
    // The caller may be the window thread, and a slider writes keys on every move: the data
    // and the rename reach the disk through the syncer, not here. Whoever reads the file next
    // sees the new contents at once, and the rename still leaves the old or the new file.
    const bool written =
        WriteAll(fd.get(), data) && fd.Close() && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temp.c_str());
        return false;
    }
    ProfileSyncer::Instance().Schedule(path, folder);
    return true;
}

std::mutex& WriteMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

void WaitForProfileSync() {
    ProfileSyncer::Instance().Wait();
}

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* defaultValue, char* buffer, std::uint32_t size,
                                       const char* fileName) {
    if (!buffer || size == 0)
        return 0;
    return profile::GetString(ReadTextOrEmpty(fileName), section, key, defaultValue, buffer, size);
}

std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, std::int32_t defaultValue,
                                    const char* fileName) {
    return profile::GetInt(ReadTextOrEmpty(fileName), section, key, defaultValue);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!fileName || !*fileName)
        return false;
    if (!section) // all three null asks the platform to flush its cache: there is none
        return !key && !value;

    // Read, edit and replace as one step against other writers of this process.
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string path = WriteTarget(fileName);
    FileContents file = ReadFile(path);
    if (file.status == ReadStatus::Failed)
        return false; // never replace a file whose contents we could not read
    std::optional<std::string> edited = profile::Edit(file.text, section, key, value);
    if (!edited)
        return false;
    const bool exists = file.status == ReadStatus::Ok;
    if (*edited == file.text && (exists || edited->empty()))
        return true; // nothing changes (and a deletion does not create a missing file)
    // A read-only file stays as it is, although its folder would let us replace it.
    if (exists && ::access(path.c_str(), W_OK) != 0)
        return false;
    return ReplaceFile(path, *edited, exists ? &file.info : nullptr);
}

} // namespace kelo
