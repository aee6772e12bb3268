// The process that runs a service: starting it detached, telling it apart
// from a later process with the same number, watching it end.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/service_manager/service_files.h"

namespace kairovel::platform::scm {

// The identity of a running process; false when there is no such process.
bool IdentityOf(int pid, ProcessIdentity& identity);
// Whether the process the identity names still runs (a zombie has ended).
bool IsRunning(const ProcessIdentity& identity);

struct LaunchRequest {
    std::filesystem::path program;
    std::vector<std::string> environment;  // NAME=value, the whole environment
    int channel = -1;                      // becomes descriptor kChannelDescriptor of the process
    int output = -1;                       // standard output and error; -1: /dev/null
};

// Starts the program without arguments in a session of its own, as a child of
// no caller (it is reparented to init), with standard input on /dev/null and no
// other descriptor of the caller. Returns ERROR_SUCCESS and its pid, or the
// Windows code of why it could not be started (ERROR_FILE_NOT_FOUND for a
// missing program).
std::uint32_t LaunchDetached(const LaunchRequest& request, int& pid);

// Watches one process through a pidfd, which cannot come to mean another process.
class ProcessWatch {
public:
    explicit ProcessWatch(int pid);
    int descriptor() const { return pidfd_.get(); }
    bool valid() const { return pidfd_.valid(); }
    // Ends the process with SIGKILL and waits for it to be gone, up to a bound.
    void Kill();

private:
    Descriptor pidfd_;
};

}  // namespace kairovel::platform::scm
