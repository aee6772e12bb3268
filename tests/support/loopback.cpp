#include "support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kairovel::testing {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundSocket(int type, std::uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind to port " + std::to_string(port) + " failed: " + std::strerror(errno));
    }
    return fd;
}

void MakeStopPipe(int (&fds)[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

void SignalStop(int (&fds)[2]) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(fds[1], &byte, 1);
}

int RemainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ScriptedTcpServer::ScriptedTcpServer(std::uint16_t port, std::string reply, bool holdOpen)
    : reply_(std::move(reply)), holdOpen_(holdOpen) {
    listening_ = BoundSocket(SOCK_STREAM, port);
    ::listen(listening_, 16);
    MakeStopPipe(stopPipe_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedTcpServer::~ScriptedTcpServer() {
    SignalStop(stopPipe_);
    thread_.join();
    ::close(listening_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

void ScriptedTcpServer::Serve() {
    std::vector<int> held;
    for (;;) {
        pollfd fds[2] = {{listening_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        if (fds[0].revents == 0) continue;
        const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        ++connections_;
        if (!reply_.empty()) ::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        if (holdOpen_) {
            held.push_back(connection);
        } else {
            ::close(connection);
        }
    }
    for (const int fd : held) ::close(fd);
}

ScriptedUdpServer::ScriptedUdpServer(std::uint16_t port, std::vector<std::string> replies, bool copyNtpOrigin)
    : replies_(std::move(replies)), copyNtpOrigin_(copyNtpOrigin) {
    socket_ = BoundSocket(SOCK_DGRAM, port);
    MakeStopPipe(stopPipe_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedUdpServer::~ScriptedUdpServer() {
    SignalStop(stopPipe_);
    thread_.join();
    ::close(socket_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::vector<std::string> ScriptedUdpServer::Requests() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedUdpServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        if (fds[0].revents == 0) continue;
        char buffer[2048];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            requests_.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        constexpr std::size_t kOrigin = 24;
        constexpr std::size_t kTransmit = 40;
        constexpr std::size_t kStampBytes = 8;
        for (std::string reply : replies_) {
            if (copyNtpOrigin_ && n >= static_cast<ssize_t>(kTransmit + kStampBytes) &&
                reply.size() >= kOrigin + kStampBytes && reply.compare(kOrigin, kStampBytes, std::string(kStampBytes, '\0')) == 0) {
                reply.replace(kOrigin, kStampBytes, buffer + kTransmit, kStampBytes);
            }
            ::sendto(socket_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), fromLength);
        }
    }
}

RepeatingUdpSender::RepeatingUdpSender(std::uint16_t port, std::string datagram, std::chrono::milliseconds interval) {
    thread_ = std::thread([this, port, datagram = std::move(datagram), interval] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(port);
        while (!stop_.load()) {
            ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            std::this_thread::sleep_for(interval);
        }
        ::close(fd);
    });
}

RepeatingUdpSender::~RepeatingUdpSender() {
    stop_.store(true);
    thread_.join();
}

std::optional<std::string> ReadTcpReply(std::uint16_t port, const std::string& send,
                                        std::chrono::milliseconds timeout) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    if (!send.empty()) ::send(fd, send.data(), send.size(), MSG_NOSIGNAL);
    const auto deadline = Clock::now() + timeout;
    std::string received;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, RemainingMilliseconds(deadline)) <= 0) break;
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return received;
}

std::optional<std::string> ExchangeUdp(std::uint16_t port, const std::string& request,
                                       std::chrono::milliseconds timeout) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::send(fd, request.data(), request.size(), 0);
    std::optional<std::string> reply;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) > 0) {
        char buffer[2048];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n >= 0) reply = std::string(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Loopback(port);
        const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int ListenOnTcpPort(std::uint16_t port) { return ListenOnTcpPortWithBacklog(port, 4); }

int ListenOnTcpPortWithBacklog(std::uint16_t port, int backlog) {
    try {
        const int fd = BoundSocket(SOCK_STREAM, port);
        ::listen(fd, backlog);
        return fd;
    } catch (const std::exception&) {
        return -1;
    }
}

void CloseDescriptor(int fd) {
    if (fd >= 0) ::close(fd);
}

std::string TimeReplyBytes(std::uint32_t seconds) {
    const std::uint32_t wire = htonl(seconds);
    return std::string(reinterpret_cast<const char*>(&wire), sizeof wire);
}

std::string NtpMessageBytes(std::uint8_t first, std::uint8_t stratum, std::uint32_t transmitSeconds,
                            std::uint32_t transmitFraction, std::uint64_t origin) {
    std::string message(48, '\0');
    message[0] = static_cast<char>(first);
    message[1] = static_cast<char>(stratum);
    const std::uint32_t originWords[2] = {htonl(static_cast<std::uint32_t>(origin >> 32)),
                                          htonl(static_cast<std::uint32_t>(origin))};
    std::memcpy(message.data() + 24, originWords, sizeof originWords);
    const std::uint32_t seconds = htonl(transmitSeconds);
    const std::uint32_t fraction = htonl(transmitFraction);
    std::memcpy(message.data() + 40, &seconds, 4);
    std::memcpy(message.data() + 44, &fraction, 4);
    return message;
}

std::pair<std::uint32_t, std::uint32_t> NtpTimeNow() {
    constexpr std::uint64_t kSecondsFrom1900To1970 = 2'208'988'800;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto seconds = static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) + kSecondsFrom1900To1970);
    const auto fraction = static_cast<std::uint32_t>((static_cast<std::uint64_t>(now.tv_nsec) << 32) / 1'000'000'000);
    return {seconds, fraction};
}

}  // namespace kairovel::testing
