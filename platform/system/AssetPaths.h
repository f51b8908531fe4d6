// Where read-only assets are found: the working directory first (as the program always did),
// then the data folders, then (for the face cascade) opencv-data's folder.
//
// The data folders, in order: KELOCAM_DATA_DIR when set; "../share/kelocam" beside the running
// executable, so that an install into any prefix (or a package unpacked anywhere) finds its
// own assets; the folder of the configured install prefix.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelo {

// The data folders in the order they are searched (existing or not, no duplicates).
std::vector<std::string> DataDirs();

// The first data folder that exists; the configured one when none does.
std::string InstalledDataDir();

// The first existing path of "<cwd>/<relative>", "<data folder>/<relative>"; empty when none
// exists, after a one-line warning on stderr that names the asset and the folders searched (once
// per asset, and not again for a file inside a folder already reported missing).
std::string FindAsset(std::string_view relative);

// FindAsset without the warning, for a caller that says in its own line what it does without it.
std::string FindAssetQuietly(std::string_view relative);

// FindAsset, then opencv-data's haarcascades folder.
std::string FindCascadeFile(std::string_view fileName);

} // namespace kelo
