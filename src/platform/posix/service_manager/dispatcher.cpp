// The dispatcher on systemd: the side of the service manager that runs in
// the service's process.
//
// systemd starts the unit's program without arguments; the dispatcher knows
// it runs a service of its table when its process is in that service's unit
// (unit_name.h). It takes the start parameters StartServiceW left in the
// run-time folder, runs the service's main function on a thread of its own
// and, on the calling thread, delivers the controls: SIGTERM, with which
// systemd stops a unit (the stop control, the shut-down's too), and the
// controls on its socket that systemd has no verb for. What the service
// reports goes to systemd (sd_notify: READY=1 once it runs, STATUS= with its
// state and last activity, EXTEND_TIMEOUT_USEC= from its wait hints,
// STOPPING=1) and to the run-time folder's status file, from which
// QueryServiceStatus tells the Windows state.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/capabilities.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/posix/service_manager/runtime_folder.h"
#include "platform/posix/service_manager/service_state.h"
#include "platform/posix/service_manager/unit_name.h"
#include "platform/service_dispatcher.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

// A controlling program sends its request right after it connects.
constexpr std::chrono::milliseconds kControlRequestWait{5'000};
// After the service has reported it stopped, its main function is given this
// long to return before the dispatcher returns without it.
constexpr std::chrono::milliseconds kMainReturnWait{5'000};
constexpr std::uint64_t kMicrosecondsPerMillisecond = 1000;

bool IsValidState(std::uint32_t state) { return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED; }

bool IsValidType(std::uint32_t type) {
    const std::uint32_t process = type & ~SERVICE_INTERACTIVE_PROCESS;
    return process == SERVICE_WIN32_OWN_PROCESS || process == SERVICE_WIN32_SHARE_PROCESS;
}

// The unit this process runs in, or empty when it is in none (started from a shell).
std::string OwnUnit() {
    // The last part of the process's cgroup in the unified hierarchy
    // ("0::/system.slice/kairovel.service"). Read here rather than with
    // sd_pid_get_unit, which also reads PID 1's cgroup, which /proc hides
    // from the service's user (ProtectProc=invisible).
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("0::")) continue;
        const std::string name = line.substr(line.rfind('/') + 1);
        return name.ends_with(".service") ? name : std::string();
    }
    return {};
}

const char* StateWord(std::uint32_t state) {
    constexpr const char* kWords[] = {"Unknown",  "Stopped",    "Starting", "Stopping",
                                      "Running",  "Continuing", "Pausing",  "Paused"};
    return state < 8 ? kWords[state] : kWords[0];
}

// What systemd is told of a report.
std::string Notification(const SERVICE_STATUS& status, const std::string& activity) {
    std::string text;
    const std::uint32_t state = status.dwCurrentState;
    if (state == SERVICE_RUNNING) text += "READY=1\n";
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) text += "STOPPING=1\n";
    if (status.dwWaitHint != 0 && state != SERVICE_RUNNING && state != SERVICE_PAUSED && state != SERVICE_STOPPED) {
        text += "EXTEND_TIMEOUT_USEC=" + std::to_string(status.dwWaitHint * kMicrosecondsPerMillisecond) + "\n";
    }
    text += std::string("STATUS=") + StateWord(state);
    if (state == SERVICE_STOPPED && status.dwWin32ExitCode != 0) {
        text += " (error " + std::to_string(status.dwWin32ExitCode) + ")";
    }
    if (!activity.empty()) text += ". " + activity;
    return text;
}

// The service's main function with its arguments, on a thread of its own.
class MainThread {
public:
    MainThread(LPSERVICE_MAIN_FUNCTIONW main, std::vector<std::wstring> arguments) : run_(std::make_shared<Run>()) {
        run_->arguments = std::move(arguments);
        for (std::wstring& argument : run_->arguments) run_->pointers.push_back(argument.data());
        run_->pointers.push_back(nullptr);
        // The thread holds its arguments itself, so they live as long as it does.
        thread_ = std::thread([run = run_, main] {
            main(static_cast<std::uint32_t>(run->arguments.size()), run->pointers.data());
            run->returned.store(true, std::memory_order_release);
        });
    }
    // Joins the thread when it returns within the bound, and lets it go otherwise.
    ~MainThread() {
        const auto deadline = std::chrono::steady_clock::now() + kMainReturnWait;
        while (!run_->returned.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (run_->returned.load(std::memory_order_acquire)) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }
    MainThread(const MainThread&) = delete;
    MainThread& operator=(const MainThread&) = delete;

private:
    struct Run {
        std::vector<std::wstring> arguments;
        std::vector<wchar_t*> pointers;
        std::atomic<bool> returned{false};
    };
    std::shared_ptr<Run> run_;
    std::thread thread_;
};

class SystemdServiceDispatcher final : public ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) override {
        if (table == nullptr || table->lpServiceName == nullptr || table->lpServiceProc == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (dispatching_.exchange(true)) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return false;
        }
        const bool done = Dispatch(table);
        dispatching_.store(false);
        return done;
    }

    SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* serviceName,
                                                      LPHANDLER_FUNCTION handler) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (serviceName == nullptr || handler == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return SERVICE_STATUS_HANDLE{};
        }
        if (!running_ || UnitStem(serviceName) != stem_) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return SERVICE_STATUS_HANDLE{};
        }
        handler_ = handler;
        statusHandle_ = SERVICE_STATUS_HANDLE{NextHandleNumber()};
        return statusHandle_;
    }

    bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ || !handle || handle != statusHandle_) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (!IsValidState(status.dwCurrentState) || !IsValidType(status.dwServiceType)) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        if (!WriteRunRecord(RuntimeFolder(stem_), RunRecord{static_cast<std::uint32_t>(::getpid()), status})) {
            return false;
        }
        status_ = status;
        sd_notify(0, Notification(status_, activity_).c_str());
        if (handling_ && std::this_thread::get_id() == handlerThread_) answer_ = status;
        Wake();  // a stop that waited for the service to take it, or the end
        return true;
    }

    bool ReportServiceActivity(SERVICE_STATUS_HANDLE handle, const std::wstring& activity) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ || !handle || handle != statusHandle_) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        activity_ = WideToAnsi(activity);
        sd_notify(0, Notification(status_, activity_).c_str());
        return true;
    }

private:
    bool Fail(std::uint32_t code) {
        SetLastError(code);
        return false;
    }

    void Wake() {
        const std::uint64_t one = 1;
        if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
    }

    // Runs the service of the table whose unit this process is in, until it has stopped.
    bool Dispatch(const SERVICE_TABLE_ENTRYW* table) {
        const std::string unit = OwnUnit();
        const SERVICE_TABLE_ENTRYW* entry = table;
        while (entry->lpServiceName != nullptr && (unit.empty() || UnitName(UnitStem(entry->lpServiceName)) != unit)) {
            ++entry;
        }
        if (entry->lpServiceName == nullptr || entry->lpServiceProc == nullptr) {
            return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        }
        // The service runs with the least of root's rights, from before its first thread.
        KeepOnlyServiceCapabilities();
        const std::string stem = UnitStem(entry->lpServiceName);
        const RuntimeFolder folder(stem);
        std::vector<std::wstring> arguments =
            TakeStartParameters(folder).value_or(std::vector<std::wstring>{entry->lpServiceName});
        arguments.front() = entry->lpServiceName;

        // SIGTERM is systemd's stop: blocked in every thread (the service's
        // threads inherit the mask) and read here as a control.
        sigset_t stopSignal;
        sigemptyset(&stopSignal);
        sigaddset(&stopSignal, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &stopSignal, nullptr);
        std::uint32_t error = ERROR_SUCCESS;
        const Descriptor listener(ListenForControls(folder.ControlSocket(), error));
        const Descriptor stops(::signalfd(-1, &stopSignal, SFD_CLOEXEC | SFD_NONBLOCK));
        const Descriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!listener.valid() || !stops.valid() || !wake.valid()) {
            return Fail(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY);
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stem_ = stem;
            wake_ = wake.get();
            status_ = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
            activity_.clear();
            handler_ = nullptr;
            statusHandle_ = SERVICE_STATUS_HANDLE{};
            stopPending_ = false;
            running_ = true;
        }
        {
            const auto main = std::make_unique<MainThread>(entry->lpServiceProc, std::move(arguments));
            TakeControls(listener.get(), stops.get(), wake.get());
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
            wake_ = -1;
        }
        ::unlink(folder.ControlSocket().c_str());
        return true;
    }

    bool Stopped() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return status_.dwCurrentState == SERVICE_STOPPED;
    }

    // Delivers controls, one at a time on this thread, until the service has stopped.
    void TakeControls(int listener, int stops, int wake) {
        while (!Stopped()) {
            pollfd watched[3] = {{listener, POLLIN, 0}, {stops, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(watched, 3, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[2].revents != 0) {
                std::uint64_t count = 0;
                (void)!::read(wake, &count, sizeof count);
            }
            if (watched[1].revents != 0) {
                signalfd_siginfo signal{};
                while (::read(stops, &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal)) {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    stopPending_ = true;
                }
            }
            DeliverPendingStop();
            if (watched[0].revents != 0) {
                const Descriptor connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
                if (connection.valid()) Answer(connection.get());
            }
        }
    }

    // systemd's stop goes to the handler as soon as the service takes a stop:
    // one sent while it starts waits until it runs.
    void DeliverPendingStop() {
        LPHANDLER_FUNCTION handler = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!stopPending_ || handler_ == nullptr) return;
            const std::uint32_t refusal = ControlRefusal(SERVICE_CONTROL_STOP, status_);
            if (refusal == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return;  // starting: later
            stopPending_ = false;
            if (refusal != ERROR_SUCCESS) return;  // stopped already, or it takes no stop
            handler = handler_;
        }
        handler(SERVICE_CONTROL_STOP);
    }

    void Answer(int connection) {
        ControlReply reply;
        std::uint32_t error = ERROR_SUCCESS;
        if (PeerUserId(connection) != 0) {
            reply.error = ERROR_ACCESS_DENIED;
            SendMessage(connection, Encode(reply), error);
            return;
        }
        Message message;
        ControlRequest request;
        if (ReceiveMessage(connection, message, kControlRequestWait) != ERROR_SUCCESS || !Decode(message, request)) {
            return;
        }
        LPHANDLER_FUNCTION handler = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            reply.error = ControlRefusal(request.control, status_);
            if (reply.error == ERROR_SUCCESS && handler_ == nullptr) reply.error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            handler = handler_;
        }
        if (reply.error == ERROR_SUCCESS) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                handling_ = true;
                handlerThread_ = std::this_thread::get_id();
                answer_.reset();
            }
            handler(request.control);
        }
        {
            // The status the handler reported is its answer to the control,
            // even when the service has reported another since.
            const std::lock_guard<std::mutex> lock(mutex_);
            reply.status = answer_ ? *answer_ : status_;
            handling_ = false;
        }
        SendMessage(connection, Encode(reply), error);
    }

    std::atomic<bool> dispatching_{false};
    std::mutex mutex_;  // guards what follows: the handler's thread and the service's threads report
    bool running_ = false;
    std::string stem_;
    int wake_ = -1;  // written on every report
    SERVICE_STATUS status_;
    std::string activity_;
    bool stopPending_ = false;           // systemd asked for a stop the handler has not had yet
    bool handling_ = false;              // a control's handler runs, on handlerThread_
    std::thread::id handlerThread_;
    std::optional<SERVICE_STATUS> answer_;  // what that handler reported
    LPHANDLER_FUNCTION handler_ = nullptr;
    SERVICE_STATUS_HANDLE statusHandle_;
};

}  // namespace
}  // namespace kairovel::platform::scm

namespace kairovel::platform {

template <>
ServiceDispatcherFacility& DefaultFacility<ServiceDispatcherFacility>() {
    static scm::SystemdServiceDispatcher dispatcher;
    return dispatcher;
}

}  // namespace kairovel::platform
