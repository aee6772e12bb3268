// The TIME protocol (RFC 868) clients, over TCP and over UDP.
//
// The server answers with 4 bytes: the seconds since 1900-01-01 00:00:00 UTC,
// most significant byte first. Over TCP the client only connects and reads;
// over UDP it sends one empty datagram and reads the one that comes back. The
// time has whole seconds; the delay is the round trip of the exchange.
#pragma once

#include <cstdint>
#include <string>

#include "platform/winsock.h"
#include "sources/plumbing.h"
#include "sources/socket_layer.h"
#include "sources/time_source.h"

namespace kairovel {

// Both clients give up on a server that does not answer within this time.
inline constexpr std::uint32_t kTimeProtocolReceiveTimeoutMilliseconds = 60'000;
inline constexpr int kTimeProtocolMessageBytes = 4;

class TcpTimeSource final : public TimeSource {
public:
    // Looks the service "time"/"tcp" up and resolves host: errors of both are raised here.
    explicit TcpTimeSource(const std::wstring& host);
    void GetTime(TimeValue& now) override;

private:
    SocketLayerReference socketLayer_;  // first in, last out: the socket is closed before it goes
    platform::sockaddr_in server_;
    OwnedSocket socket_;
};

class UdpTimeSource final : public TimeSource {
public:
    explicit UdpTimeSource(const std::wstring& host) : host_(host) {}
    void GetTime(TimeValue& now) override;

private:
    SocketLayerReference socketLayer_;
    OwnedSocket socket_;
    std::wstring host_;
};

}  // namespace kairovel
