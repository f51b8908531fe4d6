#include "support/TestSupport.h"

#include "platform/contracts/FeedLayout.h"
#include "platform/system/SharedMemoryView.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace kelo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write rights that a test may have taken away before removing.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const fs::path& dir)
    : previous_(fs::current_path()) {
    fs::current_path(dir);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

ScopedFeedName::ScopedFeedName() {
    static std::atomic<int> counter{0};
    name_ = "/KeloVCam-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    setenv("KELOCAM_FEED_NAME", name_.c_str(), 1);
}

ScopedFeedName::~ScopedFeedName() {
    shm_unlink(name_.c_str());
    shm_unlink((name_ + "HD").c_str()); // the HD block beside it
    unsetenv("KELOCAM_FEED_NAME");
}

fs::path SourceDir() { return KELO_SOURCE_DIR; }
fs::path BinaryDir() { return KELO_BINARY_DIR; }

bool FeedHasPicture(const SharedMemoryView& feed) {
    return std::any_of(feed.data(), feed.data() + kFeedBytes,
                       [](std::uint8_t b) { return b != 0; });
}

} // namespace kelo::test
