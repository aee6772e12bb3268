// A service's Windows status from what systemd says of its unit and what the
// service itself last reported.
//
// systemd knows whether the unit's process runs; the service knows the
// Windows state it is in (paused, a stop pending), its check point, wait
// hint and exit code. A report counts only while the process that made it
// is the unit's main process, or, once the unit has stopped, was its last one.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/posix/service_manager/runtime_folder.h"
#include "platform/posix/service_manager/systemd_bus.h"
#include "platform/service_types.h"

namespace kairovel::platform::scm {

SERVICE_STATUS EffectiveStatus(const UnitState& unit, const std::optional<RunRecord>& record,
                               std::uint32_t entryType);

// ERROR_SUCCESS when the control may go to a service in that status, or the
// Windows code why not: not running, pending, or not among the accepted controls.
std::uint32_t ControlRefusal(std::uint32_t control, const SERVICE_STATUS& status);

}  // namespace kairovel::platform::scm
