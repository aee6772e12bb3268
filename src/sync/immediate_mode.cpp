#include "sync/immediate_mode.h"

#include <optional>
#include <string>

#include "clock/local_clock.h"
#include "log/logger.h"
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

void RunImmediate() {
    std::optional<RunningTimeServer> timeServer;  // ended when the mode is over
    try {
        EnableSystemTimePrivilege();
        timeServer.emplace();
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
