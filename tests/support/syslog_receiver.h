// A system logger stand-in for tests: a datagram socket in a folder of the
// test's own, named by KAIROVEL_SYSLOG for as long as the receiver lives.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/temporary_directory.h"

namespace kairovel::testing {

class SyslogReceiver {
public:
    SyslogReceiver();
    ~SyslogReceiver();
    SyslogReceiver(const SyslogReceiver&) = delete;
    SyslogReceiver& operator=(const SyslogReceiver&) = delete;

    const std::filesystem::path& socketPath() const { return socketPath_; }
    // The next datagram, or nothing when none arrives within the wait.
    std::optional<std::string> Receive(std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

private:
    TemporaryDirectory dir_;
    std::filesystem::path socketPath_;
    int socket_ = -1;
    std::unique_ptr<ScopedEnvironment> setting_;
};

}  // namespace kairovel::testing
