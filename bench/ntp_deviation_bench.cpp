// NTP deviation error: how far the measured clock deviation lies from a known
// one. chronyd runs with its clock 5 s ahead (libfaketime) in a private network
// namespace; this program's NTP client and ntpdig measure it in the same run.
//
// For the client the deviation is what a synchronisation pass uses: local time
// after the exchange minus the source's time, less half the round trip. The
// truth is -5000 ms (the local clock is 5 s behind the source).
//
// Usage: ntp_deviation_bench [client samples] [ntpdig samples]   (as root)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sources/ntp_client.h"
#include "support/peers.h"
#include "support/private_network.h"
#include "support/process.h"
#include "timebase/time_value.h"

namespace {

constexpr double kTrueDeviationMilliseconds = -5'000.0;

struct Summary {
    std::size_t samples = 0;
    std::size_t failures = 0;
    double mean = 0;
    double meanAbsolute = 0;
    double maxAbsolute = 0;
    double standardDeviation = 0;
};

Summary Summarise(const std::vector<double>& errors, std::size_t failures) {
    Summary out;
    out.samples = errors.size();
    out.failures = failures;
    if (errors.empty()) return out;
    for (const double e : errors) {
        out.mean += e;
        out.meanAbsolute += std::fabs(e);
        out.maxAbsolute = std::max(out.maxAbsolute, std::fabs(e));
    }
    out.mean /= static_cast<double>(errors.size());
    out.meanAbsolute /= static_cast<double>(errors.size());
    for (const double e : errors) out.standardDeviation += (e - out.mean) * (e - out.mean);
    out.standardDeviation = std::sqrt(out.standardDeviation / static_cast<double>(errors.size()));
    return out;
}

void Print(const char* name, const Summary& s) {
    std::printf("%-20s %4zu samples %3zu failed  error: mean %+8.3f ms  mean |e| %7.3f ms  max |e| %7.3f ms  "
                "sd %6.3f ms\n",
                name, s.samples, s.failures, s.mean, s.meanAbsolute, s.maxAbsolute, s.standardDeviation);
}

// The offset ntpdig prints (server minus local, in seconds) from a line such as
// "2026-12-07 20:21:19.126138 (+0000) +5.000184 +/- 0.000240 127.0.0.1 s8 no-leap".
bool NtpdigOffset(const std::string& output, double& offsetSeconds) {
    const auto close = output.find(") ");
    return close != std::string::npos && std::sscanf(output.c_str() + close + 2, "%lf", &offsetSeconds) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int clientSamples = argc > 1 ? std::atoi(argv[1]) : 200;
    const int ntpdigSamples = argc > 2 ? std::atoi(argv[2]) : 20;
    if (!kairovel::testing::EnterPrivateNetwork()) return 1;
    if (kairovel::testing::FaketimeLibrary().empty()) {
        std::fprintf(stderr, "libfaketime is not installed\n");
        return 1;
    }
    kairovel::testing::ChronyServer chrony("+5s");
    if (!chrony.Ready()) {
        std::fprintf(stderr, "chronyd did not start:\n%s\n", chrony.Output().c_str());
        return 1;
    }
    std::printf("chronyd on 127.0.0.1:123 with its clock +5 s ahead; true deviation %.0f ms\n",
                kTrueDeviationMilliseconds);

    std::vector<double> ownErrors;
    std::size_t ownFailures = 0;
    for (int i = 0; i < clientSamples; ++i) {
        try {
            kairovel::NtpTimeSource source(L"127.0.0.1");
            kairovel::TimeValue remote;
            source.GetTime(remote);
            const kairovel::TimeValue local;
            const double deviation = static_cast<double>(local.Minus(remote).Milliseconds()) -
                                     static_cast<double>(source.GetDelay().Milliseconds()) / 2.0;
            ownErrors.push_back(deviation - kTrueDeviationMilliseconds);
        } catch (const std::wstring&) {
            ++ownFailures;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    std::vector<double> ntpdigErrors;
    std::size_t ntpdigFailures = 0;
    for (int i = 0; i < ntpdigSamples; ++i) {
        const auto result = kairovel::testing::RunProcess({"ntpdig", "127.0.0.1"});
        double offset = 0;
        if (result.exitCode != 0 || !NtpdigOffset(result.standardOutput, offset)) {
            ++ntpdigFailures;
            continue;
        }
        ntpdigErrors.push_back(-offset * 1000.0 - kTrueDeviationMilliseconds);
    }

    Print("Kairovel NTP client", Summarise(ownErrors, ownFailures));
    Print("ntpdig", Summarise(ntpdigErrors, ntpdigFailures));
    return ownFailures == 0 && ntpdigFailures == 0 ? 0 : 2;
}
