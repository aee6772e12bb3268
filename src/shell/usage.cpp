#include "shell/usage.h"

#include "config/source_kind.h"
#include "log/program_identity.h"
#include "platform/console.h"

namespace kairovel {

std::wstring UsageText() {
    std::wstring text = L"Kairovel: NT service for keeping clocks in sync; ";
    text += VersionText;
    text +=
        L"\n"
        L"Command line arguments (just the main ones):\n"
        L"  /install  to install the service\n"
        L"  /remove   to remove the service\n"
        L"  /immediate to synchronize from the command line (without the service)\n"
        L"  /status to display current status of the service\n"
        L"\n";
    for (const SourceKindEntry& kind : kSourceKinds) text += kind.usageLine;
    text +=
        L"\n"
        L"  /period=<hours>:<minutes>:<seconds> to specify update frequency\n"
        L"  /at=<hours>:<minutes>:<seconds> to specify starting time for syncing\n"
        L"  /adjust to gently adjust the time instead of overwriting the clock\n"
        L"  /log=<filename>,<size> to specify an name & size of alternate logging device\n"
        L"  /trace=<level> for selective output; <level> may be debug, success or error\n"
        L"  /file=<parm file> for supplying parameters from a file instead of command line\n"
        L"  /select=<#sources>,<#periods>,[R] pick best time sources for specified period\n"
        L"\n"
        L"Kairovel is written and maintained by the Kairovel developers\n"
        L"See the Kairovel project page for documentation and updates";
    return text;
}

void PrintUsage() { platform::Console().WriteStandardOutput(UsageText()); }

}  // namespace kairovel
