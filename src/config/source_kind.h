// The kinds of time source, in one table: the descriptor prefix that names
// each, the switch that adds one, what the switch asks of the name, the line
// of the usage text, the labels the status display and the parameter listing
// show, and the resolution of the time such a source sends. The keyword
// parser, the usage text, the status display, the parameter listing, the
// decision and the acquisition read it; the client of each kind is made by
// the sources' factory (sources/source_factory.h), in the table's order.
//
// A configured source is a descriptor: a two-character prefix for its kind,
// the source's name, and optionally a comma and a sample count. The position
// of an entry in kSourceKinds is its SourceKind.
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
    // The error when the switch gives no name; empty: a source without a name is taken.
    std::wstring_view nameRequired;
    bool namedWithBackslashes;      // an NT machine's name: two leading backslashes, however many were given
    std::wstring_view usageLine;    // its line of the usage text; empty: none
    std::wstring_view statusLabel;  // what the status display shows before the name
    std::wstring_view listingWord;  // what the parameter listing shows before the name
    // The resolution of the time such a source sends, in milliseconds:
    // hundredths for the time of day, whole seconds for TIME, the
    // millisecond the program keeps of NTP's fraction.
    std::uint32_t resolutionMilliseconds;
};

inline constexpr std::array<SourceKindEntry, 5> kSourceKinds = {{
    {SourceKind::Domain, L"D,", L"domain", L"", false,
     L"  /domain=<domain name> to use the PDC of the domain as time source\n", L"Domain ", L"domain,", 10},
    {SourceKind::NtMachine, L"L,", L"nt_machine", L"Machine name required with nt_machine argument\n", true,
     L"  /nt_machine=<nt machine name> to use that node as time source\n", L"NT machine ", L"nt,", 10},
    {SourceKind::TcpMachine, L"T,", L"tcp_machine",
     L"Machine name or internet address required with tcp_machine argument\n", false,
     L"  /tcp_machine=<machine name> to use that node as time source\n", L"TCP machine ", L"tcp,", 1000},
    {SourceKind::NtpMachine, L"N,", L"ntp_machine", L"", false,
     L"  /ntp_machine=<machine name> to use that node as the NTP server\n", L"NTP machine ", L"ntp,", 1},
    {SourceKind::UdpMachine, L"U,", L"udp_machine",
     L"Machine name or internet address required with udp_machine argument\n", false, L"", L"UDP machine ",
     L"udp,", 1000},
}};

constexpr const SourceKindEntry& SourceKindOf(SourceKind kind) { return kSourceKinds[static_cast<std::size_t>(kind)]; }

// The entry whose prefix begins descriptor, or null when none does.
constexpr const SourceKindEntry* FindSourceKind(std::wstring_view descriptor) {
    for (const SourceKindEntry& entry : kSourceKinds) {
        if (descriptor.substr(0, 2) == entry.prefix) return &entry;
    }
    return nullptr;
}

}  // namespace kairovel
