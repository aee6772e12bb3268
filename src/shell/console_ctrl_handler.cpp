#include "shell/console_ctrl_handler.h"

#include <string>

#include "clock/local_clock.h"
#include "log/logger.h"
#include "shell/process_lifecycle.h"

namespace kairovel {

bool ConsoleCtrlHandler(std::uint32_t) {
    // A slew this process started must not outlive it.
    try {
        TheLocalClock().RestoreForExit();
    } catch (const std::wstring& message) {
        Log(CurrentLogger(), LevelError, L"%s", message);
    }
    ProcessShutdown();
    return false;
}

}  // namespace kairovel
