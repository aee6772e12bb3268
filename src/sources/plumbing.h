// Socket plumbing shared by the network time clients and the TIME server:
// service and host look-ups, socket creation, connection and binding with the
// program's error messages, and the TIME protocol's seconds count as a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/winsock.h"
#include "timebase/time_value.h"

namespace kairovel {

// A socket handle that closes its socket when it goes.
class OwnedSocket {
public:
    OwnedSocket() = default;
    ~OwnedSocket() { Close(); }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;

    platform::SOCKET Get() const { return handle_; }
    // Takes over handle, closing the socket held before.
    void Reset(platform::SOCKET handle);
    void Close();

private:
    platform::SOCKET handle_ = platform::INVALID_SOCKET;
};

// The host name in the system's code page, for the look-ups. The whole name is
// kept, however long: a name cut short would name another host.
std::string HostNameToAnsi(const std::wstring& name);

// What the look-ups below found, kept while it lives, for the thread that made
// it: a pass asks each source several times, and neither a source's address
// nor a service's port changes within a pass, so each is looked up once (a
// look-up that failed is asked again, as each attempt reports its own
// error). A cache made while another is in force on the thread adds to that one.
class LookupCache {
public:
    LookupCache();
    ~LookupCache();
    LookupCache(const LookupCache&) = delete;
    LookupCache& operator=(const LookupCache&) = delete;

    // The thread's cache in force, or null.
    static LookupCache* Current();

    std::map<std::string, std::uint16_t> ports;
    std::map<std::string, std::uint32_t> addresses;

private:
    bool installed_ = false;
};

// The port (network byte order) of a service in the system's service database;
// there is no built-in port. Raises "Error %d from getservbyname on %s/%s".
std::uint16_t LookupService(const char* service, const char* protocol);

// The IPv4 address (network byte order) of a dotted address or a host name.
// Raises "Could not resolve %s. Error %d from gethostbyname.".
std::uint32_t ResolveHost(const std::string& host);

// An AF_INET socket address; both values in network byte order.
platform::sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port);

// A new AF_INET socket of the type (SOCK_STREAM or SOCK_DGRAM) into socket.
// Raises "Could not create socket. Error %d occurred during socket call.".
void CreateSocket(int type, OwnedSocket& socket);
// Raises "Could not connect socket. Error %d occurred during connect call.".
void ConnectSocket(const OwnedSocket& socket, const platform::sockaddr_in& address);
// Raises "Could not bind socket to address. Error %d occurred during bind call.".
void BindSocket(const OwnedSocket& socket, const platform::sockaddr_in& address);

// Socket options; like every option they are wishes: their results are not examined.
// A close drops the socket at once (SO_LINGER on, 0 seconds).
void SetCloseAtOnce(const OwnedSocket& socket);
// Every receive gives up after timeoutMilliseconds (SO_RCVTIMEO).
void SetReceiveTimeout(const OwnedSocket& socket, std::uint32_t timeoutMilliseconds);

// Seconds since 1900 at which 1990-01-01 00:00:00 UTC begins. A 32-bit count
// below it (other than 0) belongs to the next era, the one that begins at
// 2036-02-07 06:28:16 UTC, as NTP and TIME peers count past 2036.
inline constexpr std::uint32_t kEraPivotSeconds = 2'840'140'800;

// Fills out (through Assign) with the instant of a TIME protocol seconds count,
// to the whole second. Raises "Illegal seconds value of 0 received" for 0.
void TimeFromSeconds1900(std::uint32_t seconds, TimeValue& out);

}  // namespace kairovel
