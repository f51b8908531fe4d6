// A small file system that fills up: a tmpfs of a given size, mounted in a private mount
// namespace so that nothing outside the test sees it. As root the namespace is a plain one; as
// another user a user namespace maps the user to root inside it. Where neither can be made the
// helpers say so and the test fails loudly (it does not skip).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kelo::test {

// Forks; the child mounts a tmpfs of `bytes` on `mountPoint` (an existing folder) in its own
// mount namespace and returns body()'s result as its exit status. Returns that status, or -1
// with the reason in *error when the file system could not be made.
int RunOnSmallFileSystem(const std::filesystem::path& mountPoint, std::size_t bytes,
                         const std::function<int()>& body, std::string* error);

// The command line (program first) that runs `program args...` with a tmpfs of `bytes` on
// `mountPoint` in a private mount namespace (through unshare(1) and sh), then the shell code
// `afterwards` (with $KELO_DIR the mount point) while the file system is still there; the exit
// status is the program's.
std::vector<std::string> SmallFileSystemCommand(const std::filesystem::path& mountPoint,
                                                std::size_t bytes,
                                                const std::filesystem::path& program,
                                                const std::vector<std::string>& args,
                                                const std::string& afterwards = {});

} // namespace kelo::test
