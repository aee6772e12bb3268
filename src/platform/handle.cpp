#include "platform/handle.h"

namespace kairovel::platform {

bool CloseHandle(HANDLE handle) {
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete handle;
    return true;
}

}  // namespace kairovel::platform
