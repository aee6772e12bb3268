#include "shell/run_modes.h"

#include "config/configuration.h"
#include "log/logger.h"
#include "shell/control_operation.h"
#include "shell/installation.h"
#include "shell/select_logger.h"
#include "shell/status_display.h"
#include "shell/usage.h"
#include "sync/immediate_mode.h"

namespace kairovel {
namespace {

using ModeAction = void (*)();

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
    ModeAction action;
};

// In the order of precedence.
constexpr RunMode kRunModes[] = {
    {&Configuration::HelpFlag, PrintUsage},
    {&Configuration::StatusFlag, ShowStatus},
    {&Configuration::ControlFlag, RunControlOperation},
    {&Configuration::ImmediateFlag, SynchronizeImmediately},
    {&Configuration::InstallFlag, InstallUnlessRemoveToo},
    {&Configuration::RemoveFlag, RemoveService},
};

void InstallUnlessRemoveToo() {
    if (TheConfiguration().RemoveFlag != 0) {
        Log(CurrentLogger(), LevelError, L"cannot specify /install and /remove");
        return;
    }
    InstallService();
}

}  // namespace

void RunChosenMode() {
    const Configuration& configuration = TheConfiguration();
    for (const RunMode& mode : kRunModes) {
        if (configuration.*mode.flag == 0) continue;
        mode.action();
        return;
    }
    Log(CurrentLogger(), LevelError, L"must specify either /install or /remove");
}

}  // namespace kairovel
