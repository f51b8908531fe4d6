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

// The reason a recording stopped, as the window shows it after "录制失败：": the problem and the
// folder ("磁盘空间不足（/home/ann/Videos）"), or empty when `errorText` (a writer's error from
// the graph) is not a file problem at all.
std::string RecordingFileProblemText(const std::string& errorText, const std::string& folder);

} // namespace kelo
