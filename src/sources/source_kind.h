// The kinds of time source and the descriptor prefixes that name them.
//
// A configured source is a descriptor: a two-character prefix for its kind,
// the source's name, and optionally a comma and a sample count. The position
// of a prefix in kSourceKinds is its SourceKind.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kairovel {

enum class SourceKind { Domain = 0, NtMachine = 1, TcpMachine = 2, NtpMachine = 3, UdpMachine = 4 };

struct SourceKindEntry {
    SourceKind kind;
    std::wstring_view prefix;       // the descriptor's first two characters
    std::wstring_view keyword;      // the configuration keyword that adds such a source
    std::wstring_view statusLabel;  // what the status display shows before the name
    std::wstring_view listingWord;  // what the parameter listing shows before the name
    // The resolution of the time such a source sends, in milliseconds:
    // hundredths for the time of day, whole seconds for TIME, the
    // millisecond the program keeps of NTP's fraction.
    std::uint32_t resolutionMilliseconds;
};

inline constexpr std::array<SourceKindEntry, 5> kSourceKinds = {{
    {SourceKind::Domain, L"D,", L"domain", L"Domain ", L"domain,", 10},
    {SourceKind::NtMachine, L"L,", L"nt_machine", L"NT machine ", L"nt,", 10},
    {SourceKind::TcpMachine, L"T,", L"tcp_machine", L"TCP machine ", L"tcp,", 1000},
    {SourceKind::NtpMachine, L"N,", L"ntp_machine", L"NTP machine ", L"ntp,", 1},
    {SourceKind::UdpMachine, L"U,", L"udp_machine", L"UDP machine ", L"udp,", 1000},
}};

// The entry whose prefix begins descriptor, or null when none does.
constexpr const SourceKindEntry* FindSourceKind(std::wstring_view descriptor) {
    for (const SourceKindEntry& entry : kSourceKinds) {
        if (descriptor.substr(0, 2) == entry.prefix) return &entry;
    }
    return nullptr;
}

}  // namespace kairovel
