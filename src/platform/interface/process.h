// The running process: its executable, its command line, its priority and its memory.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/process.h adds them under their Windows names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/facility.h"

namespace kairovel::platform {

inline constexpr std::size_t kWorkingSetRelease = static_cast<std::size_t>(-1);  // (SIZE_T)-1

class ProcessFacility {
public:
    virtual ~ProcessFacility() = default;

    // The full path of the running executable.
    virtual std::wstring GetModuleFileNameW() = 0;
    // The whole command line as one text. On Linux the shell has already split
    // it, so it is the arguments joined by single blanks.
    virtual std::wstring GetCommandLineW() = 0;
    // Raises (or lowers) the scheduling priority of the whole process.
    virtual bool SetPriorityClass(std::uint32_t priorityClass) = 0;
    // Both sizes (SIZE_T)-1 give the process's unused memory back to the system.
    virtual bool SetProcessWorkingSetSize(std::size_t minimum, std::size_t maximum) = 0;
};

template <>
ProcessFacility& DefaultFacility<ProcessFacility>();

// Ends the process at once with the exit code, as Windows' ExitProcess ends
// it: the other threads stop where they are, and nothing of the program is
// torn down under them (no static object is destroyed). What the program
// wrote to its standard streams is flushed first.
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

inline ProcessFacility& Process() { return Facility<ProcessFacility>::Get(); }

}  // namespace kairovel::platform
