#include "platform/system/AssetPaths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace kelo {

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

fs::path WorkingDir() {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    return ec ? fs::path() : cwd;
}

// The folder of the running program (from /proc, so that a symlink to it still finds the real
// install); empty when it cannot be read.
fs::path ExecutableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

const char* const kOpenCvCascadeDirs[] = {"/usr/share/opencv4/haarcascades",
                                          "/usr/share/opencv/haarcascades"};

// What has been reported missing already. Lookups run on the window thread and, for the
// cascade, on a streaming thread: guarded.
struct MissingReports {
    std::mutex mutex;
    std::set<std::string> reported;
};

MissingReports& Reports() {
    static MissingReports reports;
    return reports;
}

void WarnMissing(std::string_view relative, const std::vector<fs::path>& searched) {
    const std::string name(relative);
    const fs::path path(name);
    const std::string top = path.empty() ? name : path.begin()->string();
    {
        std::lock_guard lock(Reports().mutex);
        // A file inside a folder already reported (a GIF of a missing effect pack) says nothing
        // new.
        if (Reports().reported.count(top) || !Reports().reported.insert(name).second)
            return;
    }
    std::string where;
    for (const fs::path& dir : searched) {
        if (!where.empty())
            where += ", ";
        where += dir.empty() ? std::string("(working directory unknown)") : dir.string();
    }
    std::fprintf(stderr, "%s: \"%s\" not found (looked in %s); running without it\n",
                 program_invocation_short_name, name.c_str(), where.c_str());
}

std::string FindIn(std::string_view relative, const std::vector<fs::path>& dirs) {
    const fs::path rel{std::string(relative)};
    for (const fs::path& dir : dirs) {
        if (!dir.empty() && Exists(dir / rel))
            return (dir / rel).string();
    }
    return {};
}

std::vector<fs::path> AssetDirs() {
    std::vector<fs::path> dirs{WorkingDir()};
    for (const std::string& dir : DataDirs())
        dirs.emplace_back(dir);
    return dirs;
}

} // namespace

std::vector<std::string> DataDirs() {
    std::vector<std::string> dirs;
    auto add = [&dirs](fs::path dir) {
        if (dir.empty())
            return;
        std::string text = dir.lexically_normal().string();
        if (text.size() > 1 && text.back() == '/')
            text.pop_back();
        if (std::find(dirs.begin(), dirs.end(), text) == dirs.end())
            dirs.push_back(std::move(text));
    };
    if (const char* env = std::getenv("KELOCAM_DATA_DIR"); env && *env)
        add(env);
    if (fs::path exeDir = ExecutableDir(); !exeDir.empty())
        add(exeDir / ".." / "share" / "kelocam");
    add(KELO_DATA_DIR);
    return dirs;
}

std::string InstalledDataDir() {
    for (const std::string& dir : DataDirs()) {
        std::error_code ec;
        if (fs::is_directory(dir, ec))
            return dir;
    }
    return KELO_DATA_DIR;
}

std::string FindAsset(std::string_view relative) {
    const std::vector<fs::path> dirs = AssetDirs();
    std::string found = FindIn(relative, dirs);
    if (found.empty())
        WarnMissing(relative, dirs);
    return found;
}

std::string FindAssetQuietly(std::string_view relative) {
    return FindIn(relative, AssetDirs());
}

std::string FindCascadeFile(std::string_view fileName) {
    std::vector<fs::path> dirs = AssetDirs();
    for (const char* dir : kOpenCvCascadeDirs)
        dirs.emplace_back(dir);
    std::string found = FindIn(fileName, dirs);
    if (found.empty())
        WarnMissing(fileName, dirs);
    return found;
}

} // namespace kelo
