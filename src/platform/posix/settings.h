// Run-time settings of the Linux stand-ins, from the environment, so that the
// command line keeps exactly the program's own switches.
#pragma once

#include <filesystem>
#include <string>

#include "platform/settings.h"

namespace kairovel::platform {
// KAIROVEL_SYSLOG: the event log stand-in's syslog socket. Default /dev/log.
std::filesystem::path SyslogSocketPath();
// KAIROVEL_NETAPI_CREDENTIALS: a file with the account that the network
// management calls log on with ("username = ", "password = ", "domain = "
// lines). Default empty: they log on anonymously.
std::filesystem::path NetworkCredentialsFile();
// KAIROVEL_BOOT_ID: the boot's id, which the service's unit sets for a
// service that cannot read the kernel's (ProcSubset=pid).
constexpr char kBootIdentitySetting[] = "KAIROVEL_BOOT_ID";

}  // namespace kairovel::platform
