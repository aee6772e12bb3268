// Small servers and clients on the loopback interface, written directly on BSD
// sockets, to play the peer's part in tests of the time clients and the TIME
// server: well-behaved, malformed and silent ones. Every wait is bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kairovel::testing {

inline constexpr std::uint16_t kTimePort = 37;
inline constexpr std::uint16_t kNtpPort = 123;

// A TCP server on 127.0.0.1 that answers every connection the same way: it
// sends reply (nothing when empty) and then closes, or holds the connection
// open until the server goes when holdOpen is set.
class ScriptedTcpServer {
public:
    ScriptedTcpServer(std::uint16_t port, std::string reply, bool holdOpen = false);
    ~ScriptedTcpServer();
    ScriptedTcpServer(const ScriptedTcpServer&) = delete;
    ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

    int Connections() const { return connections_.load(); }

private:
    void Serve();

    int listening_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::string reply_;
    bool holdOpen_;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// A UDP server on 127.0.0.1 that answers every datagram it receives with the
// datagrams of replies, in order (with none, it never answers). With
// copyNtpOrigin, it answers as an NTP server does: the request's transmit
// timestamp goes into the origin timestamp of every reply that leaves it 0
// (a reply with an origin of its own keeps it: a forgery or a stale reply).
class ScriptedUdpServer {
public:
    ScriptedUdpServer(std::uint16_t port, std::vector<std::string> replies, bool copyNtpOrigin = false);
    ~ScriptedUdpServer();
    ScriptedUdpServer(const ScriptedUdpServer&) = delete;
    ScriptedUdpServer& operator=(const ScriptedUdpServer&) = delete;

    // The requests received so far, each as its bytes.
    std::vector<std::string> Requests();

private:
    void Serve();

    int socket_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::vector<std::string> replies_;
    bool copyNtpOrigin_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// Sends datagram to 127.0.0.1:port every interval until it goes (a stand-in
// for a broadcasting server whose listener may not be ready yet).
class RepeatingUdpSender {
public:
    RepeatingUdpSender(std::uint16_t port, std::string datagram,
                       std::chrono::milliseconds interval = std::chrono::milliseconds(50));
    ~RepeatingUdpSender();
    RepeatingUdpSender(const RepeatingUdpSender&) = delete;
    RepeatingUdpSender& operator=(const RepeatingUdpSender&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Connects to 127.0.0.1:port and reads until the server closes (or timeout);
// nothing when the connection fails. send is written first when not empty.
std::optional<std::string> ReadTcpReply(std::uint16_t port, const std::string& send = {},
                                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
// Sends request to 127.0.0.1:port over UDP and returns the first reply, or nothing by timeout.
std::optional<std::string> ExchangeUdp(std::uint16_t port, const std::string& request,
                                       std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
// True once a TCP connect to 127.0.0.1:port succeeds, false when timeout passes first.
bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout);
// Holds a TCP listening socket on the port (for "address in use"); -1 on failure.
int ListenOnTcpPort(std::uint16_t port);
// The same with a chosen listen backlog.
int ListenOnTcpPortWithBacklog(std::uint16_t port, int backlog);
void CloseDescriptor(int fd);

// The 4 bytes of a TIME reply for a seconds count.
std::string TimeReplyBytes(std::uint32_t seconds);
// A 48-byte NTP message with the given first byte, stratum, transmit time and origin timestamp.
std::string NtpMessageBytes(std::uint8_t first, std::uint8_t stratum, std::uint32_t transmitSeconds,
                            std::uint32_t transmitFraction, std::uint64_t origin = 0);
// The NTP time now: seconds since 1900 and a fraction of 2^-32 s.
std::pair<std::uint32_t, std::uint32_t> NtpTimeNow();

}  // namespace kairovel::testing
