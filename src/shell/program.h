// What the program knows about itself: its name, version and executable.
#pragma once

#include <string>
#include <string_view>

namespace kairovel {

// The service's name, which is also its display name, its event source and the name of its stop event.
inline constexpr std::wstring_view ServiceName = L"Kairovel";

// Shown by the usage text and the scheduler's start message.
inline constexpr std::wstring_view VersionText = L"version 1.7 NT (Apr 17 1999)  ";

// The full path of the running executable, set by the entry point once the
// command line has been parsed; registered with the control manager and the event log.
std::wstring& ProgramPath();

}  // namespace kairovel
