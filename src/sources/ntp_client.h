// The NTP client, unicast or broadcast.
//
// Unicast (a host is named): one version-1 client request, and the time from
// the reply's transmit timestamp. Broadcast (no host): nothing is sent; the
// client listens on the NTP port for one message from any sender. Only the
// transmit timestamp is used; the round trip of a unicast exchange is the
// client's delay, like every other source's (a broadcast has none).
//
// Every datagram is a message of its own: one shorter than a message is let
// go and the client waits on for a whole one, within the same time-out. A
// unicast request carries an unpredictable transmit timestamp, which a server
// copies into its reply's origin timestamp; a reply that does not carry it
// back answers some other request (or none) and is let go too. A broadcast
// answers no request: any sender's message is taken.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "sources/plumbing.h"
#include "sources/socket_layer.h"
#include "sources/time_source.h"

namespace kairovel {

inline constexpr int kNtpMessageBytes = 48;
inline constexpr std::uint32_t kNtpReceiveTimeoutMilliseconds = 120'000;

// An NTP message as twelve 32-bit words in host byte order; word n is bytes 4n to 4n+3.
struct NtpMessage {
    static constexpr int kWords = kNtpMessageBytes / 4;
    static constexpr int kHeaderWord = 0;
    static constexpr int kOriginSecondsWord = 6;
    static constexpr int kOriginFractionWord = 7;
    static constexpr int kTransmitSecondsWord = 10;
    static constexpr int kTransmitFractionWord = 11;

    std::array<std::uint32_t, kWords> words{};

    std::uint32_t Header() const { return words[kHeaderWord]; }
    std::uint32_t LeapIndicator() const { return Header() >> 30; }
    std::uint32_t Version() const { return (Header() >> 27) & 0x7u; }
    std::uint32_t Mode() const { return (Header() >> 24) & 0x7u; }
    std::uint32_t Stratum() const { return (Header() >> 16) & 0xFFu; }
    // The transmit timestamp of the request this message answers, as the server copied it.
    std::uint64_t OriginTimestamp() const {
        return (std::uint64_t{words[kOriginSecondsWord]} << 32) | words[kOriginFractionWord];
    }
    std::uint32_t TransmitSeconds() const { return words[kTransmitSecondsWord]; }
    std::uint32_t TransmitFraction() const { return words[kTransmitFractionWord]; }

    // From the 48 bytes as they came over the network.
    static NtpMessage FromWire(const std::array<std::uint8_t, kNtpMessageBytes>& bytes);
};

// The message a received datagram holds: its first 48 bytes (extension
// fields or a MAC after them are not used); false for a datagram shorter
// than a message, which is no message at all.
bool NtpMessageFromDatagram(std::span<const std::uint8_t> datagram, NtpMessage& message);
// The 48 bytes of a client request whose transmit timestamp is requestStamp.
std::array<std::uint8_t, kNtpMessageBytes> NtpRequestBytes(std::uint64_t requestStamp);
// An unpredictable transmit timestamp for a request, never 0.
std::uint64_t NewNtpRequestStamp();
// Whether a unicast reply answers the request that carried requestStamp.
bool NtpReplyAnswers(const NtpMessage& reply, std::uint64_t requestStamp);

// Whether a message is a server's: a reply (mode 4) in unicast, a broadcast (mode 5) in broadcast mode.
bool NtpMessageIsFromServer(const NtpMessage& message, bool broadcast);
// Whether a received message may be used: the server is synchronised
// (stratum 1 to 15, no alarm) and says what time it is.
bool NtpMessageIsUsable(const NtpMessage& message);
// Logs, at the error level, what the header of a refused message says.
void ReportNtpHeader(const NtpMessage& message);
// A fraction of a second in units of 2^-32 s as whole milliseconds, truncated (0 to 999).
std::uint16_t NtpFractionToMilliseconds(std::uint32_t fraction);
// Fills out with the message's transmit time, to the millisecond.
void NtpTransmitTime(const NtpMessage& message, TimeValue& out);
// What the client does with the message it took from peer: logs it at the
// trace level, refuses it (after the header report) when it is not usable,
// and otherwise fills out with its transmit time.
void TakeNtpTime(const NtpMessage& message, const std::wstring& peer, TimeValue& out);

class NtpTimeSource final : public TimeSource {
public:
    // An empty host means: wait for a broadcast.
    explicit NtpTimeSource(const std::wstring& host) : host_(host) {}
    void GetTime(TimeValue& now) override;

private:
    // Who sent a message: the broadcaster's address, or the host asked.
    std::wstring SenderName(bool broadcast, const platform::sockaddr_in& sender) const;
    void SendRequest(std::uint64_t requestStamp);
    // Receives until a datagram holds a whole message (that answers the
    // request, in unicast mode) or the time-out has passed since exchange began.
    NtpMessage ReceiveMessage(bool broadcast, std::uint64_t requestStamp, const Stopwatch& exchange,
                              platform::sockaddr_in& sender);

    SocketLayerReference socketLayer_;
    std::wstring host_;
    OwnedSocket socket_;
};

}  // namespace kairovel
