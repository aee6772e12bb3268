// The unit file of a service entry: what CreateServiceW writes to
// /etc/systemd/system and QueryServiceConfigW reads back.
//
// The unit runs the service's executable without arguments as a notify
// service of its own (Type=notify), ordered before time-sync.target and in
// conflict with the other time daemons, restarted after a crash, and
// sandboxed: root without any capability but CAP_SYS_TIME and
// CAP_NET_BIND_SERVICE, the file system read-only but for its state folder,
// /var/log and its run-time folder, no devices, no kernel tunables, and only
// the system calls a time service makes. The entry's Windows fields, which
// systemd has no setting for, are kept in X-Kairovel- keys, which systemd
// ignores.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kairovel::platform::scm {

struct ServiceUnit {
    std::wstring serviceName;  // as its creator spelt it
    std::wstring displayName;
    std::uint32_t type = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    std::wstring binaryPath;               // the executable, without quotation marks
    std::vector<std::string> environment;  // NAME=value, the creator's KAIROVEL_ settings
};

// The unit file's text; nullopt when a value holds what a unit file cannot
// (a line break, a control character).
std::optional<std::string> UnitText(const ServiceUnit& unit, const std::string& stem);

// The entry a unit file of ours describes; false for any other file.
bool ParseUnitText(std::string_view text, ServiceUnit& unit);

}  // namespace kairovel::platform::scm
