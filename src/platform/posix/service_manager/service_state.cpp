#include "platform/posix/service_manager/service_state.h"

#include "platform/service_controls.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

// What a start that has not reported yet shows, as Windows shows a service
// whose dispatcher has not connected.
constexpr std::uint32_t kStartWaitHintMilliseconds = 2000;

}  // namespace

SERVICE_STATUS EffectiveStatus(const UnitState& unit, const std::optional<RunRecord>& record,
                               std::uint32_t entryType) {
    SERVICE_STATUS status;
    status.dwServiceType = entryType;
    // A unit waiting to be restarted after a crash is stopped until it starts again.
    const bool running = unit.IsActive() && unit.subState != "auto-restart";
    if (running) {
        const bool reported = record && unit.mainPid != 0 && record->pid == unit.mainPid;
        if (reported) status = record->status;
        // It has said it stopped, and its process is ending: stopping until systemd sees it gone.
        if (reported && status.dwCurrentState == SERVICE_STOPPED) {
            status.dwCurrentState = SERVICE_STOP_PENDING;
            status.dwControlsAccepted = 0;
        }
        if (!reported) {
            status.dwCurrentState = SERVICE_START_PENDING;
            status.dwWaitHint = kStartWaitHintMilliseconds;
        }
        // systemd is stopping it (a SIGTERM the service has not answered yet).
        if (unit.activeState == "deactivating" && status.dwCurrentState != SERVICE_STOPPED) {
            status.dwCurrentState = SERVICE_STOP_PENDING;
        }
        return status;
    }
    status.dwCurrentState = SERVICE_STOPPED;
    const bool lastRun = record && unit.execMainPid != 0 && record->pid == unit.execMainPid;
    if (lastRun && record->status.dwCurrentState == SERVICE_STOPPED) return record->status;
    // The process ended without saying it stopped, or never got to say anything.
    if (lastRun || (unit.result != "success" && !unit.result.empty())) status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    return status;
}

std::uint32_t ControlRefusal(std::uint32_t control, const SERVICE_STATUS& status) {
    switch (status.dwCurrentState) {
        case SERVICE_STOPPED:
            return ERROR_SERVICE_NOT_ACTIVE;
        case SERVICE_START_PENDING:
        case SERVICE_STOP_PENDING:
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        default:
            break;
    }
    // Interrogation and the service's own controls always go.
    const ServiceControl* entry = FindServiceControl(control);
    const std::uint32_t needed = entry != nullptr ? entry->acceptedWith : 0;
    return (status.dwControlsAccepted & needed) == needed ? ERROR_SUCCESS : ERROR_INVALID_SERVICE_CONTROL;
}

}  // namespace kairovel::platform::scm
