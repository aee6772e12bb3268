#include "shell/console_ctrl_handler.h"

#include "shell/process_lifecycle.h"

namespace kairovel {

bool ConsoleCtrlHandler(std::uint32_t) {
    // The local clock's time adjustment is put back here once this program
    // can change it (the clock discipline); nothing in this build changes it.
    ProcessShutdown();
    return false;
}

}  // namespace kairovel
