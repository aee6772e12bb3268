#include "platform/posix/errors.h"

#include <cerrno>

#include "platform/win_types.h"

namespace kairovel::platform {

std::uint32_t WindowsErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EPERM:
            return ERROR_PRIVILEGE_NOT_HELD;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_HANDLE_DISK_FULL;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EINVAL:
        case ERANGE:
            return ERROR_INVALID_PARAMETER;
        case EBUSY:
        case EAGAIN:
            return ERROR_BUSY;
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EIO:  // reading or writing alike
            return ERROR_IO_DEVICE;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

}  // namespace kairovel::platform
