// A service's state as both sides of the stand-in see it: the status the
// manager gives, whether a control may go to the service, and the deletion
// of an entry once nothing holds it any more.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/posix/service_manager/service_files.h"
#include "platform/service_types.h"

namespace kairovel::platform::scm {

// What the service last reported while its process runs; SERVICE_STOPPED once
// the process is gone, whatever it said (with ERROR_PROCESS_ABORTED when it
// did not say it stopped). No record: stopped, of the entry's type.
SERVICE_STATUS EffectiveStatus(const std::optional<RunRecord>& record, std::uint32_t entryType);

// The effective status from the service's folder; false with the last error
// set when the record cannot be read.
bool CurrentStatus(const ServiceFolder& folder, std::uint32_t entryType, SERVICE_STATUS& status,
                   std::optional<RunRecord>* record = nullptr);

// ERROR_SUCCESS when the control may go to a service in that status, or the
// Windows code why not: not running, pending, or not among the accepted controls.
std::uint32_t ControlRefusal(std::uint32_t control, const SERVICE_STATUS& status);

// Deletes an entry marked for deletion once its service has stopped and no
// handle of any process is open to it; quietly does nothing otherwise.
void DeleteIfDue(std::wstring_view name);

}  // namespace kairovel::platform::scm
