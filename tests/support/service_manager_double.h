// Bases for test doubles of the service manager and dispatcher facilities:
// every call fails with ERROR_CALL_NOT_IMPLEMENTED unless the double overrides it.
#pragma once

#include "platform/last_error.h"
#include "platform/service_dispatcher.h"
#include "platform/service_manager.h"
#include "platform/win_types.h"

namespace kairovel::testing {

class ServiceManagerDouble : public platform::ServiceManagerFacility {
public:
    platform::SC_HANDLE OpenSCManagerW(const wchar_t*, const wchar_t*, std::uint32_t) override { return NoHandle(); }
    platform::SC_HANDLE CreateServiceW(platform::SC_HANDLE, const wchar_t*, const wchar_t*, std::uint32_t,
                                       std::uint32_t, std::uint32_t, std::uint32_t, const wchar_t*, const wchar_t*,
                                       std::uint32_t*, const wchar_t*, const wchar_t*, const wchar_t*) override {
        return NoHandle();
    }
    platform::SC_HANDLE OpenServiceW(platform::SC_HANDLE, const wchar_t*, std::uint32_t) override { return NoHandle(); }
    bool StartServiceW(platform::SC_HANDLE, std::uint32_t, const wchar_t**) override { return No(); }
    bool ControlService(platform::SC_HANDLE, std::uint32_t, platform::SERVICE_STATUS&) override { return No(); }
    bool QueryServiceStatus(platform::SC_HANDLE, platform::SERVICE_STATUS&) override { return No(); }
    bool QueryServiceConfigW(platform::SC_HANDLE, platform::QUERY_SERVICE_CONFIGW&) override { return No(); }
    bool DeleteService(platform::SC_HANDLE) override { return No(); }
    bool CloseServiceHandle(platform::SC_HANDLE) override { return No(); }

protected:
    static bool No() {
        platform::SetLastError(platform::ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    static platform::SC_HANDLE NoHandle() {
        No();
        return platform::SC_HANDLE{};
    }
};

class ServiceDispatcherDouble : public platform::ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const platform::SERVICE_TABLE_ENTRYW*) override {
        platform::SetLastError(platform::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return false;
    }
    platform::SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t*, platform::LPHANDLER_FUNCTION) override {
        platform::SetLastError(platform::ERROR_SERVICE_DOES_NOT_EXIST);
        return platform::SERVICE_STATUS_HANDLE{};
    }
    bool SetServiceStatus(platform::SERVICE_STATUS_HANDLE, const platform::SERVICE_STATUS&) override {
        platform::SetLastError(platform::ERROR_INVALID_HANDLE);
        return false;
    }
};

}  // namespace kairovel::testing
