// The service status record between the facility's type and the system's,
// for both sides of the control manager on Windows.
#pragma once

#include <windows.h>

#include "platform/interface/service_types.h"

namespace kairovel::platform {

inline ::SERVICE_STATUS NativeStatus(const SERVICE_STATUS& status) {
    return ::SERVICE_STATUS{status.dwServiceType,   status.dwCurrentState,          status.dwControlsAccepted,
                            status.dwWin32ExitCode, status.dwServiceSpecificExitCode, status.dwCheckPoint,
                            status.dwWaitHint};
}

inline SERVICE_STATUS StatusOf(const ::SERVICE_STATUS& status) {
    return SERVICE_STATUS{status.dwServiceType,   status.dwCurrentState,          status.dwControlsAccepted,
                          status.dwWin32ExitCode, status.dwServiceSpecificExitCode, status.dwCheckPoint,
                          status.dwWaitHint};
}

}  // namespace kairovel::platform
