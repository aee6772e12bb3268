// The kinds of time source and the descriptor prefixes that name them.
//
// A configured source is a descriptor: a two-character prefix for its kind,
// the source's name, and optionally a comma and a sample count. The position
// of a prefix in kSourceKinds is its SourceKind.
#pragma once

#include <array>
#include <string_view>

namespace kairovel {

enum class SourceKind { Domain = 0, NtMachine = 1, TcpMachine = 2, NtpMachine = 3, UdpMachine = 4 };

struct SourceKindEntry {
    SourceKind kind;
    std::wstring_view prefix;   // the descriptor's first two characters
    std::wstring_view keyword;  // the configuration keyword that adds such a source
};

inline constexpr std::array<SourceKindEntry, 5> kSourceKinds = {{
    {SourceKind::Domain, L"D,", L"domain"},
    {SourceKind::NtMachine, L"L,", L"nt_machine"},
    {SourceKind::TcpMachine, L"T,", L"tcp_machine"},
    {SourceKind::NtpMachine, L"N,", L"ntp_machine"},
    {SourceKind::UdpMachine, L"U,", L"udp_machine"},
}};

}  // namespace kairovel
