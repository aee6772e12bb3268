#include "sources/plumbing.h"

#include <cstring>

#include "log/logger.h"
#include "platform/codepage.h"
#include "timebase/numeric.h"

namespace kairovel {
namespace {

using platform::Winsock;

constexpr std::uint32_t kSecondsPerDay = 86'400;
constexpr std::uint32_t kSecondsPerHour = 3'600;
constexpr std::uint32_t kSecondsPerMinute = 60;
constexpr std::uint64_t kSecondsPerEra = std::uint64_t{1} << 32;
constexpr std::uint64_t kDaysFrom1900To1990 = 32'872;
constexpr int kFirstYear = 1990;
constexpr int kAddressLength = sizeof(platform::sockaddr_in);

const platform::sockaddr* AsSockaddr(const platform::sockaddr_in& address) {
    return reinterpret_cast<const platform::sockaddr*>(&address);
}

}  // namespace

void OwnedSocket::Reset(platform::SOCKET handle) {
    Close();
    handle_ = handle;
}

void OwnedSocket::Close() {
    if (handle_ == platform::INVALID_SOCKET) return;
    Winsock().closesocket(handle_);
    handle_ = platform::INVALID_SOCKET;
}

std::string HostNameToAnsi(const std::wstring& name) { return platform::WideToAnsi(name); }

namespace {

thread_local LookupCache* currentLookupCache = nullptr;

// The value cached under key, or what lookUp finds, kept for the next asker.
template <class Value, class LookUp>
Value Cached(std::map<std::string, Value> LookupCache::*table, const std::string& key, LookUp lookUp) {
    LookupCache* cache = LookupCache::Current();
    if (cache != nullptr) {
        if (const auto found = (cache->*table).find(key); found != (cache->*table).end()) return found->second;
    }
    const Value value = lookUp();
    if (cache != nullptr) (cache->*table)[key] = value;
    return value;
}

// gethostbyname's first IPv4 address of a host name.
std::uint32_t LookUpHost(const std::string& host) {
    const platform::hostent* entry = Winsock().gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr ||
        entry->h_length != sizeof(std::uint32_t)) {
        const int error = entry == nullptr ? Winsock().WSAGetLastError() : platform::WSANO_DATA;
        RaiseError(L"Could not resolve %s. Error %d from gethostbyname.", platform::AnsiToWide(host), error);
    }
    std::uint32_t address = 0;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

}  // namespace

LookupCache::LookupCache() {
    if (currentLookupCache != nullptr) return;
    currentLookupCache = this;
    installed_ = true;
}

LookupCache::~LookupCache() {
    if (installed_) currentLookupCache = nullptr;
}

LookupCache* LookupCache::Current() { return currentLookupCache; }

std::uint16_t LookupService(const char* service, const char* protocol) {
    return Cached(&LookupCache::ports, std::string(service) + "/" + protocol, [&] {
        const platform::servent* entry = Winsock().getservbyname(service, protocol);
        if (entry == nullptr) {
            RaiseError(L"Error %d from getservbyname on %s/%s", Winsock().WSAGetLastError(),
                       platform::AnsiToWide(service), platform::AnsiToWide(protocol));
        }
        return static_cast<std::uint16_t>(entry->s_port);
    });
}

std::uint32_t ResolveHost(const std::string& host) {
    // A dotted address needs no look-up. 255.255.255.255 reads as INADDR_NONE and is looked up.
    const std::uint32_t dotted = Winsock().inet_addr(host.c_str());
    if (dotted != platform::INADDR_NONE) return dotted;
    return Cached(&LookupCache::addresses, host, [&] { return LookUpHost(host); });
}

platform::sockaddr_in SocketAddress(std::uint32_t address, std::uint16_t port) {
    platform::sockaddr_in out;
    out.sin_family = platform::AF_INET;
    out.sin_port = port;
    out.sin_addr.s_addr = address;
    return out;
}

void CreateSocket(int type, OwnedSocket& socket) {
    socket.Reset(Winsock().socket(platform::AF_INET, type, 0));
    if (socket.Get() == platform::INVALID_SOCKET) {
        RaiseError(L"Could not create socket. Error %d occurred during socket call.", Winsock().WSAGetLastError());
    }
}

void ConnectSocket(const OwnedSocket& socket, const platform::sockaddr_in& address) {
    if (Winsock().connect(socket.Get(), AsSockaddr(address), kAddressLength) == platform::SOCKET_ERROR) {
        RaiseError(L"Could not connect socket. Error %d occurred during connect call.", Winsock().WSAGetLastError());
    }
}

void BindSocket(const OwnedSocket& socket, const platform::sockaddr_in& address) {
    if (Winsock().bind(socket.Get(), AsSockaddr(address), kAddressLength) == platform::SOCKET_ERROR) {
        RaiseError(L"Could not bind socket to address. Error %d occurred during bind call.",
                   Winsock().WSAGetLastError());
    }
}

void SetCloseAtOnce(const OwnedSocket& socket) {
    const platform::linger closeAtOnce{1, 0};
    Winsock().setsockopt(socket.Get(), platform::SOL_SOCKET, platform::SO_LINGER,
                         reinterpret_cast<const char*>(&closeAtOnce), sizeof closeAtOnce);
}

void SetReceiveTimeout(const OwnedSocket& socket, std::uint32_t timeoutMilliseconds) {
    Winsock().setsockopt(socket.Get(), platform::SOL_SOCKET, platform::SO_RCVTIMEO,
                         reinterpret_cast<const char*>(&timeoutMilliseconds), sizeof timeoutMilliseconds);
}

void TimeFromSeconds1900(std::uint32_t seconds, TimeValue& out) {
    if (seconds == 0) RaiseError(L"Illegal seconds value of 0 received");
    // Counted in 64 bits from 1900, so that a count of the next era is a later
    // day rather than a day number that wraps and walks the calendar for ages.
    const std::uint64_t total = seconds < kEraPivotSeconds ? seconds + kSecondsPerEra : seconds;
    std::uint64_t days = total / kSecondsPerDay - kDaysFrom1900To1990;
    int year = kFirstYear;
    while (days >= static_cast<std::uint64_t>(DaysInYear(year))) {
        days -= static_cast<std::uint64_t>(DaysInYear(year));
        ++year;
    }
    int month = 1;
    while (days >= static_cast<std::uint64_t>(DaysInMonth(month, year))) {
        days -= static_cast<std::uint64_t>(DaysInMonth(month, year));
        ++month;
    }
    const auto day = static_cast<int>(days) + 1;
    const auto rest = static_cast<std::uint32_t>(total % kSecondsPerDay);
    const auto hour = static_cast<int>(rest / kSecondsPerHour);
    const auto minute = static_cast<int>(rest % kSecondsPerHour / kSecondsPerMinute);
    const auto second = static_cast<int>(rest % kSecondsPerMinute);
    out.Assign(TimeValue(year, month, day, hour, minute, second, 0));
}

}  // namespace kairovel
