// A load generator for TIME servers over TCP. One thread keeps a number of
// connections in flight with non-blocking sockets and epoll: each connection
// reads the 4-byte reply until the server closes, and is then replaced by a
// new one, until the number of requests is reached. Being cheap itself, it
// leaves the server's own cost to show.
#pragma once

#include <cstdint>
#include <vector>

namespace kairovel::bench {

struct LoadResult {
    std::uint64_t requests = 0;
    std::uint64_t failures = 0;  // refused, reset, timed out, or not exactly 4 bytes
    double seconds = 0;          // wall-clock time of the whole run
    double generatorCpuSeconds = 0;  // processor time the load generator's thread used
    double serverCpuSeconds = 0;     // processor time the server used, when the caller measures it
    std::vector<double> latenciesMicroseconds;  // connect to close, one per successful request

    double Throughput() const { return seconds > 0 ? static_cast<double>(requests - failures) / seconds : 0; }
    double Percentile(double p) const;  // of the latencies, p in 0..100
    double ServerCpuMicrosecondsPerRequest() const {
        return requests > 0 ? serverCpuSeconds * 1e6 / static_cast<double>(requests) : 0;
    }
};

// Runs requests connections to 127.0.0.1:port, inFlight of them at a time, on
// the calling thread; cpu >= 0 pins that thread to one processor first.
LoadResult RunTimeLoad(std::uint16_t port, int inFlight, std::uint64_t requests, int cpu = -1);

// Processor time (user and system) of the calling thread, and of a whole process by its id (0: this one).
double ThreadCpuSeconds();
double ProcessCpuSeconds(int pid = 0);

// Pins the calling thread (and the threads and processes it starts later) to one processor.
bool PinToProcessor(int cpu);

}  // namespace kairovel::bench
