// The service control manager, seen from a program that controls services.
//
// Handles and calls keep the Windows meanings: a call that fails returns a
// null handle or false and leaves the Windows error code in the thread's last
// error (ERROR_SERVICE_DOES_NOT_EXIST for a service the manager does not
// know). The side that runs as a service talks to the manager through
// service_dispatcher.h; the records both sides share are in service_types.h.
#pragma once

#include <cstdint>

#include "platform/facility.h"
#include "platform/handle.h"
#include "platform/service_types.h"

namespace kairovel::platform {

struct ServiceHandleKind;
using SC_HANDLE = Handle<ServiceHandleKind>;

// Access rights to the manager.
inline constexpr std::uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr std::uint32_t SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;

// Access rights to a service.
inline constexpr std::uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr std::uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr std::uint32_t SERVICE_START = 0x0010;
inline constexpr std::uint32_t SERVICE_STOP = 0x0020;
inline constexpr std::uint32_t SERVICE_INTERROGATE = 0x0080;
inline constexpr std::uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

class ServiceManagerFacility {
public:
    virtual ~ServiceManagerFacility() = default;

    // Connects to the manager of machine (null: this machine) and its
    // database (null: the active one).
    virtual SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) = 0;
    // Opens the service of that name (compared without regard to case).
    virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, std::uint32_t access) = 0;
    // The service's current status; needs SERVICE_QUERY_STATUS.
    virtual bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status) = 0;
    // Closes a manager or a service handle.
    virtual bool CloseServiceHandle(SC_HANDLE handle) = 0;
};

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>();

inline ServiceManagerFacility& ServiceManager() { return Facility<ServiceManagerFacility>::Get(); }

// Closes a manager or service handle when it goes out of scope.
class ScopedServiceHandle {
public:
    explicit ScopedServiceHandle(SC_HANDLE handle = SC_HANDLE{}) : handle_(handle) {}
    ~ScopedServiceHandle() {
        if (handle_) ServiceManager().CloseServiceHandle(handle_);
    }
    ScopedServiceHandle(const ScopedServiceHandle&) = delete;
    ScopedServiceHandle& operator=(const ScopedServiceHandle&) = delete;

    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return static_cast<bool>(handle_); }

private:
    SC_HANDLE handle_;
};

}  // namespace kairovel::platform
