// The service side of the service control manager: the dispatcher.
//
// A service process hands the control manager its table of services with
// StartServiceCtrlDispatcherW; the call connects to the control manager, runs
// the started service's main function on a thread of its own, delivers the
// controls sent to the service to its handler on the calling thread, one at a
// time, and returns only after every service of the table has reported
// SERVICE_STOPPED. When the process was not started by the control manager
// there is nobody to connect to, and the call fails at once with
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT (1063).
//
// The Windows backend includes this one beside windows.h; platform/service_dispatcher.h is
// the same facility with the codes it fails with.
#pragma once

#include <cstdint>
#include <string>

#include "platform/facility.h"
#include "platform/handle.h"
#include "platform/interface/service_types.h"

namespace kairovel::platform {

// The program's own types of the functions the control manager calls; the
// system calls VOID WINAPI functions of DWORD and LPWSTR* (and a DWORD WINAPI
// extended handler), so the Windows backend gives it trampolines of those
// types, which call these.
// A service's main function: the start parameters, the service name first.
using LPSERVICE_MAIN_FUNCTIONW = void (*)(std::uint32_t argumentCount, wchar_t** arguments);
// A service's control handler, with the control code.
using LPHANDLER_FUNCTION = void (*)(std::uint32_t control);

struct ServiceStatusHandleKind;
using SERVICE_STATUS_HANDLE = Handle<ServiceStatusHandleKind>;

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
    // Registers the handler of a service of the running table and returns the
    // handle its status reports go with; null (ERROR_SERVICE_DOES_NOT_EXIST)
    // for a service the dispatcher does not run.
    virtual SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* serviceName,
                                                              LPHANDLER_FUNCTION handler) = 0;
    // Reports the service's status to the control manager: ERROR_INVALID_HANDLE
    // for a handle that is not registered, ERROR_INVALID_DATA for a state or
    // type that is none.
    virtual bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) = 0;
    // Not a Windows call: one line saying what the service last did (its
    // last pass), which a control manager may show beside the state, as
    // systemd shows a unit's status text. Windows has no such line (the event
    // log tells it there), so by default this does nothing.
    virtual bool ReportServiceActivity(SERVICE_STATUS_HANDLE handle, const std::wstring& activity) {
        (void)handle;
        (void)activity;
        return true;
    }
};

template <>
ServiceDispatcherFacility& DefaultFacility<ServiceDispatcherFacility>();

inline ServiceDispatcherFacility& ServiceDispatcher() { return Facility<ServiceDispatcherFacility>::Get(); }

}  // namespace kairovel::platform
