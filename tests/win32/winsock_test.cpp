// Windows Sockets on Windows, on the loopback interface: the exchanges the
// time clients and the TIME server make, and the codes of their failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/winsock.h"

namespace kairovel::platform {
namespace {

class WinsockOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(sockets.WSAStartup(kWinsockVersion11, data), 0);
        EXPECT_EQ(data.wVersion, kWinsockVersion11);
    }
    void TearDown() override { sockets.WSACleanup(); }

    static sockaddr_in Loopback(std::uint16_t port) {
        sockaddr_in address;
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(0x7F000001);
        return address;
    }
    static const sockaddr* AsAddress(const sockaddr_in& address) { return reinterpret_cast<const sockaddr*>(&address); }

    // A socket bound on 127.0.0.1 to the first free port from 40000; the port
    // in port. (The facility has no getsockname to learn a port the system picks.)
    SOCKET Bound(int type, std::uint16_t& port) {
        for (std::uint16_t candidate = 40000; candidate < 40100; ++candidate) {
            const SOCKET s = sockets.socket(AF_INET, type, 0);
            const sockaddr_in address = Loopback(candidate);
            if (sockets.bind(s, AsAddress(address), sizeof address) == 0) {
                port = candidate;
                return s;
            }
            sockets.closesocket(s);
        }
        return INVALID_SOCKET;
    }

    WinsockFacility& sockets = Winsock();
};

TEST_F(WinsockOnWindows, TcpAndUdpExchangesOnLoopback) {
    std::uint16_t port = 0;
    const SOCKET listener = Bound(SOCK_STREAM, port);
    ASSERT_NE(listener, INVALID_SOCKET);
    ASSERT_EQ(sockets.listen(listener, 1), 0);
    std::thread server([&] {
        const SOCKET connection = sockets.accept(listener, nullptr, nullptr);
        sockets.send(connection, "\x01\x02\x03\x04", 4, 0);
        sockets.closesocket(connection);
    });
    const SOCKET client = sockets.socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    ASSERT_EQ(sockets.connect(client, AsAddress(address), sizeof address), 0);
    char reply[8] = {};
    EXPECT_EQ(sockets.recv(client, reply, sizeof reply, 0), 4);
    EXPECT_EQ(std::string(reply, 4), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(sockets.recv(client, reply, sizeof reply, 0), 0);  // the server closed
    server.join();
    sockets.closesocket(client);
    sockets.closesocket(listener);

    const SOCKET receiver = Bound(SOCK_DGRAM, port);
    ASSERT_NE(receiver, INVALID_SOCKET);
    const SOCKET sender = sockets.socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    ASSERT_EQ(sockets.connect(sender, AsAddress(to), sizeof to), 0);
    ASSERT_EQ(sockets.send(sender, "0123456789", 10, 0), 10);
    // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE.
    sockaddr_in from;
    int fromLength = sizeof from;
    EXPECT_EQ(sockets.recvfrom(receiver, reply, 4, 0, reinterpret_cast<sockaddr*>(&from), &fromLength),
              SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(reply, 4), "0123");
    EXPECT_STREQ(sockets.inet_ntoa(from.sin_addr), "127.0.0.1");
    sockets.closesocket(sender);
    sockets.closesocket(receiver);
}

TEST_F(WinsockOnWindows, RefusalsTimeOutsAndLookUpsHaveTheWindowsCodes) {
    std::uint16_t port = 0;
    const SOCKET unused = Bound(SOCK_STREAM, port);
    sockets.closesocket(unused);  // nobody listens there now
    const SOCKET client = sockets.socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    EXPECT_EQ(sockets.connect(client, AsAddress(address), sizeof address), SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), WSAECONNREFUSED);
    sockets.closesocket(client);

    const SOCKET quiet = Bound(SOCK_DGRAM, port);
    const std::uint32_t timeout = 200;
    ASSERT_EQ(sockets.setsockopt(quiet, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                                 sizeof timeout),
              0);
    char byte = 0;
    EXPECT_EQ(sockets.recv(quiet, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), WSAETIMEDOUT);
    sockets.closesocket(quiet);

    const servent* time = sockets.getservbyname("time", "tcp");
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(ntohs(static_cast<std::uint16_t>(time->s_port)), 37);
    const servent* ntp = sockets.getservbyname("ntp", "udp");
    ASSERT_NE(ntp, nullptr);
    EXPECT_EQ(ntohs(static_cast<std::uint16_t>(ntp->s_port)), 123);
    EXPECT_EQ(sockets.inet_addr("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(sockets.inet_addr("not an address"), INADDR_NONE);
    const hostent* local = sockets.gethostbyname("localhost");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->h_length, 4);
}

}  // namespace
}  // namespace kairovel::platform
