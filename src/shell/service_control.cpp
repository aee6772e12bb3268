#include "shell/service_control.h"

#include <string>

#include "config/configuration.h"
#include "config/registry_store.h"
#include "config/text_case.h"
#include "log/logger.h"
#include "log/program_identity.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/service_manager.h"
#include "shell/program.h"
#include "shell/service_status.h"

namespace kairovel {
namespace {

constexpr int kInterrogations = 5;
constexpr std::uint32_t kInterrogationPauseMilliseconds = 2000;  // milliseconds
// How long an installation or a removal waits for another to end: a minute.
constexpr int kLockAttempts = 300;
constexpr std::uint32_t kLockPauseMilliseconds = 200;  // milliseconds

[[noreturn]] void RaiseManagerError(const wchar_t* call) {
    RaiseError(L"%s failed (0x%02x)", call, platform::GetLastError());
}

// Waits for the service to leave its pending states: an interrogation that
// goes through, or that finds the service not running, ends the wait; after
// the fifth that does neither it ends anyway.
void WaitWhilePending(platform::SC_HANDLE service) {
    for (int attempt = 0; attempt < kInterrogations; ++attempt) {
        platform::SERVICE_STATUS status;
        if (platform::ServiceManager().ControlService(service, platform::SERVICE_CONTROL_INTERROGATE, status) ||
            platform::GetLastError() == platform::ERROR_SERVICE_NOT_ACTIVE) {
            return;
        }
        platform::Clock().Sleep(kInterrogationPauseMilliseconds);
    }
}

// Whether the service is in any state but stopped, with that state's text;
// false when there is no such service or it cannot be asked.
bool ServiceStillRuns(std::wstring& state) {
    try {
        state = ServiceStatusText();
    } catch (const std::wstring&) {
        return false;
    }
    return state != ServiceStateText(platform::SERVICE_STOPPED);
}

// 0 when the control manager opens with all access, else its error code:
// the caller may not change services, or there is no manager to ask.
std::uint32_t ManagerOpenError() {
    const platform::ScopedServiceHandle manager(
        platform::ServiceManager().OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS));
    return manager ? 0 : platform::GetLastError();
}

// Own process, interactive when the service logs to the console.
std::uint32_t ServiceType() {
    const bool console = EqualsIgnoringCase(TheConfiguration().LogDevice, L"Console");
    return platform::SERVICE_WIN32_OWN_PROCESS | (console ? platform::SERVICE_INTERACTIVE_PROCESS : 0);
}

}  // namespace

void ManageService(std::uint32_t flags, bool* created) {
    if (created != nullptr) *created = false;
    platform::ServiceManagerFacility& manager = platform::ServiceManager();
    const std::wstring name(ServiceName);
    // Its failure shows as the failure of the next call.
    const platform::ScopedServiceHandle control(manager.OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS));
    platform::ScopedServiceHandle service;
    const auto openService = [&] {
        service.Reset(manager.OpenServiceW(control.get(), name.c_str(), platform::SERVICE_ALL_ACCESS));
        if (!service) RaiseManagerError(L"OpenService");
    };

    if ((flags & (ScmStop | ScmDelete)) != 0) {
        openService();
        platform::SERVICE_STATUS status;
        if ((flags & ScmStop) != 0 &&
            !manager.ControlService(service.get(), platform::SERVICE_CONTROL_STOP, status) &&
            platform::GetLastError() != platform::ERROR_SERVICE_NOT_ACTIVE) {
            RaiseManagerError(L"ControlService");
        }
        WaitWhilePending(service.get());
        if ((flags & ScmDelete) != 0 && !manager.DeleteService(service.get())) RaiseManagerError(L"DeleteService");
    }
    if ((flags & ScmCreate) != 0) {
        service.Reset(manager.CreateServiceW(control.get(), name.c_str(), name.c_str(), platform::SERVICE_ALL_ACCESS,
                                             ServiceType(), platform::SERVICE_AUTO_START,
                                             platform::SERVICE_ERROR_NORMAL, ProgramPath().c_str(), nullptr, nullptr,
                                             nullptr, nullptr, nullptr));
        if (!service) RaiseManagerError(L"CreateService");
        if (created != nullptr) *created = true;
    }
    if ((flags & ScmStart) != 0) {
        if (!service) openService();
        if (!manager.StartServiceW(service.get(), 0, nullptr)) RaiseManagerError(L"StartService");
    }
}

void RemoveInstallation(std::uint32_t flags) {
    bool managed = false;
    LoggingErrors([&] {
        ManageService(flags);
        managed = true;
    });
    const wchar_t* what = (flags & ScmDelete) != 0 ? L"removed" : L"reinstalled";
    // A manager that cannot be opened said nothing of the service: what it
    // runs with stays, and the caller learns that nothing was done.
    if (!managed) {
        if (const std::uint32_t error = ManagerOpenError(); error != 0) {
            RaiseError(L"Service not %s: OpenSCManager failed (0x%02x)", what, error);
        }
    }
    std::wstring state;
    if (!managed && ServiceStillRuns(state)) RaiseError(L"Service not %s: %s", what, state);
    LoggingErrors([] { SetInstalled(0); });
    LoggingErrors([] { DeleteParameters(); });
}

ServiceDatabaseLock::ServiceDatabaseLock()
    : manager_(platform::ServiceManager().OpenSCManagerW(nullptr, nullptr, platform::SC_MANAGER_ALL_ACCESS)) {
    for (int attempt = 0;; ++attempt) {
        lock_ = platform::ServiceManager().LockServiceDatabase(manager_);
        if (lock_ || platform::GetLastError() != platform::ERROR_SERVICE_DATABASE_LOCKED) return;
        if (attempt == kLockAttempts) {
            const std::uint32_t error = platform::GetLastError();
            if (manager_) platform::ServiceManager().CloseServiceHandle(manager_);
            RaiseError(L"LockServiceDatabase failed (0x%02x)", error);
        }
        platform::Clock().Sleep(kLockPauseMilliseconds);
    }
}

ServiceDatabaseLock::~ServiceDatabaseLock() {
    if (lock_) platform::ServiceManager().UnlockServiceDatabase(lock_);
    if (manager_) platform::ServiceManager().CloseServiceHandle(manager_);
}

}  // namespace kairovel
