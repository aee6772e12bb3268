// The service over many passes: installed under a private KAIROVEL_ROOT with
// a period of 10 s, on the simulated clock (50 ppm fast, 3.2 s ahead at the
// start), against chronyd in a private network namespace. It prints the true
// error of the clock when each pass has ended and the largest one seen until
// the next pass ends (sampled every 100 ms), the passes that failed, and the
// service's resident memory after pass 5 and after the last one.
//
// Usage: service_soak_bench [passes]   (as root; 30 passes take about 5 minutes)
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/service_manager/service_files.h"
#include "platform/sim/simulated_clock.h"
#include "support/peers.h"
#include "support/private_network.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace {

using namespace std::chrono_literals;
using kairovel::testing::ProcessOptions;
using kairovel::testing::ProcessResult;
using kairovel::testing::RunProcess;

constexpr double kLimitMilliseconds = 2.0;  // what a pass against chronyd may leave, as the tests hold it
constexpr auto kSampleInterval = 100ms;
const char kCorrected[] = "Corrected clock deviation of ";
// What the service logs when a pass fails or the service goes wrong.
const char* const kFailures[] = {"No configured time sources returned a reply", "Time was not set",
                                 "Could not get time after", "exited abnormally", "Service was stopped because"};
// What it logs when a pass outlasts its period (its free run's high phase
// can take nearly all of a 10 s period): the next pass waits for it.
const char kLate[] = "Time synchronization not complete before the next one started.";

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The process's resident memory in kB (VmRSS), or -1.
long ResidentKilobytes(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

struct PassFigures {
    double errorAtEnd = 0;   // ms, when the pass logged its correction
    double largestAfter = 0; // ms, the largest |error| from then until the next pass ended
};

}  // namespace

int main(int argc, char** argv) {
    const std::size_t passes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 30;
    if (passes < 5) {
        std::fprintf(stderr, "service_soak_bench: at least 5 passes\n");
        return 2;
    }
    if (!kairovel::testing::EnterPrivateNetwork()) return 1;

    const kairovel::testing::TemporaryDirectory root;
    const kairovel::testing::ScopedEnvironment useRoot("KAIROVEL_ROOT", root.path().string());
    ProcessOptions options;
    options.environment["KAIROVEL_CLOCK"] = "simulated";
    const kairovel::testing::ChronyServer chrony;
    if (!chrony.Ready()) {
        std::fprintf(stderr, "chronyd did not start:\n%s\n", chrony.Output().c_str());
        return 1;
    }
    kairovel::platform::SimulatedClock clock(root / "simulated-clock.state");
    clock.Configure(3200.5, 50.0);

    // The service inherits the real-time scheduling of the command that starts
    // it, where the machine grants it, as the whole-program tests run the
    // program: the figures are then the program's own, not the machine's load.
    std::vector<std::string> command = {KAIROVEL_BINARY, "/install", "/ntp_machine=127.0.0.1", "/period=0:0:10",
                                        "/log=console", "/trace=debug"};
    if (RunProcess({"chrt", "-f", "20", "true"}).exitCode == 0) command.insert(command.begin(), {"chrt", "-f", "20"});
    const ProcessResult install = RunProcess(command, options);
    if (install.exitCode != 0) {
        std::fprintf(stderr, "install failed:\n%s\n", install.standardOutput.c_str());
        return 1;
    }
    const kairovel::platform::scm::ServiceFolder folder(L"Kairovel");
    std::optional<kairovel::platform::scm::RunRecord> record;
    kairovel::platform::scm::ReadRunRecord(folder, record);
    const int pid = record ? record->process.pid : -1;

    std::vector<PassFigures> figures;
    long rssAtFifth = -1;
    long rssAtLast = -1;
    std::size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + (passes + 3) * 10s;
    while (seen < passes + 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kSampleInterval);
        kairovel::platform::SimulatedClock::Reading reading;
        if (!clock.Read(reading)) continue;
        const std::size_t done = Count(ReadWhole(folder.ConsoleFile()), kCorrected);
        while (seen < done) {
            ++seen;
            figures.push_back({reading.trueErrorMilliseconds, std::fabs(reading.trueErrorMilliseconds)});
            if (seen == 5) rssAtFifth = ResidentKilobytes(pid);
            if (seen == passes) rssAtLast = ResidentKilobytes(pid);
        }
        if (!figures.empty() && seen <= passes) {
            figures.back().largestAfter = std::max(figures.back().largestAfter, std::fabs(reading.trueErrorMilliseconds));
        }
    }
    const std::string console = ReadWhole(folder.ConsoleFile());
    RunProcess({KAIROVEL_BINARY, "/remove"}, options);

    std::printf("pass  error at end (ms)  largest |error| until the next (ms)\n");
    double worst = 0;  // from the end of the first pass on
    for (std::size_t i = 0; i < std::min(figures.size(), passes); ++i) {
        std::printf("%4zu  %+17.3f  %35.3f\n", i + 1, figures[i].errorAtEnd, figures[i].largestAfter);
        worst = std::max(worst, figures[i].largestAfter);
    }
    std::size_t failures = 0;
    for (const char* failure : kFailures) {
        const std::size_t n = Count(console, failure);
        if (n != 0) std::printf("  %zu times: %s\n", n, failure);
        failures += n;
    }
    std::printf("passes completed: %zu of %zu, failure messages: %zu, passes that outlasted their period: %zu\n",
                std::min(seen, passes), passes, failures, Count(console, kLate));
    std::printf("largest |true error| after the first pass: %.3f ms (limit %.1f ms)\n", worst, kLimitMilliseconds);
    std::printf("resident memory: %ld kB after pass 5, %ld kB after pass %zu\n", rssAtFifth, rssAtLast, passes);
    const bool held = seen >= passes && failures == 0 && worst < kLimitMilliseconds;
    std::printf("%s\n", held ? "HELD" : "NOT HELD");
    return held ? 0 : 1;
}
