#include "kernel/guest_testbed.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.h"

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kTap[] = "tap0";
constexpr char kHostLink[] = "169.254.0.1/16";
constexpr char kGuestLink[] = "169.254.0.2/16";
constexpr auto kBootBound = 30s;  // boot, clock set-up and the first answer of chronyd

// A value for a shell file of variables, in single quotes.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
    return out;
}

bool Run(const std::vector<std::string>& argv, std::string& failure) {
    const ProcessResult result = RunProcess(argv);
    if (result.exitCode == 0) return true;
    failure = Joined(argv) + ": " + result.standardError;
    return false;
}

}  // namespace

GuestTestbed::GuestTestbed(const GuestCase& guestCase) : case_(guestCase) {
    if (!Run({"ip", "tuntap", "add", "dev", kTap, "mode", "tap"}, failure_) ||
        !Run({"ip", "address", "add", kHostLink, "dev", kTap}, failure_) ||
        !Run({"ip", "link", "set", kTap, "up"}, failure_)) {
        return;
    }
    chrony_ = std::make_unique<ChronyServer>();
    if (!chrony_->Ready()) {
        failure_ = "chronyd did not answer: " + chrony_->Output();
        return;
    }

    const std::filesystem::path results = folder_ / "results";
    std::filesystem::create_directory(results);
    std::ostringstream variables;
    variables << "CLOCK_AGENT=" << Quoted(KAIROVEL_CLOCK_AGENT) << "\n"
              << "KAIROVEL=" << Quoted(KAIROVEL_BINARY) << "\n"
              << "RESULTS=" << Quoted(results.string()) << "\n"
              << "GUEST_ADDRESS=" << kGuestLink << "\n"
              << "NTP_SERVER=" << kHostLinkAddress << "\n"
              << "START_TICK=" << case_.startTick << "\n"
              << "START_FREQUENCY=" << case_.startFrequency << "\n"
              << "STEP_MILLISECONDS=" << case_.stepMilliseconds << "\n"
              << "ARGUMENTS=" << Quoted(Joined(case_.arguments)) << "\n"
              << "PASSES=" << case_.passes << "\n"
              << "PAUSE_SECONDS=" << case_.pauseSeconds << "\n"
              << "INTERRUPT_AFTER=" << (case_.interruptAfterSeconds > 0 ? std::to_string(case_.interruptAfterSeconds) : "")
              << "\n"
              << "TIME_LIMIT=" << case_.timeLimitSeconds << "\n";
    const std::filesystem::path caseFile = folder_ / "case";
    std::ofstream(caseFile) << variables.str();

    guest_ = std::make_unique<UmlGuest>(KAIROVEL_GUEST_INIT, std::vector<std::string>{
                                                                 std::string("eth0=tuntap,") + kTap,
                                                                 "KAIROVEL_GUEST_CASE=" + caseFile.string()});
    if (!guest_->WaitForMarker("ready", kBootBound)) failure_ = "the guest did not get ready:\n" + guest_->Console();
}

GuestTestbed::~GuestTestbed() {
    guest_.reset();
    chrony_.reset();
    std::string ignored;
    Run({"ip", "link", "delete", kTap}, ignored);
}

std::optional<int> GuestTestbed::WaitForPass(int pass, std::chrono::seconds bound) {
    const std::optional<GuestMarker> end = guest_->WaitForMarker("end " + std::to_string(pass) + " ", bound);
    if (!end) return std::nullopt;
    return std::stoi(end->text.substr(end->text.rfind(' ') + 1));
}

std::string GuestTestbed::ProgramOutput(int pass) const {
    return ReadFileBytes(folder_ / "results" / ("pass-" + std::to_string(pass) + ".out"));
}

std::string GuestTestbed::Diagnostics() const {
    std::string text = "guest console:\n" + (guest_ ? guest_->Console() : std::string("(no guest)"));
    if (chrony_) text += "\nchronyd:\n" + chrony_->Output();
    return text;
}

std::optional<GuestClockSample> LastSampleBefore(const std::vector<GuestClockSample>& samples, std::int64_t host) {
    std::optional<GuestClockSample> found;
    for (const GuestClockSample& sample : samples) {
        if (sample.host < host) found = sample;
    }
    return found;
}

std::optional<GuestClockSample> FirstSampleAfter(const std::vector<GuestClockSample>& samples, std::int64_t host) {
    for (const GuestClockSample& sample : samples) {
        if (sample.host > host) return sample;
    }
    return std::nullopt;
}

std::optional<double> RatePpm(const std::vector<GuestClockSample>& samples, std::int64_t from, std::int64_t to) {
    // Least squares of the offset (ns) over host time (s from the first sample).
    double n = 0, sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
    std::int64_t origin = 0;
    for (const GuestClockSample& sample : samples) {
        if (sample.host < from || sample.host > to) continue;
        if (n == 0) origin = sample.host;
        const double x = static_cast<double>(sample.host - origin) / 1e9;
        const double y = static_cast<double>(sample.guestRealtime - sample.host);
        n += 1;
        sumX += x;
        sumY += y;
        sumXX += x * x;
        sumXY += x * y;
    }
    const double spread = n * sumXX - sumX * sumX;
    if (n < 3 || spread <= 0) return std::nullopt;
    return (n * sumXY - sumX * sumY) / spread / 1e3;  // ns per s is ppb: ppm is a thousandth of it
}

double CorrectionMilliseconds(const GuestClockSample& before, const GuestClockSample& after, double ownRatePpm) {
    const double elapsedSeconds = static_cast<double>(after.host - before.host) / 1e9;
    return after.OffsetMilliseconds() - before.OffsetMilliseconds() - ownRatePpm * elapsedSeconds / 1e3;
}

}  // namespace kairovel::testing
