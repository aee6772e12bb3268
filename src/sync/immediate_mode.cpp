#include "sync/immediate_mode.h"

#include <string>

#include "clock/local_clock.h"
#include "log/logger.h"
#include "platform/kernel_object.h"
#include "platform/last_error.h"
#include "platform/threads.h"
#include "clock/privilege.h"
#include "sources/time_server.h"
#include "sync/decision.h"

namespace kairovel {
namespace {

// Ends the correction: the window is over, so the slewing rate must not run
// on while the program ends. Failures are logged, not raised, so that they
// cannot hide the pass's own outcome.
void EndCorrection() {
    try {
        TheLocalClock().Restore();
    } catch (const std::wstring& message) {
        Log(CurrentLogger(), LevelError, L"%s", message);
    }
}

}  // namespace

void StartTimeServerThread() {
    const platform::HANDLE thread = platform::Threads().CreateThread([] {
        TimeServerThread();
        return std::uint32_t{0};
    });
    if (thread == nullptr) {
        Log(CurrentLogger(), LevelError, L"Error %d starting the time server thread", platform::GetLastError());
        return;
    }
    platform::CloseHandle(thread);  // the thread runs on without its handle
}

void RunImmediate() {
    try {
        EnableSystemTimePrivilege();
        StartTimeServerThread();
        std::wstring result;
        try {
            SynchronizeOnce(result);
        } catch (...) {
            EndCorrection();
            throw;
        }
        EndCorrection();
        Log(CurrentLogger(), LevelOk, L"Corrected clock deviation of %s milliseconds.", result);
    } catch (const std::wstring& message) {
        Log(CurrentLogger(), LevelError, L"%s", message);
    } catch (...) {
        Log(CurrentLogger(), LevelError, L"Synchronization terminated abnormally.");
    }
}

}  // namespace kairovel
