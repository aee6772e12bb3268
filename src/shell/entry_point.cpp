#include "shell/entry_point.h"

#include <memory>
#include <string>

#include "clock/local_clock.h"
#include "config/argument_drivers.h"
#include "log/console_logger.h"
#include "log/logger.h"
#include "platform/console_control.h"
#include "platform/process.h"
#include "shell/console_ctrl_handler.h"
#include "shell/process_lifecycle.h"
#include "shell/program.h"
#include "shell/run_modes.h"
#include "shell/service_life.h"
#include "shell/standard_error_logger.h"

namespace kairovel {
namespace {

constexpr int kServiceExitCode = 1;
constexpr int kSuccessExitCode = 0;
constexpr int kErrorExitCode = 1;

int RunServiceLife() {
    // Until the service selects its own device, what goes wrong reaches standard error.
    ReplaceCurrentLogger(std::make_unique<StandardErrorLogger>());
    TheLocalClock().ReportAbandonedAdjustment();
    StartDispatcher();
    return kServiceExitCode;
}

int RunCommandLineLife() {
    platform::ConsoleControl().SetConsoleCtrlHandler(ConsoleCtrlHandler, true);
    ReplaceCurrentLogger(std::make_unique<ConsoleLogger>());
    TheLocalClock().ReportAbandonedAdjustment();
    try {
        ParseCommandLine();
        ProgramPath() = platform::Process().GetModuleFileNameW();
        RunChosenMode();
        return kSuccessExitCode;
    } catch (const std::wstring& text) {
        Log(CurrentLogger(), LevelError, L"%s", text);
        return kErrorExitCode;
    }
}

}  // namespace

int EntryPoint(int argumentCount, const wchar_t* const*) {
    ProcessStartup();
    // Time-critical work runs at high priority; a process that may not raise it runs as it is.
    platform::Process().SetPriorityClass(platform::HIGH_PRIORITY_CLASS);
    const int exitCode = argumentCount <= 1 ? RunServiceLife() : RunCommandLineLife();
    Log(CurrentLogger(), LevelTrace, L"Shutting down Kairovel: clean up being called.");
    ProcessShutdown();
    return exitCode;
}

}  // namespace kairovel
