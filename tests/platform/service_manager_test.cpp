// The service manager stand-in against its Windows codes, with a real service
// process (tests/support/test_service.cpp) under the dispatcher.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/last_error.h"
#include "platform/posix/service_manager/service_files.h"
#include "platform/posix/service_manager/service_process.h"
#include "platform/posix/service_manager/stand_in_manager.h"
#include "platform/service_dispatcher.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using namespace std::chrono_literals;
using kairovel::testing::ProcessResult;

constexpr wchar_t kName[] = L"KairovelTest";
constexpr auto kStateBound = 10s;

class ServiceManagerTest : public ::testing::Test {
protected:
    ServiceManagerTest() {
        std::filesystem::permissions(root.path(), std::filesystem::perms(0755));  // others may look, as under /var/lib
        control = manager.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    }
    ~ServiceManagerTest() override {
        // No service outlives its test.
        std::optional<scm::RunRecord> record;
        if (scm::ReadRunRecord(scm::ServiceFolder(kName), record) && record && scm::IsRunning(record->process)) {
            scm::ProcessWatch(record->process.pid).Kill();
        }
        manager.CloseServiceHandle(control);
    }

    SC_HANDLE Create(std::uint32_t type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                     const char* program = TEST_SERVICE) {
        const std::wstring path(program, program + std::char_traits<char>::length(program));
        return manager.CreateServiceW(control, kName, kName, SERVICE_ALL_ACCESS, type, SERVICE_AUTO_START,
                                      SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    bool Start(SC_HANDLE service, std::initializer_list<const wchar_t*> arguments = {}) {
        std::vector<const wchar_t*> list(arguments);
        return manager.StartServiceW(service, static_cast<std::uint32_t>(list.size()), list.data());
    }

    SERVICE_STATUS Status(SC_HANDLE service) {
        SERVICE_STATUS status;
        EXPECT_TRUE(manager.QueryServiceStatus(service, status)) << GetLastError();
        return status;
    }

    // The status once it is in state, or the last one seen within the bound.
    SERVICE_STATUS WaitFor(SC_HANDLE service, std::uint32_t state) {
        const auto deadline = std::chrono::steady_clock::now() + kStateBound;
        SERVICE_STATUS status = Status(service);
        while (status.dwCurrentState != state && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            status = Status(service);
        }
        return status;
    }

    // The failure code of a control, or 0 when it went through.
    std::uint32_t Control(SC_HANDLE service, std::uint32_t code, SERVICE_STATUS* replied = nullptr) {
        SERVICE_STATUS status;
        const bool sent = manager.ControlService(service, code, status);
        if (replied != nullptr) *replied = status;
        return sent ? 0 : GetLastError();
    }

    std::string Console() const {
        return kairovel::testing::ReadFileBytes(root.path() / "service-manager" / "KAIROVELTEST" / "console");
    }

    ProcessResult Sc(std::vector<std::string> arguments, bool asNobody = false) {
        arguments.insert(arguments.begin(), KAIROVEL_SC);
        if (asNobody) {
            arguments.insert(arguments.begin(),
                             {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
        }
        kairovel::testing::ProcessOptions options;
        options.environment["KAIROVEL_ROOT"] = root.path().string();
        options.timeout = 20s;
        return kairovel::testing::RunProcess(arguments, options);
    }

    kairovel::testing::TemporaryDirectory root;
    kairovel::testing::ScopedEnvironment environment{"KAIROVEL_ROOT", root.path().string()};
    kairovel::testing::ScopedEnvironment mark{"KAIROVEL_TEST_MARK", "inherited"};
    scm::StandInServiceManager manager{scm::ManagerTimeouts{1500ms, 5s}};
    SC_HANDLE control;
};

TEST_F(ServiceManagerTest, EntriesAreCreatedOpenedWithoutRegardToCaseAndDeletedOnceTheLastHandleCloses) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(service) << GetLastError();
    EXPECT_FALSE(Create());
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    const SC_HANDLE other = manager.OpenServiceW(control, L"KAIROVELtest", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(other);
    EXPECT_FALSE(manager.OpenServiceW(control, L"Missing", SERVICE_ALL_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(manager.OpenServiceW(control, L"a\\b", SERVICE_ALL_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

    EXPECT_EQ(Status(other).dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(Status(other).dwServiceType, 0x110u);
    QUERY_SERVICE_CONFIGW config;
    ASSERT_TRUE(manager.QueryServiceConfigW(other, config));
    EXPECT_EQ(config.dwStartType, SERVICE_AUTO_START);
    EXPECT_EQ(config.dwErrorControl, SERVICE_ERROR_NORMAL);
    EXPECT_EQ(config.lpServiceStartName, L"LocalSystem");
    EXPECT_FALSE(manager.QueryServiceConfigW(SC_HANDLE{0x7777}, config));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Control(other, SERVICE_CONTROL_STOP), ERROR_ACCESS_DENIED);  // opened without the right to stop
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_SHUTDOWN), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(manager.DeleteService(service));
    EXPECT_FALSE(manager.DeleteService(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Create());
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Start(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    // Another process's handle holds the entry too.
    EXPECT_EQ(Sc({"query", "kairoveltest"}).exitCode, 0);
    manager.CloseServiceHandle(service);
    const SC_HANDLE third = manager.OpenServiceW(control, kName, SERVICE_QUERY_STATUS);
    EXPECT_TRUE(third) << "handles are still open";
    manager.CloseServiceHandle(third);
    manager.CloseServiceHandle(other);
    // That was the last handle; the entry went with it.
    EXPECT_FALSE(manager.OpenServiceW(control, kName, SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    const SC_HANDLE again = Create();
    EXPECT_TRUE(again);
    manager.CloseServiceHandle(again);
}

TEST_F(ServiceManagerTest, AStartedServiceTakesControlsOnItsHandlerAndStops) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(service);
    ASSERT_TRUE(Start(service, {L"first", L"second"})) << GetLastError();
    EXPECT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING) << Console();
    EXPECT_FALSE(Start(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    SERVICE_STATUS replied;
    EXPECT_EQ(Control(service, SERVICE_CONTROL_PAUSE, &replied), 0u);
    EXPECT_EQ(replied.dwCurrentState, SERVICE_PAUSED);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_INTERROGATE, &replied), 0u);
    EXPECT_EQ(replied.dwCurrentState, SERVICE_PAUSED);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_CONTINUE, &replied), 0u);
    EXPECT_EQ(replied.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(Control(service, 200, &replied), 0u);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP, &replied), 0u);
    EXPECT_EQ(replied.dwCurrentState, SERVICE_STOP_PENDING);
    const SERVICE_STATUS stopped = WaitFor(service, SERVICE_STOPPED);
    EXPECT_EQ(stopped.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(stopped.dwWin32ExitCode, 0u);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_INTERROGATE), ERROR_SERVICE_NOT_ACTIVE);

    // The console shows the service's side: the arguments, the refusals of its
    // dispatcher, the settings it inherited and the controls in order.
    const auto deadline = std::chrono::steady_clock::now() + kStateBound;
    while (Console().find("dispatcher returned") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Console(),
              "main KairovelTest first second\nother name refused 1060\nbad state refused 13\nbad handle refused 6\n"
              "mark inherited\ncontrol 2\ncontrol 4\ncontrol 3\ncontrol 200\ncontrol 1\ndispatcher returned\n");
    manager.CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, ControlsTheServiceDoesNotAcceptNowAreRefused) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(Start(service, {L"stop-only", L"slow-stop"}));
    ASSERT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    SERVICE_STATUS replied;
    EXPECT_EQ(Control(service, SERVICE_CONTROL_PAUSE, &replied), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(replied.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP), 0u);
    // While it stops, it takes no control, not even an interrogation.
    EXPECT_EQ(Control(service, SERVICE_CONTROL_INTERROGATE), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(WaitFor(service, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
    manager.CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, AProcessThatNeverConnectsIsEndedAfterTheStartTimeOut) {
    const kairovel::testing::ScopedEnvironment hang("KAIROVEL_TEST_SERVICE", "hang");
    const SC_HANDLE service = Create();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Start(service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
    std::optional<scm::RunRecord> record;
    ASSERT_TRUE(scm::ReadRunRecord(scm::ServiceFolder(kName), record));
    ASSERT_TRUE(record);
    EXPECT_FALSE(scm::IsRunning(record->process));
    EXPECT_EQ(Status(service).dwCurrentState, SERVICE_STOPPED);
    manager.CloseServiceHandle(service);

}

TEST_F(ServiceManagerTest, StartFailuresCarryTheirCodes) {
    const SC_HANDLE missing = Create(SERVICE_WIN32_OWN_PROCESS, "/nonexistent/program");
    // The failed exec and the launcher's own report race each other: try often.
    for (int attempt = 0; attempt < 50; ++attempt) {
        EXPECT_FALSE(Start(missing));
        ASSERT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << "attempt " << attempt;
    }
    ASSERT_TRUE(manager.DeleteService(missing));
    manager.CloseServiceHandle(missing);
    // A program that ends without connecting.
    const SC_HANDLE quitter = Create(SERVICE_WIN32_OWN_PROCESS, "/bin/true");
    EXPECT_FALSE(Start(quitter));
    EXPECT_EQ(GetLastError(), ERROR_PROCESS_ABORTED);
    manager.CloseServiceHandle(quitter);
}

TEST_F(ServiceManagerTest, AServiceWhoseProcessIsGoneIsStoppedAndMayStartAgain) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(Start(service, {L"die"}));
    const SERVICE_STATUS crashed = WaitFor(service, SERVICE_STOPPED);
    EXPECT_EQ(crashed.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(crashed.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP), ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(Start(service)) << GetLastError();
    ASSERT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    std::optional<scm::RunRecord> record;
    ASSERT_TRUE(scm::ReadRunRecord(scm::ServiceFolder(kName), record));
    ASSERT_EQ(::kill(record->process.pid, SIGKILL), 0);
    EXPECT_EQ(WaitFor(service, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);

    // A record of a running service whose number another process has since: not the service.
    record->process.pid = ::getpid();
    record->status.dwCurrentState = SERVICE_RUNNING;
    ASSERT_TRUE(scm::WriteRunRecord(scm::ServiceFolder(kName), *record));
    EXPECT_EQ(Status(service).dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP), ERROR_SERVICE_NOT_ACTIVE);
    manager.CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, TwoProcessesStartingAtOnceStartOneService) {
    const SC_HANDLE service = Create();
    std::optional<ProcessResult> first;
    std::thread other([&] { first = Sc({"start", "KairovelTest"}); });
    const ProcessResult second = Sc({"start", "KairovelTest"});
    other.join();
    // One started it; the other found it running.
    EXPECT_EQ(first->exitCode + second.exitCode, ERROR_SERVICE_ALREADY_RUNNING % 256)
        << first->standardOutput << second.standardOutput;
    const std::string refused = first->exitCode != 0 ? first->standardOutput : second.standardOutput;
    EXPECT_EQ(refused, "[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n\n");
    // The start is not waited for: a stop goes once the service runs.
    ASSERT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(Sc({"stop", "KairovelTest"}).exitCode, 0);
    manager.CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, AUserWhoIsNoAdministratorMayQueryButNotControl) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(Start(service));
    ASSERT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    const ProcessResult query = Sc({"query", "KairovelTest"}, true);
    EXPECT_EQ(query.exitCode, 0) << query.standardOutput << query.standardError;
    EXPECT_NE(query.standardOutput.find("STATE              : 4  RUNNING"), std::string::npos) << query.standardOutput;
    for (const char* verb : {"stop", "start", "interrogate"}) {
        const ProcessResult refused = Sc({verb, "KairovelTest"}, true);
        EXPECT_EQ(refused.exitCode, ERROR_ACCESS_DENIED) << verb << ": " << refused.standardOutput;
    }
    EXPECT_EQ(Status(service).dwCurrentState, SERVICE_RUNNING);
    manager.CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, ARecordOthersMayWriteIsRefused) {
    const SC_HANDLE service = Create();
    ASSERT_TRUE(Start(service));
    ASSERT_EQ(WaitFor(service, SERVICE_RUNNING).dwCurrentState, SERVICE_RUNNING);
    // Whoever may write the record may name any process as the service's, for root to control or end.
    const std::filesystem::path record = root.path() / "service-manager" / "KAIROVELTEST" / "record";
    std::filesystem::permissions(record, std::filesystem::perms(0666));
    SERVICE_STATUS status;
    EXPECT_FALSE(manager.QueryServiceStatus(service, status));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    std::filesystem::permissions(record, std::filesystem::perms(0644));
    EXPECT_EQ(Control(service, SERVICE_CONTROL_STOP), 0u);
    EXPECT_EQ(WaitFor(service, SERVICE_STOPPED).dwCurrentState, SERVICE_STOPPED);
    manager.CloseServiceHandle(service);
}

TEST(ServiceDispatcher, AProcessTheManagerDidNotStartCannotConnect) {
    const SERVICE_TABLE_ENTRYW table[] = {{kName, [](std::uint32_t, wchar_t**) {}}, {nullptr, nullptr}};
    EXPECT_FALSE(ServiceDispatcher().StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_FALSE(ServiceDispatcher().RegisterServiceCtrlHandlerW(kName, [](std::uint32_t) {}));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(ServiceDispatcher().SetServiceStatus(SERVICE_STATUS_HANDLE{4}, SERVICE_STATUS{}));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace kairovel::platform
