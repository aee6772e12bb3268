// A user-mode Linux guest whose PID 1 is a real systemd, Debian 12's, with
// the D-Bus system bus (tests/systemd/guest_init.sh): the place where a test
// meets systemd as a service's manager without touching this machine's.
//
// systemd and D-Bus are the packages scripts/install-deps unpacked into the
// peer folder, laid over the host's root in the guest; the guest's unit set is
// theirs alone, and nothing of the host's services is started, changed or
// seen. A test gives one command: the guest boots to multi-user.target, runs
// it as the main process of a root service unit once the boot has finished,
// and powers off after it. The host's root is the guest's (read-only, under a
// tmpfs overlay), so the command and its arguments name host paths, and
// whatever the command leaves in /results the test reads in ResultsFolder().
//
// The calling process must be in a private network namespace of its own
// (support/private_network.h): the guest's eth0 is 169.254.0.2 on a tap link
// to the host, 169.254.0.1, where chronyd serves NTP on the host's clock
// (kernel/host_link.h). The clock agent, a unit of the guest on its serial
// line, is how the host ends the guest.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/host_link.h"
#include "kernel/uml_guest.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {

// The guest's view of SystemdGuest::ResultsFolder().
inline constexpr char kGuestResultsFolder[] = "/results";

struct SystemdCommand {
    std::vector<std::string> argv;         // the program (a host path) and its arguments
    std::vector<std::string> environment;  // NAME=VALUE, added to the service's own environment
    int timeLimitSeconds = 120;            // the guest powers itself off after this, whatever it is doing
};

class SystemdGuest {
public:
    // Makes the link, starts chronyd and boots the guest, waiting until the
    // command has started (or the boot has failed).
    explicit SystemdGuest(const SystemdCommand& command);
    ~SystemdGuest();
    SystemdGuest(const SystemdGuest&) = delete;
    SystemdGuest& operator=(const SystemdGuest&) = delete;

    // Empty once the command has started; otherwise what went wrong.
    const std::string& Failure() const { return failure_; }

    // What `systemctl is-system-running --wait` said when the boot had
    // finished, just before the command started: "running", "degraded", ...
    const std::string& BootState() const { return bootState_; }

    // Waits for the command to end: its exit code (128 + the signal that
    // ended it), or empty when it did not end within bound.
    std::optional<int> WaitForCommand(std::chrono::seconds bound);
    // The host folder that the guest has at /results.
    std::filesystem::path ResultsFolder() const { return folder_ / "results"; }
    // What the command wrote to its standard output and error.
    std::string CommandOutput() const;
    // The guest's journal of the boot, written once the command has ended.
    std::string Journal() const;
    // The console, the journal and chronyd's output, for the messages of failed tests.
    std::string Diagnostics() const;

private:
    TemporaryDirectory folder_;
    std::unique_ptr<HostLink> link_;
    std::unique_ptr<UmlGuest> guest_;
    std::string failure_;
    std::string bootState_;
};

}  // namespace kairovel::testing
