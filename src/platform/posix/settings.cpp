#include "platform/posix/settings.h"

#include <cstdlib>

namespace kairovel::platform {
namespace {

std::string Setting(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::filesystem::path StateRoot() { return Setting("KAIROVEL_ROOT", "/var/lib/kairovel"); }

std::string ClockKind() { return Setting("KAIROVEL_CLOCK", "system"); }

std::filesystem::path SyslogSocketPath() { return Setting("KAIROVEL_SYSLOG", "/dev/log"); }

std::filesystem::path NetworkCredentialsFile() { return Setting("KAIROVEL_NETAPI_CREDENTIALS", ""); }

}  // namespace kairovel::platform
