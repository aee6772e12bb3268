// The TIME protocol (RFC 868) clients, over TCP and over UDP.
//
// The server answers with 4 bytes: the seconds since 1900-01-01 00:00:00 UTC,
// most significant byte first. Over TCP the client only connects and reads;
// over UDP it sends one empty datagram and reads the one that comes back. The
// time has whole seconds; the delay is the round trip of the exchange.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/winsock.h"
#include "sources/plumbing.h"
#include "sources/socket_layer.h"
#include "sources/time_source.h"

namespace kairovel {

// Both clients give up on a server that does not answer within this time.
inline constexpr std::uint32_t kTimeProtocolReceiveTimeoutMilliseconds = 60'000;
inline constexpr int kTimeProtocolMessageBytes = 4;

// The seconds count of the reply that one receive brought. Every byte of a
// TIME reply is part of the count, so only a whole one is used: raises "Data
// received from remote machine is invalid. Received %u instead of 4 bytes."
// for any other length.
std::uint32_t TimeReplySeconds(std::span<const std::uint8_t> reply);

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
