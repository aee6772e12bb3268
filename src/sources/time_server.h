// The TIME protocol (RFC 868) server over TCP, so that other machines can use
// this one as a source.
//
// It runs on a thread of its own (TimeServerThread), accepts one connection at
// a time on the "time"/"tcp" port, sends the current time as 4 bytes and
// closes the connection; nothing is read from the client. Connections that
// arrive meanwhile wait in a backlog of 100. A failure that one connection
// brings about (a peer that resets before it is accepted, a shortage of
// descriptors or buffers) is logged and the server goes on; a failure of the
// listening socket itself ends the thread. A RunningTimeServer ends its thread
// before the program's own objects go, so that a connection arriving at exit
// finds no half-destroyed program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/kernel_object.h"

#include "sources/plumbing.h"
#include "sources/socket_layer.h"
#include "timebase/time_value.h"

namespace kairovel {

inline constexpr int kTimeServerBacklog = 100;
// How long the server waits before it accepts again when the system ran out of
// descriptors or buffers, so that it does not spin while they are short.
inline constexpr std::uint32_t kResourceShortagePauseMilliseconds = 100;

class TimeServer {
public:
    // Leaves the socket listening on the "time"/"tcp" port of every local address.
    TimeServer();
    virtual ~TimeServer() = default;
    TimeServer(const TimeServer&) = delete;
    TimeServer& operator=(const TimeServer&) = delete;

    // Waits for one connection, answers it and closes it. Raises "Error %d
    // accepting new request" when the listening socket can accept no more.
    virtual void ServeOne();

private:
    SocketLayerReference socketLayer_;  // released after the socket is closed
    OwnedSocket listening_;
};

// Whether a failed accept concerns only the connection it was about to take
// (or a passing shortage), so that the next accept can succeed.
bool AcceptFailureIsTransient(int error);

// The 4-byte TIME count for an instant: whole seconds since 1900, the
// milliseconds dropped. From 2036-02-07 06:28:16 UTC on the count starts again
// from 0 (seconds modulo 2^32), the era wrap that TIME and NTP peers expect.
std::uint32_t TimeProtocolSeconds(const TimeValue& instant);

// The server thread's entry: serves until the listening socket fails, logging why it ends.
void TimeServerThread();
// The body of TimeServerThread, which ends after the first connection served once stopRequested is
// set. Sets readyEvent (unless null) once it listens, or has failed to.
void RunTimeServer(const std::atomic<bool>& stopRequested, platform::HANDLE readyEvent);

// How long the start waits for the server to listen, and Stop for the thread to end.
inline constexpr std::uint32_t kTimeServerStartMilliseconds = 5000;
inline constexpr std::uint32_t kTimeServerStopMilliseconds = 5000;

// The TIME server on a thread of its own, for as long as this object lives.
class RunningTimeServer {
public:
    // Starts the thread and returns once the server listens (or could not).
    // When no thread can be started, logs "Error %d starting the time server
    // thread" and the program goes on without a server.
    RunningTimeServer();
    // Stop.
    ~RunningTimeServer();
    RunningTimeServer(const RunningTimeServer&) = delete;
    RunningTimeServer& operator=(const RunningTimeServer&) = delete;

    // Asks the thread to end, wakes its accept with a connection on the
    // loopback address, and waits for it to end (at most
    // kTimeServerStopMilliseconds). Once the thread has ended its socket is
    // closed and the port free.
    void Stop();

private:
    std::shared_ptr<std::atomic<bool>> stopRequested_;  // shared with the thread, which may outlive a late Stop
    platform::HANDLE thread_ = nullptr;
};

}  // namespace kairovel
