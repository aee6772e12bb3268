// Windows Sockets on Windows: ws2_32's own calls. The facility's records have
// the system's layout, and the look-ups' answers are copied into records of
// the facility's types that belong to the calling thread, as the system's do.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <vector>

// winsock2.h makes s_addr an alias of its own in_addr's field; the facility's
// in_addr has a real field of that name.
#undef s_addr

#include "platform/interface/winsock.h"

namespace kairovel::platform {
namespace {

static_assert(sizeof(::sockaddr) == sizeof(sockaddr));
static_assert(sizeof(::sockaddr_in) == sizeof(sockaddr_in));
static_assert(sizeof(::linger) == sizeof(linger));

const ::sockaddr* Native(const sockaddr* address) { return reinterpret_cast<const ::sockaddr*>(address); }
::sockaddr* Native(sockaddr* address) { return reinterpret_cast<::sockaddr*>(address); }

class WindowsWinsock final : public WinsockFacility {
public:
    int WSAStartup(std::uint16_t versionRequested, WSADATA& data) override {
        ::WSADATA native{};
        const int result = ::WSAStartup(versionRequested, &native);
        data.wVersion = native.wVersion;
        data.wHighVersion = native.wHighVersion;
        std::memcpy(data.szDescription, native.szDescription, sizeof data.szDescription);
        std::memcpy(data.szSystemStatus, native.szSystemStatus, sizeof data.szSystemStatus);
        data.iMaxSockets = native.iMaxSockets;
        data.iMaxUdpDg = native.iMaxUdpDg;
        data.lpVendorInfo = native.lpVendorInfo;
        return result;
    }
    int WSACleanup() override { return ::WSACleanup(); }
    int WSAGetLastError() override { return ::WSAGetLastError(); }
    void WSASetLastError(int error) override { ::WSASetLastError(error); }

    SOCKET socket(int af, int type, int protocol) override { return ::socket(af, type, protocol); }
    int connect(SOCKET s, const sockaddr* name, int nameLength) override {
        return ::connect(s, Native(name), nameLength);
    }
    int bind(SOCKET s, const sockaddr* name, int nameLength) override { return ::bind(s, Native(name), nameLength); }
    int listen(SOCKET s, int backlog) override { return ::listen(s, backlog); }
    SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) override {
        return ::accept(s, Native(address), addressLength);
    }
    int send(SOCKET s, const char* buffer, int length, int flags) override {
        return ::send(s, buffer, length, flags & ~kSendLastBeforeClose);
    }
    int recv(SOCKET s, char* buffer, int length, int flags) override { return ::recv(s, buffer, length, flags); }
    int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) override {
        return ::recvfrom(s, buffer, length, flags, Native(from), fromLength);
    }
    int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) override {
        return ::setsockopt(s, level, optionName, optionValue, optionLength);
    }
    int closesocket(SOCKET s) override { return ::closesocket(s); }

    servent* getservbyname(const char* name, const char* protocol) override {
        const ::servent* native = ::getservbyname(name, protocol);
        if (native == nullptr) return nullptr;
        thread_local servent entry;
        entry.s_name = native->s_name;
        entry.s_aliases = native->s_aliases;
        entry.s_port = native->s_port;
        entry.s_proto = native->s_proto;
        return &entry;
    }

    hostent* gethostbyname(const char* name) override {
        const ::hostent* native = ::gethostbyname(name);
        if (native == nullptr) return nullptr;
        thread_local hostent entry;
        entry.h_name = native->h_name;
        entry.h_aliases = native->h_aliases;
        entry.h_addrtype = native->h_addrtype;
        entry.h_length = native->h_length;
        entry.h_addr_list = native->h_addr_list;
        return &entry;
    }

    std::uint32_t inet_addr(const char* text) override { return ::inet_addr(text); }

    char* inet_ntoa(in_addr address) override {
        ::in_addr native{};
        native.S_un.S_addr = address.s_addr;
        return ::inet_ntoa(native);
    }
};

}  // namespace

template <>
WinsockFacility& DefaultFacility<WinsockFacility>() {
    static WindowsWinsock winsock;
    return winsock;
}

}  // namespace kairovel::platform
