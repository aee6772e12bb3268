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
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/winsock.h adds them under their Windows names. One name
// of the records clashes all the same: winsock2.h makes s_addr a macro for
// its own in_addr's S_un.S_addr, so the backend undefines it before it
// includes this header.
#pragma once

#include <cstdint>

#include "platform/facility.h"

namespace kairovel::platform {

using SOCKET = std::uintptr_t;
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

// Not a Windows flag: the data a send gives are the last before the socket
// is closed, so that Linux sends them with the close's end of the connection
// in one segment (MSG_MORE) instead of two. The Windows backend drops it.
inline constexpr int kSendLastBeforeClose = 0x4000'0000;

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
    // flags may hold kSendLastBeforeClose (below) besides the Windows ones.
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
