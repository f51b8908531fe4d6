#include "platform/system/PrivateProfile.h"

#include "platform/system/Handles.h"
#include "platform/system/InputFile.h"
#include "platform/system/ProfileText.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace kelo {

namespace {

// Larger than any settings file the program writes by far; a file over it is not settings
// (a 2 GB file read at every key would stall the window and take its size in memory).
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

// A file changed within this long before it was read may be changed again with the same size
// and time stamp (time stamps are coarse, up to two seconds on some file systems): its copy is
// not trusted and the next read reads it again.
constexpr long long kUnsettledNs = 2'000'000'000;

enum class ReadStatus { Ok, Missing, Failed };

struct FileContents {
    ReadStatus status = ReadStatus::Missing;
    std::string text;
    struct stat info = {};
    int error = 0; // errno of a failed read
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

long long Nanoseconds(const struct timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Said once per path for the process, like the refusal of a file that is not regular.
void ReportTooLarge(const std::string& path) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.insert(path).second)
            return;
    }
    std::fprintf(stderr,
                 "%s: \"%s\" is larger than %zu bytes and is not read as settings; the defaults "
                 "apply and the file is left as it is\n",
                 program_invocation_short_name, path.c_str(), kMaxFileBytes);
}

FileContents ReadFile(const std::string& path) {
    FileContents file;
    // Opened without waiting and only when it is a regular file: a folder, a pipe or a device
    // named data.ini is not settings.
    const InputFileStatus status = ReadInputFile(path, kMaxFileBytes, &file.text, &file.info);
    file.error = status == InputFileStatus::Ok ? 0 : errno;
    if (status == InputFileStatus::Ok)
        file.status = ReadStatus::Ok;
    else if (status == InputFileStatus::Missing)
        file.status = ReadStatus::Missing;
    else
        file.status = ReadStatus::Failed;
    if (status == InputFileStatus::TooLarge)
        ReportTooLarge(path);
    return file;
}

// A file's text as read, with the lookups made in it so far: the text never changes while it is
// kept, so a key found once is found again without going over the text (which may be large).
class ProfileFile {
public:
    explicit ProfileFile(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

    // profile::FindValue(text(), section, key), remembered. Any thread.
    std::optional<std::string_view> Find(const char* section, const char* key) {
        std::string id = std::string(section) + '\0' + key; // the names as spelled
        std::lock_guard lock(mutex_);
        if (const auto it = found_.find(id); it != found_.end())
            return it->second;
        const std::optional<std::string_view> value = profile::FindValue(text_, section, key);
        if (found_.size() >= kMaxLookups)
            found_.clear();
        found_.emplace(std::move(id), value);
        return value;
    }

private:
    static constexpr std::size_t kMaxLookups = 256; // the program asks for about twenty
    const std::string text_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::optional<std::string_view>> found_; // views of text_
};

// The last file read, kept with what tells whether it changed since: readers ask for a key at
// a time (an effect click reads several), and each used to read the whole file again.
struct CachedText {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    long long modifiedNs = 0;
    long long changedNs = 0;
    std::shared_ptr<ProfileFile> text;
};

std::mutex& CacheMutex() {
    static std::mutex mutex;
    return mutex;
}

CachedText& Cache() {
    static CachedText cache;
    return cache;
}

bool SameFile(const CachedText& cached, const struct stat& now) {
    return cached.text && cached.device == now.st_dev && cached.inode == now.st_ino &&
           cached.size == now.st_size && cached.modifiedNs == Nanoseconds(now.st_mtim) &&
           cached.changedNs == Nanoseconds(now.st_ctim);
}

void ForgetCachedText() {
    std::lock_guard lock(CacheMutex());
    Cache() = CachedText{};
}

// Text of the file, or empty text when it cannot be read: readers then get their defaults.
// Read again only when the file's identity, size or time stamps changed (or it changed too
// recently to tell).
std::shared_ptr<ProfileFile> ReadTextOrEmpty(const char* fileName) {
    static const auto empty = std::make_shared<ProfileFile>(std::string());
    if (!fileName || !*fileName)
        return empty;
    struct stat now {};
    if (::stat(fileName, &now) != 0)
        return empty; // missing: nothing to keep
    if (S_ISREG(now.st_mode) && static_cast<std::size_t>(now.st_size) > kMaxFileBytes) {
        ReportTooLarge(fileName);
        return empty; // not opened at all
    }
    {
        std::lock_guard lock(CacheMutex());
        if (SameFile(Cache(), now))
            return Cache().text;
    }
    struct timespec readAt {};
    ::clock_gettime(CLOCK_REALTIME, &readAt);
    FileContents file = ReadFile(fileName);
    if (file.status != ReadStatus::Ok)
        return empty;
    auto text = std::make_shared<ProfileFile>(std::move(file.text));
    const long long settledBefore = Nanoseconds(readAt) - kUnsettledNs;
    if (Nanoseconds(file.info.st_mtim) < settledBefore &&
        Nanoseconds(file.info.st_ctim) < settledBefore) {
        std::lock_guard lock(CacheMutex());
        Cache() = CachedText{file.info.st_dev,
                             file.info.st_ino,
                             file.info.st_size,
                             Nanoseconds(file.info.st_mtim),
                             Nanoseconds(file.info.st_ctim),
                             text};
    }
    return text;
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
                // Without waiting: a pipe put in its place must not hold the syncer (and the
                // program's end).
                Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
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
    const std::shared_ptr<ProfileFile> file = ReadTextOrEmpty(fileName);
    if (section && key && *key)
        return profile::GetStringOfValue(file->Find(section, key), defaultValue, buffer, size);
    return profile::GetString(file->text(), section, key, defaultValue, buffer, size);
}

std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, std::int32_t defaultValue,
                                    const char* fileName) {
    const std::shared_ptr<ProfileFile> file = ReadTextOrEmpty(fileName);
    if (section && key && *key)
        return profile::GetIntOfValue(file->Find(section, key), defaultValue);
    return profile::GetInt(file->text(), section, key, defaultValue);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!fileName || !*fileName) {
        errno = EINVAL;
        return false;
    }
    if (!section) { // all three null asks the platform to flush its cache: there is none
        errno = EINVAL;
        return !key && !value;
    }

    // Read, edit and replace as one step against other writers of this process.
    std::lock_guard<std::mutex> lock(WriteMutex());
    const std::string path = WriteTarget(fileName);
    FileContents file = ReadFile(path);
    if (file.status == ReadStatus::Failed) {
        errno = file.error;
        return false; // never replace a file whose contents we could not read
    }
    std::optional<std::string> edited = profile::Edit(file.text, section, key, value);
    if (!edited) {
        errno = EINVAL;
        return false;
    }
    const bool exists = file.status == ReadStatus::Ok;
    if (*edited == file.text && (exists || edited->empty()))
        return true; // nothing changes (and a deletion does not create a missing file)
    // A read-only file stays as it is, although its folder would let us replace it.
    if (exists && ::access(path.c_str(), W_OK) != 0)
        return false;
    // Whatever the outcome, the next read looks at the file again.
    ForgetCachedText();
    return ReplaceFile(path, *edited, exists ? &file.info : nullptr);
}

} // namespace kelo
