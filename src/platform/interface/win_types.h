// Windows data types as the rest of the program and the Windows backend see them.
//
// The records have the layout of the Windows ones, without pulling windows.h
// into the system folders. Like every header of platform/interface, this one
// declares no name that windows.h defines as a macro, so the Windows backend
// can include it beside windows.h; the codes and constants of the same names
// are in platform/win_types.h.
#pragma once

#include <cstdint>

namespace kairovel::platform {

// Calendar record of GetSystemTime / SetSystemTime: eight unsigned 16-bit fields.
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;      // 1 to 12
    std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
    std::uint16_t wDay = 0;        // 1 to 31
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, split as Windows does.
struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

// An open object of the system (a file, an event source). The program never
// looks inside; only the facility that returned it knows what it stands for.
using HANDLE = void*;

}  // namespace kairovel::platform
