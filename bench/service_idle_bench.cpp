// The installed service idle between its passes, against chronyd: wake-ups
// and CPU time per hour at a 10 s and an 8 h period, and chronyd polling
// every 8 s, all in one systemd guest (tests/systemd/systemd_guest.h) against
// chronyd on the host, each measured over the same window (service_idle.sh);
// then the sleeps of one /immediate pass. Prints the figures and, per NTP
// exchange, the ratio of the service's to chronyd's.
//
// Usage (as root; scripts/bench-service): service_idle_bench [window seconds]   (default 60)
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "support/private_network.h"
#include "systemd/systemd_guest.h"

namespace {

using namespace std::chrono_literals;

struct Cost {
    double wakeupsPerHour = 0;
    double cpuSecondsPerHour = 0;
    double exchangesPerHour = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int window = argc > 1 ? std::atoi(argv[1]) : 60;
    if (window < 10) {
        std::fprintf(stderr, "usage: service_idle_bench [window seconds, 10 or more]\n");
        return 2;
    }
    if (!kairovel::testing::EnterPrivateNetwork()) return 1;
    kairovel::testing::SystemdGuest guest(
        {{"/bin/sh", KAIROVEL_SOURCE_DIR "/bench/service_idle.sh"},
         {"KAIROVEL=" KAIROVEL_BINARY, "CHRONYD=" + kairovel::testing::PeerProgram("usr/sbin/chronyd"),
          std::string("NTP_SERVER=") + kairovel::testing::kHostLinkAddress, "WINDOW=" + std::to_string(window)},
         7 * window + 240});
    if (!guest.Failure().empty()) {
        std::fprintf(stderr, "%s\n", guest.Failure().c_str());
        return 1;
    }
    const std::optional<int> exitCode = guest.WaitForCommand(std::chrono::seconds(7 * window + 200));
    const std::string output = guest.CommandOutput();
    if (exitCode != 0 || output.find("did not run") != std::string::npos) {
        std::fprintf(stderr, "the guest's command failed:\n%s\n%s\n", output.c_str(), guest.Diagnostics().c_str());
        return 1;
    }
    std::map<std::string, Cost> costs;
    std::istringstream lines(output);
    std::string name;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Cost cost;
        const bool subject = line.starts_with("kairovel-") || line.starts_with("chronyd-") ||
                             line.starts_with("immediate-");
        if (subject && fields >> name >> cost.wakeupsPerHour) {
            fields >> cost.cpuSecondsPerHour >> cost.exchangesPerHour;
            costs[name] = cost;
        }
    }
    std::printf("Idle costs over %d s windows, per hour (a wake-up: a call that waited, on any thread)\n",
                window);
    for (const auto& [subject, cost] : costs) {
        if (subject == "immediate-sleeps") continue;
        std::printf("%-14s %8.0f wake-ups  %7.2f s CPU  %6.0f NTP exchanges", subject.c_str(), cost.wakeupsPerHour,
                    cost.cpuSecondsPerHour, cost.exchangesPerHour);
        if (cost.exchangesPerHour >= 1) {
            std::printf("   per exchange: %5.2f wake-ups, %6.2f ms CPU", cost.wakeupsPerHour / cost.exchangesPerHour,
                        cost.cpuSecondsPerHour * 1000 / cost.exchangesPerHour);
        }
        std::printf("\n");
    }
    const auto ours = costs.find("kairovel-10s");
    const auto theirs = costs.find("chronyd-8s");
    if (ours != costs.end() && theirs != costs.end() && theirs->second.wakeupsPerHour > 0 &&
        theirs->second.cpuSecondsPerHour > 0) {
        const auto perExchange = [](const Cost& cost, double value) { return value / cost.exchangesPerHour; };
        std::printf("per exchange, Kairovel/chronyd: wake-ups %.2f, CPU %.2f\n",
                    perExchange(ours->second, ours->second.wakeupsPerHour) /
                        perExchange(theirs->second, theirs->second.wakeupsPerHour),
                    perExchange(ours->second, ours->second.cpuSecondsPerHour) /
                        perExchange(theirs->second, theirs->second.cpuSecondsPerHour));
    }
    if (const auto sleeps = costs.find("immediate-sleeps"); sleeps != costs.end()) {
        std::printf("/immediate with 5 samples: %.0f sleeps (clock_nanosleep calls of all its threads)\n",
                    sleeps->second.wakeupsPerHour);
    }
    return 0;
}
