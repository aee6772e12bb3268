#include "sources/time_server.h"

#include "log/logger.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/threads.h"
#include "platform/winsock.h"

namespace kairovel {
namespace {

using platform::Winsock;

constexpr std::int64_t kMillisecondsPerSecond = 1000;
constexpr std::uint32_t kLoopbackAddress = 0x7F00'0001;  // 127.0.0.1, host byte order

bool IsResourceShortage(int error) { return error == platform::WSAEMFILE || error == platform::WSAENOBUFS; }

}  // namespace

TimeServer::TimeServer() {
    const std::uint16_t port = LookupService("time", "tcp");
    CreateSocket(platform::SOCK_STREAM, listening_);
    BindSocket(listening_, SocketAddress(platform::INADDR_ANY, port));
    if (Winsock().listen(listening_.Get(), kTimeServerBacklog) == platform::SOCKET_ERROR) {
        RaiseError(L"Error %d in listen", Winsock().WSAGetLastError());
    }
}

bool AcceptFailureIsTransient(int error) {
    switch (error) {
        case platform::WSAECONNRESET:    // the peer gave up before it was accepted
        case platform::WSAECONNABORTED:  // likewise, or a protocol error on that connection
        case platform::WSAEINTR:         // the call was interrupted
        case platform::WSAEMFILE:        // out of descriptors for now
        case platform::WSAENOBUFS:       // out of buffers for now
        case platform::WSAETIMEDOUT:     // errors of the pending connection's own network path
        case platform::WSAENETDOWN:
        case platform::WSAENETUNREACH:
        case platform::WSAEHOSTDOWN:
        case platform::WSAEHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

void TimeServer::ServeOne() {
    OwnedSocket connection;
    connection.Reset(Winsock().accept(listening_.Get(), nullptr, nullptr));
    if (connection.Get() == platform::INVALID_SOCKET) {
        const int error = Winsock().WSAGetLastError();
        if (!AcceptFailureIsTransient(error)) RaiseError(L"Error %d accepting new request", error);
        // A remote peer must not be able to silence the server: log it and accept again.
        Log(CurrentLogger(), LevelError, L"Error %d accepting new request", error);
        if (IsResourceShortage(error)) platform::Clock().Sleep(kResourceShortagePauseMilliseconds);
        return;
    }
    const std::uint32_t reply = platform::htonl(TimeProtocolSeconds(TimeValue()));
    // The reply and the close go to the client together. A failed send is the client's loss.
    Winsock().send(connection.Get(), reinterpret_cast<const char*>(&reply), sizeof reply, platform::kSendLastBeforeClose);
}

std::uint32_t TimeProtocolSeconds(const TimeValue& instant) {
    static const TimeValue kEpoch1900(1900, 1, 1, 0, 0, 0, 0);
    const std::int64_t milliseconds = instant.Minus(kEpoch1900).Milliseconds();
    // The low 32 bits of the count: the era wrap of 2036.
    return static_cast<std::uint32_t>(milliseconds / kMillisecondsPerSecond);
}

void TimeServerThread() {
    const std::atomic<bool> never{false};
    RunTimeServer(never, nullptr);
}

namespace {

// Sets the event when the scope ends, whichever way.
class SignalOnExit {
public:
    explicit SignalOnExit(platform::HANDLE event) : event_(event) {}
    ~SignalOnExit() { Signal(); }
    SignalOnExit(const SignalOnExit&) = delete;
    SignalOnExit& operator=(const SignalOnExit&) = delete;
    void Signal() {
        if (event_ != nullptr) platform::Threads().SetEvent(event_);
        event_ = nullptr;
    }

private:
    platform::HANDLE event_;
};

}  // namespace

void RunTimeServer(const std::atomic<bool>& stopRequested, platform::HANDLE readyEvent) {
    SignalOnExit ready(readyEvent);
    try {
        TimeServer server;
        ready.Signal();
        // A stop comes with a connection of its own, which ends the wait in accept.
        do {
            server.ServeOne();
        } while (!stopRequested.load());
    } catch (const std::wstring& message) {
        ready.Signal();
        Log(CurrentLogger(), LevelError, L"%s", message);
    } catch (...) {
        ready.Signal();
        Log(CurrentLogger(), LevelError, L"Worker thread exited abnormally");
    }
}

RunningTimeServer::RunningTimeServer() : stopRequested_(std::make_shared<std::atomic<bool>>(false)) {
    platform::ThreadsFacility& threads = platform::Threads();
    // A handle the thread may still use after a late start: a closed one is refused, never followed.
    const platform::ScopedHandle ready(threads.CreateEventW(true, false, nullptr));
    thread_ = threads.CreateThread([stop = stopRequested_, readyEvent = ready.get()] {
        RunTimeServer(*stop, readyEvent);
        return std::uint32_t{0};
    });
    if (thread_ == nullptr) {
        Log(CurrentLogger(), LevelError, L"Error %d starting the time server thread", platform::GetLastError());
        return;
    }
    threads.WaitForSingleObject(ready.get(), kTimeServerStartMilliseconds);
}

RunningTimeServer::~RunningTimeServer() { Stop(); }

namespace {

// A connection to this machine's TIME port, so that a server waiting in
// accept wakes up. A server that is not listening refuses it: nothing to wake.
void WakeTimeServer() {
    try {
        const SocketLayerReference socketLayer;
        OwnedSocket socket;
        CreateSocket(platform::SOCK_STREAM, socket);
        ConnectSocket(socket, SocketAddress(platform::htonl(kLoopbackAddress), LookupService("time", "tcp")));
    } catch (const std::wstring&) {
    }
}

}  // namespace

void RunningTimeServer::Stop() {
    if (thread_ == nullptr) return;
    stopRequested_->store(true);
    platform::ThreadsFacility& threads = platform::Threads();
    if (threads.WaitForSingleObject(thread_, 0) == platform::WAIT_TIMEOUT) {
        WakeTimeServer();
        threads.WaitForSingleObject(thread_, kTimeServerStopMilliseconds);
    }
    platform::CloseHandle(thread_);
    thread_ = nullptr;
}

}  // namespace kairovel
