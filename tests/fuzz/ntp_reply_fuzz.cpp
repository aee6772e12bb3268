// One received datagram through the NTP client's decoding: the length check,
// the origin check against the request, the quality test with its header
// report, and the conversion of the transmit time.
#include <string>

#include "fuzz_support.h"
#include "sources/ntp_client.h"

namespace {

// The transmit timestamp of the request the datagram is taken to answer.
constexpr std::uint64_t kRequestStamp = 0x8A1B2C3D'4E5F6071;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    fuzz::UseDiscardingLogger();
    NtpMessage message;
    if (!NtpMessageFromDatagram(std::span(data, size), message)) return 0;
    // Unicast takes only the reply to its request; broadcast takes any message, so both go on.
    const bool answers = NtpReplyAnswers(message, kRequestStamp);
    if (answers != (message.OriginTimestamp() == kRequestStamp)) __builtin_trap();
    try {
        TimeValue now;
        TakeNtpTime(message, L"192.0.2.1", now);
        if (now.Format().size() != 23) __builtin_trap();  // "yyyy/mm/dd hh:mm:ss.mmm"
    } catch (const std::wstring&) {
        // A refused message: its message text is what the acquisition logs.
    }
    return 0;
}
