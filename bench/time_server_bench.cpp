// TIME server throughput and latency: xinetd's own TIME service and this
// program's TIME server, one after the other on port 37 of a private network
// namespace, each under the same load. Prints the figures and their ratio.
//
// On a machine with two processors or more the servers run on the first and
// the load generator on the second, so that each server's own cost shows
// rather than the load generator's. Several rounds alternate the two servers,
// so that a passing load elsewhere on the machine does not favour one of them.
//
// Usage: time_server_bench [requests per round] [connections in flight] [rounds]   (as root)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/peers.h"
#include "support/private_network.h"
#include "support/time_server_thread.h"
#include "time_load.h"

namespace {

using kairovel::bench::LoadResult;

constexpr std::uint64_t kWarmUpRequests = 500;
constexpr int kServerCpu = 0;
constexpr int kLoadCpu = 1;

// Adds the figures of one round to the sum of the rounds before.
void Add(LoadResult& total, const LoadResult& round) {
    total.requests += round.requests;
    total.failures += round.failures;
    total.seconds += round.seconds;
    total.generatorCpuSeconds += round.generatorCpuSeconds;
    total.serverCpuSeconds += round.serverCpuSeconds;
    total.latenciesMicroseconds.insert(total.latenciesMicroseconds.end(), round.latenciesMicroseconds.begin(),
                                       round.latenciesMicroseconds.end());
}

void Print(const char* name, const LoadResult& result) {
    std::printf("%-22s %7llu requests %4llu failed %8.0f requests/s  p50 %6.1f us  p99 %7.1f us  "
                "server CPU %5.1f us/request\n",
                name, static_cast<unsigned long long>(result.requests), static_cast<unsigned long long>(result.failures),
                result.Throughput(), result.Percentile(50), result.Percentile(99),
                result.ServerCpuMicrosecondsPerRequest());
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t requests = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20'000;
    const int inFlight = argc > 2 ? std::atoi(argv[2]) : 8;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    if (!kairovel::testing::EnterPrivateNetwork()) return 1;
    const bool pinned = std::thread::hardware_concurrency() >= 2 && kairovel::bench::PinToProcessor(kServerCpu);
    const int loadCpu = pinned ? kLoadCpu : -1;
    std::printf("TIME over TCP on 127.0.0.1:37: %d rounds of %llu requests per server, %d connections in flight%s\n",
                rounds, static_cast<unsigned long long>(requests), inFlight,
                pinned ? "; servers on CPU 0, load generator on CPU 1" : "");

    // The load generator runs on a thread of its own, pinned apart from the servers.
    auto load = [&](std::uint64_t count) {
        LoadResult result;
        std::thread generator([&] { result = kairovel::bench::RunTimeLoad(kairovel::testing::kTimePort, inFlight,
                                                                            count, loadCpu); });
        generator.join();
        return result;
    };

    LoadResult xinetd;
    LoadResult own;
    for (int round = 0; round < rounds; ++round) {
        {
            kairovel::testing::XinetdTimeServer peer;
            if (!peer.Ready()) {
                std::fprintf(stderr, "xinetd did not start:\n%s\n", peer.Output().c_str());
                return 1;
            }
            load(kWarmUpRequests);
            const double before = kairovel::bench::ProcessCpuSeconds(peer.Pid());
            LoadResult result = load(requests);
            result.serverCpuSeconds = kairovel::bench::ProcessCpuSeconds(peer.Pid()) - before;
            Add(xinetd, result);
        }
        {
            kairovel::testing::TimeServerThreadRunner server;
            if (!server.Listening()) {
                std::fprintf(stderr, "the TIME server did not start\n");
                return 1;
            }
            load(kWarmUpRequests);
            // This process runs the server thread and the load generator; the rest of it waits.
            const double before = kairovel::bench::ProcessCpuSeconds();
            LoadResult result = load(requests);
            result.serverCpuSeconds = kairovel::bench::ProcessCpuSeconds() - before - result.generatorCpuSeconds;
            Add(own, result);
        }
    }
    Print("xinetd (internal time)", xinetd);
    Print("Kairovel TimeServer", own);
    std::printf("throughput ratio Kairovel/xinetd: %.2f; server CPU per request, xinetd/Kairovel: %.2f\n",
                xinetd.Throughput() > 0 ? own.Throughput() / xinetd.Throughput() : 0.0,
                own.ServerCpuMicrosecondsPerRequest() > 0
                    ? xinetd.ServerCpuMicrosecondsPerRequest() / own.ServerCpuMicrosecondsPerRequest()
                    : 0.0);
    return own.failures == 0 ? 0 : 2;
}
