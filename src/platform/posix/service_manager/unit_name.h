// How a service of the program's names is a systemd unit.
//
// Windows compares service names without regard to case; systemd's unit
// names are case-sensitive. The unit of a service is its name in small
// letters with ".service": "Kairovel" is kairovel.service, whatever the case
// a caller spells it in. Its run-time folder, which systemd makes at the
// start (RuntimeDirectory=), is /run/<the same stem>.
//
// A service name that a unit name cannot hold as it is (anything but
// letters, digits, "_", "-", "." and ":", or a leading ".") is refused with
// ERROR_INVALID_NAME, rather than escaped into a unit name a user would not
// recognise.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kairovel::platform::scm {

// The stem of the service's unit ("kairovel"), or empty when the name cannot be one.
std::string UnitStem(std::wstring_view serviceName);
inline std::string UnitName(const std::string& stem) { return stem + ".service"; }

// Where systemd reads the units an administrator writes.
inline const std::filesystem::path kUnitFolder = "/etc/systemd/system";
inline std::filesystem::path UnitFile(const std::string& stem) { return kUnitFolder / UnitName(stem); }
// Where an administrator lists the units of time services for timedated
// (timedatectl's "NTP service", set-ntp): one file names the service's unit.
// It sorts before systemd-timesyncd's 80-systemd-timesyncd.list, so that
// set-ntp true starts this one where both are installed.
inline const std::filesystem::path kTimeServiceListFolder = "/etc/systemd/ntp-units.d";
inline std::filesystem::path TimeServiceListFile(const std::string& stem) {
    return kTimeServiceListFolder / ("50-" + stem + ".list");
}

}  // namespace kairovel::platform::scm
