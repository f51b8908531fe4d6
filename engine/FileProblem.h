// Why a file of the studio (a photo, a recording) could not be written, from the system's error
// number, and how the studio says it. Shared by the photo writer and the recording writers so
// that a full disk reads the same in both.
#pragma once

#include <string>

namespace kelo {

enum class FileProblem {
    None,
    FolderMissing, // ENOENT, ENOTDIR: the folder is not there (any more)
    DiskFull,      // ENOSPC, EDQUOT, EFBIG
    NoPermission,  // EACCES, EPERM, EROFS
    Other,
};

FileProblem ClassifyFileError(int systemError);

// The studio's words for the problem: "磁盘空间不足", "文件夹不存在", "没有写入权限"; for Other
// the system's own text of the error number.
std::string FileProblemText(FileProblem problem, int systemError);

} // namespace kelo
