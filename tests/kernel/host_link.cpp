#include "kernel/host_link.h"

#include "support/process.h"

namespace kairovel::testing {
namespace {

constexpr char kTap[] = "tap0";
constexpr char kHostLink[] = "169.254.0.1/16";

bool Run(const std::vector<std::string>& argv, std::string& failure) {
    const ProcessResult result = RunProcess(argv);
    if (result.exitCode == 0) return true;
    for (const std::string& word : argv) failure += word + " ";
    failure += ": " + result.standardError;
    return false;
}

}  // namespace

HostLink::HostLink() {
    if (!Run({"ip", "tuntap", "add", "dev", kTap, "mode", "tap"}, failure_) ||
        !Run({"ip", "address", "add", kHostLink, "dev", kTap}, failure_) ||
        !Run({"ip", "link", "set", kTap, "up"}, failure_)) {
        return;
    }
    chrony_ = std::make_unique<ChronyServer>();
    if (!chrony_->Ready()) failure_ = "chronyd did not answer: " + chrony_->Output();
}

HostLink::~HostLink() {
    chrony_.reset();
    std::string ignored;
    Run({"ip", "link", "delete", kTap}, ignored);
}

std::string HostLink::GuestKernelArgument() { return std::string("eth0=tuntap,") + kTap; }

std::string HostLink::ChronyOutput() const { return chrony_ ? chrony_->Output() : std::string(); }

std::string ShellQuoted(const std::string& text) {
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

std::string ShellQuotedWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : " ") + ShellQuoted(word);
    return out;
}

}  // namespace kairovel::testing
