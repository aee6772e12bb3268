// The process's entry point: the arguments in the program's wide text, then the entry point.
#include <cstdint>

#include "clock/local_clock.h"
#include "platform/process.h"
#include "platform/program_entry.h"
#include "shell/entry_point.h"

int wmain(int argc, wchar_t** argv) {
    // The local clock saves the time adjustment in force now, before anything
    // can change it, and puts it back when the program ends.
    kairovel::TheLocalClock();
    const int exitCode = kairovel::EntryPoint(argc, argv);
    // The service's workers (the scheduler, a pass, the TIME server) are never
    // told to stop: they end with the process, before anything they use goes.
    if (argc <= 1) kairovel::platform::ExitProcess(static_cast<std::uint32_t>(exitCode));
    return exitCode;
}
