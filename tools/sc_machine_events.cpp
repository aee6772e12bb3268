// kairovel-sc boot and shutdown: the machine's start and end, which the
// Linux service manager stand-in has no machine of its own for. On Windows the
// machine starts and stops its services itself, so these are Linux's only.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/service_manager/service_files.h"
#include "platform/posix/service_manager/stand_in_manager.h"
#include "platform/service_manager.h"
#include "sc_commands.h"

namespace kairovel::sc {
namespace {

using namespace platform;

// How long shutdown waits for the services to stop, as Windows waits for its
// services at power-off before it ends their processes.
constexpr std::chrono::seconds kShutdownWait{20};
constexpr std::chrono::milliseconds kStopPoll{100};

// Every service the stand-in has a folder for, opened with the access asked for; those that cannot be are left out.
struct OpenedService {
    std::wstring name;
    std::shared_ptr<ScopedServiceHandle> handle;
};

std::vector<OpenedService> OpenAll(SC_HANDLE manager, std::uint32_t access) {
    std::vector<OpenedService> services;
    for (const std::wstring& name : scm::ServiceFolderNames()) {
        auto handle = std::make_shared<ScopedServiceHandle>(ServiceManager().OpenServiceW(manager, name.c_str(), access));
        if (*handle) services.push_back({name, std::move(handle)});  // a folder whose entry has gone
    }
    return services;
}

std::wstring DisplayName(SC_HANDLE service, const std::wstring& fallback) {
    QUERY_SERVICE_CONFIGW config;
    return ServiceManager().QueryServiceConfigW(service, config) ? config.lpDisplayName : fallback;
}

// The machine's start: every automatic service that is not running is started.
int Boot(SC_HANDLE manager) {
    int result = 0;
    for (const OpenedService& service : OpenAll(manager, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START)) {
        QUERY_SERVICE_CONFIGW config;
        SERVICE_STATUS status;
        if (!ServiceManager().QueryServiceConfigW(service.handle->get(), config)) {
            result = Failed(L"QueryServiceConfig");
            continue;
        }
        if (config.dwStartType != SERVICE_AUTO_START) continue;
        if (!ServiceManager().QueryServiceStatus(service.handle->get(), status)) {
            result = Failed(L"QueryServiceStatus");
            continue;
        }
        if (status.dwCurrentState != SERVICE_STOPPED) {
            Print(L"[SC] boot: " + config.lpDisplayName + L" runs already\n");
            continue;
        }
        if (!ServiceManager().StartServiceW(service.handle->get(), 0, nullptr)) {
            Print(L"[SC] boot: " + config.lpDisplayName + L"\n");
            result = Failed(L"StartService");
            continue;
        }
        Print(L"[SC] boot: started " + config.lpDisplayName + L"\n");
    }
    return result;
}

bool HasStopped(SC_HANDLE service) {
    SERVICE_STATUS status;
    return ServiceManager().QueryServiceStatus(service, status) && status.dwCurrentState == SERVICE_STOPPED;
}

// The machine's end: the running services that accept it are sent the
// shut-down control, and are waited for until they have stopped.
int Shutdown(SC_HANDLE manager) {
    auto* standIn = dynamic_cast<scm::StandInServiceManager*>(&ServiceManager());
    if (standIn == nullptr) return Failed(L"ControlService");  // another manager has its own shut-down
    int result = 0;
    std::vector<OpenedService> notified;
    for (OpenedService& service : OpenAll(manager, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status;
        if (!ServiceManager().QueryServiceStatus(service.handle->get(), status)) {
            result = Failed(L"QueryServiceStatus");
            continue;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) continue;
        const std::wstring name = DisplayName(service.handle->get(), service.name);
        if ((status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) == 0) {
            Print(L"[SC] shutdown: " + name + L" does not accept the shut-down control\n");
            continue;
        }
        if (!standIn->SendShutdown(service.handle->get(), status)) {
            if (GetLastError() == ERROR_SERVICE_NOT_ACTIVE) continue;  // it stopped meanwhile
            result = Failed(L"ControlService");
            continue;
        }
        Print(L"[SC] shutdown: sent to " + name + L"\n");
        notified.push_back(std::move(service));
    }
    const auto deadline = std::chrono::steady_clock::now() + kShutdownWait;
    for (const OpenedService& service : notified) {
        while (!HasStopped(service.handle->get()) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kStopPoll);
        }
        const std::wstring name = DisplayName(service.handle->get(), service.name);
        if (HasStopped(service.handle->get())) {
            Print(L"[SC] shutdown: " + name + L" stopped\n");
        } else {
            Print(L"[SC] shutdown: " + name + L" did not stop in time\n");
            result = static_cast<int>(ERROR_SERVICE_REQUEST_TIMEOUT);
        }
    }
    return result;
}

}  // namespace

bool IsMachineEvent(std::string_view word) { return word == "boot" || word == "shutdown"; }

int RunMachineEvent(std::string_view word, SC_HANDLE manager) {
    return word == "boot" ? Boot(manager) : Shutdown(manager);
}

}  // namespace kairovel::sc
