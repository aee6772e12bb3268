#include "shell/run_modes.h"

#include "config/configuration.h"
#include "log/logger.h"
#include "shell/select_logger.h"
#include "shell/usage.h"
#include "sync/immediate_mode.h"

namespace kairovel {
namespace {

using ModeAction = void (*)();

// The modes whose parts are not in this build. Each is wired in by naming
// its action here; until then its switch is refused with an error.
constexpr ModeAction ShowStatus = nullptr;           // the status display
constexpr ModeAction RunControlOperation = nullptr;  // start, stop, parameters, test
constexpr ModeAction InstallService = nullptr;       // the install sequence
constexpr ModeAction RemoveService = nullptr;        // removal, then "Service stopped and removed"

// /install with /remove is refused before anything is installed.
void InstallUnlessRemoveToo();

// The configured log device (the console when none is named, with the
// configured threshold), then one synchronisation pass.
void SynchronizeImmediately() {
    SelectLogger(L"Console");
    RunImmediate();
}

struct RunMode {
    std::uint32_t Configuration::*flag;
    const wchar_t* switchName;
    ModeAction action;
};

// In the order of precedence.
constexpr RunMode kRunModes[] = {
    {&Configuration::HelpFlag, L"?", PrintUsage},
    {&Configuration::StatusFlag, L"status", ShowStatus},
    {&Configuration::ControlFlag, L"control", RunControlOperation},
    {&Configuration::ImmediateFlag, L"immediate", SynchronizeImmediately},
    {&Configuration::InstallFlag, L"install", InstallUnlessRemoveToo},
    {&Configuration::RemoveFlag, L"remove", RemoveService},
};

[[noreturn]] void RefuseUnavailable(const wchar_t* switchName) {
    RaiseError(L"The /%s switch is not available in this build", switchName);
}

void InstallUnlessRemoveToo() {
    if (TheConfiguration().RemoveFlag != 0) {
        Log(CurrentLogger(), LevelError, L"cannot specify /install and /remove");
        return;
    }
    if (InstallService == nullptr) RefuseUnavailable(L"install");
    InstallService();
}

}  // namespace

void RunChosenMode() {
    const Configuration& configuration = TheConfiguration();
    for (const RunMode& mode : kRunModes) {
        if (configuration.*mode.flag == 0) continue;
        if (mode.action == nullptr) RefuseUnavailable(mode.switchName);
        mode.action();
        return;
    }
    Log(CurrentLogger(), LevelError, L"must specify either /install or /remove");
}

}  // namespace kairovel
