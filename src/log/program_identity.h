// The program's name and version: what every layer may show of itself.
#pragma once

#include <string_view>

namespace kairovel {

// The service's name, which is also its display name, its event source and the name of its stop event.
inline constexpr std::wstring_view ServiceName = L"Kairovel";

// Shown by the usage text and the scheduler's start message.
inline constexpr std::wstring_view VersionText = L"version 1.7 NT (Apr 17 1999)  ";

}  // namespace kairovel
