#include "platform/AssetPaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kelo {

namespace fs = std::filesystem;

std::string InstalledDataDir() {
    const char* dir = std::getenv("KELOCAM_DATA_DIR");
    if (dir && *dir)
        return dir;
    return KELO_DATA_DIR;
}

static bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

std::string FindAsset(std::string_view relative) {
    fs::path rel{std::string(relative)};
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (!ec && Exists(cwd / rel))
        return (cwd / rel).string();
    fs::path installed = fs::path(InstalledDataDir()) / rel;
    if (Exists(installed))
        return installed.string();
    return {};
}

std::string FindCascadeFile(std::string_view fileName) {
    std::string found = FindAsset(fileName);
    if (!found.empty())
        return found;
    for (const char* dir : {"/usr/share/opencv4/haarcascades", "/usr/share/opencv/haarcascades"}) {
        fs::path p = fs::path(dir) / std::string(fileName);
        if (Exists(p))
            return p.string();
    }
    return {};
}

} // namespace kelo
