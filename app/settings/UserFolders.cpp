#include "app/settings/UserFolders.h"

#include "platform/system/InputFile.h"

#include <cstdlib>
#include <pwd.h>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kelo {

namespace {

// The file holds eight lines; a larger one is not it.
constexpr std::size_t kMaxUserDirsBytes = 64u << 10;

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The value of one XDG_<NAME>_DIR line of user-dirs.dirs, expanded; empty when not set. The
// file's format allows only "$HOME/..." or an absolute path, in double quotes.
std::string XdgUserFolder(std::string_view name) {
    const std::string home = HomeFolder();
    // Opened without waiting and only when it is a regular file (see InputFile.h).
    std::string text;
    (void)ReadInputFile(UserConfigFolder() + "/user-dirs.dirs", kMaxUserDirsBytes, &text);
    std::istringstream in(text);
    const std::string wanted = "XDG_" + std::string(name) + "_DIR";
    std::string line;
    while (std::getline(in, line)) {
        std::string_view s = line;
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        if (s.substr(0, wanted.size()) != wanted)
            continue;
        s.remove_prefix(wanted.size());
        if (s.empty() || s.front() != '=')
            continue;
        s.remove_prefix(1);
        if (s.size() < 2 || s.front() != '"')
            continue;
        const std::size_t close = s.find('"', 1);
        if (close == std::string_view::npos)
            continue;
        std::string_view value = s.substr(1, close - 1);
        std::string path;
        if (value.substr(0, 5) == "$HOME") {
            path = (home == "/" ? std::string() : home) + std::string(value.substr(5));
        } else if (!value.empty() && value.front() == '/') {
            path = std::string(value);
        } else {
            continue;
        }
        return WithoutTrailingSlashes(path.empty() ? "/" : path);
    }
    return {};
}

std::string UserFolderOrHome(std::string_view xdgName) {
    std::string folder = XdgUserFolder(xdgName);
    // "$HOME/" alone means the folder was switched off; a missing folder is no place to write.
    if (!folder.empty() && folder != HomeFolder() && IsFolder(folder))
        return folder;
    return HomeFolder();
}

} // namespace

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return WithoutTrailingSlashes(home);
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return WithoutTrailingSlashes(entry->pw_dir);
    return "/";
}

std::string UserConfigFolder() {
    // XDG_CONFIG_HOME must be an absolute path; a relative one is ignored, as desktops do.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && *configHome == '/')
        return WithoutTrailingSlashes(configHome);
    const std::string home = HomeFolder();
    return (home == "/" ? std::string() : home) + "/.config";
}

std::string UserPicturesFolder() {
    return UserFolderOrHome("PICTURES");
}

std::string UserVideosFolder() {
    return UserFolderOrHome("VIDEOS");
}

} // namespace kelo
