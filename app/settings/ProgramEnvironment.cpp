#include "app/settings/ProgramEnvironment.h"

#include "app/settings/UserFolders.h"
#include "engine/FaceCover.h"
#include "platform/system/AssetPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <QtGlobal>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kelo {

namespace {

// mkdir -p with private folders (XDG config folders are made 0700, readable by their user
// alone); an existing folder is fine.
bool MakeFolders(const std::string& path, std::string* error) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) == 0 || errno == EEXIST)
            continue;
        *error = "cannot make " + prefix + ": " + std::strerror(errno);
        return false;
    }
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = path + " is not a folder";
        return false;
    }
    return true;
}

} // namespace

const char* ProgramVersionText() {
    return "kelocam " KELO_VERSION;
}

const char* ProgramOptionsUsage() {
    // Translated where the usage is put together (StudioUsage).
    return QT_TRANSLATE_NOOP(
        "kelo::StudioApplication",
        "  --version               print the version and exit\n"
        "  --from-desktop          work in $XDG_CONFIG_HOME/kelocam (~/.config/kelocam), made\n"
        "                          when missing, so that data.ini lands there (the desktop\n"
        "                          menu starts the studio so); otherwise the studio works in\n"
        "                          the folder it was started in\n");
}

std::string DesktopWorkingFolder() {
    return UserConfigFolder() + "/kelocam";
}

bool EnterDesktopWorkingFolder(std::string* folder, std::string* error) {
    *folder = DesktopWorkingFolder();
    if (!MakeFolders(*folder, error))
        return false;
    if (::chdir(folder->c_str()) != 0) {
        *error = "cannot enter " + *folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<int> ApplyProgramOptions(int* argc, char** argv) {
    if (*argc < 1)
        return std::nullopt; // no program name, no options
    bool fromDesktop = false;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("%s\n", ProgramVersionText());
            return 0;
        }
        if (arg == kFromDesktopOption)
            fromDesktop = true;
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
    argv[kept] = nullptr;
    if (fromDesktop) {
        std::string folder, error;
        if (!EnterDesktopWorkingFolder(&folder, &error))
            std::fprintf(stderr, "kelocam: %s; working in the current folder\n", error.c_str());
    }
    return std::nullopt;
}

void WarnAboutMissingAssets() {
    (void)FindAsset("Effect");       // the result matters only to the lookups that follow
    (void)FindAsset("snapshot.wav"); // idem
    (void)FindCascadeFile(kFaceCascadeFileName);
}

} // namespace kelo
