#include "kernel/guest_testbed.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>


namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kBootBound = 30s;  // boot, clock set-up and the first answer of chronyd

}  // namespace

GuestTestbed::GuestTestbed(const GuestCase& guestCase) : case_(guestCase) {
    link_ = std::make_unique<HostLink>();
    if (!link_->Failure().empty()) {
        failure_ = link_->Failure();
        return;
    }

    const std::filesystem::path results = folder_ / "results";
    std::filesystem::create_directory(results);
    std::ostringstream variables;
    std::string arguments;
    for (const std::string& argument : case_.arguments) arguments += (arguments.empty() ? "" : " ") + argument;
    variables << "CLOCK_AGENT=" << ShellQuoted(KAIROVEL_CLOCK_AGENT) << "\n"
              << "KAIROVEL=" << ShellQuoted(KAIROVEL_BINARY) << "\n"
              << "RESULTS=" << ShellQuoted(results.string()) << "\n"
              << "GUEST_ADDRESS=" << kGuestLinkAddress << "\n"
              << "NTP_SERVER=" << kHostLinkAddress << "\n"
              << "START_TICK=" << case_.startTick << "\n"
              << "START_FREQUENCY=" << case_.startFrequency << "\n"
              << "STEP_MILLISECONDS=" << case_.stepMilliseconds << "\n"
              << "ARGUMENTS=" << ShellQuoted(arguments) << "\n"
              << "PASSES=" << case_.passes << "\n"
              << "PAUSE_SECONDS=" << case_.pauseSeconds << "\n"
              << "INTERRUPT_AFTER=" << (case_.interruptAfterSeconds > 0 ? std::to_string(case_.interruptAfterSeconds) : "")
              << "\n"
              << "TIME_LIMIT=" << case_.timeLimitSeconds << "\n";
    const std::filesystem::path caseFile = folder_ / "case";
    std::ofstream(caseFile) << variables.str();

    guest_ = std::make_unique<UmlGuest>(KAIROVEL_GUEST_INIT,
                                        std::vector<std::string>{HostLink::GuestKernelArgument(),
                                                                 "KAIROVEL_GUEST_CASE=" + caseFile.string()});
    if (!guest_->WaitForMarker("ready", kBootBound)) failure_ = "the guest did not get ready:\n" + guest_->Console();
}

GuestTestbed::~GuestTestbed() {
    guest_.reset();
    link_.reset();
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
    if (link_) text += "\nchronyd:\n" + link_->ChronyOutput();
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
    // The median of the slopes between every two readings at least half a
    // second apart (Theil and Sen): a reading the host held up between two
    // clock reads of the agent moves no more than its own pairs.
    constexpr std::int64_t kShortestPair = 500'000'000;  // ns
    std::vector<const GuestClockSample*> inside;
    for (const GuestClockSample& sample : samples) {
        if (sample.host >= from && sample.host <= to) inside.push_back(&sample);
    }
    std::vector<double> slopes;
    for (std::size_t i = 0; i < inside.size(); ++i) {
        for (std::size_t j = i + 1; j < inside.size(); ++j) {
            const std::int64_t raw = inside[j]->guestRaw - inside[i]->guestRaw;
            if (raw < kShortestPair) continue;
            const std::int64_t gained = (inside[j]->guestRealtime - inside[j]->guestRaw) -
                                        (inside[i]->guestRealtime - inside[i]->guestRaw);
            slopes.push_back(static_cast<double>(gained) / static_cast<double>(raw) * 1e6);
        }
    }
    if (slopes.empty()) return std::nullopt;
    const auto middle = slopes.begin() + static_cast<std::ptrdiff_t>(slopes.size() / 2);
    std::nth_element(slopes.begin(), middle, slopes.end());
    return *middle;
}

double CorrectionMilliseconds(const GuestClockSample& before, const GuestClockSample& after, double ownRatePpm) {
    const double elapsedSeconds = static_cast<double>(after.host - before.host) / 1e9;
    return after.OffsetMilliseconds() - before.OffsetMilliseconds() - ownRatePpm * elapsedSeconds / 1e3;
}

}  // namespace kairovel::testing
