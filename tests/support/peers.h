// Real third-party peers for the time clients and the TIME server: xinetd's
// internal TIME service (TCP and UDP on port 37), chronyd as an NTP server
// (port 123) or broadcaster, and Samba's smbd as an NT machine (port 445).
// The daemons are not installed on the machine: they run from the folder
// that scripts/install-deps unpacks their packages into. Each runs as a
// background process with a private configuration in a temporary folder,
// never with the capability to set the clock, and can be given a known clock
// offset through libfaketime. They use the real ports, so tests that start
// them run in a private network namespace.
#pragma once

#include <memory>
#include <string>

#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {

// The libfaketime library, or empty when it is not installed.
std::string FaketimeLibrary();

// A peer daemon's program by its path in the package ("usr/sbin/chronyd"),
// under the folder that scripts/install-deps unpacks the peers into.
std::string PeerProgram(const std::string& packagePath);

// A peer daemon: a background process and the folder of its configuration.
class PeerDaemon {
public:
    virtual ~PeerDaemon() = default;
    // Whether the daemon answered on its port within the start-up bound.
    bool Ready() const { return ready_; }
    // What the daemon wrote, for the messages of failed tests.
    std::string Output() const { return process_ ? process_->Output() : std::string(); }
    pid_t Pid() const { return process_ ? process_->pid() : -1; }

protected:
    PeerDaemon() = default;
    // Starts argv without CAP_SYS_TIME, with the clock offset (such as "+5s") when one is given.
    void Start(const std::vector<std::string>& argv, const std::string& clockOffset);
    // With endWithTest the process is killed when the test process ends, even
    // when it ends without its destructors (a sanitizer halting it).
    static std::unique_ptr<BackgroundProcess> Launch(const std::vector<std::string>& argv,
                                                     const std::string& clockOffset, bool endWithTest = false);

    TemporaryDirectory folder_;
    std::unique_ptr<BackgroundProcess> process_;
    bool ready_ = false;
};

// xinetd serving TIME (RFC 868) itself over TCP and UDP on port 37. Its
// connection rate limits are lifted, so that a benchmark meets its real speed.
class XinetdTimeServer : public PeerDaemon {
public:
    explicit XinetdTimeServer(const std::string& clockOffset = {});
};

// chronyd as an NTP server on port 123 of every address of the private network, its own local clock at stratum 8.
class ChronyServer : public PeerDaemon {
public:
    explicit ChronyServer(const std::string& clockOffset = {});
};

// chronyd sending one NTP broadcast (mode 5) a second to 127.255.255.255 port 123,
// from a server port of its own that leaves 123 free for the listener.
class ChronyBroadcaster : public PeerDaemon {
public:
    explicit ChronyBroadcaster(const std::string& clockOffset = {});
};

struct SambaOptions {
    std::string clockOffset;  // such as "+5s"; empty: the machine's time
    // Serves the netlogon pipe as the primary domain controller of kSambaWorkgroup.
    bool domainController = false;
    // When set, anonymous sessions are refused and root may log on with this password.
    std::string rootPassword;
};

inline constexpr char kSambaWorkgroup[] = "KAIROVEL";

// Samba's smbd on port 445 of 127.0.0.1 with samba-dcerpcd beside it, which
// serves the RPC pipes (the time of day of srvsvc among them). Configuration,
// state and sockets live in the temporary folder; anonymous sessions may read
// the time of day unless rootPassword is given. Output() is smbd's.
class SambaServer : public PeerDaemon {
public:
    explicit SambaServer(const SambaOptions& options = {});
    std::string RpcServerOutput() const { return rpcServer_ ? rpcServer_->Output() : std::string(); }

private:
    std::unique_ptr<BackgroundProcess> rpcServer_;
};

}  // namespace kairovel::testing
