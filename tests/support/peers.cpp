#include "support/peers.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/loopback.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartBound = 20s;                // how long a daemon may take to answer
constexpr std::uint16_t kBroadcasterPort = 11123;  // chronyd's own server port while it broadcasts
// chronyd runs with the real-time scheduler where the machine grants it (it
// goes on without otherwise), so that on a busy machine it answers at once: a
// reply held back lengthens the round trip, half of which a client takes off
// the deviation it measures.
constexpr char kChronyPriority[] = "20";

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

// True once chronyd answers a client request with a synchronised reply.
bool WaitForNtpServer(std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const std::string request = NtpMessageBytes(0x23, 0, 0, 0);  // version 4, client
    while (std::chrono::steady_clock::now() < deadline) {
        const auto reply = ExchangeUdp(kNtpPort, request, 500ms);
        if (reply && reply->size() >= 48 && (*reply)[1] != 0) return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

std::string ChronyConfig(const TemporaryDirectory& folder, const std::string& specific) {
    return "local stratum 8\n"
           "cmdport 0\n"
           "bindcmdaddress /\n"
           "pidfile " + (folder / "chronyd.pid").string() + "\n" + specific;
}

}  // namespace

std::string FaketimeLibrary() {
    const std::string path = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

std::string PeerProgram(const std::string& packagePath) {
    return (std::filesystem::path(KAIROVEL_PEER_ROOT) / packagePath).string();
}

void PeerDaemon::Start(const std::vector<std::string>& argv, const std::string& clockOffset) {
    process_ = Launch(argv, clockOffset);
}

std::unique_ptr<BackgroundProcess> PeerDaemon::Launch(const std::vector<std::string>& argv,
                                                      const std::string& clockOffset, bool endWithTest) {
    std::vector<std::string> command = {"setpriv", "--bounding-set=-sys_time", "--inh-caps=-sys_time"};
    if (endWithTest) command.push_back("--pdeathsig=KILL");
    command.insert(command.end(), argv.begin(), argv.end());
    ProcessOptions options;
    if (!clockOffset.empty()) {
        // The daemon's own clock, not the machine's, reads the offset; its monotonic clock stays true.
        options.environment["LD_PRELOAD"] = FaketimeLibrary();
        options.environment["FAKETIME"] = clockOffset;
        options.environment["DONT_FAKE_MONOTONIC"] = "1";
    }
    return std::make_unique<BackgroundProcess>(command, options);
}

XinetdTimeServer::XinetdTimeServer(const std::string& clockOffset) {
    const std::string limits =
        "    user = root\n"
        "    port = 37\n"
        "    instances = UNLIMITED\n"
        "    per_source = UNLIMITED\n"
        "    cps = 1000000 1\n";
    WriteText(folder_ / "xinetd.conf",
              "defaults\n{\n    log_type = FILE " + (folder_ / "xinetd.log").string() + "\n}\n"
              "service time\n{\n    type = INTERNAL\n    id = time-stream\n    socket_type = stream\n"
              "    protocol = tcp\n    wait = no\n" + limits + "}\n"
              "service time\n{\n    type = INTERNAL\n    id = time-dgram\n    socket_type = dgram\n"
              "    protocol = udp\n    wait = yes\n" + limits + "}\n");
    Start({PeerProgram("usr/sbin/xinetd"), "-dontfork", "-f", (folder_ / "xinetd.conf").string(), "-pidfile",
           (folder_ / "xinetd.pid").string()},
          clockOffset);
    ready_ = WaitForTcpPort(kTimePort, kStartBound) && ExchangeUdp(kTimePort, "", 2s).has_value();
}

ChronyServer::ChronyServer(const std::string& clockOffset) {
    // Anyone in the private network may ask: loopback, and the link of a user-mode Linux guest.
    WriteText(folder_ / "chrony.conf", ChronyConfig(folder_, "allow\nport 123\n"));
    Start({PeerProgram("usr/sbin/chronyd"), "-d", "-x", "-u", "root", "-P", kChronyPriority, "-f",
           (folder_ / "chrony.conf").string()},
          clockOffset);
    ready_ = WaitForNtpServer(kStartBound);
}

ChronyBroadcaster::ChronyBroadcaster(const std::string& clockOffset) {
    WriteText(folder_ / "chrony.conf",
              ChronyConfig(folder_, "allow 127.0.0.1\nport " + std::to_string(kBroadcasterPort) +
                                        "\nbroadcast 1 127.255.255.255 123\n"));
    Start({PeerProgram("usr/sbin/chronyd"), "-d", "-x", "-u", "root", "-P", kChronyPriority, "-f", (folder_ / "chrony.conf").string()},
          clockOffset);
    // The broadcasts themselves are what the listener waits for; here it is enough that chronyd runs.
    std::this_thread::sleep_for(200ms);
    ready_ = process_->Running();
}

SambaServer::SambaServer(const SambaOptions& options) {
    const std::string base = folder_.path().string();
    for (const char* sub : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log"}) {
        std::filesystem::create_directories(folder_ / sub);
    }
    std::string role = "  server role = standalone server\n  disable netbios = yes\n";
    if (options.domainController) {
        // The controller is found by NetBIOS names, here by broadcast alone,
        // which no name server answers on loopback.
        role = "  server role = classic primary domain controller\n  domain logons = yes\n"
               "  name resolve order = bcast\n";
    }
    const std::string access = options.rootPassword.empty() ? "  restrict anonymous = 0\n" : "  restrict anonymous = 2\n";
    const std::filesystem::path config = folder_ / "smb.conf";
    WriteText(config, std::string("[global]\n") +
                          "  netbios name = KAIROVELTEST\n"
                          "  workgroup = " + kSambaWorkgroup + "\n" + role + access +
                          "  interfaces = 127.0.0.1/8\n"
                          "  bind interfaces only = yes\n"
                          "  smb ports = 445\n"
                          "  map to guest = Bad User\n"
                          "  load printers = no\n"
                          "  printcap name = /dev/null\n"
                          "  disable spoolss = yes\n"
                          // samba-dcerpcd runs as a peer of its own, ended by its PID with smbd,
                          // not as a helper smbd would start and leave behind.
                          "  rpc start on demand helpers = no\n"
                          "  lock directory = " + base + "/lock\n"
                          "  state directory = " + base + "/state\n"
                          "  cache directory = " + base + "/cache\n"
                          "  pid directory = " + base + "/pid\n"
                          "  private dir = " + base + "/private\n"
                          "  ncalrpc dir = " + base + "/ncalrpc\n"
                          "  log file = " + base + "/log/log.%m\n"
                          "  passdb backend = tdbsam:" + base + "/private/passdb.tdb\n");
    if (!options.rootPassword.empty()) {
        ProcessOptions input;
        input.standardInput = options.rootPassword + "\n" + options.rootPassword + "\n";
        input.timeout = 20s;
        if (RunProcess({PeerProgram("usr/bin/smbpasswd"), "-c", config.string(), "-a", "-s", "root"}, input).exitCode !=
            0) {
            return;
        }
    }
    const std::vector<std::string> common = {"--foreground", "--no-process-group", "--debug-stdout", "-d1", "-s",
                                             config.string()};
    // The RPC servers are named one by one: the folder that --libexec-rpcds
    // would scan is compiled into samba-dcerpcd.
    std::vector<std::string> rpc = {PeerProgram("usr/libexec/samba/samba-dcerpcd")};
    rpc.insert(rpc.end(), common.begin(), common.end());
    std::vector<std::string> rpcServers;
    std::error_code noFolder;
    for (const auto& entry : std::filesystem::directory_iterator(PeerProgram("usr/libexec/samba"), noFolder)) {
        if (entry.path().filename().string().starts_with("rpcd_")) rpcServers.push_back(entry.path().string());
    }
    std::sort(rpcServers.begin(), rpcServers.end());
    rpc.insert(rpc.end(), rpcServers.begin(), rpcServers.end());
    // Samba's daemons outlive a test that is halted, and go on holding port 445
    // of its namespace; their children end with them.
    rpcServer_ = Launch(rpc, options.clockOffset, true);
    std::vector<std::string> smbd = {PeerProgram("usr/sbin/smbd")};
    smbd.insert(smbd.end(), common.begin(), common.end());
    process_ = Launch(smbd, options.clockOffset, true);

    // Ready when smbd listens and samba-dcerpcd has made the pipes that are asked.
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    std::vector<std::filesystem::path> pipes = {folder_ / "ncalrpc" / "np" / "srvsvc"};
    if (options.domainController) pipes.push_back(folder_ / "ncalrpc" / "np" / "netlogon");
    const auto pipesMade = [&] {
        return std::all_of(pipes.begin(), pipes.end(), [](const auto& pipe) { return std::filesystem::exists(pipe); });
    };
    while (!pipesMade() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ready_ = pipesMade() && WaitForTcpPort(445, std::max(left, 0ms));
}

}  // namespace kairovel::testing
