// Records and codes of the service control manager, shared by the side that
// controls services and the side that runs one.
//
// The records without the codes, for the Windows backend beside windows.h;
// platform/service_types.h adds the codes under their Windows names.
#pragma once

#include <cstdint>

namespace kairovel::platform {

// The status of a service, as QueryServiceStatus gives it and SetServiceStatus reports it.
struct SERVICE_STATUS {
    std::uint32_t dwServiceType = 0;
    std::uint32_t dwCurrentState = 0;
    std::uint32_t dwControlsAccepted = 0;
    std::uint32_t dwWin32ExitCode = 0;
    std::uint32_t dwServiceSpecificExitCode = 0;
    std::uint32_t dwCheckPoint = 0;
    std::uint32_t dwWaitHint = 0;
};

}  // namespace kairovel::platform
