#include "shell/service_life.h"

#include <mutex>
#include <string>

#include "log/logger.h"
#include "log/program_identity.h"
#include "platform/kernel_object.h"
#include "platform/last_error.h"
#include "platform/service_dispatcher.h"
#include "platform/threads.h"

namespace kairovel {
namespace {

constexpr std::uint32_t kPendingWaitHint = 3000;  // milliseconds
// Accepted in every state but the start: stop, pause and continue, shut-down.
constexpr std::uint32_t kControlsAccepted = platform::SERVICE_ACCEPT_STOP |
                                            platform::SERVICE_ACCEPT_PAUSE_CONTINUE |
                                            platform::SERVICE_ACCEPT_SHUTDOWN;

// The service's status as it last reported it, and where the reports go.
platform::SERVICE_STATUS ServiceStatus;
platform::SERVICE_STATUS_HANDLE StatusHandle;
std::uint32_t CheckPoint = 0;
// Set to end the service; created by ServiceMain.
platform::HANDLE StopEvent = nullptr;

void SetStopEvent() {
    if (StopEvent != nullptr) platform::Threads().SetEvent(StopEvent);
}

// The handler and ServiceMain may report at the same moment (an interrogation
// while the service starts): one report at a time, so none mixes the other's fields.
std::mutex ReportMutex;

void ReportServiceStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHint) {
    const std::lock_guard<std::mutex> lock(ReportMutex);
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwControlsAccepted = state == platform::SERVICE_START_PENDING ? 0 : kControlsAccepted;
    ServiceStatus.dwWin32ExitCode = exitCode;
    ServiceStatus.dwCheckPoint = CheckPoint++;
    ServiceStatus.dwWaitHint = waitHint;
    if (!platform::ServiceDispatcher().SetServiceStatus(StatusHandle, ServiceStatus)) {
        StopServiceWithError(L"Error from SetServiceStatus");
    }
}

std::uint32_t CurrentState() {
    const std::lock_guard<std::mutex> lock(ReportMutex);
    return ServiceStatus.dwCurrentState;
}

// Runs on the dispatcher's thread, one control at a time. Pause and continue
// report their states; what they suspend (the scheduler) is not in this build.
void ServiceControlHandler(std::uint32_t control) {
    switch (control) {
        case platform::SERVICE_CONTROL_STOP:
            ReportServiceStatus(platform::SERVICE_STOP_PENDING, 0, kPendingWaitHint);
            SetStopEvent();
            break;
        case platform::SERVICE_CONTROL_SHUTDOWN:
            SetStopEvent();
            break;
        case platform::SERVICE_CONTROL_PAUSE:
            ReportServiceStatus(CurrentState() == platform::SERVICE_RUNNING ? platform::SERVICE_PAUSED : CurrentState(),
                                0, 0);
            break;
        case platform::SERVICE_CONTROL_CONTINUE:
            ReportServiceStatus(platform::SERVICE_RUNNING, 0, 0);
            break;
        default:
            ReportServiceStatus(CurrentState(), 0, 0);
            break;
    }
}

}  // namespace

void StartDispatcher() {
    const std::wstring serviceName(ServiceName);
    const platform::SERVICE_TABLE_ENTRYW serviceTable[] = {
        {serviceName.c_str(), ServiceMain},
        {nullptr, nullptr},
    };
    if (!platform::ServiceDispatcher().StartServiceCtrlDispatcherW(serviceTable)) {
        StopServiceWithError(L"StartServiceCtrlDispatcher failed.");
    }
}

void StopServiceWithError(std::wstring_view text) {
    const std::uint32_t error = platform::GetLastError();  // first, before anything can change it
    Log(CurrentLogger(), LevelError, L"Service was stopped because %s. Error code was %d", text, error);
    SetStopEvent();
}

// The service's life under the control manager, as far as this build has it:
// it registers its handler, runs until it is told to stop, and stops. Loading
// its stored parameters, its log device and the scheduler are not in it yet.
void ServiceMain(std::uint32_t, wchar_t**) {
    try {
        StatusHandle = platform::ServiceDispatcher().RegisterServiceCtrlHandlerW(std::wstring(ServiceName).c_str(),
                                                                                 ServiceControlHandler);
        if (!StatusHandle) RaiseError(L"Error from RegisterServiceCtrlHandler");
        ServiceStatus.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
        ServiceStatus.dwServiceSpecificExitCode = 0;
        ReportServiceStatus(platform::SERVICE_START_PENDING, 0, kPendingWaitHint);
        StopEvent = platform::Threads().CreateEventW(true, false, std::wstring(ServiceName).c_str());
        if (StopEvent == nullptr) RaiseError(L"Error from CreateEvent");
        ReportServiceStatus(platform::SERVICE_RUNNING, 0, 0);
        platform::Threads().WaitForSingleObject(StopEvent, platform::INFINITE);
        ReportServiceStatus(platform::SERVICE_STOPPED, 0, 0);
    } catch (const std::wstring& text) {
        ReportServiceStatus(platform::SERVICE_STOPPED, platform::GetLastError(), 0);
        StopServiceWithError(text);
    }
}

}  // namespace kairovel
