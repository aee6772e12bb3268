// The helper that runs inside a user-mode Linux guest for the kernel-clock
// tests: it answers the host's questions about the guest's clocks over a
// serial line, and sets up the clock a case starts from.
//
//   clock_agent serve DEVICE       answer requests on the serial line until told to quit
//   clock_agent set-rate TICK FREQ set adjtimex's tick (us) and frequency (ppm x 2^16)
//   clock_agent step MILLISECONDS  move CLOCK_REALTIME by that much
//   clock_agent ntp-probe ADDRESS  wait (at most 10 s) until the NTP server there answers
//   clock_agent load-module FILE   load a kernel module (the guest's root has no insmod)
//
// Requests are one byte; every answer is three little-endian 64-bit numbers:
//   'c'  CLOCK_REALTIME, CLOCK_MONOTONIC and CLOCK_MONOTONIC_RAW in nanoseconds,
//        read as nearly at one instant as the guest allows
//   'a'  adjtimex's tick, frequency and status
//   'q'  three zeros, then the agent ends (the guest then powers off)
// It is linked statically and uses nothing of the project, so that it runs in
// any guest whatever the guest's root holds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/timex.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr int kNtpPacketBytes = 48;
constexpr int kProbeTries = 50;        // one every 200 ms: 10 s
constexpr int kProbeWaitMilliseconds = 200;
constexpr int kBracketAttempts = 3;

std::int64_t Read(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

struct Reading {
    std::int64_t realtime;
    std::int64_t monotonic;
    std::int64_t raw;
};

// The three clocks at one instant, as nearly as can be: every read is a trap
// into the guest's kernel, and the host may hold the guest between two of them
// for tens of microseconds. Each clock is read between two raw reads, the
// tightest of a few brackets is kept, and the raw time is its middle.
Reading ReadClocks() {
    Reading best{};
    std::int64_t bestWidth = INT64_MAX;
    for (int attempt = 0; attempt < kBracketAttempts; ++attempt) {
        const std::int64_t before = Read(CLOCK_MONOTONIC_RAW);
        const std::int64_t realtime = Read(CLOCK_REALTIME);
        const std::int64_t monotonic = Read(CLOCK_MONOTONIC);
        const std::int64_t after = Read(CLOCK_MONOTONIC_RAW);
        if (after - before >= bestWidth) continue;
        bestWidth = after - before;
        best = Reading{realtime, monotonic, before + bestWidth / 2};
    }
    return best;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool Answer(int fd, std::int64_t a, std::int64_t b, std::int64_t c) {
    unsigned char bytes[24];
    const std::int64_t values[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        const auto value = static_cast<std::uint64_t>(values[i]);
        for (int k = 0; k < 8; ++k) bytes[i * 8 + k] = static_cast<unsigned char>(value >> (8 * k));
    }
    return WriteAll(fd, bytes, sizeof bytes);
}

int Serve(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(device);
        return 1;
    }
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {  // a tty: no echo, no line editing, every byte as it comes
        ::cfmakeraw(&mode);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    for (;;) {
        unsigned char request = 0;
        const ssize_t n = ::read(fd, &request, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 1;
        bool answered = true;
        switch (request) {
            case 'c': {
                const Reading reading = ReadClocks();
                answered = Answer(fd, reading.realtime, reading.monotonic, reading.raw);
                break;
            }
            case 'a': {
                timex state{};
                const int status = ::adjtimex(&state);
                answered = Answer(fd, state.tick, state.freq, status);
                break;
            }
            case 'q':
                Answer(fd, 0, 0, 0);
                return 0;
            default:
                break;  // line noise: no answer
        }
        if (!answered) return 1;
    }
}

int SetRate(long tick, long frequency) {
    timex change{};
    change.modes = ADJ_TICK | ADJ_FREQUENCY;
    change.tick = tick;
    change.freq = frequency;
    if (::adjtimex(&change) < 0) {
        std::perror("adjtimex");
        return 1;
    }
    return 0;
}

int Step(long long milliseconds) {
    // Added by the kernel in one go: reading the time and setting it would
    // lose whatever the host held the guest for between the two.
    timex change{};
    change.modes = ADJ_SETOFFSET | ADJ_NANO;
    const long long nanoseconds = milliseconds * 1'000'000;
    change.time.tv_sec = static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
    change.time.tv_usec = static_cast<suseconds_t>(nanoseconds % kNanosecondsPerSecond);  // nanoseconds with ADJ_NANO
    if (change.time.tv_usec < 0) {  // the kernel wants the fraction non-negative
        change.time.tv_usec += kNanosecondsPerSecond;
        --change.time.tv_sec;
    }
    if (::adjtimex(&change) < 0) {
        std::perror("adjtimex");
        return 1;
    }
    return 0;
}

int NtpProbe(const char* address) {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(123);
    if (::inet_pton(AF_INET, address, &server.sin_addr) != 1) return 2;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 1;
    unsigned char request[kNtpPacketBytes] = {0x23};  // version 4, client
    for (int attempt = 0; attempt < kProbeTries; ++attempt) {
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, kProbeWaitMilliseconds) > 0) {
            unsigned char reply[512];
            if (::recv(fd, reply, sizeof reply, 0) >= kNtpPacketBytes && reply[1] != 0) {
                ::close(fd);
                return 0;
            }
        }
    }
    ::close(fd);
    std::fprintf(stderr, "no NTP server answered at %s\n", address);
    return 1;
}

int LoadModule(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::syscall(SYS_finit_module, fd, "", 0) != 0) {
        std::perror(path);
        return 1;
    }
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "serve" && argc == 3) return Serve(argv[2]);
    if (command == "set-rate" && argc == 4) return SetRate(std::atol(argv[2]), std::atol(argv[3]));
    if (command == "step" && argc == 3) return Step(std::atoll(argv[2]));
    if (command == "ntp-probe" && argc == 3) return NtpProbe(argv[2]);
    if (command == "load-module" && argc == 3) return LoadModule(argv[2]);
    std::fprintf(stderr, "usage: clock_agent serve DEVICE | set-rate TICK FREQ | step MS | ntp-probe ADDRESS | load-module FILE\n");
    return 2;
}
