// The program's TIME server thread, run by a test beside its own threads and
// stopped at the end: the test's Winsock facility makes the server's accept
// fail as a closed listening socket would, which is the one way the thread
// ends by itself.
#pragma once

#include <chrono>
#include <thread>

#include "platform/facility.h"
#include "sources/time_server.h"
#include "support/loopback.h"
#include "support/winsock_doubles.h"

namespace kairovel::testing {

class TimeServerThreadRunner {
public:
    // Starts the thread and waits (bounded) until it has answered on port 37.
    TimeServerThreadRunner() : scope_(accept_), thread_(TimeServerThread) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!listening_ && std::chrono::steady_clock::now() < deadline) {
            const auto reply = ReadTcpReply(kTimePort, {}, std::chrono::milliseconds(500));
            listening_ = reply && reply->size() == 4;
            if (!listening_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TimeServerThreadRunner() { Stop(); }
    TimeServerThreadRunner(const TimeServerThreadRunner&) = delete;
    TimeServerThreadRunner& operator=(const TimeServerThreadRunner&) = delete;

    bool Listening() const { return listening_; }
    ControlledAccept& Accept() { return accept_; }

    // Ends the thread: the next accept fails for good, and a connection wakes it.
    void Stop() {
        if (!thread_.joinable()) return;
        accept_.Stop();
        ReadTcpReply(kTimePort, {}, std::chrono::milliseconds(500));
        thread_.join();
    }

private:
    ControlledAccept accept_;
    platform::ScopedFacility<platform::WinsockFacility> scope_;
    std::thread thread_;
    bool listening_ = false;
};

}  // namespace kairovel::testing
