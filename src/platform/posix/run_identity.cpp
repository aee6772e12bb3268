// Boots and processes on Linux: the kernel's boot_id, and a process's number
// with its start time since boot from /proc.
#include "platform/run_identity.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/settings.h"

namespace kairovel::platform {
namespace {

// Field 22 of /proc/<pid>/stat, the start time in clock ticks since boot, and
// field 3, the state; empty when there is no such process. The second field
// is the command in parentheses, which may itself hold blanks and ")".
bool ReadStat(const std::string& pid, std::string& startTime, char& state) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(in, line)) return false;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    fields >> state;
    for (int number = 4; number <= 22 && fields >> field; ++number) {
        if (number == 22) startTime = field;
    }
    return !startTime.empty();
}

// The service's unit hands it the boot's id (systemd's %b, 32 hex digits),
// since it sees only the processes of /proc; given back in the kernel's own
// form, which records hold.
std::string BootIdentityFromUnit() {
    const char* text = std::getenv(kBootIdentitySetting);
    std::string identity = text ? text : "";
    if (identity.size() != 32 || identity.find_first_not_of("0123456789abcdef") != std::string::npos) return {};
    for (const std::size_t dash : {8, 13, 18, 23}) identity.insert(dash, 1, '-');
    return identity;
}

}  // namespace

std::string BootIdentity() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string identity;
    std::getline(in, identity);
    return identity.empty() ? BootIdentityFromUnit() : identity;
}

bool IsCurrentBoot(const std::string& identity) { return !identity.empty() && identity == BootIdentity(); }

std::string ProcessIdentity() {
    const std::string pid = std::to_string(::getpid());
    std::string startTime;
    char state = 0;
    ReadStat(pid, startTime, state);
    return pid + " " + startTime;
}

std::string ProcessDescription(const std::string& identity) {
    const std::string pid = identity.substr(0, identity.find(' '));
    std::ifstream in("/proc/" + pid + "/comm");
    std::string command;
    std::getline(in, command);
    return "process " + pid + (command.empty() ? "" : " (" + command + ")");
}

bool IsRunningProcess(const std::string& identity) {
    std::istringstream in(identity);
    std::string pid;
    std::string recordedStart;
    if (!(in >> pid >> recordedStart) || pid.find_first_not_of("0123456789") != std::string::npos) return false;
    std::string startTime;
    char state = 0;
    if (ReadStat(pid, startTime, state)) return startTime == recordedStart && state != 'Z' && state != 'X';
    // Another user's process that /proc hides from this one (the service's
    // user, under ProtectProc=invisible) cannot be told apart from a later
    // process of its number: while a process of that number runs, so may it.
    int number = 0;
    std::istringstream(pid) >> number;
    return number > 0 && ::kill(number, 0) != 0 && errno == EPERM;
}

}  // namespace kairovel::platform
