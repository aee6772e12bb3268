#include "platform/posix/service_manager/service_state.h"

#include "platform/posix/service_manager/service_entries.h"
#include "platform/posix/service_manager/service_process.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {

SERVICE_STATUS EffectiveStatus(const std::optional<RunRecord>& record, std::uint32_t entryType) {
    SERVICE_STATUS stopped;
    stopped.dwServiceType = entryType;
    stopped.dwCurrentState = SERVICE_STOPPED;
    if (!record) return stopped;
    if (record->status.dwCurrentState == SERVICE_STOPPED || IsRunning(record->process)) return record->status;
    stopped.dwServiceType = record->status.dwServiceType;
    stopped.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    return stopped;
}

bool CurrentStatus(const ServiceFolder& folder, std::uint32_t entryType, SERVICE_STATUS& status,
                   std::optional<RunRecord>* recordOut) {
    std::optional<RunRecord> record;
    if (!ReadRunRecord(folder, record)) return false;
    status = EffectiveStatus(record, entryType);
    if (recordOut != nullptr) *recordOut = record;
    return true;
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
    std::uint32_t needed = 0;  // interrogation and the service's own controls always go
    if (control == SERVICE_CONTROL_STOP) needed = SERVICE_ACCEPT_STOP;
    if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) needed = SERVICE_ACCEPT_PAUSE_CONTINUE;
    if (control == SERVICE_CONTROL_SHUTDOWN) needed = SERVICE_ACCEPT_SHUTDOWN;
    return (status.dwControlsAccepted & needed) == needed ? ERROR_SUCCESS : ERROR_INVALID_SERVICE_CONTROL;
}

void DeleteIfDue(std::wstring_view name) {
    const ServiceFolder folder(name);
    const FileLock changing(folder.LockFile(), FileLock::Mode::Exclusive);
    if (!changing.held()) return;
    const FileLock noHandles(folder.HandlesFile(), FileLock::Mode::ExclusiveIfFree);
    if (!noHandles.held()) return;
    ServiceEntry entry;
    if (ReadEntry(name, entry) != ERROR_SUCCESS || !entry.markedForDeletion) return;
    SERVICE_STATUS status;
    if (!CurrentStatus(folder, entry.type, status) || status.dwCurrentState != SERVICE_STOPPED) return;
    if (RemoveEntry(name) == ERROR_SUCCESS) RemoveRunRecord(folder);
}

}  // namespace kairovel::platform::scm
