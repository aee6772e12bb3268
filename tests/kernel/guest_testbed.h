// The program on a real kernel clock: a user-mode Linux guest runs the real
// kairovel with KAIROVEL_CLOCK=system against chronyd, which runs on the host
// and so keeps the host's time, the truth the guest's clock is measured from.
//
// The calling process must be in a private network namespace of its own
// (support/private_network.h). There the testbed makes the guest's link to
// the host with chronyd on it (kernel/host_link.h), writes the case for
// guest_init.sh and boots the guest, which sets its starting clock and then
// runs the program once per pass while the host records its clock.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/host_link.h"
#include "kernel/uml_guest.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {

struct GuestCase {
    long startTick = kNominalTick;       // adjtimex's tick before the program starts
    long startFrequency = 0;             // and its frequency (ppm x 2^16)
    long long stepMilliseconds = 0;      // added to the guest's time at the start: its error
    std::vector<std::string> arguments;  // the program's switches
    int passes = 1;
    int pauseSeconds = 0;                // after each pass
    int interruptAfterSeconds = 0;       // not 0: Ctrl+C that long into the slew
    int timeLimitSeconds = 120;          // the guest powers itself off after this
};

class GuestTestbed {
public:
    explicit GuestTestbed(const GuestCase& guestCase);
    ~GuestTestbed();
    GuestTestbed(const GuestTestbed&) = delete;
    GuestTestbed& operator=(const GuestTestbed&) = delete;

    // Empty once the guest has set its clock up and is about to run the
    // first pass; otherwise what went wrong.
    const std::string& Failure() const { return failure_; }
    UmlGuest& guest() { return *guest_; }

    // Waits for the end of a pass: its exit code, or empty when it did not end within bound.
    std::optional<int> WaitForPass(int pass, std::chrono::seconds bound);
    // What the program wrote in a pass.
    std::string ProgramOutput(int pass) const;
    // The console and chronyd's output, for the messages of failed tests.
    std::string Diagnostics() const;

private:
    GuestCase case_;
    TemporaryDirectory folder_;
    std::unique_ptr<HostLink> link_;
    std::unique_ptr<UmlGuest> guest_;
    std::string failure_;
};

// The last sample before the host time, or the first one after it.
std::optional<GuestClockSample> LastSampleBefore(const std::vector<GuestClockSample>& samples, std::int64_t host);
std::optional<GuestClockSample> FirstSampleAfter(const std::vector<GuestClockSample>& samples, std::int64_t host);
// The rate of the guest's clock between two host times, in ppm, against the
// guest's oscillator: CLOCK_MONOTONIC_RAW, which no adjustment
// changes, read in the same answer as the clock, so that the jitter of the
// exchanges with the host does not enter a rate measured over seconds.
std::optional<double> RatePpm(const std::vector<GuestClockSample>& samples, std::int64_t from, std::int64_t to);
// How much the guest's clock was moved between two samples, in milliseconds,
// beyond what it gained at its own rate (ppm against the host) meanwhile.
double CorrectionMilliseconds(const GuestClockSample& before, const GuestClockSample& after, double ownRatePpm);

}  // namespace kairovel::testing
