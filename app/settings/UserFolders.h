// The user's home, pictures and videos folders: where photos and recordings go until the user
// chooses other folders. Plain C++ (no Qt), so that the headless mode can use it.
#pragma once

#include <string>

namespace kelo {

// $HOME, else the password database's home, else "/". No trailing slash (except "/").
std::string HomeFolder();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config. No trailing slash.
std::string UserConfigFolder();

// The XDG pictures / videos folder from $XDG_CONFIG_HOME/user-dirs.dirs (default
// ~/.config/user-dirs.dirs) when it names a folder that exists; otherwise the home folder.
std::string UserPicturesFolder();
std::string UserVideosFolder();

} // namespace kelo
