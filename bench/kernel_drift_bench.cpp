// Repeated synchronisation passes on a real kernel clock that drifts.
//
// A user-mode Linux guest (tests/kernel/guest_testbed.h) starts with its
// clock ahead of the host's and running fast (adjtimex frequency), and runs
// kairovel /immediate against chronyd on the host once per pass, pausing
// between passes while the drift builds a new error. The host measures the
// guest's clock throughout and prints, for each pass, the deviation the
// program printed and the true error (guest minus host) before and after it.
//
// Usage (as root, in a network namespace of its own; scripts/bench-kernel):
//   kernel_drift_bench [passes] [pause seconds] [drift ppm] [period switch]
// Defaults: 5 passes, 10 s pauses, +50 ppm, /period=0:0:20 (10 s slews).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/guest_testbed.h"
#include "support/private_network.h"

namespace {

using namespace std::chrono_literals;
using kairovel::testing::GuestCase;
using kairovel::testing::GuestClockSample;
using kairovel::testing::GuestMarker;
using kairovel::testing::GuestTestbed;

constexpr long long kStartingErrorMilliseconds = 1000;
constexpr auto kRecordingPeriod = 200ms;

std::optional<long long> PrintedDeviation(const std::string& output) {
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("Corrected clock deviation of (-?[0-9]+) milliseconds"))) {
        return std::nullopt;
    }
    return std::stoll(match[1]);
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::atoi(argv[1]) : 5;
    const int pauseSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const double driftPpm = argc > 3 ? std::atof(argv[3]) : 50.0;
    const std::string period = argc > 4 ? argv[4] : "/period=0:0:20";
    if (passes < 1 || pauseSeconds < 0 || std::fabs(driftPpm) > 500) {
        std::fprintf(stderr, "usage: kernel_drift_bench [passes] [pause seconds] [drift ppm within 500] [period]\n");
        return 2;
    }
    if (!kairovel::testing::EnterPrivateNetwork()) return 1;

    GuestCase guestCase;
    guestCase.startFrequency = std::lround(driftPpm * kairovel::testing::kFrequencyScale);
    guestCase.stepMilliseconds = kStartingErrorMilliseconds;
    guestCase.arguments = {"/immediate", std::string("/ntp_machine=") + kairovel::testing::kHostLinkAddress, period,
                           "/trace=debug"};
    guestCase.passes = passes;
    guestCase.pauseSeconds = pauseSeconds;
    guestCase.timeLimitSeconds = passes * (pauseSeconds + 1900) + 60;
    GuestTestbed bed(guestCase);
    if (!bed.Failure().empty()) {
        std::fprintf(stderr, "%s\n", bed.Failure().c_str());
        return 1;
    }
    bed.guest().StartRecording(kRecordingPeriod);
    std::printf("kairovel /immediate %s against chronyd on the host; guest clock %+.1f ppm, %lld ms ahead at the start\n",
                period.c_str(), driftPpm, kStartingErrorMilliseconds);
    std::printf("%4s %12s %16s %16s %6s\n", "pass", "printed ms", "true before ms", "true after ms", "exit");
    int failures = 0;
    for (int pass = 1; pass <= passes; ++pass) {
        const std::optional<int> exitCode = bed.WaitForPass(pass, std::chrono::seconds(pauseSeconds + 1900));
        // A sample taken after the pass has ended, before the next one starts.
        std::this_thread::sleep_for(2 * kRecordingPeriod);
        const std::optional<GuestMarker> start = bed.guest().WaitForMarker("start " + std::to_string(pass), 0s);
        const std::optional<GuestMarker> end = bed.guest().WaitForMarker("end " + std::to_string(pass) + " ", 0s);
        if (!exitCode || !start || !end) {
            std::fprintf(stderr, "pass %d did not end:\n%s\n", pass, bed.Diagnostics().c_str());
            return 1;
        }
        const std::vector<GuestClockSample> samples = bed.guest().Samples();
        // The first pass starts as the guest gets ready; the program changes
        // nothing in its first half second, which it spends asking the source.
        std::optional<GuestClockSample> before = kairovel::testing::LastSampleBefore(samples, start->host);
        if (!before && !samples.empty()) before = samples.front();
        const std::optional<GuestClockSample> after = kairovel::testing::FirstSampleAfter(samples, end->host);
        const std::optional<long long> printed = PrintedDeviation(bed.ProgramOutput(pass));
        std::printf("%4d %12s %16.3f %16.3f %6d\n", pass, printed ? std::to_string(*printed).c_str() : "-",
                    before ? before->OffsetMilliseconds() : NAN, after ? after->OffsetMilliseconds() : NAN, *exitCode);
        std::fflush(stdout);
        if (*exitCode != 0 || !printed) ++failures;
    }
    bed.guest().Finish(10s);
    return failures == 0 ? 0 : 1;
}
