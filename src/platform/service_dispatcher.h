// The service side of the service control manager: the dispatcher.
//
// A service process hands the control manager its table of services with
// StartServiceCtrlDispatcherW; the call connects to the control manager, runs
// each service's main function on a thread of its own when the service is
// started, and returns only after every service of the table has stopped.
// When the process was not started by the control manager there is nobody to
// connect to, and the call fails at once with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT (1063).
#pragma once

#include <cstdint>

#include "platform/facility.h"

namespace kairovel::platform {

// A service's main function: the start parameters, the service name first.
using LPSERVICE_MAIN_FUNCTIONW = void (*)(std::uint32_t argumentCount, wchar_t** arguments);

// One entry of the service table; the table ends with an entry of two nulls.
struct SERVICE_TABLE_ENTRYW {
    const wchar_t* lpServiceName = nullptr;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc = nullptr;
};

class ServiceDispatcherFacility {
public:
    virtual ~ServiceDispatcherFacility() = default;

    // Blocks until the services of the table have stopped; false with the last
    // error set when the control manager cannot be reached.
    virtual bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceTable) = 0;
};

template <>
ServiceDispatcherFacility& DefaultFacility<ServiceDispatcherFacility>();

inline ServiceDispatcherFacility& ServiceDispatcher() { return Facility<ServiceDispatcherFacility>::Get(); }

}  // namespace kairovel::platform
