// The other facilities on Windows: threads and events, the process token's
// privilege, the machine clock read (never set: a test never changes the
// machine's clock; and Wine's SetSystemTimeAdjustment changes nothing to
// measure), the simulated clock's shared state, and where Wine falls short
// (the event log, the network time of day) the reason it cannot prove them.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/last_error.h"
#include "platform/netapi.h"
#include "platform/privilege.h"
#include "platform/sim/simulated_clock.h"
#include "platform/threads.h"
#include "support/temporary_directory.h"
#include "support/wine.h"

namespace kairovel::platform {
namespace {

TEST(ThreadsOnWindows, RoutinesEndWithTheirCodeAndEventsWakeWaiters) {
    ThreadsFacility& threads = Threads();
    const HANDLE ready = threads.CreateEventW(true, false, nullptr);
    ASSERT_NE(ready, nullptr);
    std::atomic<bool> started{false};
    const HANDLE thread = threads.CreateThread([&] {
        started = true;
        return threads.WaitForSingleObject(ready, 5000) == WAIT_OBJECT_0 ? 42u : 1u;
    });
    ASSERT_NE(thread, nullptr);
    std::uint32_t code = 0;
    ASSERT_TRUE(threads.GetExitCodeThread(thread, code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(threads.WaitForSingleObject(thread, 50), WAIT_TIMEOUT);

    // Suspended, the thread stays where it is until it is resumed.
    EXPECT_EQ(threads.SuspendThread(thread), 0u);
    EXPECT_EQ(threads.ResumeThread(thread), 1u);

    EXPECT_TRUE(threads.SetEvent(ready));
    EXPECT_EQ(threads.WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(threads.GetExitCodeThread(thread, code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(ready));

    // A named event is one object for every CreateEventW of its name.
    const HANDLE first = threads.CreateEventW(true, false, L"KairovelTestEvent");
    const HANDLE second = threads.CreateEventW(true, false, L"KairovelTestEvent");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(threads.SetEvent(first));
    EXPECT_EQ(threads.WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(PrivilegeOnWindows, TheSystemTimePrivilegeIsKnownAndCanBeAskedFor) {
    PrivilegeFacility& privileges = Privileges();
    HANDLE token = nullptr;
    ASSERT_TRUE(privileges.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token)) << GetLastError();
    const ScopedHandle closer(token);
    LUID systemTime;
    ASSERT_TRUE(privileges.LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, systemTime));
    EXPECT_FALSE(privileges.LookupPrivilegeValueW(nullptr, L"SeNoSuchPrivilege", systemTime));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
    // Enabling succeeds; ERROR_NOT_ALL_ASSIGNED says the token did not hold it.
    SetLastError(0);
    EXPECT_TRUE(privileges.AdjustTokenPrivileges(token, systemTime, SE_PRIVILEGE_ENABLED));
    EXPECT_TRUE(GetLastError() == ERROR_SUCCESS || GetLastError() == ERROR_NOT_ALL_ASSIGNED) << GetLastError();
}

TEST(MachineClockOnWindows, TimeAdjustmentAndCounterAreRead) {
    ClockFacility& clock = MachineClock();
    std::uint32_t adjustment = 0;
    std::uint32_t increment = 0;
    bool disabled = false;
    ASSERT_TRUE(clock.GetSystemTimeAdjustment(adjustment, increment, disabled));
    EXPECT_GT(increment, 0u);
    EXPECT_EQ(clock.NominalTimeIncrement(), increment);
    std::int64_t frequency = 0;
    std::int64_t before = 0;
    std::int64_t after = 0;
    ASSERT_TRUE(clock.QueryPerformanceFrequency(frequency));
    ASSERT_TRUE(clock.QueryPerformanceCounter(before));
    clock.Sleep(20);
    ASSERT_TRUE(clock.QueryPerformanceCounter(after));
    EXPECT_GE(after - before, frequency * 20 / 1000);  // a sleep never ends early
    SYSTEMTIME now;
    clock.GetSystemTime(now);
    EXPECT_GE(now.wYear, 2024);
}

TEST(SimulatedClockOnWindows, ItsStateIsSharedThroughTheFileUnderTheRoot) {
    const testing::TemporaryDirectory temporary;
    const std::filesystem::path root = temporary / "state";  // made by the clock, and so trusted as state
    const testing::ScopedEnvironment inRoot("KAIROVEL_ROOT", root.string());
    SimulatedClock writer(SimulatedClock::DefaultStateFile());
    ASSERT_TRUE(writer.Configure(3200.0, 40.0)) << GetLastError();
    EXPECT_TRUE(std::filesystem::exists(root / "simulated-clock.state"));
    SimulatedClock reader(SimulatedClock::DefaultStateFile());
    SimulatedClock::Reading reading;
    ASSERT_TRUE(reader.Read(reading));
    EXPECT_NEAR(reading.trueErrorMilliseconds, 3200.0, 50.0);
    EXPECT_DOUBLE_EQ(reading.driftPpm, 40.0);
    ASSERT_TRUE(reader.SetSystemTimeAdjustment(reading.increment + 1000, false));
    ASSERT_TRUE(writer.Read(reading));
    EXPECT_FALSE(reading.disabled);
    EXPECT_TRUE(writer.Reset());
    EXPECT_FALSE(std::filesystem::exists(root / "simulated-clock.state"));
}

TEST(EventLogOnWindows, TheEventLogTakesTheProgramsEvent) {
    if (testing::RunningUnderWine()) {
        GTEST_SKIP() << "Wine 8's event log is a stub: ReportEventW succeeds and nothing is stored to read back";
    }
    EventLogFacility& log = EventLog();
    const HANDLE source = log.RegisterEventSourceW(L"", L"KairovelTest");
    ASSERT_NE(source, nullptr);
    const std::wstring_view strings[] = {L"event from the test"};
    EXPECT_TRUE(log.ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 0x60020001, nullptr, strings, {}));
    EXPECT_TRUE(log.DeregisterEventSource(source));
}

TEST(NetworkManagementOnWindows, AMachineWithoutADomainHasNoController) {
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = NetworkManagement().NetGetDCName(nullptr, nullptr, &buffer);
    if (status == NERR_Success) {
        NetworkManagement().NetApiBufferFree(buffer);
        GTEST_SKIP() << "this machine is in a domain";
    }
    // Wine: NERR_DCNotFound; a Windows machine outside a domain says the same.
    EXPECT_EQ(status, NERR_DCNotFound);
}

TEST(NetworkManagementOnWindows, TheTimeOfDayOfAMachine) {
    if (testing::RunningUnderWine()) {
        GTEST_SKIP() << "Wine 8's netapi32 has no NetRemoteTOD: calling it ends the process";
    }
    LPBYTE buffer = nullptr;
    ASSERT_EQ(NetworkManagement().NetRemoteTOD(nullptr, &buffer), NERR_Success);
    const auto* tod = reinterpret_cast<const TIME_OF_DAY_INFO*>(buffer);
    EXPECT_GE(tod->tod_year, 2024u);
    NetworkManagement().NetApiBufferFree(buffer);
}

}  // namespace
}  // namespace kairovel::platform
