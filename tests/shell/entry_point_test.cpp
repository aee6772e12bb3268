// The entry point in-process, with the platform's console, process, console
// control and dispatcher replaced by recording ones.
#include "shell/entry_point.h"

#include <gmock/gmock.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/registry_store.h"
#include "log/logger.h"
#include "platform/console.h"
#include "platform/console_control.h"
#include "platform/last_error.h"
#include "platform/privilege.h"
#include "platform/process.h"
#include "support/service_manager_double.h"
#include "support/temporary_directory.h"
#include "platform/service_dispatcher.h"
#include "platform/win_types.h"
#include "shell/console_ctrl_handler.h"
#include "shell/program.h"
#include "shell/service_life.h"
#include "shell/usage.h"
#include "support/recording_console_control.h"
#include "support/recording_logger.h"
#include "support/refusing_privileges.h"

namespace kairovel {
namespace {

class RecordingConsole final : public platform::ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override { out += text; }
    void WriteStandardError(std::wstring_view text) override { err += text; }
    std::wstring out;
    std::wstring err;
};

class FakeProcess final : public platform::ProcessFacility {
public:
    std::wstring GetModuleFileNameW() override { return path; }
    std::wstring GetCommandLineW() override { return commandLine; }
    bool SetPriorityClass(std::uint32_t priorityClass) override {
        askedPriority = priorityClass;
        platform::SetLastError(platform::ERROR_ACCESS_DENIED);
        return false;  // as for a user who may not raise it
    }
    bool SetProcessWorkingSetSize(std::size_t, std::size_t) override { return true; }
    std::wstring path = L"/opt/kairovel/bin/kairovel";
    std::wstring commandLine;
    std::uint32_t askedPriority = 0;
};

class RecordingDispatcher final : public testing::ServiceDispatcherDouble {
public:
    bool StartServiceCtrlDispatcherW(const platform::SERVICE_TABLE_ENTRYW* table) override {
        for (const auto* entry = table;; ++entry) {
            entries.emplace_back(entry->lpServiceName != nullptr ? entry->lpServiceName : L"(null)",
                                 entry->lpServiceProc);
            if (entry->lpServiceName == nullptr) break;
        }
        platform::SetLastError(platform::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return false;
    }
    std::vector<std::pair<std::wstring, platform::LPSERVICE_MAIN_FUNCTIONW>> entries;
};

class EntryPointTest : public ::testing::Test {
protected:
    void SetUp() override { TheConfiguration() = Configuration{}; }
    void TearDown() override {
        CloseCurrentLogger();
        TheConfiguration() = Configuration{};
    }

    // Runs the program with this command line; returns its exit code.
    int Run(const std::wstring& commandLine) {
        process_.commandLine = commandLine;
        int count = 0;
        for (std::size_t at = 0; at != std::wstring::npos; at = commandLine.find(L' ', at + 1)) ++count;
        return EntryPoint(commandLine.empty() ? 1 : count, nullptr);
    }

    // The modes that install and control keep their state here, never on the machine.
    testing::TemporaryDirectory root_;
    testing::ScopedEnvironment useRoot_{"KAIROVEL_ROOT", root_.path().string()};
    RecordingConsole console_;
    FakeProcess process_;
    testing::RecordingConsoleControl control_;
    RecordingDispatcher dispatcher_;
    testing::MemoryServiceManager manager_;
    platform::ScopedFacility<platform::ServiceManagerFacility> useManager_{manager_};
    platform::ScopedFacility<platform::ConsoleFacility> useConsole_{console_};
    platform::ScopedFacility<platform::ProcessFacility> useProcess_{process_};
    platform::ScopedFacility<platform::ConsoleControlFacility> useControl_{control_};
    platform::ScopedFacility<platform::ServiceDispatcherFacility> useDispatcher_{dispatcher_};
    // The immediate mode ends at its first step, before it starts its TIME server or asks any source.
    testing::RefusingPrivileges privileges_;
    platform::ScopedFacility<platform::PrivilegeFacility> usePrivileges_{privileges_};
};

TEST_F(EntryPointTest, TheCommandLineLife) {
    EXPECT_EQ(Run(L"kairovel /domain=corp /trace"), 0);
    EXPECT_EQ(console_.out, L"must specify either /install or /remove\n");
    EXPECT_EQ(console_.err, L"");
    EXPECT_EQ(process_.askedPriority, platform::HIGH_PRIORITY_CLASS);  // refused, and that is no error
    EXPECT_EQ(control_.installed, (std::vector<platform::PHANDLER_ROUTINE>{ConsoleCtrlHandler}));
    EXPECT_TRUE(dispatcher_.entries.empty());
    EXPECT_EQ(ProgramPath(), L"/opt/kairovel/bin/kairovel");
    EXPECT_EQ(TheConfiguration().SourceName[0], L"D,corp");
    // The console device keeps its threshold 2 whatever /trace says: no shut-down trace line.
    EXPECT_EQ(CurrentLogger()->threshold(), LevelOk);
}

TEST_F(EntryPointTest, RunModesAreTriedInOrderOfPrecedence) {
    struct Case {
        const wchar_t* commandLine;
        std::wstring output;
        int exitCode;
    };
    const Case cases[] = {
        {L"k /install /remove /immediate /control /status /?", UsageText(), 0},
        {L"k /install /remove /immediate /control=stop /status",
         L"Kairovel not installed on this machine\nType Kairovel /? for help\n", 0},
        {L"k /install /remove /immediate /control=stop", L"OpenService failed (0x424)\n", 1},
        // The immediate mode logs its own errors: the exit code stays 0.
        {L"k /install /remove /immediate", L"Error 5 from OpenProcessToken\n", 0},
        {L"k /remove /install", L"cannot specify /install and /remove\n", 0},
        // The program is not where it says it is: the installation takes back what it did.
        {L"k /install", L"StartService failed (0x02)\n", 1},
        {L"k /remove",
         L"OpenService failed (0x424)\n"
         L"Registry open error 2 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\n"
         L"Registry delete error 2 on SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kairovel\n"
         L"Service stopped and removed\n",
         0},
        {L"k /period=1", L"must specify either /install or /remove\n", 0},
        {L"k /period=x /?", L"illegal period (x) specified\n\n", 1},
    };
    for (const Case& c : cases) {
        TheConfiguration() = Configuration{};
        console_.out.clear();
        EXPECT_EQ(Run(c.commandLine), c.exitCode) << c.commandLine;
        EXPECT_EQ(console_.out, c.output) << c.commandLine;
    }
}

// A removal whose stop the service cannot take yet (it is starting) keeps
// what the service runs with and says it failed.
TEST_F(EntryPointTest, ARemovalThatCannotStopTheServiceKeepsItsParameters) {
    process_.path = L"/bin/sh";
    manager_.HoldStarts();
    EXPECT_EQ(Run(L"k /install /domain=corp"), 0);
    TheConfiguration() = Configuration{};
    console_.out.clear();
    EXPECT_EQ(Run(L"k /remove"), 1);
    EXPECT_EQ(console_.out, L"ControlService failed (0x425)\nService not removed: Kairovel is starting\n");
    EXPECT_EQ(IsServiceInstalled(), 1u);
}

// A reinstallation whose parameters cannot be stored puts back those of the
// installation it replaced, as they were stored, and starts the service again.
TEST_F(EntryPointTest, AFailedReinstallationPutsThePreviousParametersBack) {
    process_.path = L"/bin/sh";
    ASSERT_EQ(Run(L"k /install /domain=corp"), 0);
    WriteStringValue(L"LastAdjustmentValue", L"100144.117");
    console_.out.clear();
    EXPECT_EQ(Run(L"k /install /ntp_machine=" + std::wstring(300, L'n')), 1);
    EXPECT_THAT(console_.out, ::testing::EndsWith(L"Reinstallation failed: the previous parameters were put back\n"
                                                  L"SourceName too long to store: 311 characters with separators, "
                                                  L"at most 300 can be read back\n"));
    TheConfiguration() = Configuration{};
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().SourceName[0], L"D,corp");
    std::wstring adjustment;
    ReadStringValue(L"LastAdjustmentValue", adjustment);
    EXPECT_EQ(adjustment, L"100144.117");
}

TEST_F(EntryPointTest, TheServiceLifeWithoutAControlManager) {
    EXPECT_EQ(Run(L""), 1);
    ASSERT_EQ(dispatcher_.entries.size(), 2u);
    EXPECT_EQ(dispatcher_.entries[0].first, L"Kairovel");
    EXPECT_EQ(dispatcher_.entries[0].second, ServiceMain);
    EXPECT_EQ(dispatcher_.entries[1], (std::pair<std::wstring, platform::LPSERVICE_MAIN_FUNCTIONW>{L"(null)", nullptr}));
    EXPECT_EQ(console_.err, L"Service was stopped because StartServiceCtrlDispatcher failed.. Error code was 1063\n");
    EXPECT_EQ(console_.out, L"");
    EXPECT_EQ(process_.askedPriority, platform::HIGH_PRIORITY_CLASS);
    EXPECT_TRUE(control_.installed.empty());
}

TEST(StopServiceWithError, LogsTheTextWithTheLastErrorCode) {
    testing::ScopedRecordingLogger log;
    platform::SetLastError(5);
    StopServiceWithError(L"Error from CreateEvent");
    platform::SetLastError(0);
    StopServiceWithError(L"100% %d done");  // the text is an argument, never a format
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_THAT(log.Texts(LevelError),
                ::testing::ElementsAre(L"Service was stopped because Error from CreateEvent. Error code was 5",
                                       L"Service was stopped because 100% %d done. Error code was 0"));
}

TEST(ConsoleCtrlHandlerDeathTest, CtrlCEndsTheProgramAfterItsHandlerRan) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const std::uint32_t event : {platform::CTRL_C_EVENT, platform::CTRL_CLOSE_EVENT, platform::CTRL_SHUTDOWN_EVENT}) {
        EXPECT_FALSE(ConsoleCtrlHandler(event));  // passes every event on, so the default ends the process
    }
    EXPECT_EXIT(
        {
            platform::ConsoleControl().SetConsoleCtrlHandler(ConsoleCtrlHandler, true);
            ::kill(::getpid(), SIGINT);
            std::this_thread::sleep_for(std::chrono::seconds(5));
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
}  // namespace kairovel
