// Console control events: Ctrl+C, closing the console, log-off and shut-down.
//
// A console program installs handler routines with SetConsoleCtrlHandler. When
// an event arrives, the system calls them on a thread of its own, the most
// recently installed first, until one answers true (handled). When none does,
// the system's default handling ends the process. The handlers run beside the
// program's other threads, never inside a signal handler, so they may log,
// take locks and call anything an ordinary thread may.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/console_control.h adds them under their Windows names.
#pragma once

#include <cstdint>

#include "platform/facility.h"

namespace kairovel::platform {

// A handler routine: answers true when it handled the event, false to pass it on.
// The program's own type: the system calls a BOOL WINAPI (DWORD) routine, so
// the Windows backend installs one trampoline of that type, which calls these.
using PHANDLER_ROUTINE = bool (*)(std::uint32_t ctrlType);

class ConsoleControlFacility {
public:
    virtual ~ConsoleControlFacility() = default;

    // add true: installs handler (a routine may be installed more than once);
    // add false: removes its most recent installation, failing with
    // ERROR_INVALID_PARAMETER when it is not installed. A null handler with add
    // true makes the process ignore CTRL_C_EVENT, with add false restores it.
    virtual bool SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, bool add) = 0;
};

template <>
ConsoleControlFacility& DefaultFacility<ConsoleControlFacility>();

inline ConsoleControlFacility& ConsoleControl() { return Facility<ConsoleControlFacility>::Get(); }

}  // namespace kairovel::platform
