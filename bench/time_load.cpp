#include "time_load.h"

#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace kairovel::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIdleTimeoutMilliseconds = 5'000;  // no event for this long: the rest in flight failed
constexpr int kReplyBytes = 4;

struct Connection {
    Clock::time_point start;
    int received = 0;
};

}  // namespace

double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds(int pid) {
    if (pid == 0) {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    // Fields 14 and 15 of /proc/PID/stat, after the command in parentheses: user and system ticks.
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double user = 0;
    double system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) user = std::stod(field);
        if (index == 15) {
            system = std::stod(field);
            break;
        }
    }
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool PinToProcessor(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0;
}

double LoadResult::Percentile(double p) const {
    if (latenciesMicroseconds.empty()) return 0;
    std::vector<double> sorted = latenciesMicroseconds;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

LoadResult RunTimeLoad(std::uint16_t port, int inFlight, std::uint64_t requests, int cpu) {
    if (cpu >= 0) PinToProcessor(cpu);
    LoadResult result;
    result.requests = requests;
    result.latenciesMicroseconds.reserve(requests);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    std::map<int, Connection> open;
    std::uint64_t started = 0;
    std::uint64_t finished = 0;

    auto startOne = [&] {
        ++started;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++result.failures;
            ++finished;
            return;
        }
        const auto start = Clock::now();
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            ::close(fd);
            ++result.failures;
            ++finished;
            return;
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = fd;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
        open[fd] = Connection{start, 0};
    };
    auto finish = [&](int fd, bool ok) {
        const Connection connection = open[fd];
        open.erase(fd);
        ::close(fd);  // also takes it out of the epoll set
        ++finished;
        if (ok && connection.received == kReplyBytes) {
            result.latenciesMicroseconds.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - connection.start).count());
        } else {
            ++result.failures;
        }
    };

    const auto begin = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    while (finished < requests) {
        while (started < requests && static_cast<int>(open.size()) < inFlight) startOne();
        epoll_event events[64];
        const int ready = ::epoll_wait(poller, events, 64, kIdleTimeoutMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {  // nothing moves any more: what is in flight has failed
            while (!open.empty()) finish(open.begin()->first, false);
            continue;
        }
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            Connection& connection = open[fd];
            for (;;) {
                char buffer[16];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    connection.received += static_cast<int>(n);
                    continue;
                }
                if (n == 0) {
                    finish(fd, true);
                } else if (errno != EAGAIN) {
                    finish(fd, false);
                }
                break;
            }
        }
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    result.generatorCpuSeconds = ThreadCpuSeconds() - cpuBefore;
    ::close(poller);
    return result;
}

}  // namespace kairovel::bench
