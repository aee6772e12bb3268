// Windows Sockets on BSD sockets.
//
// The calls keep the Windows behaviour the program relies on: the start-up
// count, the error codes, no SIGPIPE on a broken connection, a datagram longer
// than the buffer failing with WSAEMSGSIZE, a receive time-out reported as
// WSAETIMEDOUT, and a connect that gives up after the 21 seconds Windows takes
// (three tries of a SYN). Stream sockets may bind to a port whose old
// connections still wait in TIME_WAIT, as they may on Windows. Sockets are
// never inherited by programs the process starts.

// The system's own socket API comes first; its values are kept under names of
// their own before the macros that share a name with a Windows one are removed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace posix_api {
constexpr int kInet = AF_INET;
constexpr int kStream = SOCK_STREAM;
constexpr int kDatagram = SOCK_DGRAM;
constexpr int kSocketLevel = SOL_SOCKET;
constexpr int kLinger = SO_LINGER;
constexpr int kReceiveTimeout = SO_RCVTIMEO;
constexpr int kReuseAddress = SO_REUSEADDR;
constexpr int kSocketError = SO_ERROR;
}  // namespace posix_api

#undef AF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOL_SOCKET
#undef SO_LINGER
#undef SO_RCVTIMEO
#undef INADDR_ANY
#undef INADDR_NONE
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

#include "platform/last_error.h"
#include "platform/posix/bsd_winsock.h"
#include "platform/winsock.h"

namespace kairovel::platform {
namespace {

constexpr int kSockaddrInLength = 16;
constexpr std::uint16_t kHighestVersion = 0x0202;  // Windows Sockets 2.2

int WinsockErrorFromErrno(int error) {
    switch (error) {
        case EINTR:
            return WSAEINTR;
        case EBADF:
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EFAULT:
            return WSAEFAULT;
        case EINVAL:
            return WSAEINVAL;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case EAGAIN:
            return WSAEWOULDBLOCK;
        case EINPROGRESS:
            return WSAEINPROGRESS;
        case EALREADY:
            return WSAEALREADY;
        case EDESTADDRREQ:
            return WSAEDESTADDRREQ;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case EPROTOTYPE:
            return WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
        case ENONET:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
        case EPROTO:
            return WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ESHUTDOWN:
            return WSAESHUTDOWN;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case EHOSTDOWN:
            return WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        default:
            return WSAEINVAL;
    }
}

int HostErrorFromGetaddrinfo(int status) {
    switch (status) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_SYSTEM:
            return WinsockErrorFromErrno(errno);
        default:
            return WSANO_RECOVERY;
    }
}

// Results of the database look-ups, one set per thread, as Windows keeps them.
struct ServiceRecord {
    ::servent system{};
    std::vector<char> buffer = std::vector<char>(1024);
    servent record;
    char* noAliases[1] = {nullptr};
};

struct HostRecord {
    std::string name;
    std::vector<std::uint32_t> addresses;
    std::vector<char*> addressPointers;
    hostent record;
    char* noAliases[1] = {nullptr};
};

thread_local ServiceRecord serviceRecord;
thread_local HostRecord hostRecord;
thread_local char dottedText[16];

class PosixWinsock final : public WinsockFacility {
public:
    explicit PosixWinsock(std::chrono::milliseconds connectTimeout) : connectTimeout_(connectTimeout) {}

    int WSAStartup(std::uint16_t versionRequested, WSADATA& data) override {
        const int major = versionRequested & 0xFF;
        const int minor = versionRequested >> 8;
        if (major < 1) return WSAVERNOTSUPPORTED;
        data = WSADATA{};
        data.wVersion = (major > 2 || (major == 2 && minor >= 2)) ? kHighestVersion : versionRequested;
        data.wHighVersion = kHighestVersion;
        std::snprintf(data.szDescription, sizeof data.szDescription, "%s", "BSD sockets");
        std::snprintf(data.szSystemStatus, sizeof data.szSystemStatus, "%s", "Running");
        const std::lock_guard<std::mutex> lock(mutex_);
        ++startups_;
        return 0;
    }

    int WSACleanup() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (startups_ == 0) return Fail(WSANOTINITIALISED);
        --startups_;
        return 0;
    }

    int WSAGetLastError() override { return static_cast<int>(GetLastError()); }
    void WSASetLastError(int error) override { SetLastError(static_cast<std::uint32_t>(error)); }

    SOCKET socket(int af, int type, int protocol) override {
        if (!Started()) return FailSocket(WSANOTINITIALISED);
        if (af != AF_INET) return FailSocket(WSAEAFNOSUPPORT);
        int systemType = 0;
        if (type == SOCK_STREAM) {
            systemType = posix_api::kStream;
        } else if (type == SOCK_DGRAM) {
            systemType = posix_api::kDatagram;
        } else {
            return FailSocket(WSAESOCKTNOSUPPORT);
        }
        const int fd = ::socket(posix_api::kInet, systemType | SOCK_CLOEXEC, protocol);
        if (fd < 0) return FailSocket(WinsockErrorFromErrno(errno));
        if (systemType == posix_api::kStream) {
            // Windows lets a listener bind while earlier connections of its port wait in TIME_WAIT.
            const int on = 1;
            ::setsockopt(fd, posix_api::kSocketLevel, posix_api::kReuseAddress, &on, sizeof on);
        }
        return Track(fd);
    }

    int connect(SOCKET s, const sockaddr* name, int nameLength) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        ::sockaddr_in address{};
        if (const int error = ToSystemAddress(name, nameLength, address); error != 0) return Fail(error);
        const int fd = Descriptor(s);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0) return Fail(WinsockErrorFromErrno(errno));
        // Non-blocking for the connect alone, so that it can be given up after Windows' time.
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int error = 0;
        if (::connect(fd, reinterpret_cast<const ::sockaddr*>(&address), sizeof address) != 0) {
            error = errno == EINPROGRESS || errno == EINTR ? AwaitConnection(fd) : WinsockErrorFromErrno(errno);
        }
        ::fcntl(fd, F_SETFL, flags);
        return error == 0 ? 0 : Fail(error);
    }

    int bind(SOCKET s, const sockaddr* name, int nameLength) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        ::sockaddr_in address{};
        if (const int error = ToSystemAddress(name, nameLength, address); error != 0) return Fail(error);
        if (::bind(Descriptor(s), reinterpret_cast<const ::sockaddr*>(&address), sizeof address) != 0) {
            return Fail(WinsockErrorFromErrno(errno));
        }
        return 0;
    }

    int listen(SOCKET s, int backlog) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        if (::listen(Descriptor(s), backlog) != 0) return Fail(WinsockErrorFromErrno(errno));
        return 0;
    }

    SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) override {
        if (!Started()) return FailSocket(WSANOTINITIALISED);
        if (address != nullptr && (addressLength == nullptr || *addressLength < kSockaddrInLength)) {
            return FailSocket(WSAEFAULT);
        }
        ::sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        int fd = -1;
        do {
            // The kernel copies the peer's address out only for a caller that wants it.
            fd = address == nullptr ? ::accept4(Descriptor(s), nullptr, nullptr, SOCK_CLOEXEC)
                                    : ::accept4(Descriptor(s), reinterpret_cast<::sockaddr*>(&peer), &peerLength,
                                                SOCK_CLOEXEC);
        } while (fd < 0 && errno == EINTR);  // a Windows accept is not ended by a signal
        if (fd < 0) return FailSocket(WinsockErrorFromErrno(errno));
        if (address != nullptr) {
            FromSystemAddress(peer, *address);
            *addressLength = kSockaddrInLength;
        }
        return Track(fd);
    }

    int send(SOCKET s, const char* buffer, int length, int flags) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        if (length < 0) return Fail(WSAEFAULT);
        const bool last = (flags & kSendLastBeforeClose) != 0;
        const int systemFlags = MSG_NOSIGNAL | (last ? MSG_MORE : 0) | (flags & ~kSendLastBeforeClose);
        ssize_t sent = -1;
        do {
            sent = ::send(Descriptor(s), buffer, static_cast<std::size_t>(length), systemFlags);
        } while (sent < 0 && errno == EINTR);
        // The data and the end of the sending go out together, before the close: a close
        // with unread data from the peer would reset the connection and drop what is held back.
        if (last && sent >= 0) ::shutdown(Descriptor(s), SHUT_WR);
        if (sent < 0) return Fail(errno == EAGAIN ? WSAETIMEDOUT : WinsockErrorFromErrno(errno));
        return static_cast<int>(sent);
    }

    int recv(SOCKET s, char* buffer, int length, int flags) override {
        return recvfrom(s, buffer, length, flags, nullptr, nullptr);
    }

    int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        if (length < 0) return Fail(WSAEFAULT);
        if (from != nullptr && (fromLength == nullptr || *fromLength < kSockaddrInLength)) return Fail(WSAEFAULT);
        ::sockaddr_in peer{};
        iovec part{buffer, static_cast<std::size_t>(length)};
        msghdr message{};
        message.msg_name = &peer;
        message.msg_namelen = sizeof peer;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        ssize_t received = -1;
        do {
            received = ::recvmsg(Descriptor(s), &message, flags);
        } while (received < 0 && errno == EINTR);
        if (received < 0) return Fail(ReceiveError(errno));
        if (from != nullptr) {
            FromSystemAddress(peer, *from);
            *fromLength = kSockaddrInLength;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(WSAEMSGSIZE);  // the buffer holds its first part
        return static_cast<int>(received);
    }

    int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        if (level != SOL_SOCKET) return Fail(WSAEINVAL);
        if (optionValue == nullptr) return Fail(WSAEFAULT);
        const int fd = Descriptor(s);
        int result = -1;
        if (optionName == SO_LINGER) {
            if (optionLength < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
            linger value;
            std::memcpy(static_cast<void*>(&value), optionValue, sizeof value);
            const ::linger system{value.l_onoff != 0 ? 1 : 0, value.l_linger};
            result = ::setsockopt(fd, posix_api::kSocketLevel, posix_api::kLinger, &system, sizeof system);
        } else if (optionName == SO_RCVTIMEO) {
            if (optionLength < static_cast<int>(sizeof(std::uint32_t))) return Fail(WSAEFAULT);
            std::uint32_t milliseconds = 0;
            std::memcpy(&milliseconds, optionValue, sizeof milliseconds);
            const timeval system{static_cast<time_t>(milliseconds / 1000),
                                 static_cast<suseconds_t>(milliseconds % 1000) * 1000};
            result = ::setsockopt(fd, posix_api::kSocketLevel, posix_api::kReceiveTimeout, &system, sizeof system);
        } else {
            return Fail(WSAENOPROTOOPT);
        }
        return result == 0 ? 0 : Fail(WinsockErrorFromErrno(errno));
    }

    int closesocket(SOCKET s) override {
        if (!Started()) return Fail(WSANOTINITIALISED);
        const int fd = Descriptor(s);
        // A number that is no socket of this layer's (a stale one, reused for a file since) is refused, never closed.
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (sockets_.erase(fd) == 0) return Fail(WSAENOTSOCK);
        }
        // Linux closes the descriptor even when close reports EINTR: never close it twice.
        if (::close(fd) != 0 && errno != EINTR) return Fail(WinsockErrorFromErrno(errno));
        return 0;
    }

    servent* getservbyname(const char* name, const char* protocol) override {
        if (!Started()) return FailNull<servent>(WSANOTINITIALISED);
        if (name == nullptr) return FailNull<servent>(WSAEFAULT);
        ServiceRecord& out = serviceRecord;
        ::servent* found = nullptr;
        int status = 0;
        while ((status = ::getservbyname_r(name, protocol, &out.system, out.buffer.data(), out.buffer.size(),
                                           &found)) == ERANGE) {
            out.buffer.resize(out.buffer.size() * 2);
        }
        if (status != 0 || found == nullptr) return FailNull<servent>(WSANO_DATA);
        out.record.s_name = out.system.s_name;
        out.record.s_aliases = out.system.s_aliases != nullptr ? out.system.s_aliases : out.noAliases;
        out.record.s_port = static_cast<std::int16_t>(out.system.s_port);  // already in network order
        out.record.s_proto = out.system.s_proto;
        return &out.record;
    }

    hostent* gethostbyname(const char* name) override {
        if (!Started()) return FailNull<hostent>(WSANOTINITIALISED);
        if (name == nullptr) return FailNull<hostent>(WSAEFAULT);
        addrinfo hints{};
        hints.ai_family = posix_api::kInet;
        hints.ai_socktype = posix_api::kStream;  // one entry per address
        hints.ai_flags = AI_CANONNAME;
        addrinfo* list = nullptr;
        if (const int status = ::getaddrinfo(name, nullptr, &hints, &list); status != 0) {
            return FailNull<hostent>(HostErrorFromGetaddrinfo(status));
        }
        HostRecord& out = hostRecord;
        out.name = list->ai_canonname != nullptr ? list->ai_canonname : name;
        out.addresses.clear();
        for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
            const auto* address = reinterpret_cast<const ::sockaddr_in*>(entry->ai_addr);
            out.addresses.push_back(address->sin_addr.s_addr);
        }
        ::freeaddrinfo(list);
        out.addressPointers.clear();
        for (std::uint32_t& address : out.addresses) out.addressPointers.push_back(reinterpret_cast<char*>(&address));
        out.addressPointers.push_back(nullptr);
        out.record.h_name = out.name.data();
        out.record.h_aliases = out.noAliases;
        out.record.h_addrtype = static_cast<std::int16_t>(AF_INET);
        out.record.h_length = 4;
        out.record.h_addr_list = out.addressPointers.data();
        return &out.record;
    }

    std::uint32_t inet_addr(const char* text) override {
        if (text == nullptr) return INADDR_NONE;
        return ::inet_addr(text);
    }

    char* inet_ntoa(in_addr address) override {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
        std::snprintf(dottedText, sizeof dottedText, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        return dottedText;
    }

private:
    bool Started() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return startups_ > 0;
    }

    static int Fail(int error) {
        SetLastError(static_cast<std::uint32_t>(error));
        return SOCKET_ERROR;
    }
    static SOCKET FailSocket(int error) {
        SetLastError(static_cast<std::uint32_t>(error));
        return INVALID_SOCKET;
    }
    template <class Record>
    static Record* FailNull(int error) {
        SetLastError(static_cast<std::uint32_t>(error));
        return nullptr;
    }

    // The descriptor of a handle; a handle that cannot be one gives -1 (not a socket).
    static int Descriptor(SOCKET s) { return s <= static_cast<SOCKET>(INT_MAX) ? static_cast<int>(s) : -1; }

    static int ToSystemAddress(const sockaddr* name, int nameLength, ::sockaddr_in& out) {
        if (name == nullptr || nameLength < kSockaddrInLength) return WSAEFAULT;
        sockaddr_in in;
        std::memcpy(static_cast<void*>(&in), name, sizeof in);
        if (in.sin_family != AF_INET) return WSAEAFNOSUPPORT;
        out = ::sockaddr_in{};
        out.sin_family = posix_api::kInet;
        out.sin_port = in.sin_port;
        out.sin_addr.s_addr = in.sin_addr.s_addr;
        return 0;
    }

    static void FromSystemAddress(const ::sockaddr_in& in, sockaddr& out) {
        sockaddr_in address;
        address.sin_family = static_cast<std::int16_t>(AF_INET);
        address.sin_port = in.sin_port;
        address.sin_addr.s_addr = in.sin_addr.s_addr;
        std::memcpy(static_cast<void*>(&out), &address, sizeof address);
    }

    // The Winsock code of a failed receive.
    static int ReceiveError(int error) {
        // The sockets are blocking: running out of data means the receive time-out has passed.
        if (error == EAGAIN) return WSAETIMEDOUT;
        // A datagram's "port unreachable" is reported as a reset on Windows.
        if (error == ECONNREFUSED) return WSAECONNRESET;
        return WinsockErrorFromErrno(error);
    }

    // Waits for a connect in progress; 0 when it is made, else the Winsock error.
    // The wait ends at one deadline, however often a signal interrupts it.
    int AwaitConnection(int fd) const {
        using std::chrono::steady_clock;
        const auto deadline = steady_clock::now() + connectTimeout_;
        pollfd entry{fd, POLLOUT, 0};
        int ready = 0;
        do {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
            ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left, 0)));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) return WSAETIMEDOUT;
        if (ready < 0) return WinsockErrorFromErrno(errno);
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, posix_api::kSocketLevel, posix_api::kSocketError, &error, &length) != 0) error = errno;
        return error == 0 ? 0 : WinsockErrorFromErrno(error);
    }

    const std::chrono::milliseconds connectTimeout_;
    // The descriptor of a socket this layer made (socket, accept) and has not closed yet.
    SOCKET Track(int fd) {
        const std::lock_guard<std::mutex> lock(mutex_);
        sockets_.insert(fd);
        return static_cast<SOCKET>(fd);
    }

    std::mutex mutex_;
    int startups_ = 0;
    std::unordered_set<int> sockets_;  // the sockets this layer made and has not closed
};

}  // namespace

std::unique_ptr<WinsockFacility> MakeBsdWinsock(std::chrono::milliseconds connectTimeout) {
    return std::make_unique<PosixWinsock>(connectTimeout);
}

template <>
WinsockFacility& DefaultFacility<WinsockFacility>() {
    static PosixWinsock winsock(kWindowsConnectTimeout);
    return winsock;
}

}  // namespace kairovel::platform
