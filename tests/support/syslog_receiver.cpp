#include "support/syslog_receiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace kairovel::testing {

SyslogReceiver::SyslogReceiver() : socketPath_(dir_ / "log") {
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw std::runtime_error("socket failed");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketPath_.string();
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("bind failed");
    }
    setting_ = std::make_unique<ScopedEnvironment>("KAIROVEL_SYSLOG", path);
}

SyslogReceiver::~SyslogReceiver() {
    setting_.reset();
    ::close(socket_);
}

std::optional<std::string> SyslogReceiver::Receive(std::chrono::milliseconds wait) {
    pollfd ready{socket_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) != 1) return std::nullopt;
    std::string datagram(65536, '\0');
    const ssize_t n = ::recv(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    datagram.resize(static_cast<std::size_t>(n));
    return datagram;
}

}  // namespace kairovel::testing
