#include "platform/posix/service_manager/protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

enum Kind : std::uint32_t { kStartRequest = 1, kControlRequest = 3, kControlReply = 4 };
constexpr std::size_t kLargestMessage = 64 * 1024;
constexpr int kBacklog = 8;

class Writer {
public:
    explicit Writer(Kind kind) { Number(kind); }
    void Number(std::uint32_t value) { Bytes(&value, sizeof value); }
    void Bytes(const void* data, std::size_t size) {
        const std::size_t at = message_.size();
        message_.resize(at + size);
        if (size > 0) std::memcpy(message_.data() + at, data, size);
    }
    Message Done() { return std::move(message_); }

private:
    Message message_;
};

class Reader {
public:
    Reader(const Message& message, Kind kind) : message_(message) {
        std::uint32_t found = 0;
        ok_ = Number(found) && found == kind;
    }
    bool Number(std::uint32_t& value) { return Bytes(&value, sizeof value); }
    bool Bytes(void* data, std::size_t size) {
        if (!ok_) return false;
        if (message_.size() - offset_ < size) return ok_ = false;
        std::memcpy(data, message_.data() + offset_, size);
        offset_ += size;
        return true;
    }
    bool ok() const { return ok_; }
    bool AtEnd() const { return offset_ == message_.size(); }
    std::size_t Left() const { return message_.size() - offset_; }

private:
    const Message& message_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

void Status(Writer& writer, const SERVICE_STATUS& s) {
    for (const std::uint32_t value : {s.dwServiceType, s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode,
                                      s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint}) {
        writer.Number(value);
    }
}

bool Status(Reader& reader, SERVICE_STATUS& s) {
    return reader.Number(s.dwServiceType) && reader.Number(s.dwCurrentState) && reader.Number(s.dwControlsAccepted) &&
           reader.Number(s.dwWin32ExitCode) && reader.Number(s.dwServiceSpecificExitCode) &&
           reader.Number(s.dwCheckPoint) && reader.Number(s.dwWaitHint);
}

bool SocketAddress(const std::filesystem::path& file, sockaddr_un& address, std::uint32_t& error) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string path = file.string();
    if (path.size() >= sizeof address.sun_path) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

Message Encode(const StartRequest& request) {
    Writer writer(kStartRequest);
    for (const std::wstring& argument : request.arguments) writer.Bytes(argument.c_str(), (argument.size() + 1) * sizeof(wchar_t));
    return writer.Done();
}

Message Encode(const ControlRequest& request) {
    Writer writer(kControlRequest);
    writer.Number(request.control);
    return writer.Done();
}

Message Encode(const ControlReply& reply) {
    Writer writer(kControlReply);
    writer.Number(reply.error);
    Status(writer, reply.status);
    return writer.Done();
}

bool Decode(const Message& message, StartRequest& request) {
    Reader reader(message, kStartRequest);
    if (!reader.ok() || reader.Left() % sizeof(wchar_t) != 0) return false;
    request.arguments.clear();
    std::wstring current;
    while (!reader.AtEnd()) {
        wchar_t c = 0;
        reader.Bytes(&c, sizeof c);
        if (c != L'\0') {
            current.push_back(c);
            continue;
        }
        request.arguments.push_back(std::move(current));
        current.clear();
    }
    return current.empty() && !request.arguments.empty();
}

bool Decode(const Message& message, ControlRequest& request) {
    Reader reader(message, kControlRequest);
    return reader.ok() && reader.Number(request.control) && reader.AtEnd();
}

bool Decode(const Message& message, ControlReply& reply) {
    Reader reader(message, kControlReply);
    return reader.ok() && reader.Number(reply.error) && Status(reader, reply.status) && reader.AtEnd();
}

bool SendMessage(int socket, const Message& message, std::uint32_t& error) {
    for (;;) {
        const ssize_t n = ::send(socket, message.data(), message.size(), MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(message.size())) return true;
        if (n < 0 && errno == EINTR) continue;
        error = n < 0 && errno != EPIPE && errno != ECONNRESET ? WindowsErrorFromErrno(errno) : ERROR_PROCESS_ABORTED;
        return false;
    }
}

std::uint32_t ReceiveMessage(int socket, Message& message, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd watched{socket, POLLIN, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return WindowsErrorFromErrno(errno);
        if (ready == 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
        break;
    }
    message.assign(kLargestMessage, 0);
    ssize_t n = 0;
    while ((n = ::recv(socket, message.data(), message.size(), MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return n == 0 || errno == ECONNRESET ? ERROR_PROCESS_ABORTED : WindowsErrorFromErrno(errno);
    message.resize(static_cast<std::size_t>(n));
    return ERROR_SUCCESS;
}

int ConnectToDispatcher(const std::filesystem::path& socketFile, std::uint32_t& error) {
    sockaddr_un address;
    if (!SocketAddress(socketFile, address, error)) return -1;
    const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        error = WindowsErrorFromErrno(errno);
        return -1;
    }
    while (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) continue;
        const int failure = errno;
        ::close(socket);
        error = failure == EACCES || failure == EPERM ? ERROR_ACCESS_DENIED
                : failure == ENOENT || failure == ECONNREFUSED ? ERROR_SERVICE_NOT_ACTIVE
                                                                : WindowsErrorFromErrno(failure);
        return -1;
    }
    return socket;
}

int ListenForControls(const std::filesystem::path& socketFile, std::uint32_t& error) {
    sockaddr_un address;
    if (!SocketAddress(socketFile, address, error)) return -1;
    const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        error = WindowsErrorFromErrno(errno);
        return -1;
    }
    ::unlink(socketFile.c_str());  // a socket left by an earlier process of this number
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(socketFile.c_str(), 0600) != 0 || ::listen(socket, kBacklog) != 0) {
        error = WindowsErrorFromErrno(errno);
        ::close(socket);
        return -1;
    }
    return socket;
}

long PeerUserId(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return -1;
    return static_cast<long>(credentials.uid);
}

}  // namespace kairovel::platform::scm
