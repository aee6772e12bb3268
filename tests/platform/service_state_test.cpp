// The Windows status of a service joined from systemd's state of its unit and
// the service's own last report.
#include <gtest/gtest.h>

#include "platform/posix/service_manager/service_state.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

constexpr std::uint32_t kPid = 4242;

UnitState Active(const char* activeState) {
    UnitState unit;
    unit.loadState = "loaded";
    unit.activeState = activeState;
    unit.subState = "running";
    unit.mainPid = kPid;
    unit.execMainPid = kPid;
    return unit;
}

RunRecord Reported(std::uint32_t state) {
    RunRecord record;
    record.pid = kPid;
    record.status.dwCurrentState = state;
    record.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    return record;
}

// A service that has reported its stop while systemd still sees its process
// is stopping: it takes no control, and its state is never an unknown one.
TEST(EffectiveStatus, AReportedStopIsPendingUntilTheProcessHasEnded) {
    for (const char* activeState : {"active", "deactivating"}) {
        const SERVICE_STATUS status = EffectiveStatus(Active(activeState), Reported(SERVICE_STOPPED),
                                                      SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING) << activeState;
        EXPECT_EQ(ControlRefusal(SERVICE_CONTROL_STOP, status), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    }
    UnitState ended = Active("inactive");
    ended.mainPid = 0;
    EXPECT_EQ(EffectiveStatus(ended, Reported(SERVICE_STOPPED), SERVICE_WIN32_OWN_PROCESS).dwCurrentState,
              SERVICE_STOPPED);
    EXPECT_EQ(EffectiveStatus(Active("active"), Reported(SERVICE_RUNNING), SERVICE_WIN32_OWN_PROCESS).dwCurrentState,
              SERVICE_RUNNING);
}

}  // namespace
}  // namespace kairovel::platform::scm
