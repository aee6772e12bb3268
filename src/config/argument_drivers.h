// The drivers that feed argument lists to the keyword parser, and the includes.
//
// The command line and the service's start parameters are parsed whole; a
// parameter file or URL named by /file or /url is read into a list of its own
// and parsed on the spot, so includes nest: up to five files and, counted
// apart, up to five URLs on one chain.
#pragma once

#include <cstdint>
#include <string>

namespace kairovel {

inline constexpr std::uint32_t kMaxIncludeDepth = 5;
// Bytes of a parameter file's name in the narrow code page.
inline constexpr std::size_t kMaxParameterFileNameBytes = 39;

// Parses the process's command line (GetCommandLineW), from its second word on.
void ParseCommandLine();
// Parses the service's start parameters, from the second one on (the first is the service name).
void ParseStartParameters(std::uint32_t count, const wchar_t* const* parameters);

// Parses every argument of a parameter file; raises when it cannot be read or nests too deep.
void IncludeFile(const std::wstring& name);
// Parses every argument of a parameter URL; raises when it cannot be read or nests too deep.
void IncludeUrl(const std::wstring& url);

// The full path of a parameter file that can be opened for reading, or empty.
std::wstring ParameterFileFullPath(const std::wstring& name);

// How many files and URLs are being parsed, one inside the other.
std::uint32_t IncludeFileDepth();
std::uint32_t IncludeUrlDepth();

}  // namespace kairovel
