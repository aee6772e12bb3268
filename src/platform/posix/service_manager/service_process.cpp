#include "platform/posix/service_manager/service_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <charconv>
#include <fstream>
#include <string_view>

#include "platform/posix/errors.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

// Descriptors the launch prepares are moved up here, clear of 0 to 3.
constexpr int kFirstHighDescriptor = 10;
constexpr std::chrono::milliseconds kKillBound{5000};

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

int MoveHigh(int descriptor) {
    if (descriptor < 0) return -1;
    const int high = ::fcntl(descriptor, F_DUPFD_CLOEXEC, kFirstHighDescriptor);
    return high;
}

// What the two children tell the caller through one pipe. They write in
// either order (the service may fail its exec before the middle child has
// sent its pid), so each report says what it is; a write this small is never
// split.
struct LaunchReport {
    enum Kind : std::int32_t { kServicePid, kForkError, kExecError };
    std::int32_t kind;
    std::int32_t value;  // the pid, or the errno
};

void Send(int descriptor, LaunchReport::Kind kind, int value) {
    const LaunchReport report{kind, value};
    (void)!::write(descriptor, &report, sizeof report);
}

// Only async-signal-safe calls from here: the caller may have other threads.
[[noreturn]] void ExecService(const char* program, char* const* environment, int channel, int output, int report) {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_UNBLOCK, &all, nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const int out = output >= 0 ? output : null;
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
        ::dup2(channel, kChannelDescriptor) < 0 || ::chdir("/") != 0) {
        Send(report, LaunchReport::kExecError, errno);
        ::_exit(127);
    }
    // Nothing else of the caller's reaches the service.
    ::syscall(SYS_close_range, kChannelDescriptor + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    ::umask(022);
    ::setpriority(PRIO_PROCESS, 0, 0);
    char* const arguments[] = {const_cast<char*>(program), nullptr};
    ::execve(program, arguments, environment);
    Send(report, LaunchReport::kExecError, errno);
    ::_exit(127);
}

bool ReadWhole(int descriptor, void* data, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(descriptor, static_cast<char*>(data) + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint32_t LaunchError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case ENOEXEC:
            return ERROR_BAD_EXE_FORMAT;
        default:
            return WindowsErrorFromErrno(error);
    }
}

}  // namespace

bool IdentityOf(int pid, ProcessIdentity& identity) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (pid <= 0 || !std::getline(in, line)) return false;
    // The command name in parentheses may hold blanks and parentheses itself: the fields follow the last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::string_view rest = std::string_view(line).substr(close + 1);
    std::uint64_t startTime = 0;
    char state = '?';
    for (int field = 3; field <= 22; ++field) {
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        const std::size_t end = rest.find(' ');
        const std::string_view value = rest.substr(0, end);
        if (field == 3) state = value.empty() ? '?' : value.front();
        if (field == 22 && std::from_chars(value.data(), value.data() + value.size(), startTime).ec != std::errc{}) {
            return false;
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (state == 'Z' || state == 'X') return false;  // it has ended; only its parent has not collected it
    identity = ProcessIdentity{pid, startTime, BootId()};
    return true;
}

bool IsRunning(const ProcessIdentity& identity) {
    ProcessIdentity now;
    return IdentityOf(identity.pid, now) && now.startTime == identity.startTime && now.bootId == identity.bootId;
}

std::uint32_t LaunchDetached(const LaunchRequest& request, int& pid) {
    pid = 0;
    int reportPipe[2];
    if (::pipe2(reportPipe, O_CLOEXEC) != 0) return WindowsErrorFromErrno(errno);
    Descriptor readEnd(MoveHigh(reportPipe[0]));
    Descriptor writeEnd(MoveHigh(reportPipe[1]));
    ::close(reportPipe[0]);
    ::close(reportPipe[1]);
    Descriptor channel(MoveHigh(request.channel));
    Descriptor output(MoveHigh(request.output));
    if (!readEnd.valid() || !writeEnd.valid() || !channel.valid() || (request.output >= 0 && !output.valid())) {
        return WindowsErrorFromErrno(errno);
    }

    // Everything the children need is made before the fork.
    const std::string program = request.program.string();
    std::vector<std::string> environment = request.environment;
    std::vector<char*> environmentPointers;
    for (std::string& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);

    const pid_t middle = ::fork();
    if (middle < 0) return WindowsErrorFromErrno(errno);
    if (middle == 0) {
        // The middle child leaves the caller's session and ends at once, so the
        // service is nobody's child and init collects it when it ends.
        ::setsid();
        const pid_t service = ::fork();
        if (service == 0) {
            ExecService(program.c_str(), environmentPointers.data(), channel.get(), output.get(), writeEnd.get());
        }
        if (service > 0) {
            Send(writeEnd.get(), LaunchReport::kServicePid, service);
        } else {
            Send(writeEnd.get(), LaunchReport::kForkError, errno);
        }
        ::_exit(0);
    }
    writeEnd.Reset();
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    // Every report until both children have let go of the pipe: the service
    // does at its exec, whether that runs the program or fails.
    int servicePid = 0;
    int failure = 0;
    LaunchReport report{};
    std::size_t got = 0;
    while (ReadWhole(readEnd.get(), &report, sizeof report, got) && got == sizeof report) {
        if (report.kind == LaunchReport::kServicePid) {
            servicePid = report.value;
        } else {
            failure = report.value;
        }
    }
    if (failure != 0) return LaunchError(failure);
    if (servicePid <= 0) return ERROR_NOT_ENOUGH_MEMORY;
    pid = servicePid;
    return ERROR_SUCCESS;
}

ProcessWatch::ProcessWatch(int pid) : pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}

void ProcessWatch::Kill() {
    if (!pidfd_.valid()) return;
    ::syscall(SYS_pidfd_send_signal, pidfd_.get(), SIGKILL, nullptr, 0);
    pollfd watch{pidfd_.get(), POLLIN, 0};
    while (::poll(&watch, 1, static_cast<int>(kKillBound.count())) < 0 && errno == EINTR) {
    }
}

}  // namespace kairovel::platform::scm
