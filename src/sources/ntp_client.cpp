#include "sources/ntp_client.h"

#include <cstring>
#include <vector>

#include "log/logger.h"
#include "platform/codepage.h"
#include "platform/random.h"
#include "platform/winsock.h"

namespace kairovel {
namespace {

using platform::Winsock;

// Leap indicator 0, version 1, mode 3 (client), the rest of the message zero.
constexpr std::uint32_t kRequestHeader = 0x0B000000;

constexpr std::uint32_t kLeapAlarm = 3;  // the server's clock is not synchronised
constexpr std::uint32_t kServerMode = 4;     // a reply to a client's request
constexpr std::uint32_t kBroadcastMode = 5;  // a server's broadcast
// Stratum 16 says the server is unsynchronised; above it the values are reserved (RFC 5905, 7.3).
constexpr std::uint32_t kUnsynchronisedStratum = 16;

// Datagrams are read whole: a reply longer than the message (NTP extension
// fields, a MAC) is taken for its first 48 bytes and the rest is let go. 64 KiB
// holds the largest UDP datagram, so nothing is ever cut or read past, and a
// datagram is never mistaken for the start of another.
constexpr int kLargestDatagramBytes = 65'536;

constexpr std::wstring_view kLeapWords[4] = {
    L"ok", L"last minute has 61 seconds", L"last minute has 59 seconds", L"alarm condition (clock not synchronized)"};
constexpr std::wstring_view kModeWords[8] = {L"reserved",
                                             L"symmetric active",
                                             L"symmetric passive",
                                             L"client",
                                             L"server",
                                             L"broadcast",
                                             L"reserved for NTP control message",
                                             L"reserved for private use"};

}  // namespace

NtpMessage NtpMessage::FromWire(const std::array<std::uint8_t, kNtpMessageBytes>& bytes) {
    NtpMessage message;
    for (int n = 0; n < kWords; ++n) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + 4 * n, sizeof word);
        message.words[static_cast<std::size_t>(n)] = platform::ntohl(word);
    }
    return message;
}

bool NtpMessageFromDatagram(std::span<const std::uint8_t> datagram, NtpMessage& message) {
    // A message is 48 bytes; a datagram is never joined with the next to make one.
    const bool holdsWholeMessage = datagram.size() >= kNtpMessageBytes;
    if (!holdsWholeMessage) return false;
    std::array<std::uint8_t, kNtpMessageBytes> bytes{};
    std::memcpy(bytes.data(), datagram.data(), bytes.size());
    message = NtpMessage::FromWire(bytes);
    return true;
}

std::array<std::uint8_t, kNtpMessageBytes> NtpRequestBytes(std::uint64_t requestStamp) {
    NtpMessage request;
    request.words[NtpMessage::kHeaderWord] = kRequestHeader;
    request.words[NtpMessage::kTransmitSecondsWord] = static_cast<std::uint32_t>(requestStamp >> 32);
    request.words[NtpMessage::kTransmitFractionWord] = static_cast<std::uint32_t>(requestStamp);
    std::array<std::uint8_t, kNtpMessageBytes> bytes{};
    for (int n = 0; n < NtpMessage::kWords; ++n) {
        const std::uint32_t word = platform::htonl(request.words[static_cast<std::size_t>(n)]);
        std::memcpy(bytes.data() + 4 * n, &word, sizeof word);
    }
    return bytes;
}

std::uint64_t NewNtpRequestStamp() {
    // From the system's random source: an off-path sender cannot guess the
    // stamp that its forged reply would have to carry back.
    std::uint64_t stamp = 0;
    while (stamp == 0) stamp = platform::UnpredictableNumber();
    return stamp;
}

bool NtpReplyAnswers(const NtpMessage& reply, std::uint64_t requestStamp) {
    // A server copies the request's transmit timestamp into the reply's origin
    // timestamp (RFC 5905, 8): any other origin answers another request, or none.
    const bool originIsOurRequest = reply.OriginTimestamp() == requestStamp;
    return originIsOurRequest;
}

bool NtpMessageIsFromServer(const NtpMessage& message, bool broadcast) {
    // A client's request (mode 3), a peer's or a control message is no
    // server's time: a reply is mode 4, a broadcast mode 5 (RFC 5905, 7.3).
    const bool sentByServer = message.Mode() == (broadcast ? kBroadcastMode : kServerMode);
    return sentByServer;
}

bool NtpMessageIsUsable(const NtpMessage& message) {
    // A server that raises the alarm does not know the time itself.
    const bool serverIsSynchronised = message.LeapIndicator() != kLeapAlarm;
    // Stratum 0 is unspecified or a kiss-o'-death, 16 an unsynchronised
    // server: no time to take.
    const bool stratumIsKnown = message.Stratum() != 0 && message.Stratum() < kUnsynchronisedStratum;
    // A transmit time of 0 means the server has not set one.
    const bool transmitTimeIsSet = message.TransmitSeconds() != 0;
    return serverIsSynchronised && stratumIsKnown && transmitTimeIsSet;
}

void ReportNtpHeader(const NtpMessage& message) {
    Log(CurrentLogger(), LevelError,
        L"Received NTP message has following information in the header. Leap Indicator = %s; Mode = %s; Stratum = %d",
        kLeapWords[message.LeapIndicator()], kModeWords[message.Mode()], static_cast<int>(message.Stratum()));
}

std::uint16_t NtpFractionToMilliseconds(std::uint32_t fraction) {
    return static_cast<std::uint16_t>(((fraction >> 16) * 1000u) >> 16);
}

void NtpTransmitTime(const NtpMessage& message, TimeValue& out) {
    TimeFromSeconds1900(message.TransmitSeconds(), out);
    out.Assign(out.Plus(TimeSpan(NtpFractionToMilliseconds(message.TransmitFraction()))));
}

void TakeNtpTime(const NtpMessage& message, const std::wstring& peer, TimeValue& out) {
    Log(CurrentLogger(), LevelTrace, L"%s sent NTP message (little-endian): header=0x%08x, transmit_ts=(%u.%u).",
        peer, message.Header(), message.TransmitSeconds(), message.TransmitFraction());
    if (!NtpMessageIsUsable(message)) {
        ReportNtpHeader(message);
        RaiseError(L"NTP time is not of sufficient quality");
    }
    NtpTransmitTime(message, out);
}

void NtpTimeSource::GetTime(TimeValue& now) {
    const bool broadcast = host_.empty();
    const std::string name = HostNameToAnsi(host_);
    const std::uint16_t port = LookupService("ntp", "udp");
    CreateSocket(platform::SOCK_DGRAM, socket_);
    SetCloseAtOnce(socket_);
    SetReceiveTimeout(socket_, kNtpReceiveTimeoutMilliseconds);
    BindSocket(socket_, SocketAddress(platform::INADDR_ANY, broadcast ? port : std::uint16_t{0}));
    const Stopwatch exchange;

    std::uint64_t requestStamp = 0;
    if (!broadcast) {
        ConnectSocket(socket_, SocketAddress(ResolveHost(name), port));
        requestStamp = NewNtpRequestStamp();
        SendRequest(requestStamp);
    }
    platform::sockaddr_in sender;
    const NtpMessage message = ReceiveMessage(broadcast, requestStamp, exchange, sender);
    SetDelay(exchange);
    if (broadcast) SetDelayMilliseconds(0);  // waiting for a broadcast is no network delay
    SetPeerName(SenderName(broadcast, sender));
    TakeNtpTime(message, GetPeerName(), now);
}

std::wstring NtpTimeSource::SenderName(bool broadcast, const platform::sockaddr_in& sender) const {
    return broadcast ? platform::AnsiToWide(Winsock().inet_ntoa(sender.sin_addr)) : host_;
}

void NtpTimeSource::SendRequest(std::uint64_t requestStamp) {
    const std::array<std::uint8_t, kNtpMessageBytes> request = NtpRequestBytes(requestStamp);
    for (int sent = 0; sent < kNtpMessageBytes;) {
        const int n = Winsock().send(socket_.Get(), reinterpret_cast<const char*>(request.data()) + sent,
                                     kNtpMessageBytes - sent, 0);
        if (n == platform::SOCKET_ERROR) {
            RaiseError(L"Error %d on sending NTP request", Winsock().WSAGetLastError());
        }
        sent += n;
    }
}

NtpMessage NtpTimeSource::ReceiveMessage(bool broadcast, std::uint64_t requestStamp, const Stopwatch& exchange,
                                         platform::sockaddr_in& sender) {
    std::vector<std::uint8_t> datagram(kLargestDatagramBytes);
    for (;;) {
        int senderLength = sizeof sender;
        const int n = Winsock().recvfrom(socket_.Get(), reinterpret_cast<char*>(datagram.data()),
                                         kLargestDatagramBytes, 0,
                                         broadcast ? reinterpret_cast<platform::sockaddr*>(&sender) : nullptr,
                                         broadcast ? &senderLength : nullptr);
        if (n == platform::SOCKET_ERROR) {
            RaiseError(L"Error %d on receiving NTP request", Winsock().WSAGetLastError());
        }
        if (n == 0) RaiseError(L"NTP server closed socket unexpectedly");
        NtpMessage message;
        if (!NtpMessageFromDatagram(std::span(datagram.data(), static_cast<std::size_t>(n)), message)) {
            Log(CurrentLogger(), LevelTrace, L"Ignored a datagram of %d bytes from %s: an NTP message has %d.", n,
                SenderName(broadcast, sender), kNtpMessageBytes);
        } else if (!broadcast && !NtpReplyAnswers(message, requestStamp)) {
            Log(CurrentLogger(), LevelTrace, L"Ignored an NTP message from %s that does not answer this request.",
                SenderName(broadcast, sender));
        } else if (!NtpMessageIsFromServer(message, broadcast)) {
            Log(CurrentLogger(), LevelTrace, L"Ignored an NTP message from %s in mode %s: no server sent it.",
                SenderName(broadcast, sender), kModeWords[message.Mode()]);
        } else {
            return message;
        }
        // The wait goes on for what is left of the one time-out.
        const std::int64_t leftMilliseconds =
            std::int64_t{kNtpReceiveTimeoutMilliseconds} - exchange.ElapsedMicroseconds() / 1000;
        if (leftMilliseconds <= 0) RaiseError(L"Error %d on receiving NTP request", static_cast<int>(platform::WSAETIMEDOUT));
        SetReceiveTimeout(socket_, static_cast<std::uint32_t>(leftMilliseconds));
    }
}

}  // namespace kairovel
