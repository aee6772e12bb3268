// The host's end of a user-mode Linux guest's network link, shared by the
// kernel and systemd stages: a tap device in the test's private network
// namespace (support/private_network.h) and chronyd serving NTP on it. The
// guest is 169.254.0.2 and the host 169.254.0.1, link-local addresses that
// never leave the namespace; chronyd runs on the host's clock, which no guest
// can change, so it stays the truth a guest's clock is measured against.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/peers.h"

namespace kairovel::testing {

inline constexpr char kHostLinkAddress[] = "169.254.0.1";
inline constexpr char kGuestLinkAddress[] = "169.254.0.2/16";  // with its prefix, for `ip address add`

class HostLink {
public:
    // Makes the tap device and starts chronyd on it.
    HostLink();
    // Stops chronyd and removes the device.
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // Empty when the link is up and chronyd answers; otherwise what went wrong.
    const std::string& Failure() const { return failure_; }
    // The kernel argument that gives the guest the link as its eth0.
    static std::string GuestKernelArgument();
    // What chronyd wrote, for the messages of failed tests.
    std::string ChronyOutput() const;

private:
    std::unique_ptr<ChronyServer> chrony_;
    std::string failure_;
};

// A value for a shell file of variables: the text in single quotes.
std::string ShellQuoted(const std::string& text);
// Each word quoted, separated by spaces: a list the shell splits back with eval.
std::string ShellQuotedWords(const std::vector<std::string>& words);

}  // namespace kairovel::testing
