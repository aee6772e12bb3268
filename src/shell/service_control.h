// Installation and control of the service through the control manager: the
// one operation that creates, starts, stops and deletes the service entry by
// flags, and the removal of an installation.
#pragma once

#include <cstdint>

namespace kairovel {

// ManageService flags, combinable.
inline constexpr std::uint32_t ScmCreate = 1;
inline constexpr std::uint32_t ScmStart = 2;
inline constexpr std::uint32_t ScmStop = 4;
inline constexpr std::uint32_t ScmDelete = 8;

// Stops and deletes (after waiting up to five interrogations, 2 s apart, for
// the service to leave its pending states), creates and starts the service
// entry as the flags say, in that order. Raises "<Call> failed (0x%02x)" with
// the manager's code at the first failure. created (may be null) tells whether
// this call created the entry.
void ManageService(std::uint32_t flags, bool* created = nullptr);

// ManageService with the flags, then the installed marker set to 0, then the
// stored parameters deleted: each step in its own error handler, its error
// logged and the next step run. Raises nothing.
void RemoveInstallation(std::uint32_t flags);

}  // namespace kairovel
