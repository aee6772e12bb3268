#include "sources/ntp_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "log/logger.h"
#include "platform/codepage.h"
#include "platform/winsock.h"

namespace kairovel {
namespace {

using platform::Winsock;

// Leap indicator 0, version 1, mode 3 (client), the rest of the message zero.
constexpr std::uint32_t kRequestHeader = 0x0B000000;

constexpr std::uint32_t kLeapAlarm = 3;  // the server's clock is not synchronised

// Datagrams are read whole: a reply longer than the message (NTP extension
// fields, a MAC) is taken for its first 48 bytes and the rest is let go. 64 KiB
// holds the largest UDP datagram, so nothing is ever cut or read past.
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

bool NtpMessageIsUsable(const NtpMessage& message) {
    // A server that raises the alarm does not know the time itself.
    const bool serverIsSynchronised = message.LeapIndicator() != kLeapAlarm;
    // Stratum 0 is unspecified or a kiss-o'-death: no time to take.
    const bool stratumIsKnown = message.Stratum() != 0;
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

void NtpTimeSource::GetTime(TimeValue& now) {
    const bool broadcast = host_.empty();
    const std::string name = HostNameToAnsi(host_);
    const std::uint16_t port = LookupService("ntp", "udp");
    CreateSocket(platform::SOCK_DGRAM, socket_);
    SetCloseAtOnce(socket_);
    SetReceiveTimeout(socket_, kNtpReceiveTimeoutMilliseconds);
    BindSocket(socket_, SocketAddress(platform::INADDR_ANY, broadcast ? port : std::uint16_t{0}));
    const Stopwatch exchange;

    if (!broadcast) {
        ConnectSocket(socket_, SocketAddress(ResolveHost(name), port));
        std::array<std::uint8_t, kNtpMessageBytes> request{};
        const std::uint32_t header = platform::htonl(kRequestHeader);
        std::memcpy(request.data(), &header, sizeof header);
        for (int sent = 0; sent < kNtpMessageBytes;) {
            const int n = Winsock().send(socket_.Get(), reinterpret_cast<const char*>(request.data()) + sent,
                                         kNtpMessageBytes - sent, 0);
            if (n == platform::SOCKET_ERROR) {
                RaiseError(L"Error %d on sending NTP request", Winsock().WSAGetLastError());
            }
            sent += n;
        }
    }

    // Shorter datagrams are joined until the whole message is in.
    std::array<std::uint8_t, kNtpMessageBytes> bytes{};
    std::vector<char> datagram(kLargestDatagramBytes);
    platform::sockaddr_in sender;
    for (int have = 0; have < kNtpMessageBytes;) {
        int senderLength = sizeof sender;
        const int n = Winsock().recvfrom(socket_.Get(), datagram.data(), kLargestDatagramBytes, 0,
                                         broadcast ? reinterpret_cast<platform::sockaddr*>(&sender) : nullptr,
                                         broadcast ? &senderLength : nullptr);
        if (n == platform::SOCKET_ERROR) {
            RaiseError(L"Error %d on receiving NTP request", Winsock().WSAGetLastError());
        }
        if (n == 0) RaiseError(L"NTP server closed socket unexpectedly");
        const int used = std::min(n, kNtpMessageBytes - have);
        std::memcpy(bytes.data() + have, datagram.data(), static_cast<std::size_t>(used));
        have += used;
    }
    SetDelay(exchange);

    const NtpMessage message = NtpMessage::FromWire(bytes);
    if (broadcast) {
        SetPeerName(platform::AnsiToWide(Winsock().inet_ntoa(sender.sin_addr)));
        SetDelayMilliseconds(0);  // waiting for a broadcast is no network delay
    } else {
        SetPeerName(host_);
    }
    Log(CurrentLogger(), LevelTrace, L"%s sent NTP message (little-endian): header=0x%08x, transmit_ts=(%u.%u).",
        GetPeerName(), message.Header(), message.TransmitSeconds(), message.TransmitFraction());
    if (!NtpMessageIsUsable(message)) {
        ReportNtpHeader(message);
        RaiseError(L"NTP time is not of sufficient quality");
    }
    NtpTransmitTime(message, now);
}

}  // namespace kairovel
