#include "shell/service_life.h"

#include <atomic>
#include <mutex>
#include <string>

#include "clock/local_clock.h"
#include "config/argument_drivers.h"
#include "config/configuration.h"
#include "config/registry_store.h"
#include "config/text_case.h"
#include "log/logger.h"
#include "log/program_identity.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/console_control.h"
#include "platform/kernel_object.h"
#include "platform/last_error.h"
#include "platform/service_controls.h"
#include "platform/service_dispatcher.h"
#include "platform/threads.h"
#include "shell/console_ctrl_handler.h"
#include "shell/select_logger.h"
#include "sync/scheduler.h"

namespace kairovel {
namespace {

constexpr std::uint32_t kPendingWaitHintMilliseconds = 3000;
// Accepted in every state but the start: every control of the table.
constexpr std::uint32_t kControlsAccepted = platform::AllAcceptedControls();

// The status record, reused for every report, with the checkpoint counter
// (never reset) and where the reports go. ServiceMain and the control handler
// both report; one report at a time, so that none mixes the other's fields.
std::mutex ReportMutex;
platform::SERVICE_STATUS ServiceStatus;
std::uint32_t CheckPointCounter = 0;
platform::SERVICE_STATUS_HANDLE StatusHandle;

// Set to end the service; made by ServiceMain, set from any thread.
std::atomic<platform::HANDLE> StopEvent{nullptr};
// The scheduler thread, which pause and continue suspend and resume.
std::atomic<platform::HANDLE> SchedulerHandle{nullptr};

void SetStopEvent() {
    if (const platform::HANDLE event = StopEvent.load()) platform::Threads().SetEvent(event);
}

// Fills the record and sends it; the caller holds ReportMutex.
void ReportLocked(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHint) {
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwControlsAccepted = state == platform::SERVICE_START_PENDING ? 0 : kControlsAccepted;
    ServiceStatus.dwWin32ExitCode = exitCode;
    ServiceStatus.dwCheckPoint = CheckPointCounter++;
    ServiceStatus.dwWaitHint = waitHint;
    // A report the control manager does not take ends the service.
    if (!platform::ServiceDispatcher().SetServiceStatus(StatusHandle, ServiceStatus)) {
        StopServiceWithError(L"Error from SetServiceStatus");
    }
}

void ReportServiceStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHint) {
    const std::lock_guard<std::mutex> lock(ReportMutex);
    ReportLocked(state, exitCode, waitHint);
}

// Runs on the dispatcher's thread, one control at a time. The check of the
// current state and the report that follows it are one step, so a report of
// ServiceMain cannot come between them.
void ServiceControlHandler(std::uint32_t control) {
    platform::ThreadsFacility& threads = platform::Threads();
    std::unique_lock<std::mutex> lock(ReportMutex);
    const std::uint32_t current = ServiceStatus.dwCurrentState;
    const platform::ServiceControl* entry = platform::FindServiceControl(control);
    switch (entry != nullptr ? entry->action : platform::ControlAction::Report) {
        case platform::ControlAction::Stop:
            ReportLocked(platform::SERVICE_STOP_PENDING, 0, kPendingWaitHintMilliseconds);
            lock.unlock();
            SetStopEvent();
            break;
        case platform::ControlAction::ShutDown:
            lock.unlock();
            SetStopEvent();
            break;
        case platform::ControlAction::Pause:
            // SuspendThread returns once the scheduler is held in a sleep or
            // a wait: from the report on, no pass starts.
            if (current == platform::SERVICE_RUNNING) threads.SuspendThread(SchedulerHandle.load());
            ReportLocked(current == platform::SERVICE_RUNNING ? platform::SERVICE_PAUSED : current, 0, 0);
            break;
        case platform::ControlAction::Continue:
            if (current == platform::SERVICE_PAUSED) threads.ResumeThread(SchedulerHandle.load());
            ReportLocked(platform::SERVICE_RUNNING, 0, 0);
            break;
        case platform::ControlAction::Report:  // interrogation, and anything else
            ReportLocked(current, 0, 0);
            break;
    }
}

// The Linux process's own end (SIGTERM, the stand-in for the system shutting
// the process down): the service stops as on the shut-down control, with the
// adjustment restored and the stop reported. Before the stop event exists
// nothing has changed the clock, and the process ends as it would have.
bool ServiceShutdownHandler(std::uint32_t) {
    if (StopEvent.load() != nullptr) {
        SetStopEvent();
        return true;
    }
    return false;
}

// Puts back the adjustment of start-up for good; a failure is logged and
// stands in the way of nothing else on the way out.
void RestoreAdjustmentForExit() {
    try {
        TheLocalClock().RestoreForExit();
    } catch (const std::wstring& message) {
        Log(CurrentLogger(), LevelError, L"%s", message);
    }
}

// A console of the service's own, with the console control handler, when it logs to the console.
void OpenConsoleIfConfigured() {
    if (!EqualsIgnoringCase(TheConfiguration().LogDevice, L"Console")) return;
    platform::Console().AllocConsole();
    platform::ConsoleControl().SetConsoleCtrlHandler(ConsoleCtrlHandler, true);
}

// Tells the control manager what the last pass did and when, for a status
// line beside the state (systemd's status text; nothing on Windows).
void ReportPassOutcome(const std::wstring& logged) {
    platform::SYSTEMTIME now;
    platform::Clock().GetLocalTime(now);
    const std::wstring activity =
        Format(L"Last pass %04u-%02u-%02u %02u:%02u:%02u: %s", std::uint32_t{now.wYear}, std::uint32_t{now.wMonth},
               std::uint32_t{now.wDay}, std::uint32_t{now.wHour}, std::uint32_t{now.wMinute},
               std::uint32_t{now.wSecond}, logged);
    platform::ServiceDispatcher().ReportServiceActivity(StatusHandle, activity);
}

void StartScheduler(platform::HANDLE stopEvent) {
    const platform::HANDLE scheduler = platform::Threads().CreateThread([stopEvent] {
        SchedulerThread(stopEvent, ReportPassOutcome);
        return std::uint32_t{0};
    });
    if (scheduler == nullptr) RaiseError(L"Error from _beginthread");
    SchedulerHandle.store(scheduler);
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

void ServiceMain(std::uint32_t argumentCount, wchar_t** arguments) {
    platform::ConsoleControl().SetConsoleCtrlHandler(ServiceShutdownHandler, true);
    try {
        SelectLogger(L"EventLog");  // errors of the start reach the event log
        const std::wstring serviceName(ServiceName);
        StatusHandle = platform::ServiceDispatcher().RegisterServiceCtrlHandlerW(serviceName.c_str(),
                                                                                 ServiceControlHandler);
        if (!StatusHandle) RaiseError(L"Error from RegisterServiceCtrlHandler");
        {
            const std::lock_guard<std::mutex> lock(ReportMutex);
            ServiceStatus.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
            ServiceStatus.dwServiceSpecificExitCode = 0;
            ReportLocked(platform::SERVICE_START_PENDING, 0, kPendingWaitHintMilliseconds);
        }
        GetParametersFromRegistry();
        ParseStartParameters(argumentCount, arguments);
        SelectLogger(L"EventLog");  // now the configured device, if there is one
        OpenConsoleIfConfigured();

        const platform::HANDLE stopEvent = platform::Threads().CreateEventW(true, false, serviceName.c_str());
        if (stopEvent == nullptr) RaiseError(L"Error from CreateEvent");
        StopEvent.store(stopEvent);
        StartScheduler(stopEvent);
        ReportServiceStatus(platform::SERVICE_RUNNING, 0, 0);

        platform::Threads().WaitForSingleObject(stopEvent, platform::INFINITE);
        // The handle stays open: a late SetEvent of a worker finds an event, not a stale number.
        TheLocalClock().RestoreForExit();
        ReportServiceStatus(platform::SERVICE_STOPPED, 0, 0);
    } catch (const std::wstring& text) {
        const std::uint32_t error = platform::GetLastError();
        RestoreAdjustmentForExit();  // a start that failed half-way leaves no correction behind
        ReportServiceStatus(platform::SERVICE_STOPPED, error, 0);
        platform::SetLastError(error);  // the message carries the start's error, not the report's
        StopServiceWithError(text);
    }
}

}  // namespace kairovel
