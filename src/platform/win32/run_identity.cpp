// Boots and processes on Windows. A boot is the moment the machine started
// (the time now less how long it has been up) with that uptime: a later
// boot has been up for less time than was recorded, or started at another
// moment (within an hour, since the clock itself may have been set since).
// A process is its number with its creation time.
#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "platform/run_identity.h"

namespace kairovel::platform {
namespace {

constexpr std::int64_t kUnitsPerMillisecond = 10'000;  // 100-ns units
constexpr std::int64_t kSameBootTolerance = 3'600'000 * kUnitsPerMillisecond;

std::int64_t Now() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

std::int64_t Count(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

std::string BootIdentity() {
    const auto uptime = static_cast<std::int64_t>(::GetTickCount64());
    return std::to_string(Now() - uptime * kUnitsPerMillisecond) + " " + std::to_string(uptime);
}

bool IsCurrentBoot(const std::string& identity) {
    std::istringstream in(identity);
    std::int64_t started = 0;
    std::int64_t uptime = 0;
    if (!(in >> started >> uptime)) return false;
    const auto uptimeNow = static_cast<std::int64_t>(::GetTickCount64());
    const std::int64_t startedNow = Now() - uptimeNow * kUnitsPerMillisecond;
    const std::int64_t apart = startedNow > started ? startedNow - started : started - startedNow;
    return uptimeNow >= uptime && apart < kSameBootTolerance;
}

std::string ProcessIdentity() {
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    return std::to_string(::GetCurrentProcessId()) + " " + std::to_string(Count(created));
}

std::string ProcessDescription(const std::string& identity) {
    return "process " + identity.substr(0, identity.find(' '));
}

bool IsRunningProcess(const std::string& identity) {
    std::istringstream in(identity);
    DWORD pid = 0;
    std::int64_t recordedCreation = 0;
    if (!(in >> pid >> recordedCreation)) return false;
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    DWORD exitCode = 0;
    const bool running = ::GetProcessTimes(process, &created, &ended, &kernel, &user) &&
                         Count(created) == recordedCreation && ::GetExitCodeProcess(process, &exitCode) &&
                         exitCode == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

}  // namespace kairovel::platform
