// The program's message table, as the Windows build carries it in the
// executable, and the formatting the event log applies to an event with it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kairovel::platform {

// The text of an event: the message of eventId with %1 .. %99 replaced by
// the insertion strings (which are not scanned again, so a percent sign in
// them stays as it is) and the escapes %% %n %r %t %b %. %! %0 applied.
// An insertion that was not given stays as "%<n>", as the event viewer shows
// it. Empty when the table has no message with that identifier.
std::optional<std::wstring> FormatEventMessage(std::uint32_t eventId, std::span<const std::wstring_view> strings);

}  // namespace kairovel::platform
