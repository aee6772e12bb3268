#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kairovel::testing {
namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::chrono::milliseconds kRequestReadLimit{5'000};

int BoundLoopbackSocket(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    listener_ = BoundLoopbackSocket(port_);
    if (::listen(listener_, 16) != 0) throw std::runtime_error("listen failed");
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    thread_ = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &stop, 1);
    thread_.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void LoopbackHttpServer::Serve(const std::string& path, HttpResponse response) {
    const std::lock_guard<std::mutex> lock(mutex_);
    responses_[path] = std::move(response);
}

void LoopbackHttpServer::ServeText(const std::string& path, const std::string& body) {
    HttpResponse response;
    response.body = body;
    Serve(path, std::move(response));
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

// Waits for delay; false when the server is told to stop meanwhile.
bool LoopbackHttpServer::WaitOrStop(std::chrono::milliseconds delay) {
    pollfd wake{wakeRead_, POLLIN, 0};
    return ::poll(&wake, 1, static_cast<int>(delay.count())) == 0;
}

void LoopbackHttpServer::Run() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        Answer(connection);
        ::close(connection);
    }
}

void LoopbackHttpServer::Answer(int connection) {
    // The request head, up to its blank line (the program sends no body).
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + kRequestReadLimit;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHeadBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) <= 0) return;
        if (fds[1].revents != 0) return;
        char buffer[4096];
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    HttpRequest request;
    request.head = head.substr(0, head.find("\r\n\r\n") + 2);
    const std::size_t methodEnd = head.find(' ');
    const std::size_t pathEnd = head.find(' ', methodEnd + 1);
    if (methodEnd != std::string::npos && pathEnd != std::string::npos) {
        request.method = head.substr(0, methodEnd);
        request.path = head.substr(methodEnd + 1, pathEnd - methodEnd - 1);
    }
    HttpResponse response;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        const auto it = responses_.find(request.path);
        if (it != responses_.end()) {
            response = it->second;
        } else {
            response.status = 404;
            response.reason = "Not Found";
            response.body = "<html><body>No such page</body></html>\n";
        }
    }
    if (response.delayBeforeAnswer.count() > 0 && !WaitOrStop(response.delayBeforeAnswer)) return;
    if (response.closeWithoutAnswer) return;
    std::string answer = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    answer += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    answer += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) answer += name + ": " + value + "\r\n";
    answer += "\r\n";
    if (request.method != "HEAD") answer += response.body;
    SendAll(connection, answer);
}

RefusingPort::RefusingPort() { socket_ = BoundLoopbackSocket(port_); }

RefusingPort::~RefusingPort() { ::close(socket_); }

}  // namespace kairovel::testing
