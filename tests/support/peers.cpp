#include "support/peers.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/loopback.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartBound = 20s;                // how long a daemon may take to answer
constexpr std::uint16_t kBroadcasterPort = 11123;  // chronyd's own server port while it broadcasts

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

void PeerDaemon::Start(const std::vector<std::string>& argv, const std::string& clockOffset) {
    std::vector<std::string> command = {"setpriv", "--bounding-set=-sys_time", "--inh-caps=-sys_time"};
    command.insert(command.end(), argv.begin(), argv.end());
    ProcessOptions options;
    if (!clockOffset.empty()) {
        // The daemon's own clock, not the machine's, reads the offset; its monotonic clock stays true.
        options.environment["LD_PRELOAD"] = FaketimeLibrary();
        options.environment["FAKETIME"] = clockOffset;
        options.environment["DONT_FAKE_MONOTONIC"] = "1";
    }
    process_ = std::make_unique<BackgroundProcess>(command, options);
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
    Start({"xinetd", "-dontfork", "-f", (folder_ / "xinetd.conf").string(), "-pidfile",
           (folder_ / "xinetd.pid").string()},
          clockOffset);
    ready_ = WaitForTcpPort(kTimePort, kStartBound) && ExchangeUdp(kTimePort, "", 2s).has_value();
}

ChronyServer::ChronyServer(const std::string& clockOffset) {
    WriteText(folder_ / "chrony.conf", ChronyConfig(folder_, "allow 127.0.0.1\nport 123\n"));
    Start({"chronyd", "-d", "-x", "-u", "root", "-f", (folder_ / "chrony.conf").string()}, clockOffset);
    ready_ = WaitForNtpServer(kStartBound);
}

ChronyBroadcaster::ChronyBroadcaster(const std::string& clockOffset) {
    WriteText(folder_ / "chrony.conf",
              ChronyConfig(folder_, "allow 127.0.0.1\nport " + std::to_string(kBroadcasterPort) +
                                        "\nbroadcast 1 127.255.255.255 123\n"));
    Start({"chronyd", "-d", "-x", "-u", "root", "-f", (folder_ / "chrony.conf").string()}, clockOffset);
    // The broadcasts themselves are what the listener waits for; here it is enough that chronyd runs.
    std::this_thread::sleep_for(200ms);
    ready_ = process_->Running();
}

}  // namespace kairovel::testing
