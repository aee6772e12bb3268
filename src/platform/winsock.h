// Windows Sockets 1.1: the socket calls the time clients and the TIME server make.
//
// The records, constants and error codes have the Windows values, so that the
// program's messages carry the same numbers on every build (10061 for a refused
// connection, 10060 for a time-out, 10048 for an address in use, 11001 for an
// unknown host). A failed call returns SOCKET_ERROR or INVALID_SOCKET (or a null
// pointer for the database look-ups) and leaves its code for WSAGetLastError,
// per thread. Every socket call and database look-up fails with
// WSANOTINITIALISED while no WSAStartup is in force, as on Windows; the
// address conversions and the last-error calls work without one.
//
// The look-ups getservbyname, gethostbyname and inet_ntoa return records that
// belong to the calling thread and stay valid until its next call of the same
// kind, as Windows keeps them.
#pragma once

#include <cstdint>

#include "platform/facility.h"

namespace kairovel::platform {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_LINGER = 0x0080;
inline constexpr int SO_RCVTIMEO = 0x1006;  // a DWORD of milliseconds; 0 waits for ever
inline constexpr std::uint32_t INADDR_ANY = 0x00000000;
inline constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFF;

inline constexpr std::uint16_t kWinsockVersion11 = 0x0101;  // MAKEWORD(1, 1)

// Windows Sockets error codes.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

struct in_addr {
    std::uint32_t s_addr = 0;  // network byte order
};

// The IPv4 socket address, 16 bytes.
struct sockaddr_in {
    std::int16_t sin_family = 0;  // host byte order
    std::uint16_t sin_port = 0;   // network byte order
    in_addr sin_addr;
    char sin_zero[8] = {};
};
static_assert(sizeof(sockaddr_in) == 16);

struct sockaddr {
    std::uint16_t sa_family = 0;
    char sa_data[14] = {};
};
static_assert(sizeof(sockaddr) == 16);

struct linger {
    std::uint16_t l_onoff = 0;
    std::uint16_t l_linger = 0;  // seconds
};

struct servent {
    char* s_name = nullptr;
    char** s_aliases = nullptr;
    std::int16_t s_port = 0;  // network byte order
    char* s_proto = nullptr;
};

struct hostent {
    char* h_name = nullptr;
    char** h_aliases = nullptr;
    std::int16_t h_addrtype = 0;
    std::int16_t h_length = 0;
    char** h_addr_list = nullptr;  // addresses in network byte order, null-terminated
};

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// Byte order: the network's is big-endian.
constexpr std::uint16_t htons(std::uint16_t value) {
    return static_cast<std::uint16_t>(((value & 0xFFu) << 8) | (value >> 8));
}
constexpr std::uint16_t ntohs(std::uint16_t value) { return htons(value); }
constexpr std::uint32_t htonl(std::uint32_t value) {
    return ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) | (value >> 24);
}
constexpr std::uint32_t ntohl(std::uint32_t value) { return htonl(value); }

class WinsockFacility {
public:
    virtual ~WinsockFacility() = default;

    // Returns 0, or the error code itself (WSAGetLastError is not set).
    virtual int WSAStartup(std::uint16_t versionRequested, WSADATA& data) = 0;
    virtual int WSACleanup() = 0;
    virtual int WSAGetLastError() = 0;
    virtual void WSASetLastError(int error) = 0;

    virtual SOCKET socket(int af, int type, int protocol) = 0;
    virtual int connect(SOCKET s, const sockaddr* name, int nameLength) = 0;
    virtual int bind(SOCKET s, const sockaddr* name, int nameLength) = 0;
    virtual int listen(SOCKET s, int backlog) = 0;
    // address and addressLength may be null: the peer's address is not wanted.
    virtual SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) = 0;
    virtual int send(SOCKET s, const char* buffer, int length, int flags) = 0;
    // A datagram longer than length fills the buffer and fails with WSAEMSGSIZE;
    // the rest of it is lost. A receive time-out fails with WSAETIMEDOUT.
    virtual int recv(SOCKET s, char* buffer, int length, int flags) = 0;
    virtual int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) = 0;
    virtual int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) = 0;
    virtual int closesocket(SOCKET s) = 0;

    virtual servent* getservbyname(const char* name, const char* protocol) = 0;
    virtual hostent* gethostbyname(const char* name) = 0;
    // The address of a dotted text "a.b.c.d" in network byte order, or INADDR_NONE.
    virtual std::uint32_t inet_addr(const char* text) = 0;
    virtual char* inet_ntoa(in_addr address) = 0;
};

template <>
WinsockFacility& DefaultFacility<WinsockFacility>();

inline WinsockFacility& Winsock() { return Facility<WinsockFacility>::Get(); }

}  // namespace kairovel::platform
