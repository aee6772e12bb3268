// The service control manager, seen from a program that controls services.
//
// Handles and calls keep the Windows meanings: a call that fails returns a
// null handle or false and leaves the Windows error code in the thread's last
// error (ERROR_SERVICE_DOES_NOT_EXIST for a service the manager does not
// know, ERROR_ACCESS_DENIED for rights the caller does not have). The side
// that runs as a service talks to the manager through service_dispatcher.h;
// the records both sides share are in service_types.h.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/service_manager.h adds them under their Windows names.
#pragma once

#include <cstdint>
#include <string>

#include "platform/facility.h"
#include "platform/handle.h"
#include "platform/interface/service_types.h"

namespace kairovel::platform {

struct ServiceHandleKind;
using SC_HANDLE = Handle<ServiceHandleKind>;
struct ServiceLockKind;
using SC_LOCK = Handle<ServiceLockKind>;

// The configuration of an entry, as QueryServiceConfigW gives it (the stand-in
// fills owned strings instead of a caller's buffer).
struct QUERY_SERVICE_CONFIGW {
    std::uint32_t dwServiceType = 0;
    std::uint32_t dwStartType = 0;
    std::uint32_t dwErrorControl = 0;
    std::wstring lpBinaryPathName;
    std::wstring lpLoadOrderGroup;
    std::uint32_t dwTagId = 0;
    std::wstring lpDependencies;
    std::wstring lpServiceStartName;
    std::wstring lpDisplayName;
};

class ServiceManagerFacility {
public:
    virtual ~ServiceManagerFacility() = default;

    // Connects to the manager of machine (null: this machine) and its
    // database (null: the active one). Rights beyond connecting, enumerating
    // and querying need an administrator.
    virtual SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) = 0;
    // Creates a service entry (needs SC_MANAGER_CREATE_SERVICE): ERROR_SERVICE_EXISTS
    // when there is one of that name, ERROR_SERVICE_MARKED_FOR_DELETE while one
    // of that name waits for its deletion. binaryPathName is the path of the
    // service's executable, which may hold blanks; Windows reads the entry's
    // image path as a command line, so the Windows backend stores it in
    // quotation marks (and QueryServiceConfigW gives the path back without
    // them), lest "C:\Program Files\..." start C:\Program.exe. The stand-in
    // knows no load-order groups, tags, dependencies or accounts: they must be
    // null (the local system).
    virtual SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName,
                                     std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                                     std::uint32_t errorControl, const wchar_t* binaryPathName,
                                     const wchar_t* loadOrderGroup, std::uint32_t* tagId,
                                     const wchar_t* dependencies, const wchar_t* serviceStartName,
                                     const wchar_t* password) = 0;
    // Opens the service of that name (compared without regard to case).
    virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, std::uint32_t access) = 0;
    // Starts the service's executable with the arguments (the service's main
    // function gets them after its name) and returns once the process has
    // connected its dispatcher; ERROR_SERVICE_REQUEST_TIMEOUT when it has not
    // within the start time-out, ERROR_SERVICE_ALREADY_RUNNING when it runs.
    virtual bool StartServiceW(SC_HANDLE service, std::uint32_t argumentCount, const wchar_t** arguments) = 0;
    // Sends a control and gives the status the service last reported.
    virtual bool ControlService(SC_HANDLE service, std::uint32_t control, SERVICE_STATUS& status) = 0;
    // The service's current status; needs SERVICE_QUERY_STATUS.
    virtual bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status) = 0;
    // The entry's configuration; needs SERVICE_QUERY_CONFIG.
    virtual bool QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW& config) = 0;
    // Marks the entry for deletion; it goes once the service has stopped and
    // every handle to it is closed.
    virtual bool DeleteService(SC_HANDLE service) = 0;
    // Closes a manager or a service handle.
    virtual bool CloseServiceHandle(SC_HANDLE handle) = 0;
    // Takes the lock of the manager's database, which one process holds at a
    // time, so that a change of several steps (an installation) is not mixed
    // with another's; needs SC_MANAGER_LOCK. Null with
    // ERROR_SERVICE_DATABASE_LOCKED while another process holds it.
    virtual SC_LOCK LockServiceDatabase(SC_HANDLE manager) = 0;
    virtual bool UnlockServiceDatabase(SC_LOCK lock) = 0;
};

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>();

inline ServiceManagerFacility& ServiceManager() { return Facility<ServiceManagerFacility>::Get(); }

// Closes a manager or service handle when it goes out of scope.
class ScopedServiceHandle {
public:
    explicit ScopedServiceHandle(SC_HANDLE handle = SC_HANDLE{}) : handle_(handle) {}
    ~ScopedServiceHandle() { Close(); }
    ScopedServiceHandle(const ScopedServiceHandle&) = delete;
    ScopedServiceHandle& operator=(const ScopedServiceHandle&) = delete;

    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return static_cast<bool>(handle_); }
    void Close() { Reset(SC_HANDLE{}); }
    // Closes what it holds and takes handle instead.
    void Reset(SC_HANDLE handle) {
        if (handle_) ServiceManager().CloseServiceHandle(handle_);
        handle_ = handle;
    }

private:
    SC_HANDLE handle_;
};

}  // namespace kairovel::platform
