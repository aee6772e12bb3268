#include "shell/control_operation.h"

#include <cstdint>
#include <string>

#include "config/configuration.h"
#include "config/text_case.h"
#include "log/format.h"
#include "platform/console.h"
#include "shell/parameter_listing.h"
#include "shell/service_control.h"
#include "sync/acquisition.h"

namespace kairovel {
namespace {

void Print(const std::wstring& text) { platform::Console().WriteStandardOutput(text); }

// Asks each source of the command line once, as a pass would: " ok" when the
// acquisition returns, whatever it found, " error" when something escapes it.
void TestSources() {
    const Configuration& configuration = TheConfiguration();
    Print(Format(L"NumberOfTimeSources: %d\n", configuration.NumberOfTimeSources));
    for (std::uint32_t i = 0; i < configuration.NumberOfTimeSources; ++i) {
        const std::wstring& entry = configuration.SourceName[i];
        Print(Format(L"source: %s", entry));
        try {
            std::int64_t deviationSum = 0;
            std::uint32_t replies = 0;
            std::uint32_t delaySum = 0;
            QuerySource(entry, deviationSum, replies, delaySum);
            Print(L" ok\n");
        } catch (...) {
            Print(L" error\n");
        }
    }
}

}  // namespace

void RunControlOperation() {
    const std::wstring& operation = TheConfiguration().ControlOperation;
    if (EqualsIgnoringCase(operation, L"start")) {
        ManageService(ScmStart);
        Print(L"Done: start\n");
    } else if (EqualsIgnoringCase(operation, L"stop")) {
        ManageService(ScmStop);
        Print(L"Done: stop\n");
    } else if (EqualsIgnoringCase(operation, L"parameters")) {
        ListConfiguredParameters();
    } else if (EqualsIgnoringCase(operation, L"test")) {
        TestSources();
    } else {
        Print(L"No control operation specified\n");
    }
}

}  // namespace kairovel
