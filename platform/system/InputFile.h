// Opening a file the program reads (settings, effect files and thumbnails, models, the shutter
// sound, the face cascade, test photographs) when what is at the path may be anything.
//
// A named pipe put where a file is expected would hold a plain open() until some writer comes,
// which may be never (and SIGTERM does not end the wait in a thread that is not the main one).
// So the file is opened with O_NONBLOCK, which never waits, and kept only when it is a regular
// file: a pipe, a device, a socket or a folder is refused with one line on standard error that
// names it (once per path for the process). A missing file says nothing: callers have their own
// word for that, or none.
//
// Thread safety: any thread.
#pragma once

#include "platform/system/Handles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kelo {

enum class InputFileStatus {
    Ok,
    Missing,    // nothing at the path (or a folder of it missing)
    NotRegular, // a pipe, device, socket or folder: refused, and said once
    TooLarge,   // a regular file over the caller's limit: not read
    Failed,     // no rights, an I/O error
};

struct InputFile {
    InputFileStatus status = InputFileStatus::Missing;
    UniqueFd fd;         // open for reading (blocking again) when status is Ok
    struct stat info {}; // of the open file when status is Ok (or TooLarge)
    int error = 0;       // errno of what failed
};

// Opens `path` for reading as described above.
[[nodiscard]] InputFile OpenInputFile(const std::string& path);

// Reads all of a regular file of at most maxBytes into `bytes` (emptied first). `info`, when
// given, receives the file's status as it was opened (also for TooLarge). When the result is
// not Ok, errno says why: the open's or the read's error, EISDIR for a folder, ESPIPE for any
// other file that is not regular, EFBIG for one over the limit.
[[nodiscard]] InputFileStatus ReadInputFile(const std::string& path, std::size_t maxBytes,
                                            std::string* bytes, struct stat* info = nullptr);
[[nodiscard]] InputFileStatus ReadInputFile(const std::string& path, std::size_t maxBytes,
                                            std::vector<std::uint8_t>* bytes,
                                            struct stat* info = nullptr);

// The reason in words, for a message: "not a regular file", "larger than 1048576 bytes", or
// the system's text of `error`.
std::string DescribeInputFailure(InputFileStatus status, int error, std::size_t maxBytes = 0);

// What a path that is not a regular file is, in words ("a named pipe", "a folder" ...).
std::string DescribeFileType(mode_t mode);

} // namespace kelo
