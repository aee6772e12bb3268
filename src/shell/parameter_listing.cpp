#include "shell/parameter_listing.h"

#include <string>
#include <string_view>

#include "config/configuration.h"
#include "config/registry_store.h"
#include "log/format.h"
#include "platform/console.h"
#include "shell/service_status.h"
#include "config/source_kind.h"

namespace kairovel {
namespace {

void PrintText(const std::wstring& text) { platform::Console().WriteStandardOutput(text); }

}  // namespace

void ListConfiguredParameters() {
    PrintText(L"Configured Parameters follow...\n");
    if (IsServiceInstalled() == 0) {
        PrintText(L"Installed: no\n");
        return;
    }
    GetParametersFromRegistry();
    PrintText(L"Installed: yes\n");
    PrintText(Format(L"Status: %s\n", ServiceStatusText()));

    const Configuration& configuration = TheConfiguration();
    PrintText(Format(L"NumberOfTimeSources: %d\n", configuration.NumberOfTimeSources));
    for (std::uint32_t i = 0; i < configuration.NumberOfTimeSources; ++i) {
        const std::wstring& descriptor = configuration.SourceName[i];
        // The name is plain text: a '%' in it is printed as it is.
        std::wstring line = L"source: ";
        if (const SourceKindEntry* kind = FindSourceKind(descriptor)) line += kind->listingWord;
        if (descriptor.size() > 2) line += descriptor.substr(2);
        line += L"\n";
        PrintText(line);
    }
    PrintText(Format(L"LogDevice: %s\n", configuration.LogDevice));
    const std::uint32_t period = configuration.Period;
    PrintText(Format(L"Period: %02d:%02d:%02d\n", period / 3600, (period / 60) % 60, period % 60));
    const StartTime& at = configuration.AtTime;
    constexpr std::uint16_t kDelayHours = StartTime::kDelayHours;
    PrintText(Format(L"AtTime: %s%02d:%02d:%02d\n", at.hours >= kDelayHours ? L"+" : L"", at.hours % kDelayHours,
                     at.minutes, at.seconds));
    PrintText(Format(L"AdjustFlag: %s\n", configuration.TimeAdjust != 0 ? L"yes" : L"no"));
    PrintText(Format(L"TraceLevel: %d\n", configuration.Trace));
}

}  // namespace kairovel
