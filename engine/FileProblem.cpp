#include "engine/FileProblem.h"

#include <cerrno>
#include <cstring>

namespace kelo {

FileProblem ClassifyFileError(int systemError) {
    switch (systemError) {
    case 0:
        return FileProblem::None;
    case ENOENT:
    case ENOTDIR:
        return FileProblem::FolderMissing;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FileProblem::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return FileProblem::NoPermission;
    default:
        return FileProblem::Other;
    }
}

std::string FileProblemText(FileProblem problem, int systemError) {
    switch (problem) {
    case FileProblem::None:
        return {};
    case FileProblem::FolderMissing:
        return "文件夹不存在";
    case FileProblem::DiskFull:
        return "磁盘空间不足";
    case FileProblem::NoPermission:
        return "没有写入权限";
    case FileProblem::Other:
        break;
    }
    char buffer[128] = {};
    // The GNU strerror_r returns the text, which need not be in the buffer.
    return strerror_r(systemError, buffer, sizeof buffer);
}

} // namespace kelo
