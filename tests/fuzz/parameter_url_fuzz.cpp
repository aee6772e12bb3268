// A parameter URL's body through the URL include: the reader, the decoder of
// the narrow code page, the argument source and the keyword parser. The
// input is the body, which a /url= line in it reads again (up to the depth limit).
#include <string>

#include "config/argument_drivers.h"
#include "config/configuration.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    fuzz::UseDiscardingLogger();
    fuzz::UseScriptedUrlFetch().Serve(fuzz::Bytes(data, size));
    const fuzz::IsolatedIncludes isolated;
    TheConfiguration() = Configuration{};
    try {
        IncludeUrl(L"http://parameters.invalid/kairovel.txt");
    } catch (const std::wstring&) {
        // A bad argument ends the parse with its message.
    }
    if (IncludeUrlDepth() != 0) __builtin_trap();
    if (TheConfiguration().NumberOfTimeSources > Configuration::kMaxSources) __builtin_trap();
    return 0;
}
