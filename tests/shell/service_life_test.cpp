// ServiceMain and its control handler in-process: a dispatcher of the test's
// own takes the status reports and delivers the controls; the registry lives
// under a temporary KAIROVEL_ROOT, the event log is a socket of the test's,
// and the scheduler sleeps on a clock the test steps (its start is an hour
// away, so no pass runs). The TIME server runs in the test's own network namespace.
#include "shell/service_life.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/registry_store.h"
#include "log/logger.h"
#include "platform/console.h"
#include "platform/console_control.h"
#include "platform/last_error.h"
#include "platform/privilege.h"
#include "platform/service_dispatcher.h"
#include "platform/threads.h"
#include "shell/console_ctrl_handler.h"
#include "support/eventually.h"
#include "support/recording_console_control.h"
#include "support/refusing_privileges.h"
#include "support/stepped_clock.h"
#include "support/syslog_receiver.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;
using platform::SERVICE_PAUSED;
using platform::SERVICE_RUNNING;
using platform::SERVICE_START_PENDING;
using platform::SERVICE_STATUS;
using platform::SERVICE_STOP_PENDING;
using platform::SERVICE_STOPPED;

constexpr auto kBound = 10s;

class FakeDispatcher final : public platform::ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const platform::SERVICE_TABLE_ENTRYW*) override { return false; }
    platform::SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* name,
                                                                platform::LPHANDLER_FUNCTION handler) override {
        if (refuseRegistration) {
            platform::SetLastError(platform::ERROR_SERVICE_DOES_NOT_EXIST);
            return platform::SERVICE_STATUS_HANDLE{};
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        registeredName = name;
        handler_ = handler;
        return kHandle;
    }
    bool SetServiceStatus(platform::SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) override {
        if (handle != kHandle) {
            platform::SetLastError(platform::ERROR_INVALID_HANDLE);
            return false;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(status);
        }
        changed_.notify_all();
        return true;
    }

    // A control, delivered as the dispatcher delivers it: on its own thread (here the test's).
    void Control(std::uint32_t control) {
        platform::LPHANDLER_FUNCTION handler = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            handler = handler_;
        }
        handler(control);
    }
    bool AwaitState(std::uint32_t state) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound,
                                 [&] { return !reports_.empty() && reports_.back().dwCurrentState == state; });
    }
    std::vector<SERVICE_STATUS> Reports() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::vector<std::uint32_t> States() {
        std::vector<std::uint32_t> states;
        for (const SERVICE_STATUS& report : Reports()) states.push_back(report.dwCurrentState);
        return states;
    }

    bool refuseRegistration = false;
    std::wstring registeredName;

private:
    static constexpr platform::SERVICE_STATUS_HANDLE kHandle{0x1234};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SERVICE_STATUS> reports_;
    platform::LPHANDLER_FUNCTION handler_ = nullptr;
};

// The platform's threads, counting the threads that run and the suspensions asked for.
class CountingThreads final : public platform::ThreadsFacility {
public:
    platform::HANDLE CreateThread(platform::ThreadRoutine routine) override {
        ++running;
        platform::HANDLE thread = real().CreateThread([this, body = std::move(routine)] {
            const std::uint32_t code = body();
            --running;
            return code;
        });
        if (thread == nullptr) --running;
        return thread;
    }
    std::uint32_t SuspendThread(platform::HANDLE thread) override {
        ++suspensions;
        return real().SuspendThread(thread);
    }
    std::uint32_t ResumeThread(platform::HANDLE thread) override {
        ++resumptions;
        return real().ResumeThread(thread);
    }
    bool GetExitCodeThread(platform::HANDLE thread, std::uint32_t& code) override {
        return real().GetExitCodeThread(thread, code);
    }
    platform::HANDLE CreateEventW(bool manualReset, bool initialState, const wchar_t* name) override {
        return real().CreateEventW(manualReset, initialState, name);
    }
    bool SetEvent(platform::HANDLE event) override { return real().SetEvent(event); }
    bool ResetEvent(platform::HANDLE event) override { return real().ResetEvent(event); }
    std::uint32_t WaitForSingleObject(platform::HANDLE object, std::uint32_t milliseconds) override {
        return real().WaitForSingleObject(object, milliseconds);
    }

    std::atomic<int> running{0};
    std::atomic<int> suspensions{0};
    std::atomic<int> resumptions{0};

private:
    static platform::ThreadsFacility& real() { return platform::DefaultFacility<platform::ThreadsFacility>(); }
};

class RecordingConsole final : public platform::ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view) override {}
    void WriteStandardError(std::wstring_view) override {}
    bool AllocConsole() override {
        ++allocations;
        return true;
    }
    int allocations = 0;
};

class ServiceLifeTest : public ::testing::Test {
protected:
    ServiceLifeTest() {
        // Installed with a start an hour away, and a stored base 1 per mille
        // above the clock's, which the scheduler sets as it prepares.
        TheConfiguration() = Configuration{};
        TheConfiguration().AtTime = StartTime{25, 0, 0};
        WriteParameters();
        SetInstalled(1);
        WriteStringValue(L"LastAdjustmentValue", L"100040.000");
        TheConfiguration() = Configuration{};
    }
    ~ServiceLifeTest() override {
        if (Returned()) {
            main_.join();
        } else if (main_.joinable()) {
            main_.detach();  // the test has failed already; it must not hang as well
        }
        // The workers are never told to stop; the stopped clock ends the scheduler's sleep.
        clock_.Stop();
        EXPECT_TRUE(Eventually([this] { return threads_.running.load() == 0; }));
        CloseCurrentLogger();
        TheConfiguration() = Configuration{};
    }

    // Runs ServiceMain with the start parameters on a thread of its own, as the dispatcher does.
    void Start(std::vector<std::wstring> parameters = {}) {
        parameters.insert(parameters.begin(), L"Kairovel");
        main_ = std::thread([this, texts = std::move(parameters)]() mutable {
            std::vector<wchar_t*> pointers;
            for (std::wstring& text : texts) pointers.push_back(text.data());
            ServiceMain(static_cast<std::uint32_t>(pointers.size()), pointers.data());
            returned_ = true;
        });
    }
    // Until ServiceMain has returned (bounded).
    bool Returned() {
        return Eventually([this] { return returned_.load(); });
    }
    // The next event-log message that contains text, if one comes.
    std::string EventLogged(const std::string& text) {
        while (const auto datagram = syslog_.Receive()) {
            if (datagram->find(text) != std::string::npos) return *datagram;
        }
        return {};
    }

    TemporaryDirectory root_;
    ScopedEnvironment useRoot_{"KAIROVEL_ROOT", root_.path().string()};
    SyslogReceiver syslog_;
    SteppedClock clock_;
    platform::ScopedFacility<platform::ClockFacility> useClock_{clock_};
    FakeDispatcher dispatcher_;
    platform::ScopedFacility<platform::ServiceDispatcherFacility> useDispatcher_{dispatcher_};
    CountingThreads threads_;
    platform::ScopedFacility<platform::ThreadsFacility> useThreads_{threads_};
    RecordingConsole console_;
    platform::ScopedFacility<platform::ConsoleFacility> useConsole_{console_};
    RecordingConsoleControl control_;
    platform::ScopedFacility<platform::ConsoleControlFacility> useControl_{control_};
    std::thread main_;
    std::atomic<bool> returned_{false};
};

// Stop while running: START_PENDING, RUNNING, STOP_PENDING with hint 3000, then
// STOPPED with exit code 0; the checkpoints count on by one; the stored base
// the scheduler set is taken back, and the clock runs as it did at start-up.
TEST_F(ServiceLifeTest, AStopEndsTheServiceWithItsAdjustmentRestored) {
    Start();
    ASSERT_TRUE(dispatcher_.AwaitState(SERVICE_RUNNING));
    ASSERT_TRUE(clock_.AwaitSleepers(1));  // the scheduler waits for its start time
    dispatcher_.Control(platform::SERVICE_CONTROL_STOP);
    ASSERT_TRUE(Returned());

    EXPECT_EQ(dispatcher_.registeredName, L"Kairovel");
    const std::vector<SERVICE_STATUS> reports = dispatcher_.Reports();
    EXPECT_THAT(dispatcher_.States(),
                ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED));
    const std::uint32_t accepted[] = {0, 7, 7, 7};
    const std::uint32_t hints[] = {3000, 0, 3000, 0};
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].dwServiceType, platform::SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(reports[i].dwControlsAccepted, accepted[i]) << i;
        EXPECT_EQ(reports[i].dwWaitHint, hints[i]) << i;
        EXPECT_EQ(reports[i].dwWin32ExitCode, 0u) << i;
        EXPECT_EQ(reports[i].dwCheckPoint, reports[0].dwCheckPoint + i) << i;
    }
    const auto changes = clock_.time().AdjustmentChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].adjustment, 100040u);
    EXPECT_FALSE(changes[0].disabled);
    EXPECT_TRUE(changes[1].disabled);  // the start-up state: the system keeps time by itself
    EXPECT_THAT(EventLogged("started"), HasSubstr("Kairovel version 1.7 NT (Apr 17 1999)   started"));
}

// The control table: pause only from RUNNING, continue only from PAUSED,
// everything else reports the current state again; shut-down stops without
// a report of its own.
TEST_F(ServiceLifeTest, PauseAndContinueSuspendAndResumeTheSchedulerOnlyFromTheirStates) {
    Start();
    ASSERT_TRUE(dispatcher_.AwaitState(SERVICE_RUNNING));
    ASSERT_TRUE(clock_.AwaitSleepers(1));
    const std::size_t before = dispatcher_.Reports().size();
    dispatcher_.Control(platform::SERVICE_CONTROL_CONTINUE);     // running: nothing to resume
    dispatcher_.Control(platform::SERVICE_CONTROL_PAUSE);        // suspends
    dispatcher_.Control(platform::SERVICE_CONTROL_PAUSE);        // already paused: nothing more
    dispatcher_.Control(platform::SERVICE_CONTROL_INTERROGATE);  // paused, still
    dispatcher_.Control(200);                                    // a control of its own: the state again
    dispatcher_.Control(platform::SERVICE_CONTROL_CONTINUE);     // resumes
    dispatcher_.Control(platform::SERVICE_CONTROL_INTERROGATE);
    dispatcher_.Control(platform::SERVICE_CONTROL_SHUTDOWN);
    ASSERT_TRUE(Returned());

    std::vector<std::uint32_t> states = dispatcher_.States();
    states.erase(states.begin(), states.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_THAT(states, ElementsAre(SERVICE_RUNNING, SERVICE_PAUSED, SERVICE_PAUSED, SERVICE_PAUSED, SERVICE_PAUSED,
                                    SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_STOPPED));
    EXPECT_EQ(threads_.suspensions.load(), 1);
    EXPECT_EQ(threads_.resumptions.load(), 1);
    EXPECT_EQ(dispatcher_.Reports().back().dwWin32ExitCode, 0u);
}

// Without a status handle the error path's own report fails too: its message
// comes first, then the registration's.
TEST_F(ServiceLifeTest, AFailedRegistrationGivesTheReportsFailureThenItsOwn) {
    dispatcher_.refuseRegistration = true;
    Start();
    ASSERT_TRUE(Returned());
    EXPECT_TRUE(dispatcher_.Reports().empty());
    EXPECT_THAT(EventLogged("Service was stopped"),
                HasSubstr("Service was stopped because Error from SetServiceStatus. Error code was 6"));
    EXPECT_THAT(EventLogged("Service was stopped"),
                HasSubstr("Service was stopped because Error from RegisterServiceCtrlHandler. Error code was 1060"));
}

// A scheduler that fails at once stops the service by itself, with exit code 0.
TEST_F(ServiceLifeTest, ASchedulerThatFailsStopsTheService) {
    RefusingPrivileges privileges;
    const platform::ScopedFacility<platform::PrivilegeFacility> usePrivileges(privileges);
    Start();
    ASSERT_TRUE(Returned());
    EXPECT_THAT(dispatcher_.States(), ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED));
    EXPECT_EQ(dispatcher_.Reports().back().dwWin32ExitCode, 0u);
    EXPECT_THAT(EventLogged("Worker thread"), HasSubstr("Worker thread exited abnormally"));
}

// Logging to the console, in any case: a console of its own and the console control handler.
TEST_F(ServiceLifeTest, AConsoleDeviceGetsAConsoleAndTheConsoleControlHandler) {
    Start({L"/log=cOnSoLe"});
    ASSERT_TRUE(dispatcher_.AwaitState(SERVICE_RUNNING));
    dispatcher_.Control(platform::SERVICE_CONTROL_STOP);
    ASSERT_TRUE(Returned());
    EXPECT_EQ(console_.allocations, 1);
    EXPECT_THAT(control_.installed, ::testing::Contains(&ConsoleCtrlHandler));
}

}  // namespace
}  // namespace kairovel::testing
