#include "sources/time_protocol_clients.h"

#include <cstring>

#include "log/logger.h"

namespace kairovel {
namespace {

using platform::Winsock;

// The received bytes as one 32-bit word, exactly as they lie in memory (for the trace line).
std::uint32_t WireWord(const char (&bytes)[kTimeProtocolMessageBytes]) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Every byte of a TIME reply is part of the count: a reply cut short would
// give a time that is wrong by years, so only a whole one is used.
void RequireWholeMessage(int received) {
    const bool isWholeMessage = received == kTimeProtocolMessageBytes;
    if (!isWholeMessage) {
        RaiseError(L"Data received from remote machine is invalid. Received %u instead of 4 bytes.",
                   static_cast<std::uint32_t>(received));
    }
}

}  // namespace

TcpTimeSource::TcpTimeSource(const std::wstring& host) {
    const std::string name = HostNameToAnsi(host);
    SetPeerName(host);
    const std::uint16_t port = LookupService("time", "tcp");
    server_ = SocketAddress(ResolveHost(name), port);
}

void TcpTimeSource::GetTime(TimeValue& now) {
    CreateSocket(platform::SOCK_STREAM, socket_);
    // A server that accepts and never sends must not hold the pass for ever;
    // the connect itself is bounded by the system's connect time-out.
    SetReceiveTimeout(socket_, kTimeProtocolReceiveTimeoutMilliseconds);
    ConnectSocket(socket_, server_);
    const Stopwatch exchange;
    char reply[kTimeProtocolMessageBytes] = {};
    const int received = Winsock().recv(socket_.Get(), reply, sizeof reply, 0);
    SetDelay(exchange);
    if (received == platform::SOCKET_ERROR) {
        RaiseError(L"Could not receive data on socket. Error %d occurred during recv call.",
                   Winsock().WSAGetLastError());
    }
    RequireWholeMessage(received);
    TimeFromSeconds1900(platform::ntohl(WireWord(reply)), now);
    Log(CurrentLogger(), LevelTrace, L"%s sent TIME message (in network byte-order) %u after %I64d msecs.",
        GetPeerName(), WireWord(reply), GetDelay().Milliseconds());
}

void UdpTimeSource::GetTime(TimeValue& now) {
    const std::string name = HostNameToAnsi(host_);
    const std::uint16_t port = LookupService("time", "udp");
    CreateSocket(platform::SOCK_DGRAM, socket_);
    SetCloseAtOnce(socket_);
    SetReceiveTimeout(socket_, kTimeProtocolReceiveTimeoutMilliseconds);
    BindSocket(socket_, SocketAddress(platform::INADDR_ANY, 0));
    ConnectSocket(socket_, SocketAddress(ResolveHost(name), port));
    const Stopwatch exchange;
    if (Winsock().send(socket_.Get(), "", 0, 0) == platform::SOCKET_ERROR) {
        RaiseError(L"Error %d on sending UDP Time request", Winsock().WSAGetLastError());
    }
    char reply[kTimeProtocolMessageBytes] = {};
    const int received = Winsock().recv(socket_.Get(), reply, sizeof reply, 0);
    SetDelay(exchange);
    if (received == platform::SOCKET_ERROR) {
        RaiseError(L"Error %d on receiving UDP Time request", Winsock().WSAGetLastError());
    }
    if (received == 0) RaiseError(L"Time server closed UDP socket unexpectedly");
    RequireWholeMessage(received);
    TimeFromSeconds1900(platform::ntohl(WireWord(reply)), now);
    Log(CurrentLogger(), LevelTrace, L"%s sent UDP TIME message (in network byte-order) %u after %I64d msecs.",
        host_, WireWord(reply), GetDelay().Milliseconds());
}

}  // namespace kairovel
