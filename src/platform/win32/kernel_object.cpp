// Kernel-object handles are the system's own: CloseHandle is the system's.
#include <windows.h>

#include "platform/interface/kernel_object.h"

namespace kairovel::platform {

bool CloseHandle(HANDLE handle) { return ::CloseHandle(handle) != FALSE; }

}  // namespace kairovel::platform
