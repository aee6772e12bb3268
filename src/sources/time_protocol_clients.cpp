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

std::span<const std::uint8_t> Received(const char (&bytes)[kTimeProtocolMessageBytes], int received) {
    return {reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(received)};
}

}  // namespace

std::uint32_t TimeReplySeconds(std::span<const std::uint8_t> reply) {
    // RFC 868: the reply is the 32-bit count alone; a reply cut short would give
    // a time that is wrong by years.
    const bool isWholeMessage = reply.size() == kTimeProtocolMessageBytes;
    if (!isWholeMessage) {
        RaiseError(L"Data received from remote machine is invalid. Received %u instead of 4 bytes.",
                   static_cast<std::uint32_t>(reply.size()));
    }
    std::uint32_t wire = 0;
    std::memcpy(&wire, reply.data(), sizeof wire);
    return platform::ntohl(wire);
}

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
    TimeFromSeconds1900(TimeReplySeconds(Received(reply, received)), now);
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
    TimeFromSeconds1900(TimeReplySeconds(Received(reply, received)), now);
    Log(CurrentLogger(), LevelTrace, L"%s sent UDP TIME message (in network byte-order) %u after %I64d msecs.",
        host_, WireWord(reply), GetDelay().Milliseconds());
}

}  // namespace kairovel
