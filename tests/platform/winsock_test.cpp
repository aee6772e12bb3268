#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/bsd_winsock.h"
#include "platform/winsock.h"
#include "support/loopback.h"

namespace kairovel::platform {
namespace {

// Starts Windows Sockets for one test.
class Started {
public:
    Started() { EXPECT_EQ(Winsock().WSAStartup(kWinsockVersion11, data), 0); }
    ~Started() { Winsock().WSACleanup(); }
    WSADATA data;
};

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address;
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000001);
    return address;
}

const sockaddr* Generic(const sockaddr_in& address) { return reinterpret_cast<const sockaddr*>(&address); }

TEST(Winsock, ByteOrderIsBigEndianOnTheWire) {
    static_assert(htons(0x1234) == 0x3412);
    static_assert(htonl(0x01020304) == 0x04030201);
    static_assert(ntohl(htonl(0xBAC2CCEF)) == 0xBAC2CCEF);
}

TEST(Winsock, CallsNeedAStartupThatIsCounted) {
    EXPECT_EQ(Winsock().socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(Winsock().WSACleanup(), SOCKET_ERROR);
    WSADATA data;
    EXPECT_EQ(Winsock().WSAStartup(0x0000, data), WSAVERNOTSUPPORTED);
    ASSERT_EQ(Winsock().WSAStartup(kWinsockVersion11, data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    ASSERT_EQ(Winsock().WSAStartup(kWinsockVersion11, data), 0);
    EXPECT_EQ(Winsock().WSACleanup(), 0);
    const SOCKET s = Winsock().socket(AF_INET, SOCK_DGRAM, 0);  // one start-up is still in force
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(Winsock().closesocket(s), 0);
    EXPECT_EQ(Winsock().WSACleanup(), 0);
    EXPECT_EQ(Winsock().getservbyname("time", "tcp"), nullptr);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSANOTINITIALISED);
}

TEST(Winsock, ErrorsCarryTheWindowsCodes) {
    const Started started;
    const SOCKET s = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in nobody = Loopback(4001);
    EXPECT_EQ(Winsock().connect(s, Generic(nobody), sizeof nobody), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAECONNREFUSED);
    Winsock().closesocket(s);
    EXPECT_EQ(Winsock().closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(Winsock().socket(23, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAEAFNOSUPPORT);

    const int taken = testing::ListenOnTcpPort(4002);
    const SOCKET second = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in busy = Loopback(4002);
    EXPECT_EQ(Winsock().bind(second, Generic(busy), sizeof busy), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAEADDRINUSE);
    Winsock().closesocket(second);
    testing::CloseDescriptor(taken);
}

// Interrupts a thread with a signal every interval (at most 20 times) until
// it is destroyed, as a console event interrupts the call the thread is in.
class SignalPoker {
public:
    SignalPoker(pthread_t target, std::chrono::milliseconds interval) {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: every signal interrupts the call
        ::sigaction(SIGUSR1, &action, &previous_);
        thread_ = std::thread([this, target, interval] {
            std::unique_lock<std::mutex> lock(mutex_);
            for (int poke = 0; poke < 20; ++poke) {
                if (stopped_.wait_for(lock, interval, [this] { return stop_; })) return;
                ::pthread_kill(target, SIGUSR1);
            }
        });
    }
    ~SignalPoker() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        stopped_.notify_all();
        thread_.join();
        ::sigaction(SIGUSR1, &previous_, nullptr);
    }
    SignalPoker(const SignalPoker&) = delete;
    SignalPoker& operator=(const SignalPoker&) = delete;

private:
    struct sigaction previous_ {};
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

TEST(Winsock, ClosingWhatIsNoSocketClosesNothing) {
    const Started started;
    // A descriptor of something else, as a stale socket number may name once it is reused.
    const int file = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    EXPECT_EQ(Winsock().closesocket(static_cast<SOCKET>(file)), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(::fcntl(file, F_GETFD), FD_CLOEXEC);  // still open
    ::close(file);
}

TEST(Winsock, ConnectGivesUpAfterItsTimeOut) {
    static_assert(kWindowsConnectTimeout == std::chrono::seconds(21));  // the process's own sockets wait this long
    constexpr auto kTimeout = std::chrono::milliseconds(600);
    const std::unique_ptr<WinsockFacility> shortWait = MakeBsdWinsock(kTimeout);
    const ScopedFacility<WinsockFacility> scope(*shortWait);
    const Started started;
    // A listener whose accept queue is full drops every further SYN unanswered.
    const int listener = testing::ListenOnTcpPortWithBacklog(4006, 0);
    ASSERT_GE(listener, 0);
    const sockaddr_in address = Loopback(4006);
    const SOCKET first = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Winsock().connect(first, Generic(address), sizeof address), 0);  // fills the queue
    const SOCKET second = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    const auto start = std::chrono::steady_clock::now();
    int result = 0;
    {
        // Signals neither end the wait early nor extend it.
        const SignalPoker signals(::pthread_self(), std::chrono::milliseconds(100));
        result = Winsock().connect(second, Generic(address), sizeof address);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAETIMEDOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, kTimeout);
    EXPECT_LE(waited, kTimeout + std::chrono::seconds(2));  // a loaded machine may wake the thread late
    Winsock().closesocket(second);
    Winsock().closesocket(first);
    testing::CloseDescriptor(listener);
}

TEST(Winsock, DatagramReceiveKeepsWindowsRules) {
    const Started started;
    const SOCKET s = Winsock().socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any{};
    sockaddr_in local = any;
    local.sin_family = AF_INET;
    ASSERT_EQ(Winsock().bind(s, Generic(local), sizeof local), 0);
    const std::uint32_t timeout = 200;
    ASSERT_EQ(Winsock().setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                                   sizeof timeout),
              0);
    const linger closeAtOnce{1, 0};
    EXPECT_EQ(Winsock().setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&closeAtOnce),
                                   sizeof closeAtOnce),
              0);
    EXPECT_EQ(Winsock().setsockopt(s, SOL_SOCKET, 0x7777, "", 0), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAENOPROTOOPT);

    // A receive time-out is a time-out, not "would block".
    char buffer[4] = {};
    EXPECT_EQ(Winsock().recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAETIMEDOUT);

    // Nobody on the far port: the "port unreachable" comes back as a reset.
    const sockaddr_in nobody = Loopback(4003);
    ASSERT_EQ(Winsock().connect(s, Generic(nobody), sizeof nobody), 0);
    ASSERT_EQ(Winsock().send(s, "", 0, 0), 0);
    EXPECT_EQ(Winsock().recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAECONNRESET);
    Winsock().closesocket(s);

    // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE.
    testing::ScriptedUdpServer server(4004, {"abcdef"});
    const SOCKET client = Winsock().socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(4004);
    ASSERT_EQ(Winsock().connect(client, Generic(to), sizeof to), 0);
    ASSERT_EQ(Winsock().send(client, "", 0, 0), 0);
    sockaddr_in from;
    int fromLength = sizeof from;
    EXPECT_EQ(Winsock().recvfrom(client, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength),
              SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(fromLength, 16);
    EXPECT_EQ(std::string(Winsock().inet_ntoa(from.sin_addr)), "127.0.0.1");
    EXPECT_EQ(ntohs(from.sin_port), 4004);
    Winsock().closesocket(client);
}

TEST(Winsock, DatabasesAndAddressTexts) {
    const Started started;
    const servent* time = Winsock().getservbyname("time", "udp");
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(ntohs(static_cast<std::uint16_t>(time->s_port)), 37);
    EXPECT_STREQ(time->s_name, "time");
    EXPECT_EQ(Winsock().getservbyname("no-such-service", "tcp"), nullptr);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSANO_DATA);

    const hostent* host = Winsock().gethostbyname("localhost");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->h_length, 4);
    std::uint32_t first = 0;
    std::memcpy(&first, host->h_addr_list[0], 4);
    EXPECT_EQ(ntohl(first), 0x7F000001u);

    EXPECT_EQ(Winsock().inet_addr("192.168.1.5"), htonl(0xC0A80105));
    EXPECT_EQ(Winsock().inet_addr("not an address"), INADDR_NONE);
    EXPECT_EQ(Winsock().inet_addr("255.255.255.255"), INADDR_NONE);
    EXPECT_STREQ(Winsock().inet_ntoa(in_addr{htonl(0x0A000102)}), "10.0.1.2");
}

TEST(Winsock, StreamExchangeWithoutSigpipe) {
    const Started started;
    const SOCKET server = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(4005);
    ASSERT_EQ(Winsock().bind(server, Generic(address), sizeof address), 0);
    ASSERT_EQ(Winsock().listen(server, 100), 0);
    const SOCKET client = Winsock().socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Winsock().connect(client, Generic(address), sizeof address), 0);
    sockaddr_in peer;
    int peerLength = sizeof peer;
    const SOCKET accepted = Winsock().accept(server, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(ntohl(peer.sin_addr.s_addr), 0x7F000001u);
    EXPECT_EQ(Winsock().send(accepted, "\xBA\xC2\xCC\xEF", 4, 0), 4);
    char buffer[4];
    EXPECT_EQ(Winsock().recv(client, buffer, 4, 0), 4);
    Winsock().closesocket(client);
    // Writing to a connection the peer has closed fails; it does not kill the process.
    int result = 0;
    for (int i = 0; i < 10 && result != SOCKET_ERROR; ++i) result = Winsock().send(accepted, "xxxx", 4, 0);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(Winsock().WSAGetLastError(), WSAECONNRESET);
    Winsock().closesocket(accepted);
    Winsock().closesocket(server);
}

}  // namespace
}  // namespace kairovel::platform
