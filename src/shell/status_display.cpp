#include "shell/status_display.h"

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

void Print(std::wstring_view text) { platform::Console().WriteStandardOutput(text); }

// A service entry whose parameters are gone or cannot be read is shown as
// what it is, never as a machine without the installation. False when the
// control manager has no such entry.
bool ShowEntryWithoutParameters(const wchar_t* parameters) {
    const std::wstring state = ServiceEntryState();
    if (state.empty()) return false;
    Print(Format(L"Kairovel's service is on this machine (%s), but its stored parameters %s\n", state, parameters));
    Print(L"Type Kairovel /install to store them anew, or Kairovel /remove to remove it\n");
    return true;
}

}  // namespace

void ShowStatus() {
    std::uint32_t installed = 0;
    try {
        installed = IsServiceInstalled();
    } catch (const std::wstring&) {
        ShowEntryWithoutParameters(L"cannot be read");
        throw;
    }
    if (installed == 0) {
        if (ShowEntryWithoutParameters(L"are missing")) return;
        Print(L"Kairovel not installed on this machine\n");
        Print(L"Type Kairovel /? for help\n");
        return;
    }
    Print(L"Kairovel is installed on this machine\n");
    Print(ServiceStatusText() + L"\n\n");
    GetParametersFromRegistry();

    const Configuration& configuration = TheConfiguration();
    Print(Format(L"%u configured time source(s):\n", configuration.NumberOfTimeSources));
    for (std::uint32_t i = 0; i < configuration.NumberOfTimeSources; ++i) {
        const std::wstring_view entry = configuration.SourceName[i];
        Print(L"   ");
        if (const SourceKindEntry* kind = FindSourceKind(entry)) Print(kind->statusLabel);
        Print(entry.substr(std::min<std::size_t>(2, entry.size())));
        Print(L"\n");
    }
    Print(Format(L"\nUpdate period is %d seconds\n", configuration.Period));
    Print(Format(L"Adjustment is %senabled\n", configuration.TimeAdjust != 0 ? L"" : L"not "));
    const std::wstring& file = configuration.ConfigurationFile;
    if (!file.empty()) {
        Print(L"More configuration information ");
        Print(file.front() == L'*' ? Format(L"in URL %s\n", file.substr(1)) : Format(L"in file %s\n", file));
    }
}

}  // namespace kairovel
