// A parameter file's body through the file include: the line reader, the
// argument source and the keyword parser into the configuration record.
// Includes nest as they would: a /file= line names files of a scratch folder
// (the body itself among them), a /url= line reads a small scripted body.
#include <string>

#include "config/argument_drivers.h"
#include "config/configuration.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    fuzz::UseDiscardingLogger();
    fuzz::UseScriptedUrlFetch().Serve("/trace=debug\n/period=1:2:3\n");
    const fuzz::IsolatedIncludes isolated;
    testing::WriteFileBytes("p", fuzz::Bytes(data, size));
    TheConfiguration() = Configuration{};
    try {
        IncludeFile(L"p");
    } catch (const std::wstring&) {
        // A bad argument ends the parse with its message.
    }
    if (IncludeFileDepth() != 0 || IncludeUrlDepth() != 0) __builtin_trap();
    if (TheConfiguration().NumberOfTimeSources > Configuration::kMaxSources) __builtin_trap();
    return 0;
}
