#include "systemd/systemd_guest.h"

#include <fstream>

namespace kairovel::testing {
namespace {

using namespace std::chrono_literals;

// Once booted, the kernel, systemd, journald, dbus-daemon and logind hold
// about 30 MB of it; the rest is for the test's programs and the overlay's
// files (tmpfs). Only what the guest touches takes the host's memory.
constexpr int kGuestMemoryMegabytes = 256;
// Boot to the command's start: about 6 s on an idle machine.
constexpr auto kBootBound = 60s;
constexpr char kSystemdRoot[] = KAIROVEL_SYSTEMD_ROOT;
// Where libsystemd-shared and libsystemd-core lie in the tree (amd64, as linux.uml is).

}  // namespace

SystemdGuest::SystemdGuest(const SystemdCommand& command) {
    if (!std::filesystem::exists(std::filesystem::path(kSystemdRoot) / "usr/lib/systemd/systemd")) {
        failure_ = std::string("no unpacked systemd in ") + kSystemdRoot + ": scripts/install-deps unpacks it";
        return;
    }
    link_ = std::make_unique<HostLink>();
    if (!link_->Failure().empty()) {
        failure_ = link_->Failure();
        return;
    }

    std::filesystem::create_directory(ResultsFolder());
    const std::filesystem::path caseFile = folder_ / "case";
    std::ofstream(caseFile) << "CLOCK_AGENT=" << ShellQuoted(KAIROVEL_CLOCK_AGENT) << "\n"
                            << "SYSTEMD_ROOT=" << ShellQuoted(kSystemdRoot) << "\n"
                            << "RESULTS=" << ShellQuoted(ResultsFolder().string()) << "\n"
                            << "GUEST_ADDRESS=" << kGuestLinkAddress << "\n"
                            << "ENVIRONMENT=" << ShellQuoted(ShellQuotedWords(command.environment)) << "\n"
                            << "COMMAND=" << ShellQuoted(ShellQuotedWords(command.argv)) << "\n"
                            << "TIME_LIMIT=" << command.timeLimitSeconds << "\n";

    guest_ = std::make_unique<UmlGuest>(
        KAIROVEL_SYSTEMD_GUEST_INIT,
        std::vector<std::string>{HostLink::GuestKernelArgument(), "KAIROVEL_GUEST_CASE=" + caseFile.string(),
                                 // systemd's status lines on the console without colours, for the diagnostics
                                 "systemd.log_color=0"},
        kGuestMemoryMegabytes);
    const std::optional<GuestMarker> started = guest_->WaitForMarker("start", kBootBound);
    if (!started) {
        failure_ = "the command did not start:\n" + Diagnostics();
        return;
    }
    for (const GuestMarker& marker : guest_->Markers()) {
        if (marker.text.rfind("booted ", 0) == 0) bootState_ = marker.text.substr(sizeof "booted " - 1);
    }
}

SystemdGuest::~SystemdGuest() {
    guest_.reset();
    link_.reset();
}

std::optional<int> SystemdGuest::WaitForCommand(std::chrono::seconds bound) {
    const std::optional<GuestMarker> end = guest_->WaitForMarker("end ", bound);
    if (!end) return std::nullopt;
    return std::stoi(end->text.substr(sizeof "end " - 1));
}

std::string SystemdGuest::CommandOutput() const {
    const std::filesystem::path path = ResultsFolder() / "command.out";
    return std::filesystem::exists(path) ? ReadFileBytes(path) : std::string();
}

std::string SystemdGuest::Journal() const {
    const std::filesystem::path path = ResultsFolder() / "journal.txt";
    return std::filesystem::exists(path) ? ReadFileBytes(path) : std::string();
}

std::string SystemdGuest::Diagnostics() const {
    std::string text = "guest console:\n" + (guest_ ? guest_->Console() : std::string("(no guest)"));
    const std::string journal = Journal();
    if (!journal.empty()) text += "\nguest journal:\n" + journal;
    if (link_) text += "\nchronyd:\n" + link_->ChronyOutput();
    return text;
}

}  // namespace kairovel::testing
