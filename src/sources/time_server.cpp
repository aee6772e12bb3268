#include "sources/time_server.h"

#include "log/logger.h"
#include "platform/clock.h"
#include "platform/winsock.h"

namespace kairovel {
namespace {

using platform::Winsock;

constexpr std::int64_t kMillisecondsPerSecond = 1000;

bool IsResourceShortage(int error) { return error == platform::WSAEMFILE || error == platform::WSAENOBUFS; }

}  // namespace

TimeServer::TimeServer() {
    const std::uint16_t port = LookupService("time", "tcp");
    CreateSocket(platform::SOCK_STREAM, listening_);
    BindSocket(listening_, SocketAddress(platform::INADDR_ANY, port));
    if (Winsock().listen(listening_.Get(), kTimeServerBacklog) == platform::SOCKET_ERROR) {
        RaiseError(L"Error %d in listen", Winsock().WSAGetLastError());
    }
}

bool AcceptFailureIsTransient(int error) {
    switch (error) {
        case platform::WSAECONNRESET:    // the peer gave up before it was accepted
        case platform::WSAECONNABORTED:  // likewise, or a protocol error on that connection
        case platform::WSAEINTR:         // the call was interrupted
        case platform::WSAEMFILE:        // out of descriptors for now
        case platform::WSAENOBUFS:       // out of buffers for now
        case platform::WSAETIMEDOUT:     // errors of the pending connection's own network path
        case platform::WSAENETDOWN:
        case platform::WSAENETUNREACH:
        case platform::WSAEHOSTDOWN:
        case platform::WSAEHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

void TimeServer::ServeOne() {
    OwnedSocket connection;
    connection.Reset(Winsock().accept(listening_.Get(), nullptr, nullptr));
    if (connection.Get() == platform::INVALID_SOCKET) {
        const int error = Winsock().WSAGetLastError();
        if (!AcceptFailureIsTransient(error)) RaiseError(L"Error %d accepting new request", error);
        // A remote peer must not be able to silence the server: log it and accept again.
        Log(CurrentLogger(), LevelError, L"Error %d accepting new request", error);
        if (IsResourceShortage(error)) platform::Clock().Sleep(kResourceShortagePauseMilliseconds);
        return;
    }
    const std::uint32_t reply = platform::htonl(TimeProtocolSeconds(TimeValue()));
    Winsock().send(connection.Get(), reinterpret_cast<const char*>(&reply), sizeof reply, 0);  // a failed send is the client's loss
}

std::uint32_t TimeProtocolSeconds(const TimeValue& instant) {
    const std::int64_t milliseconds = instant.Minus(TimeValue(1900, 1, 1, 0, 0, 0, 0)).Milliseconds();
    // The low 32 bits of the count: the era wrap of 2036.
    return static_cast<std::uint32_t>(milliseconds / kMillisecondsPerSecond);
}

void TimeServerThread() {
    try {
        TimeServer server;
        for (;;) server.ServeOne();
    } catch (const std::wstring& message) {
        Log(CurrentLogger(), LevelError, L"%s", message);
    } catch (...) {
        Log(CurrentLogger(), LevelError, L"Worker thread exited abnormally");
    }
}

}  // namespace kairovel
