// The service control manager stand-in, the side that controls services.
//
// There is no manager process: the entries are in the registry (see
// service_entries.h) and each service's run-time state in its folder (see
// service_files.h), so any process may call the manager, and what it does
// outlives the caller. A started service runs on its own, detached; its
// dispatcher takes controls on a socket only root may reach.
#pragma once

#include <chrono>
#include <memory>

#include "platform/posix/handle_table.h"
#include "platform/service_manager.h"

namespace kairovel::platform::scm {

struct ManagerTimeouts {
    // How long StartServiceW waits for the started process's dispatcher, and
    // ControlService for the service's handler, as Windows waits.
    std::chrono::milliseconds start{30'000};
    std::chrono::milliseconds control{30'000};
};

class StandInServiceManager final : public ServiceManagerFacility {
public:
    explicit StandInServiceManager(ManagerTimeouts timeouts = {});
    ~StandInServiceManager() override;

    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) override;
    SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName,
                             std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                             std::uint32_t errorControl, const wchar_t* binaryPathName, const wchar_t* loadOrderGroup,
                             std::uint32_t* tagId, const wchar_t* dependencies, const wchar_t* serviceStartName,
                             const wchar_t* password) override;
    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, std::uint32_t access) override;
    bool StartServiceW(SC_HANDLE service, std::uint32_t argumentCount, const wchar_t** arguments) override;
    bool ControlService(SC_HANDLE service, std::uint32_t control, SERVICE_STATUS& status) override;
    bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status) override;
    bool QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW& config) override;
    bool DeleteService(SC_HANDLE service) override;
    bool CloseServiceHandle(SC_HANDLE handle) override;

    // The shut-down control, which no program may send through
    // ControlService: the system sends it to the running services that accept
    // it when the machine stops. Needs root and a handle with SERVICE_QUERY_STATUS.
    bool SendShutdown(SC_HANDLE service, SERVICE_STATUS& status);

    struct OpenObject;

private:
    // Sends a control to the service's dispatcher, once the service's state allows it.
    bool Deliver(const OpenObject& service, std::uint32_t control, SERVICE_STATUS& status);
    std::shared_ptr<OpenObject> FindService(SC_HANDLE handle, std::uint32_t neededAccess);
    SC_HANDLE OpenHandle(std::wstring_view name, std::uint32_t access);

    ManagerTimeouts timeouts_;
    HandleTable<OpenObject> handles_;
};

}  // namespace kairovel::platform::scm
