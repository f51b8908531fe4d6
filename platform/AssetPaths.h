// Where read-only assets are found: the working directory first (as the program always did),
// then the installed data folder, then (for the face cascade) opencv-data's folder.
#pragma once

#include <string>
#include <string_view>

namespace kelo {

// The installed data folder (for example /usr/local/share/kelocam). KELOCAM_DATA_DIR overrides.
std::string InstalledDataDir();

// The first existing path of: "<cwd>/<relative>", "<data dir>/<relative>"; empty when neither
// exists.
std::string FindAsset(std::string_view relative);

// FindAsset, then opencv-data's haarcascades folder.
std::string FindCascadeFile(std::string_view fileName);

} // namespace kelo
