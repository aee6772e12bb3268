// The dispatcher of the service manager stand-in: the side that runs in the
// service's process (see protocol.h for how it meets the manager).
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/registry_database.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/posix/service_manager/service_files.h"
#include "platform/posix/service_manager/service_process.h"
#include "platform/posix/service_manager/service_state.h"
#include "platform/service_dispatcher.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

// The manager sends the start request as soon as the process runs.
constexpr std::chrono::milliseconds kStartRequestWait{30'000};
// A controlling program sends its request right after it connects.
constexpr std::chrono::milliseconds kControlRequestWait{5'000};
// After the service has reported it stopped, its main function is given this
// long to return before the dispatcher returns without it.
constexpr std::chrono::milliseconds kMainReturnWait{5'000};
constexpr std::uint32_t kFirstStartWaitHint = 2000;

bool SameServiceName(std::wstring_view a, std::wstring_view b) { return FoldRegistryName(a) == FoldRegistryName(b); }

bool IsValidState(std::uint32_t state) { return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED; }

bool IsValidType(std::uint32_t type) {
    const std::uint32_t process = type & ~SERVICE_INTERACTIVE_PROCESS;
    return process == SERVICE_WIN32_OWN_PROCESS || process == SERVICE_WIN32_SHARE_PROCESS;
}

// The start channel the manager handed this process, or -1 when it was not started by the manager.
int StartChannel() {
    const char* text = std::getenv(kChannelVariable);
    if (text == nullptr) return -1;
    int descriptor = -1;
    const std::string_view value(text);
    if (std::from_chars(value.data(), value.data() + value.size(), descriptor).ec != std::errc{}) return -1;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISSOCK(info.st_mode)) return -1;
    ::unsetenv(kChannelVariable);  // the service's own children are not services
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return descriptor;
}

// The service's main function with its arguments, on a thread of its own.
class MainThread {
public:
    MainThread(LPSERVICE_MAIN_FUNCTIONW main, std::vector<std::wstring> arguments)
        : run_(std::make_shared<Run>()) {
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

class StandInServiceDispatcher final : public ServiceDispatcherFacility {
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
        if (!running_ || !SameServiceName(serviceName, name_)) {
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
        if (!WriteRunRecord(folder_, RunRecord{self_, status})) return false;
        status_ = status;
        if (handling_ && std::this_thread::get_id() == handlerThread_) answer_ = status;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            const std::uint64_t one = 1;
            (void)!::write(wake_, &one, sizeof one);
        }
        return true;
    }

private:
    bool Fail(std::uint32_t code) {
        SetLastError(code);
        return false;
    }

    // Answers the manager's start request and runs the service until it has stopped.
    bool Dispatch(const SERVICE_TABLE_ENTRYW* table) {
        const Descriptor channel(StartChannel());
        if (!channel.valid()) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        Message message;
        StartRequest request;
        if (ReceiveMessage(channel.get(), message, kStartRequestWait) != ERROR_SUCCESS || !Decode(message, request)) {
            return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        }
        const SERVICE_TABLE_ENTRYW* entry = table;
        while (entry->lpServiceName != nullptr && !SameServiceName(entry->lpServiceName, request.arguments.front())) {
            ++entry;
        }
        std::uint32_t error = ERROR_SUCCESS;
        if (entry->lpServiceName == nullptr || entry->lpServiceProc == nullptr) {
            SendMessage(channel.get(), Encode(StartReply{ERROR_SERVICE_NOT_IN_EXE}), error);
            return Fail(ERROR_SERVICE_NOT_IN_EXE);
        }
        const ServiceFolder folder(request.arguments.front());
        const Descriptor listener(ListenForControls(folder.SocketFile(::getpid()), error));
        const Descriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!listener.valid() || !wake.valid() || !IdentityOf(::getpid(), self_)) {
            if (error == ERROR_SUCCESS) error = ERROR_NOT_ENOUGH_MEMORY;
            SendMessage(channel.get(), Encode(StartReply{error}), error);
            return Fail(error);
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            folder_ = folder;
            name_ = entry->lpServiceName;
            wake_ = wake.get();
            status_ = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, kFirstStartWaitHint};
            handler_ = nullptr;
            statusHandle_ = SERVICE_STATUS_HANDLE{};
            running_ = true;
        }
        if (!SendMessage(channel.get(), Encode(StartReply{ERROR_SUCCESS}), error)) {
            Finish();
            return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        }
        {
            const auto main = std::make_unique<MainThread>(entry->lpServiceProc, request.arguments);
            TakeControls(listener.get(), wake.get());
        }
        Finish();
        ::unlink(folder.SocketFile(::getpid()).c_str());
        DeleteIfDue(request.arguments.front());
        return true;
    }

    void Finish() {
        const std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        wake_ = -1;
    }

    bool Stopped() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return status_.dwCurrentState == SERVICE_STOPPED;
    }

    // Delivers controls, one at a time on this thread, until the service has stopped.
    void TakeControls(int listener, int wake) {
        while (!Stopped()) {
            pollfd watched[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[1].revents != 0) {
                std::uint64_t count = 0;
                (void)!::read(wake, &count, sizeof count);
                continue;
            }
            const Descriptor connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
            if (connection.valid()) Answer(connection.get());
        }
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
            // even when the service has reported another since (a stop
            // answered with STOP_PENDING, then STOPPED from the service's main thread).
            const std::lock_guard<std::mutex> lock(mutex_);
            reply.status = answer_ ? *answer_ : status_;
            handling_ = false;
        }
        SendMessage(connection, Encode(reply), error);
    }

    std::atomic<bool> dispatching_{false};
    std::mutex mutex_;  // guards what follows: the handler's thread and the service's threads report
    bool running_ = false;
    std::wstring name_;
    ServiceFolder folder_{L"-"};
    ProcessIdentity self_;
    int wake_ = -1;  // written when the service reports it stopped
    SERVICE_STATUS status_;
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
    static scm::StandInServiceDispatcher dispatcher;
    return dispatcher;
}

}  // namespace kairovel::platform
