// A parameter URL's body through the URL include: the reader, the decoder of
// the narrow code page across block ends, the argument source and the keyword
// parser. The first byte chooses the block size the server hands out; the
// rest is the body, which a /url= line in it reads again (up to the depth limit).
#include <string>

#include "config/argument_drivers.h"
#include "config/configuration.h"
#include "config/url_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    if (size == 0) return 0;
    fuzz::UseDiscardingLogger();
    fuzz::UseScriptedInternet();
    const fuzz::IsolatedIncludes isolated;
    testing::ScriptedInternet::Serve(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), data[0]);
    TheConfiguration() = Configuration{};
    try {
        IncludeUrl(L"http://parameters.invalid/kairovel.txt");
    } catch (const std::wstring&) {
        // A bad argument ends the parse with its message.
    }
    if (IncludeUrlDepth() != 0 || UrlReader::LiveReaders() != 0) __builtin_trap();
    if (TheConfiguration().NumberOfTimeSources > Configuration::kMaxSources) __builtin_trap();
    return 0;
}
