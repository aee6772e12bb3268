// One received TIME reply through the TIME clients' decoding: the length check
// and the seconds count as a time, wrapped into the next era before 1990.
#include <string>

#include "fuzz_support.h"
#include "sources/time_protocol_clients.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    fuzz::UseDiscardingLogger();
    try {
        const std::uint32_t seconds = TimeReplySeconds(std::span(data, size));
        TimeValue now;
        TimeFromSeconds1900(seconds, now);
        if (now.Format().size() != 23) __builtin_trap();  // "yyyy/mm/dd hh:mm:ss.mmm"
    } catch (const std::wstring&) {
        // A refused reply.
    }
    return 0;
}
