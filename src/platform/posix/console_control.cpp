// Console control events on Linux: the signals that end a process when a
// user or the system sends them.
//
// SIGINT stands for Ctrl+C, SIGQUIT for Ctrl+\ (Windows' Ctrl+Break), SIGHUP
// for the closing of the terminal, and SIGTERM and every other signal that
// ends a process unasked (SIGUSR1, SIGPIPE, SIGALRM, ...) for a shut-down, so
// that whatever ends the program from outside lets it put the clock's
// adjustment back first. The signals of the program's own faults (SIGSEGV,
// SIGABRT, ...) are left alone: nothing may run after those, and the clock's
// start-up record (platform/adjustment_record.h) repairs what they leave.
// The signal handler only writes the signal number into a
// pipe (the one thing it may safely do); a dispatcher thread reads it and runs
// the handler routines as an ordinary thread. When no routine handles the
// event, the dispatcher restores the signal's default action and raises it
// again, so the process ends exactly as it would have without a handler (the
// parent sees the death by that signal, the Linux form of Windows' exit on an
// unhandled control event).
#include "platform/console_control.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

constexpr int kCaughtSignals[] = {SIGINT,  SIGQUIT, SIGTERM, SIGHUP,    SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                                   SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO, SIGPWR,  SIGSTKFLT};

// Written by the signal handler; -1 until the first handler routine is installed.
int wakeWriteDescriptor = -1;

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the event: many of the same signal pending mean the same as one.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWriteDescriptor, &byte, 1);
    errno = savedErrno;
}

std::uint32_t EventOf(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return CTRL_C_EVENT;
        case SIGQUIT:
            return CTRL_BREAK_EVENT;
        case SIGHUP:
            return CTRL_CLOSE_EVENT;
        default:
            return CTRL_SHUTDOWN_EVENT;
    }
}

class PosixConsoleControl final : public ConsoleControlFacility {
public:
    bool SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, bool add) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (handler == nullptr) {
            ignoreCtrlC_ = add;
        } else if (add) {
            handlers_.push_back(handler);
        } else {
            for (auto it = handlers_.rbegin(); it != handlers_.rend(); ++it) {
                if (*it == handler) {
                    handlers_.erase(std::next(it).base());
                    return true;
                }
            }
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return add ? StartDispatching() : true;
    }

private:
    // Creates the pipe, starts the dispatcher thread and catches the signals, once.
    bool StartDispatching() {
        if (dispatching_) return true;
        int descriptors[2];
        if (::pipe2(descriptors, O_CLOEXEC) != 0) {
            SetLastError(WindowsErrorFromErrno(errno));
            return false;
        }
        // The signal handler must never block; the dispatcher's end blocks in read.
        ::fcntl(descriptors[1], F_SETFL, O_NONBLOCK);
        readDescriptor_ = descriptors[0];
        wakeWriteDescriptor = descriptors[1];
        // Lives as long as the process: at exit there is nothing to tell it.
        std::thread([this] { Dispatch(); }).detach();

        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signalNumber : kCaughtSignals) {
            struct sigaction previous {};
            ::sigaction(signalNumber, nullptr, &previous);
            // A signal ignored when the process started (nohup, a background job) stays ignored.
            if (previous.sa_handler == SIG_IGN) continue;
            ::sigaction(signalNumber, &action, nullptr);
        }
        dispatching_ = true;
        return true;
    }

    void Dispatch() {
        for (;;) {
            unsigned char byte = 0;
            const ssize_t n = ::read(readDescriptor_, &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            Deliver(byte);
        }
    }

    void Deliver(int signalNumber) {
        const std::uint32_t event = EventOf(signalNumber);
        std::vector<PHANDLER_ROUTINE> handlers;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (event == CTRL_C_EVENT && ignoreCtrlC_) return;
            handlers = handlers_;
        }
        for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
            if ((*it)(event)) return;
        }
        // Nobody handled it: the default handling ends the process.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        ::_exit(128 + signalNumber);  // only if the signal did not end us
    }

    std::mutex mutex_;
    std::vector<PHANDLER_ROUTINE> handlers_;
    bool ignoreCtrlC_ = false;
    bool dispatching_ = false;
    int readDescriptor_ = -1;
};

}  // namespace

template <>
ConsoleControlFacility& DefaultFacility<ConsoleControlFacility>() {
    // Never destroyed: its dispatcher thread may run until the process's last instant.
    static auto* control = new PosixConsoleControl;
    return *control;
}

}  // namespace kairovel::platform
