#include "kernel/uml_guest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kairovel::testing {
namespace {

// The kernel's own limit of a process's descriptors (fs.nr_open) by default.
constexpr rlim_t kMostGuestFiles = 1 << 20;

using namespace std::chrono_literals;

constexpr int kExchangesPerReading = 5;   // the fastest of these is kept
constexpr int kAnswerTimeoutMs = 2000;    // an agent that stays silent longer is gone
constexpr char kMarkerPrefix[] = "@@ ";
constexpr int kConsolePollMs = 200;  // how soon the console reader notices it should stop

// To the serial line's socket: a guest that has powered itself off must not
// end the test with SIGPIPE.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly size bytes, each within the time-out.
bool ReadAll(int fd, unsigned char* data, std::size_t size) {
    while (size > 0) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kAnswerTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::int64_t HostNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

UmlGuest::UmlGuest(const std::string& initScript, const std::vector<std::string>& kernelArguments, int memoryMegabytes) {
    int serial[2];
    int console[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, serial) != 0) throw std::runtime_error("socketpair failed");
    if (::pipe2(console, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int guestSerial = serial[1];

    // The guest may set its own clock; it never gets the capability to set the host's.
    // linux.uml runs with the shim that lets it save registers on hosts with AMX (uml_xstate_shim.cpp).
    std::vector<std::string> args = {"setpriv", "--bounding-set=-sys_time", "--inh-caps=-sys_time",
                                     "env", std::string("LD_PRELOAD=") + KAIROVEL_UML_SHIM, "linux.uml",
                                     "mem=" + std::to_string(memoryMegabytes) + "M", "rootfstype=hostfs",
                                     "rootflags=/", "ro", "quiet",
                                     "init=" + initScript, "con0=fd:0,fd:1", "con=null", "ssl=null",
                                     "ssl1=fd:" + std::to_string(guestSerial)};
    args.insert(args.end(), kernelArguments.begin(), kernelArguments.end());
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A guest must not outlive its test: linux.uml halts cleanly on SIGTERM.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::setpgid(0, 0);  // the guest's processes in a group of their own, for the last resort of Finish
        // The guest's files on the host's root are descriptors of this
        // process, one for every such file the guest has open or cached:
        // apt in a guest reads all of dpkg's database. As many as the kernel
        // lets a process have, where root may raise it.
        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
            const rlimit most{kMostGuestFiles, kMostGuestFiles};
            if (::setrlimit(RLIMIT_NOFILE, &most) != 0) {
                files.rlim_cur = files.rlim_max;
                ::setrlimit(RLIMIT_NOFILE, &files);
            }
        }
        const int nothing = ::open("/dev/null", O_RDONLY);
        ::dup2(nothing, 0);
        ::dup2(console[1], 1);
        ::dup2(console[1], 2);
        ::fcntl(guestSerial, F_SETFD, 0);  // inherited by the kernel, which reads it as its serial line
        ::execvp(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(console[1]);
    ::close(guestSerial);
    serial_ = serial[0];
    console_ = console[0];
    consoleReader_ = std::thread([this] { ReadConsole(); });
}

UmlGuest::~UmlGuest() {
    StopRecording();
    if (pid_ > 0 && exitCode_ < 0) Finish(5s);
    stopReading_ = true;
    if (consoleReader_.joinable()) consoleReader_.join();
    ::close(serial_);
    ::close(console_);
}

void UmlGuest::ReadConsole() {
    std::string pending;
    char buffer[4096];
    while (!stopReading_) {
        pollfd entry{console_, POLLIN, 0};
        if (::poll(&entry, 1, kConsolePollMs) == 0) continue;
        const ssize_t n = ::read(console_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const std::int64_t now = HostNanoseconds();
        pending.append(buffer, static_cast<std::size_t>(n));
        const std::lock_guard<std::mutex> lock(consoleMutex_);
        consoleText_.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(kMarkerPrefix, 0) == 0) markers_.push_back({line.substr(sizeof kMarkerPrefix - 1), now});
        }
        consoleChanged_.notify_all();
    }
    const std::lock_guard<std::mutex> lock(consoleMutex_);
    markers_.push_back({"console closed", HostNanoseconds()});
    consoleChanged_.notify_all();
}

std::optional<GuestMarker> UmlGuest::WaitForMarker(const std::string& prefix, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(consoleMutex_);
    std::optional<GuestMarker> found;
    consoleChanged_.wait_for(lock, bound, [&] {
        for (const GuestMarker& marker : markers_) {
            if (marker.text.rfind(prefix, 0) == 0) {
                found = marker;
                return true;
            }
        }
        // A guest that has gone, or whose script failed, will say nothing more.
        return !markers_.empty() && (markers_.back().text == "console closed" || markers_.back().text.rfind("failed", 0) == 0);
    });
    return found;
}

std::vector<GuestMarker> UmlGuest::Markers() const {
    const std::lock_guard<std::mutex> lock(consoleMutex_);
    return markers_;
}

std::string UmlGuest::Console() const {
    const std::lock_guard<std::mutex> lock(consoleMutex_);
    return consoleText_;
}

bool UmlGuest::Exchange(char request, std::int64_t (&answer)[3], std::int64_t& sent, std::int64_t& received) {
    unsigned char bytes[24];
    sent = HostNanoseconds();
    if (!WriteAll(serial_, &request, 1) || !ReadAll(serial_, bytes, sizeof bytes)) return false;
    received = HostNanoseconds();
    for (int i = 0; i < 3; ++i) {
        std::uint64_t value = 0;
        for (int k = 7; k >= 0; --k) value = (value << 8) | bytes[i * 8 + k];
        answer[i] = static_cast<std::int64_t>(value);
    }
    return true;
}

std::optional<GuestClockSample> UmlGuest::ReadClock() {
    const std::lock_guard<std::mutex> lock(serialMutex_);
    std::optional<GuestClockSample> best;
    for (int i = 0; i < kExchangesPerReading; ++i) {
        std::int64_t answer[3];
        std::int64_t sent = 0;
        std::int64_t received = 0;
        if (!Exchange('c', answer, sent, received)) return std::nullopt;
        const std::int64_t roundTrip = received - sent;
        if (best && best->roundTrip <= roundTrip) continue;
        best = GuestClockSample{sent + roundTrip / 2, answer[0], answer[1], answer[2], roundTrip};
    }
    return best;
}

std::optional<GuestKernelRate> UmlGuest::ReadKernelRate() {
    const std::lock_guard<std::mutex> lock(serialMutex_);
    std::int64_t answer[3];
    std::int64_t sent = 0;
    std::int64_t received = 0;
    if (!Exchange('a', answer, sent, received)) return std::nullopt;
    return GuestKernelRate{static_cast<long>(answer[0]), static_cast<long>(answer[1]), static_cast<int>(answer[2])};
}

void UmlGuest::StartRecording(std::chrono::milliseconds period) {
    {
        const std::lock_guard<std::mutex> lock(samplesMutex_);
        if (recording_) return;
        recording_ = true;
    }
    recorder_ = std::thread([this, period] {
        std::unique_lock<std::mutex> lock(samplesMutex_);
        while (recording_) {
            lock.unlock();
            const std::optional<GuestClockSample> sample = ReadClock();
            lock.lock();
            if (!sample) break;
            samples_.push_back(*sample);
            recordingChanged_.wait_for(lock, period, [this] { return !recording_; });
        }
    });
}

void UmlGuest::StopRecording() {
    {
        const std::lock_guard<std::mutex> lock(samplesMutex_);
        recording_ = false;
    }
    recordingChanged_.notify_all();
    if (recorder_.joinable()) recorder_.join();
}

std::vector<GuestClockSample> UmlGuest::Samples() const {
    const std::lock_guard<std::mutex> lock(samplesMutex_);
    return samples_;
}

int UmlGuest::WaitForExit(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(20ms);
    }
}

int UmlGuest::Finish(std::chrono::milliseconds bound) {
    StopRecording();
    if (exitCode_ >= 0) return exitCode_;
    {
        const std::lock_guard<std::mutex> lock(serialMutex_);
        std::int64_t answer[3];
        std::int64_t sent = 0;
        std::int64_t received = 0;
        Exchange('q', answer, sent, received);
    }
    if (WaitForExit(bound) >= 0) return exitCode_;
    // SIGTERM halts the guest with every process of it; SIGKILL to linux.uml
    // alone would leave the guest's processes behind, so it goes to its group.
    ::kill(pid_, SIGTERM);
    if (WaitForExit(5s) >= 0) return exitCode_;
    ::kill(-pid_, SIGKILL);
    WaitForExit(5s);
    return exitCode_;
}

}  // namespace kairovel::testing
